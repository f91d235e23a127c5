// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/UCoordUtil.h"

#include "framework/MulDiv.h"

std::int32_t RectWidth(const TRect& r)
{
    return r.Right - r.Left;
}

std::int32_t RectHeight(const TRect& r)
{
    return r.Bottom - r.Top;
}

TPoint RectCenter(const TRect& r)
{
    // Sums in 64 bits so that rectangles near the ends of the range do not overflow; C++
    // division already truncates toward zero.
    return {static_cast<std::int32_t>((std::int64_t{r.Left} + r.Right) / 2),
            static_cast<std::int32_t>((std::int64_t{r.Top} + r.Bottom) / 2)};
}

TRect CenterRectAt(const TRect& r, const TPoint& p)
{
    const TPoint c = RectCenter(r);
    const std::int32_t dx = p.X - c.X;
    const std::int32_t dy = p.Y - c.Y;
    return {r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy};
}

TRect FitRect(const TRect& r, std::int32_t maxWidth, std::int32_t maxHeight)
{
    const std::int32_t w = RectWidth(r);
    const std::int32_t h = RectHeight(r);
    if (w == 0 || h == 0)
        return {r.Left, r.Top, r.Left, r.Top};
    std::int32_t newWidth = MulDiv(w, maxHeight, h);
    std::int32_t newHeight = maxHeight;
    if (newWidth > maxWidth) {
        newHeight = MulDiv(h, maxWidth, w);
        newWidth = maxWidth;
    }
    return {r.Left, r.Top, r.Left + newWidth, r.Top + newHeight};
}

TRect FitRectCentered(const TRect& r, const TRect& box)
{
    return CenterRectAt(FitRect(r, RectWidth(box), RectHeight(box)), RectCenter(box));
}

QRect ToQRect(const TRect& r)
{
    return QRect(r.Left, r.Top, RectWidth(r), RectHeight(r));
}

TRect FromQRect(const QRect& r)
{
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}
