// SPDX-License-Identifier: GPL-3.0-or-later
#include "graphics/UDIBScaling.h"

#include "framework/Platform.h"
#include "graphics/UDIB.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// Nearest-neighbour maps and bands

std::vector<int> dibscale::NearestMap(int destLength, int srcStart, int srcLength)
{
    std::vector<int> map(static_cast<std::size_t>(std::max(destLength, 0)));
    const std::int64_t denominator = 2 * std::int64_t{destLength};
    for (std::size_t i = 0; i < map.size(); ++i)
        map[i] = srcStart + static_cast<int>((2 * static_cast<std::int64_t>(i) + 1) * srcLength / denominator);
    return map;
}

std::vector<int> dibscale::CropMap(const std::vector<int>& map, int offset, int limit)
{
    const std::int64_t size = static_cast<std::int64_t>(map.size());
    std::int64_t first = offset > 0 ? offset : 0;
    std::int64_t length = offset < 0 ? size + offset : size - first;
    length = std::clamp<std::int64_t>(std::min<std::int64_t>(length, limit), 0, std::max<std::int64_t>(size - first, 0));
    return {map.begin() + first, map.begin() + first + length};
}

int dibscale::BandCount(std::int64_t width, std::int64_t height)
{
    return static_cast<int>(width * height / kBandPixels + 1);
}

QRect dibscale::Band(const QRect& visible, int k, int count)
{
    const std::int64_t h = visible.height();
    const int top = visible.top() + static_cast<int>(h * k / count);
    const int bottom = visible.top() + static_cast<int>(h * (k + 1) / count);
    return QRect(QPoint(visible.left(), top), QPoint(visible.right(), bottom - 1));
}

// ---------------------------------------------------------------------------------------------
// ScaleCopy

namespace {

template <std::size_t BytesPerPixel>
void CopyRowBytes(std::uint8_t* target, const std::uint8_t* source, const std::vector<int>& columns)
{
    for (std::size_t j = 0; j < columns.size(); ++j)
        std::memcpy(target + BytesPerPixel * j, source + BytesPerPixel * static_cast<std::size_t>(columns[j]),
                    BytesPerPixel);
}

void CopyRowBits(std::uint8_t* target, const std::uint8_t* source, const std::vector<int>& columns)
{
    std::memset(target, 0, (columns.size() + 7) / 8);
    for (std::size_t j = 0; j < columns.size(); ++j) {
        const int x = columns[j];
        if (source[x / 8] & (0x80 >> (x % 8)))
            target[j / 8] |= static_cast<std::uint8_t>(0x80 >> (j % 8));
    }
}

} // namespace

bool ScaleCopy(TBitmap& target, const TBitmap& source, const QRect& part, const QRect& destRect,
               const QRect& srcRect)
{
    // Column and row maps.
    std::vector<int> columns = dibscale::NearestMap(destRect.width(), srcRect.left(), srcRect.width());
    std::vector<int> rows = dibscale::NearestMap(destRect.height(), srcRect.top(), srcRect.height());
    // Crop both to the part.
    columns = dibscale::CropMap(columns, part.left() - destRect.left(), target.Width());
    rows = dibscale::CropMap(rows, part.top() - destRect.top(), target.Height());
    // Nothing to copy.
    if (columns.empty() || rows.empty())
        return false;
    // Samples outside the source would be reads past its rows.
    const auto outside = [](const std::vector<int>& map, int limit) {
        return std::any_of(map.begin(), map.end(), [limit](int v) { return v < 0 || v >= limit; });
    };
    if (outside(columns, source.Width()) || outside(rows, source.Height()))
        return false;
    // Copy row by row by the source's pixel layout.
    target.SetPixelFormat(source.PixelFormat());
    target.SetSize(static_cast<int>(columns.size()), static_cast<int>(rows.size()));
    const int depth = source.Image().depth();
    if (target.Image().depth() != depth)
        return false;
    if (depth <= 8)
        target.Image().setColorTable(source.Image().colorTable());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::uint8_t* out = target.ScanLine(static_cast<int>(r));
        const std::uint8_t* in = source.ScanLine(rows[r]);
        switch (depth) {
        case 1: CopyRowBits(out, in, columns); break;
        case 8: CopyRowBytes<1>(out, in, columns); break;
        case 16: CopyRowBytes<2>(out, in, columns); break;
        case 24: CopyRowBytes<3>(out, in, columns); break;
        case 32: CopyRowBytes<4>(out, in, columns); break;
        default: return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Drawing scaled copies

bool IsScalableFormat(TPixelFormat format)
{
    return format != TPixelFormat::pfDevice && format != TPixelFormat::pfCustom;
}

namespace {

// The scaled part drawn 1:1; the 9x family draws it through DIB memory too.
void DrawScaledPart(TCanvas& canvas, const TBitmap& bitmap, const QRect& part, const QRect& destRect,
                    const QRect& srcRect)
{
    TBitmap scaled;
    scaled.SetPixelFormat(bitmap.PixelFormat());
    scaled.SetSize(part.width(), part.height());
    if (!ScaleCopy(scaled, bitmap, part, destRect, srcRect))
        return;
    const QRect target(part.topLeft(), QSize(scaled.Width(), scaled.Height()));
    if (IsNTFamily()) {
        scaled.Draw(canvas, target);
        return;
    }
    TDIB dib;
    dib.LoadFromBitmap(scaled);
    dib.DrawDevice(canvas, target, QRect(0, 0, scaled.Width(), scaled.Height()));
}

} // namespace

void ScaledCopyDraw(TCanvas& canvas, const TBitmap& bitmap, const QRect& destRect, const QRect& srcRect)
{
    if (!IsScalableFormat(bitmap.PixelFormat())) {
        canvas.StretchDraw(destRect, const_cast<TBitmap&>(bitmap));
        return;
    }
    // Only what can be seen.
    QRect clip;
    const int kind = canvas.DeviceClipBox(clip);
    if (kind != SIMPLEREGION && kind != COMPLEXREGION)
        clip = QRect(QPoint(0, 0), canvas.DeviceSize());
    const QRect visible = clip.intersected(destRect);
    const std::int64_t w = visible.width();
    const std::int64_t h = visible.height();
    if (IsNTFamily() || w * h < dibscale::kBandPixels) {
        DrawScaledPart(canvas, bitmap, visible, destRect, srcRect);
        return;
    }
    const int count = dibscale::BandCount(w, h);
    for (int k = 0; k < count; ++k)
        DrawScaledPart(canvas, bitmap, dibscale::Band(visible, k, count), destRect, srcRect);
}
