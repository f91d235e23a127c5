// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turning a picture into a thumbnail: the JPEG decoding scale for a target size, drawing with
// both canvases locked, and the area-average reduction of a bitmap into a smaller one.
#include "framework/TColor.h"
#include "framework/UCoordUtil.h"

#include <cstdint>

class TBitmap;
class TCanvas;
class TGraphic;
class TPicture;

// transparentColour values for DrawPictureInto: the picture is drawn as it is, or made opaque.
inline constexpr TColor NoTransparency = 0x1FFFFFFF;
inline constexpr TColor kMakeOpaque = static_cast<TColor>(-1);

// For a JPEG image: the smallest decoding scale whose picture still covers the size it will be
// fitted to in maxWidth x maxHeight, fastest decoding, no smoothing. Other graphics are left alone.
void SetJPEGScaleFor(TGraphic* graphic, std::int32_t maxWidth, std::int32_t maxHeight);

// Draw while the target canvas and the graphic's own bitmap canvas are both locked.
void LockedStretchDraw(TCanvas& canvas, const TRect& r, TGraphic& graphic);
void LockedDraw(TCanvas& canvas, std::int32_t x, std::int32_t y, TGraphic& graphic);

// Sets the picture's graphic transparent (a bitmap with colour as its transparent colour) or
// opaque, without raising the picture's OnChange. A graphic already in that state is untouched.
void SetPictureTransparency(TPicture& picture, TColor colour, bool transparent);

// destination becomes source reduced to destination's size, each pixel the truncated mean of the
// block of source pixels that maps onto it; both are 24 bits afterwards, source is left as it
// was. A destination larger than the source in either direction is stretch-drawn instead.
void ReduceBitmapInto(const TBitmap& source, TBitmap& destination);

// Renders picture to fill bitmap at its current size. transparentColour NoTransparency draws the
// picture as it is; kMakeOpaque makes it opaque first; any other colour is drawn transparent over
// backColour.
void DrawPictureInto(TPicture& picture, TBitmap& bitmap, TColor transparentColour, bool useJPEGScale,
                     TColor backColour);
