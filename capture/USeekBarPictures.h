// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Pictures on the position bar: while the pointer is over the bar (or drags its handle), a small
// frameless window above it shows the movie at that place, with the place's time. The pictures
// come from a decoder of their own (TBarPictures); the window thread only asks and draws.
#include "decoder/UBarPictures.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class QSlider;
class TMovieDecoder;

// The position a press of the left button at x on slider sets (the click goes where it is made):
// the value under the middle of the handle when its middle is at x.
int SliderValueAt(const QSlider& slider, int x);

// The picture above the bar: a tooltip-like window with the picture and a time under it.
class TBarPicturePopup : public QWidget {
public:
    explicit TBarPicturePopup(QWidget* owner);
    // Shows picture (an empty one: a dark place of size until it comes) with time, its bottom
    // middle at anchor (global coordinates), kept on anchor's screen.
    void ShowAt(const QImage& picture, QSize size, const QString& time, QPoint anchor);
    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return FPicture; }
    const QString& Time() const { return FTime; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSize FPictureSize;
    QImage FPicture; // null until the place's picture came
    QString FTime;
};

class TSeekBarPictures : public QObject {
public:
    using TSettings = std::function<TPictureSettings()>;
    // Follows the pointer over bar; settings gives the picture settings of the moment. decoder:
    // see TBarPictures.
    TSeekBarPictures(QSlider& bar, TSettings settings, std::unique_ptr<TMovieDecoder> decoder = nullptr);
    ~TSeekBarPictures() override;

    void Open(const std::string& fileName, std::int32_t durationMs, QSize coded, const TDisplayTransform& display);
    void Close();
    // The pointer is at x on the bar: the picture of that place is shown (or asked for).
    void HoverAt(int x);
    void Hide();
    bool Settled() const { return FPictures.Settled(); }
    // The place the picture shown stands for; -1 while hidden.
    std::int32_t HoverMs() const { return FHoverMs; }
    const TBarPicturePopup& Popup() const { return *FPopup; }
    const TBarPictures& Pictures() const { return FPictures; }
    // Told each time a picture comes onto the popup: the place it stands for, its size, and how
    // long the pointer has waited since it came to a place whose picture was not at hand (0 when
    // it was). For measuring runs.
    using TPictureShown = std::function<void(std::int32_t placeMs, QSize size, std::int64_t waitedMs)>;
    void SetPictureShown(TPictureShown shown) { FPictureShown = std::move(shown); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PictureCame(std::int32_t requestedMs, const QImage& picture);

    QSlider& FBar;
    TSettings FSettings;
    QPointer<TBarPicturePopup> FPopup; // a window of the bar's window, which owns it
    std::int32_t FHoverMs = -1;
    TPictureShown FPictureShown;
    bool FPictureCame = false;     // set when a picture comes, for the hover that asks
    QElapsedTimer FWaiting;        // valid while the pointer waits for a picture
    TBarPictures FPictures;
};
