// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagestore/UGraphicsUtil.h"

#include "framework/TBitmap.h"
#include "framework/TCanvas.h"
#include "framework/TJPEGImage.h"
#include "framework/TPicture.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// Each scale is taken while the picture it decodes is still larger than that many times the
// fitted size.
TJPEGScale ScaleFor(std::int32_t big, std::int32_t fitted)
{
    const std::int64_t m = fitted;
    if (big > 8 * m)
        return TJPEGScale::jsEighth;
    if (big > 4 * m)
        return TJPEGScale::jsQuarter;
    if (big > 2 * m)
        return TJPEGScale::jsHalf;
    return TJPEGScale::jsFullSize;
}

// The canvas a graphic draws its pixels from, when it has one of its own.
TCanvas* OwnCanvas(TGraphic& graphic)
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(&graphic))
        return &bitmap->Canvas();
    if (auto* jpeg = dynamic_cast<TJPEGImage*>(&graphic))
        return &const_cast<TBitmap&>(jpeg->Bitmap()).Canvas();
    return nullptr;
}

template <class Draw>
void WithCanvasesLocked(TCanvas& canvas, TGraphic& graphic, Draw draw)
{
    canvas.Lock();
    struct TUnlock {
        TCanvas* Canvas;
        ~TUnlock()
        {
            if (Canvas)
                Canvas->Unlock();
        }
    } target{&canvas};
    TUnlock own{OwnCanvas(graphic)};
    if (own.Canvas)
        own.Canvas->Lock();
    draw();
}

// The row sums run in 16 bits, which vectorize well (a widening straight to 32 bits does not);
// this loop is almost all of the reduction's time. 257 rows of 255 still fit, after which the
// partial sums go into the 32-bit accumulators. GCC's default cost model at -O2 leaves these
// loops scalar, so they ask for its full one; clang vectorizes them as they are.
#if defined(__GNUC__) && !defined(__clang__)
#define VECTORIZED __attribute__((optimize("vect-cost-model=dynamic")))
#else
#define VECTORIZED
#endif
constexpr std::uint32_t kRowsPer16BitSum = 257;

VECTORIZED void AddRow(std::uint16_t* __restrict sum, const std::uint8_t* __restrict line, std::size_t count)
{
    for (std::size_t b = 0; b < count; ++b)
        sum[b] = static_cast<std::uint16_t>(sum[b] + line[b]);
}

VECTORIZED void FlushPartialSums(std::uint32_t* __restrict sum, std::uint16_t* __restrict part, std::size_t count)
{
    for (std::size_t b = 0; b < count; ++b) {
        sum[b] += part[b];
        part[b] = 0;
    }
}

void Reduce24(const TBitmap& source, TBitmap& destination)
{
    const int sw = source.Width();
    const int sh = source.Height();
    const int dw = destination.Width();
    const int dh = destination.Height();
    const std::size_t rowBytes = static_cast<std::size_t>(sw) * 3;
    std::vector<std::uint32_t> sums(rowBytes);
    std::vector<std::uint16_t> partial(rowBytes);
    int s = 0;
    for (int y = 0; y < dh; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        const int rowEnd = static_cast<int>(std::int64_t{y + 1} * sh / dh);
        std::uint32_t rows = 0;
        do {
            AddRow(partial.data(), source.ScanLine(s), rowBytes);
            ++rows;
            ++s;
            if (rows % kRowsPer16BitSum == 0)
                FlushPartialSums(sums.data(), partial.data(), rowBytes);
        } while (s < rowEnd);
        FlushPartialSums(sums.data(), partial.data(), rowBytes);
        std::uint8_t* out = destination.ScanLine(y);
        int c = 0;
        for (int x = 0; x < dw; ++x) {
            const int colEnd = static_cast<int>(std::int64_t{x + 1} * sw / dw);
            std::uint32_t blue = 0, green = 0, red = 0, total = 0;
            do {
                blue += sums[3 * c];
                green += sums[3 * c + 1];
                red += sums[3 * c + 2];
                total += rows;
                ++c;
            } while (c < colEnd);
            out[3 * x] = static_cast<std::uint8_t>(blue / total);
            out[3 * x + 1] = static_cast<std::uint8_t>(green / total);
            out[3 * x + 2] = static_cast<std::uint8_t>(red / total);
        }
    }
}

} // namespace

void SetJPEGScaleFor(TGraphic* graphic, std::int32_t maxWidth, std::int32_t maxHeight)
{
    auto* jpeg = dynamic_cast<TJPEGImage*>(graphic);
    if (!jpeg || jpeg->Empty())
        return;
    // The choice is made from the stored picture's size, whatever scale was set before.
    const TRect fitted = FitRect({0, 0, jpeg->FullWidth(), jpeg->FullHeight()}, maxWidth, maxHeight);
    const std::int32_t m = std::max(RectWidth(fitted), RectHeight(fitted));
    const std::int32_t big = std::max(jpeg->FullWidth(), jpeg->FullHeight());
    jpeg->SetScale(ScaleFor(big, m));
    jpeg->SetPerformance(TJPEGPerformance::jpBestSpeed);
    jpeg->SetSmoothing(false);
}

void LockedStretchDraw(TCanvas& canvas, const TRect& r, TGraphic& graphic)
{
    WithCanvasesLocked(canvas, graphic, [&] { canvas.StretchDraw(ToQRect(r), graphic); });
}

void LockedDraw(TCanvas& canvas, std::int32_t x, std::int32_t y, TGraphic& graphic)
{
    WithCanvasesLocked(canvas, graphic, [&] { canvas.Draw(x, y, graphic); });
}

void SetPictureTransparency(TPicture& picture, TColor colour, bool transparent)
{
    TGraphic* graphic = picture.Graphic();
    if (!graphic || graphic->Transparent() == transparent)
        return;
    struct TReattach {
        TPicture& Picture;
        TNotifyEvent Handler;
        ~TReattach() { Picture.OnChange = Handler; }
    } reattach{picture, std::exchange(picture.OnChange, TNotifyEvent{})};
    if (auto* bitmap = dynamic_cast<TBitmap*>(graphic))
        bitmap->SetTransparentColor(colour);
    graphic->SetTransparent(transparent);
}

void ReduceBitmapInto(const TBitmap& source, TBitmap& destination)
{
    destination.SetPixelFormat(TPixelFormat::pf24bit);
    const int dw = destination.Width();
    const int dh = destination.Height();
    if (dw <= 0 || dh <= 0 || source.Empty() || source.Width() <= 0 || source.Height() <= 0)
        return;
    // Only a source in another format is copied, to leave the caller's bitmap as it was.
    std::optional<TBitmap> converted;
    const TBitmap* rows = &source;
    if (source.PixelFormat() != TPixelFormat::pf24bit) {
        converted.emplace(source);
        converted->SetPixelFormat(TPixelFormat::pf24bit);
        rows = &*converted;
    }
    if (dw > rows->Width() || dh > rows->Height()) {
        // Averaging cannot enlarge; reading past the source is not an option either.
        TBitmap copy(*rows);
        copy.SetTransparent(false);
        destination.Canvas().StretchDraw(QRect(0, 0, dw, dh), copy);
        return;
    }
    Reduce24(*rows, destination);
    destination.Changed(&destination);
}

void DrawPictureInto(TPicture& picture, TBitmap& bitmap, TColor transparentColour, bool useJPEGScale,
                     TColor backColour)
{
    const std::int32_t w = bitmap.Width();
    const std::int32_t h = bitmap.Height();
    TGraphic* graphic = picture.Graphic();
    if (!graphic)
        return;
    if (useJPEGScale)
        SetJPEGScaleFor(graphic, w, h);
    auto* pictureBitmap = dynamic_cast<TBitmap*>(graphic);
    if (!pictureBitmap) {
        LockedStretchDraw(bitmap.Canvas(), {0, 0, w, h}, *graphic);
        return;
    }
    if (transparentColour == NoTransparency) {
        ReduceBitmapInto(*pictureBitmap, bitmap);
        return;
    }
    SetPictureTransparency(picture, transparentColour, transparentColour != kMakeOpaque);
    TBitmap temporary;
    temporary.SetPixelFormat(TPixelFormat::pf24bit);
    temporary.Canvas().Brush().SetColor(backColour);
    temporary.SetSize(picture.Width(), picture.Height());
    temporary.Canvas().FillRect(QRect(0, 0, picture.Width(), picture.Height()));
    LockedDraw(temporary.Canvas(), 0, 0, *picture.Graphic());
    ReduceBitmapInto(temporary, bitmap);
}
