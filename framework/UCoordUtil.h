// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Rectangle arithmetic for fitting pictures into boxes. Rectangles are left/top/right/bottom
// with right and bottom exclusive, as the drawing code and the thumbnail sizes expect; QRect
// counts right()/bottom() inclusively, so conversions go through ToQRect/FromQRect only.
#include <QRect>
#include <cstdint>

struct TPoint {
    std::int32_t X = 0;
    std::int32_t Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
    friend bool operator==(const TRect&, const TRect&) = default;
};

std::int32_t RectWidth(const TRect& r);
std::int32_t RectHeight(const TRect& r);
// Each coordinate is the sum of the two edges halved, truncated toward zero.
TPoint RectCenter(const TRect& r);
TRect CenterRectAt(const TRect& r, const TPoint& p);
// r's top-left corner and aspect ratio, scaled until it touches maxWidth x maxHeight on two
// opposite sides (enlarging as well as reducing). A rectangle of zero width or height has no
// aspect ratio: the result is then the empty rectangle at r's top-left corner.
TRect FitRect(const TRect& r, std::int32_t maxWidth, std::int32_t maxHeight);
TRect FitRectCentered(const TRect& r, const TRect& box);

QRect ToQRect(const TRect& r);
TRect FromQRect(const QRect& r);
