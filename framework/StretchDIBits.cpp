// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/StretchDIBits.h"

#include <QImage>
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace {
template <class T>
T ReadLE(const std::uint8_t* p)
{
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// One channel of a bit-field pixel, widened or narrowed to 8 bits.
struct TChannel {
    std::uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;

    explicit TChannel(std::uint32_t mask) : Mask(mask)
    {
        if (mask) {
            Shift = std::countr_zero(mask);
            Bits = std::popcount(mask);
        }
    }
    std::uint32_t Extract(std::uint32_t pixel) const
    {
        if (!Mask)
            return 0;
        const std::uint32_t value = (pixel & Mask) >> Shift;
        if (Bits >= 8)
            return value >> (Bits - 8);
        return value * 255 / ((1u << Bits) - 1);
    }
};

struct TDIBLayout {
    int Width = 0;
    int Height = 0;
    bool BottomUp = true;
    int BitCount = 0;
    std::int64_t Stride = 0;
    std::vector<QRgb> Colors;                  // valid for 1, 4 and 8 bits
    std::array<std::uint32_t, 3> Masks{};      // valid for 16 and 32 bits
};

// Reads the header, colour table and masks, refusing anything the bytes do not hold.
bool ReadLayout(std::span<const std::uint8_t> info, std::size_t bitsSize, TDIBLayout& layout)
{
    if (info.size() < sizeof(BITMAPINFOHEADER))
        return false;
    BITMAPINFOHEADER header;
    std::memcpy(&header, info.data(), sizeof header);
    if (header.biSize < sizeof header || header.biSize > info.size() || header.biWidth <= 0 || header.biHeight == 0
        || header.biHeight == INT32_MIN || header.biPlanes != 1)
        return false;
    layout.Width = header.biWidth;
    layout.Height = std::abs(header.biHeight);
    layout.BottomUp = header.biHeight > 0;
    layout.BitCount = header.biBitCount;
    switch (layout.BitCount) {
    case 1:
    case 4:
    case 8:
    case 24:
        if (header.biCompression != BI_RGB)
            return false;
        break;
    case 16:
    case 32:
        if (header.biCompression != BI_RGB && header.biCompression != BI_BITFIELDS)
            return false;
        break;
    default: return false;
    }
    layout.Stride = DIBRowStride(layout.Width, layout.BitCount);
    if (layout.Stride * layout.Height > static_cast<std::int64_t>(bitsSize))
        return false;

    if (layout.BitCount <= 8) {
        const std::uint64_t limit = std::uint64_t{1} << layout.BitCount;
        const std::uint64_t declared = header.biClrUsed ? header.biClrUsed : limit;
        const std::uint64_t used = std::min(declared, limit);
        if (header.biSize + used * sizeof(RGBQUAD) > info.size())
            return false;
        const std::uint8_t* table = info.data() + header.biSize;
        for (std::uint64_t i = 0; i < used; ++i, table += sizeof(RGBQUAD))
            layout.Colors.push_back(qRgb(table[2], table[1], table[0]));
        // Indices past the table draw black.
        layout.Colors.resize(static_cast<std::size_t>(limit), qRgb(0, 0, 0));
    } else if (header.biCompression == BI_BITFIELDS) {
        if (!ReadBitFieldMasks(info, layout.Masks))
            return false;
    } else if (layout.BitCount == 16) {
        layout.Masks = {0x7C00, 0x03E0, 0x001F};
    } else {
        layout.Masks = {0xFF0000, 0x00FF00, 0x0000FF};
    }
    return true;
}

// Decodes columns [x0, x1) of rows [y0, y1) (counted from the top) into 32-bit pixels.
QImage Decode(const TDIBLayout& layout, const std::uint8_t* bits, int x0, int y0, int x1, int y1)
{
    QImage image(x1 - x0, y1 - y0, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    const TChannel red(layout.Masks[0]), green(layout.Masks[1]), blue(layout.Masks[2]);
    for (int y = y0; y < y1; ++y) {
        const std::int64_t rowIndex = layout.BottomUp ? layout.Height - 1 - y : y;
        const std::uint8_t* row = bits + rowIndex * layout.Stride;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y - y0));
        for (int x = x0; x < x1; ++x) {
            QRgb& pixel = out[x - x0];
            switch (layout.BitCount) {
            case 1: pixel = layout.Colors[(row[x / 8] >> (7 - x % 8)) & 1]; break;
            case 4: pixel = layout.Colors[(row[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F]; break;
            case 8: pixel = layout.Colors[row[x]]; break;
            case 24: pixel = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]); break;
            case 16: {
                const std::uint32_t v = ReadLE<std::uint16_t>(row + 2 * x);
                pixel = qRgb(static_cast<int>(red.Extract(v)), static_cast<int>(green.Extract(v)),
                             static_cast<int>(blue.Extract(v)));
                break;
            }
            default: {
                const std::uint32_t v = ReadLE<std::uint32_t>(row + 4 * x);
                pixel = qRgb(static_cast<int>(red.Extract(v)), static_cast<int>(green.Extract(v)),
                             static_cast<int>(blue.Extract(v)));
                break;
            }
            }
        }
    }
    return image;
}

// Where source coordinate s (between src and src + srcSize) lands between dest and dest + destSize.
int MapCoordinate(std::int64_t s, std::int64_t src, std::int64_t srcSize, std::int64_t dest, std::int64_t destSize)
{
    return static_cast<int>(dest + (s - src) * destSize / srcSize);
}
} // namespace

bool ReadBitFieldMasks(std::span<const std::uint8_t> info, std::array<std::uint32_t, 3>& masks)
{
    if (info.size() < kBitFieldMasksOffset + kBitFieldMasksSize || !HoldsBitFieldMasks(ReadLE<std::uint32_t>(info.data())))
        return false;
    for (std::size_t i = 0; i < masks.size(); ++i)
        masks[i] = ReadLE<std::uint32_t>(info.data() + kBitFieldMasksOffset + 4 * i);
    return true;
}

int StretchDIBits(TCanvas& canvas, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, std::span<const std::uint8_t> bits, std::span<const std::uint8_t> info,
                  unsigned usage, TCopyMode rop)
{
    TDIBLayout layout;
    if (usage != DIB_RGB_COLORS || srcWidth <= 0 || srcHeight <= 0 || destWidth == 0 || destHeight == 0
        || !ReadLayout(info, bits.size(), layout))
        return 0;
    // Rows counted from the top of the picture; a bottom-up DIB counts ySrc from its last row.
    const std::int64_t top = layout.BottomUp ? std::int64_t{layout.Height} - ySrc - srcHeight : ySrc;
    const std::int64_t x0 = std::max<std::int64_t>(xSrc, 0), x1 = std::min<std::int64_t>(std::int64_t{xSrc} + srcWidth, layout.Width);
    const std::int64_t y0 = std::max<std::int64_t>(top, 0), y1 = std::min<std::int64_t>(top + srcHeight, layout.Height);
    if (x0 >= x1 || y0 >= y1)
        return srcHeight;
    QImage part = Decode(layout, bits.data(), static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1),
                         static_cast<int>(y1));
    if (part.isNull())
        return 0;
    // A negative destination extent mirrors the picture.
    if (destWidth < 0 || destHeight < 0) {
        part = part.mirrored(destWidth < 0, destHeight < 0);
        if (destWidth < 0) {
            xDest += destWidth;
            destWidth = -destWidth;
        }
        if (destHeight < 0) {
            yDest += destHeight;
            destHeight = -destHeight;
        }
    }
    const int left = MapCoordinate(x0, xSrc, srcWidth, xDest, destWidth);
    const int right = MapCoordinate(x1, xSrc, srcWidth, xDest, destWidth);
    const int upper = MapCoordinate(y0, top, srcHeight, yDest, destHeight);
    const int lower = MapCoordinate(y1, top, srcHeight, yDest, destHeight);
    const TCopyMode previous = canvas.CopyMode();
    canvas.SetCopyMode(rop);
    canvas.DrawImage(QRect(left, upper, right - left, lower - upper), part);
    canvas.SetCopyMode(previous);
    return srcHeight;
}
