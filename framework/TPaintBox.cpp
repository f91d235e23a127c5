// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TPaintBox.h"

#include <QPainter>

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent)
{
    // Never fill the own background: where the handler draws nothing, the parent's colour shows.
    setAutoFillBackground(false);
}

void TPaintBox::paintEvent(QPaintEvent*)
{
    if (!OnPaint)
        return;
    QPainter painter(this);
    OnPaint(painter);
}
