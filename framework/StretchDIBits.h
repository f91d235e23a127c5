// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Device-independent bitmaps as Windows lays them out, and a software
// StretchDIBits that draws such rows onto a canvas. The structures are read from bytes (they
// are little-endian and unaligned in files); nothing here trusts a size it was not given.
#include "framework/TCanvas.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::uint32_t BI_RGB = 0;
inline constexpr std::uint32_t BI_RLE8 = 1;
inline constexpr std::uint32_t BI_RLE4 = 2;
inline constexpr std::uint32_t BI_BITFIELDS = 3;
inline constexpr unsigned DIB_RGB_COLORS = 0;
// bfType of a bitmap file: "BM" read as a little-endian number.
inline constexpr std::uint16_t kBitmapFileType = 0x4D42;

#pragma pack(push, 1)
struct BITMAPFILEHEADER {
    std::uint16_t bfType;
    std::uint32_t bfSize;
    std::uint16_t bfReserved1;
    std::uint16_t bfReserved2;
    std::uint32_t bfOffBits;
};
struct BITMAPCOREHEADER {
    std::uint32_t bcSize;
    std::uint16_t bcWidth;
    std::uint16_t bcHeight;
    std::uint16_t bcPlanes;
    std::uint16_t bcBitCount;
};
struct BITMAPINFOHEADER {
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};
struct RGBQUAD {
    std::uint8_t rgbBlue;
    std::uint8_t rgbGreen;
    std::uint8_t rgbRed;
    std::uint8_t rgbReserved;
};
struct RGBTRIPLE {
    std::uint8_t rgbtBlue;
    std::uint8_t rgbtGreen;
    std::uint8_t rgbtRed;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14 && sizeof(BITMAPCOREHEADER) == 12 && sizeof(BITMAPINFOHEADER) == 40);

// Bytes of one DIB row: padded to a multiple of 4 bytes.
constexpr std::int64_t DIBRowStride(std::int64_t width, std::int64_t bitsPerPixel)
{
    return ((width * bitsPerPixel + 31) & ~std::int64_t{31}) / 8;
}

// The red, green and blue masks of a BI_BITFIELDS DIB are three 32-bit words at byte 40 of its
// info block: right after a 40-byte header, and inside every larger header (52 bytes and up)
// that carries them itself. A header of a size in between has no place for them.
inline constexpr std::size_t kBitFieldMasksOffset = sizeof(BITMAPINFOHEADER);
inline constexpr std::size_t kBitFieldMasksSize = 12;
constexpr bool HoldsBitFieldMasks(std::uint64_t headerSize)
{
    return headerSize == kBitFieldMasksOffset || headerSize >= kBitFieldMasksOffset + kBitFieldMasksSize;
}
// The bytes the masks add after a header of that size.
constexpr std::uint64_t BitFieldMasksAfterHeader(std::uint64_t headerSize)
{
    return headerSize == kBitFieldMasksOffset ? kBitFieldMasksSize : 0;
}
// Reads the masks of the info block; false when its header size has no place for them or the
// block is too short to hold them.
bool ReadBitFieldMasks(std::span<const std::uint8_t> info, std::array<std::uint32_t, 3>& masks);

// Draws the source rectangle of a DIB onto the destination rectangle of the canvas (logical
// coordinates), stretching with the canvas's stretch mode and combining with rop.
// info: a BITMAPINFOHEADER (biSize >= 40) followed by the colour table (1, 4, 8 bits: biClrUsed
// entries, or all 2^n when it is 0) or, for BI_BITFIELDS, the masks (16 and 32 bits; see above).
// bits: the rows, bottom-up when biHeight > 0 (ySrc then counts from the bottom row, as on
// Windows), top-down when it is negative. Supports 1, 4, 8, 16, 24 and 32 bits, BI_RGB
// and BI_BITFIELDS. A source rectangle reaching outside the DIB is clipped to it.
// Returns the number of rows drawn (the source height), or 0 when the DIB cannot be drawn:
// an unsupported format, or info or bits shorter than the header declares.
int StretchDIBits(TCanvas& canvas, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, std::span<const std::uint8_t> bits,
                  std::span<const std::uint8_t> info, unsigned usage, TCopyMode rop);
