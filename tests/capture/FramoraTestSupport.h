// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A capture window under test: its own single-instance lock folder (so windows of one test
// binary, and a real running Framora, never see each other), a hand-driven tick, and the helpers
// that stand for the timer and the idle moments.
#include "capture/UDesktop.h"
#include "capture/UFramora.h"
#include "decoder/UMovieDecoder.h"
#include "fixtures/FrameStamp.h"
#include "fixtures/TestMovies.h"
#include "framework/MessageBox.h"
#include "framework/TAction.h"
#include "framework/TBitmap.h"
#include "framework/TickCount.h"
#include "imagestore/UCustomImagePack.h"
#include "imagestore/UPictureEX.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

inline QString FixturePath(const char* name)
{
    return QString::fromUtf8(FRAMORA_FIXTURE_DIR) + QLatin1Char('/') + QString::fromUtf8(name);
}

// The message after a save: how many files were written, and into which folder.
inline QString SavedText(int files, const QString& folder)
{
    return QStringLiteral("ファイルを保存しました（%1件）。\n保存先：%2").arg(files).arg(folder);
}

// The picture number a bitmap shows; -1 when it carries no readable stamp.
inline int StampOf(const TBitmap& bitmap)
{
    if (bitmap.Empty())
        return -1;
    return FrameStamp::Read(bitmap.Width(), bitmap.Height(), [&](int x, int y) {
        const std::uint8_t* bgr = bitmap.ScanLine(y) + 3 * x;
        return (bgr[2] * 299 + bgr[1] * 587 + bgr[0] * 114) / 1000;
    });
}

// The decoder reads on from where the previous request left it (within a packet budget) and
// seeks only backwards or far ahead, so the picture shown depends on every request since the
// opening. A second decoder given the same requests tells which picture the window must show.
inline int ReferenceStamp(const char* name, std::initializer_list<std::int32_t> requests)
{
    TMovieDecoder decoder;
    if (!decoder.Open(QFile::encodeName(FixturePath(name)).toStdString()))
        return -2;
    for (std::int32_t ms : requests)
        decoder.DecodeFrame(ms);
    return StampOf(decoder.Bitmap());
}

inline void SettlePictures(TfrmFramora& form)
{
    QElapsedTimer waited;
    waited.start();
    while (!form.PicturesSettled() && waited.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_TRUE(form.PicturesSettled()) << "the decoding thread did not answer in a minute";
}

inline TBitmap ShownFrameOf(TfrmFramora& form)
{
    TBitmap shown;
    form.UseShownPicture([&shown](const TBitmap& frame, const TDisplayTransform&, std::int32_t) { shown = frame; });
    SettlePictures(form);
    return shown;
}

inline QImage ClipboardImageOf(TfrmFramora& form)
{
    QImage copied;
    form.UseClipboardImage([&copied](const QImage& image) { copied = image; });
    SettlePictures(form);
    return copied;
}

class FramoraWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(LockDir.isValid());
        qputenv("FRAMORA_LOCK_DIR", LockDir.path().toLocal8Bit());
        // Settings kept between runs go to a folder of the test's own.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, LockDir.path());
        // Scenes kept for recovery too, so that no test offers another test's scenes.
        OuterState = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", LockDir.path().toLocal8Bit());
        // Close to the 32-bit wrap, so every elapsed time below crosses it.
        Now = 0xFFFFF000u;
        SetTickSource([this] { return Now; });
        Form = NewFramoraWindow();
    }

    void TearDown() override
    {
        Form.reset();
        SetTickSource({});
        qunsetenv("FRAMORA_LOCK_DIR");
        qputenv("XDG_STATE_HOME", OuterState);
    }

    // Opens a movie, answering any message box; returns the texts asked.
    QStringList Open(const QString& path)
    {
        TMessageBoxScript boxes;
        Form->OpenMovie(path);
        Settle();
        return boxes.Texts();
    }

    // Waits until the decoding thread has answered everything asked and every capture is done.
    void Settle() { SettlePictures(*Form); }

    // Lets ms of wall-clock time pass, then delivers one tick of the playback timer.
    void Tick(std::uint32_t ms)
    {
        // The pictures asked for before have come: a tick while one is made shows none.
        Settle();
        Now += ms;
        Form->Timer2Timer();
        Settle();
    }

    // An idle moment: the pictures asked for have come, and every command's update handler runs.
    void Idle()
    {
        Settle();
        Form->ActionList1->UpdateAll();
    }

    int Position() const { return Form->TrackBar1->value(); }

    // The stamps of the stored scenes, read as the browser reads them.
    QList<int> SceneStamps()
    {
        Settle();
        QList<int> stamps;
        for (int i = 0; i < Form->CurrentSceneCount(); ++i) {
            TPictureEx picture;
            Form->CustomImagePack1->SafeGetImage(picture, i);
            auto* bitmap = dynamic_cast<TBitmap*>(picture.Graphic());
            stamps.append(bitmap ? StampOf(*bitmap) : -1);
        }
        return stamps;
    }
    int ShownStamp() { return StampOf(ShownFrame()); }
    // The picture on screen at its coded size, as a capture gets it.
    TBitmap ShownFrame() { return ShownFrameOf(*Form); }
    // A capture, done: its scene is in the list (or the list was full).
    bool Capture()
    {
        const bool executed = Form->actCapture->Execute();
        Settle();
        return executed;
    }
    // What a copy puts on the clipboard.
    QImage ClipboardImage() { return ClipboardImageOf(*Form); }

    // Opens the 20 s, 25 pictures/s movie and pauses at position ms.
    void OpenPausedAt(int ms)
    {
        ASSERT_TRUE(Open(FixturePath(TestMovies::LongGopH264)).isEmpty());
        Tick(100);
        Idle();
        ASSERT_TRUE(Form->actPause->Execute());
        Form->TrackBar1->setValue(ms);
        Idle();
    }

    QTemporaryDir LockDir;
    QByteArray OuterState;
    std::uint32_t Now = 0;
    std::unique_ptr<TfrmFramora> Form;
};
