// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The arithmetic of subtitles, apart from any stream so that it can be checked on its own: times
// that saturate, and where a bitmap subtitle goes on a picture.
#include <QRect>
#include <QSize>

#include <cstdint>

// The arithmetic of subtitle times, saturating rather than wrapping round (a damaged stream may
// state any time).
namespace SubtitleTime {
// value stream units of timeBaseNum/timeBaseDen seconds in milliseconds, rounded to nearest; the
// largest or smallest time there is when it does not fit, the smallest for a missing time.
std::int64_t ToMs(std::int64_t value, int timeBaseNum, int timeBaseDen);
// a - b, saturated.
std::int64_t Difference(std::int64_t a, std::int64_t b);
} // namespace SubtitleTime

// Where a bitmap subtitle's rectangle goes on a picture.
namespace SubtitleGeometry {
struct TBitmapPlacement {
    QRect Source; // the part of the rectangle's own pixels that is shown; empty: none
    QRect Target; // where that part goes on the picture, scaled
};
// A rectangle at place on a canvas of canvas (the size the stream addresses), drawn on a
// picture of size: only the part within the canvas is shown, so that a rectangle larger than
// its canvas (damage, or a track whose canvas is wrong) is never scaled past the picture.
TBitmapPlacement PlaceBitmap(QRect place, QSize canvas, QSize size);
} // namespace SubtitleGeometry
