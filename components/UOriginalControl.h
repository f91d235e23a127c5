// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The base of the panels: a widget that paints its whole surface itself through a canvas, with
// a brush of its own, and repaints all of itself after a resize when FullRepaint is set.
// A form that still carries the boolean "Transparent" for such a control loads as before: uic
// sets it as a dynamic property, which nothing reads.
#include "framework/TCanvas.h"
#include "framework/TObject.h"

#include <QWidget>
#include <functional>

// A brush whose colour and style are always written when a form is stored; otherwise the
// framework brush (white, solid).
class TNoDefaultBrush : public TBrush {};

using TControlNotify = std::function<void(QObject* sender)>;

class TOriginalControl : public QWidget, public TObject {
    Q_OBJECT
public:
    explicit TOriginalControl(QWidget* owner = nullptr);
    ~TOriginalControl() override;

    TNoDefaultBrush& Brush() { return FBrush; }
    // Copies the brush's values.
    void SetBrush(const TBrush& brush) { FBrush.Assign(brush); }
    bool FullRepaint() const { return FFullRepaint; }
    void SetFullRepaint(bool value) { FFullRepaint = value; }

    // The canvas of the paint in progress (it has no device outside one).
    TCanvas& Canvas() { return FCanvas; }

protected:
    virtual void BrushChanged();
    virtual void Paint() {}
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BrushChange(TObject* sender);

    TNoDefaultBrush FBrush;
    bool FFullRepaint = true;
    TCanvas FCanvas;
};
