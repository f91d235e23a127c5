// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Laying subtitles over pictures: libass's coverage maps and premultiplied pieces blended into
// the 24-bit pictures the program stores (blue, green, red in memory).
#include "framework/TBitmap.h"

#include <ass/ass.h>

#include <QImage>
#include <QPoint>

#include <vector>

// A piece of a subtitle to blend: premultiplied ARGB at its place in the target.
struct TSubtitlePiece {
    QPoint At;
    QImage Pixels;
};

// One of libass's coverage maps in its colour, as a premultiplied piece of its size.
QImage PieceOfAssImage(const ASS_Image& image);
// Blends a coverage map in its colour straight into picture at its place: a capture at 1080p
// touches only the glyphs' pixels, once.
void BlendAssImage(TBitmap& picture, const ASS_Image& image);
void BlendInto(TBitmap& picture, const std::vector<TSubtitlePiece>& pieces);
