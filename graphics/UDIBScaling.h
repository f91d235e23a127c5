// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Nearest-neighbour scaling of bitmaps as the DIB drawing path does it by itself: maps of
// source samples, the copy of a scaled part, and large draws split into bands.
#include "framework/TBitmap.h"
#include "framework/TCanvas.h"

#include <QRect>
#include <cstdint>
#include <vector>

// Nearest-neighbour scaling and the band split of large scaled draws.
namespace dibscale {
inline constexpr std::int64_t kBandPixels = std::int64_t{1} << 22; // 4 Mi destination pixels
// For each of `destLength` destination samples, the source sample under its centre.
std::vector<int> NearestMap(int destLength, int srcStart, int srcLength);
// Drops the first `offset` entries (a negative offset shortens the length instead) and keeps
// at most `limit` entries.
std::vector<int> CropMap(const std::vector<int>& map, int offset, int limit);
int BandCount(std::int64_t width, std::int64_t height);
// Band k of count bands over `visible`, full width.
QRect Band(const QRect& visible, int k, int count);
} // namespace dibscale

// Draws bitmap scaled into destRect (device coordinates) by nearest neighbour, producing only
// the part inside the clip box, in bands of at most 4 Mi pixels on the 9x family.
void ScaledCopyDraw(TCanvas& canvas, const TBitmap& bitmap, const QRect& destRect, const QRect& srcRect);
// Whether the pixel format is one the program's own scaling copies.
bool IsScalableFormat(TPixelFormat format);

// Fills target with the part of source that destRect shows of srcRect, nearest neighbour.
bool ScaleCopy(TBitmap& target, const TBitmap& source, const QRect& part, const QRect& destRect,
               const QRect& srcRect);
