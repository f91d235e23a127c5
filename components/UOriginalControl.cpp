// SPDX-License-Identifier: GPL-3.0-or-later
#include "components/UOriginalControl.h"

#include <QPainter>

namespace {
constexpr int kInitialWidth = 75;
constexpr int kInitialHeight = 25;
} // namespace

TOriginalControl::TOriginalControl(QWidget* owner) : QWidget(owner)
{
    resize(kInitialWidth, kInitialHeight);
    FBrush.OnChange = MakeNotifyEvent<&TOriginalControl::BrushChange>(this);
}

TOriginalControl::~TOriginalControl() = default;

void TOriginalControl::BrushChange(TObject*)
{
    BrushChanged();
}

void TOriginalControl::BrushChanged()
{
    update();
}

void TOriginalControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    FCanvas.SetPainter(&painter);
    struct TDetach {
        TCanvas& Canvas;
        ~TDetach() { Canvas.SetPainter(nullptr); }
    } detach{FCanvas};
    Paint();
}

void TOriginalControl::resizeEvent(QResizeEvent* event)
{
    if (FFullRepaint)
        update();
    QWidget::resizeEvent(event);
}
