// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/StretchDIBits.h"
#include "framework/TBitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A BITMAPINFO block: header, then colour table or masks.
struct TDIB {
    std::vector<std::uint8_t> Info;
    std::vector<std::uint8_t> Bits;

    TDIB(int width, int height, int bitCount, std::uint32_t compression = BI_RGB, std::uint32_t clrUsed = 0)
    {
        BITMAPINFOHEADER header{};
        header.biSize = sizeof header;
        header.biWidth = width;
        header.biHeight = height;
        header.biPlanes = 1;
        header.biBitCount = static_cast<std::uint16_t>(bitCount);
        header.biCompression = compression;
        header.biClrUsed = clrUsed;
        Info.resize(sizeof header);
        std::memcpy(Info.data(), &header, sizeof header);
        Bits.resize(static_cast<std::size_t>(DIBRowStride(width, bitCount) * std::abs(height)));
    }
    void AddColor(int r, int g, int b)
    {
        Info.insert(Info.end(), {static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(r), 0});
    }
    void AddMask(std::uint32_t mask)
    {
        const auto* p = reinterpret_cast<const std::uint8_t*>(&mask);
        Info.insert(Info.end(), p, p + 4);
    }
    std::uint8_t* Row(int memoryRow, int bitCount)
    {
        return Bits.data() + DIBRowStride(std::abs(Header().biWidth), bitCount) * memoryRow;
    }
    BITMAPINFOHEADER Header() const
    {
        BITMAPINFOHEADER header;
        std::memcpy(&header, Info.data(), sizeof header);
        return header;
    }
};

TBitmap Target(int width, int height)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    bitmap.FillRect(QRect(0, 0, width, height), Qt::white);
    return bitmap;
}

int Draw(TBitmap& target, const TDIB& dib, QRect dest, QRect source)
{
    return StretchDIBits(target.Canvas(), dest.x(), dest.y(), dest.width(), dest.height(), source.x(), source.y(),
                         source.width(), source.height(), dib.Bits, dib.Info, DIB_RGB_COLORS, SRCCOPY);
}

} // namespace

TEST(StretchDIBits, IndexedFormatsReadTheirColourTable)
{
    struct TCase {
        int BitCount;
        std::uint32_t ClrUsed;
        std::uint8_t FirstByte; // pixel 0 -> entry 1, pixel 1 -> entry 0
    };
    for (const TCase& c : {TCase{1, 0, 0x80}, TCase{4, 0, 0x10}, TCase{8, 2, 0x01}}) {
        TDIB dib(2, 1, c.BitCount, BI_RGB, c.ClrUsed);
        dib.AddColor(0, 0, 255);
        dib.AddColor(255, 0, 0);
        const int entries = c.ClrUsed ? static_cast<int>(c.ClrUsed) : 1 << c.BitCount;
        for (int i = 2; i < entries; ++i)
            dib.AddColor(0, 255, 0);
        dib.Bits[0] = c.FirstByte;
        TBitmap target = Target(2, 1);
        EXPECT_EQ(Draw(target, dib, QRect(0, 0, 2, 1), QRect(0, 0, 2, 1)), 1);
        EXPECT_EQ(QColor(target.Image().pixel(0, 0)), QColor(Qt::red)) << c.BitCount;
        EXPECT_EQ(QColor(target.Image().pixel(1, 0)), QColor(Qt::blue)) << c.BitCount;
    }
}

TEST(StretchDIBits, DirectFormatsAndBitFieldMasks)
{
    // 24 bits, one pixel of (10, 20, 30).
    TDIB rgb24(1, 1, 24);
    rgb24.Bits = {30, 20, 10, 0};
    // 16 bits with 5-6-5 masks: full red.
    TDIB rgb565(1, 1, 16, BI_BITFIELDS);
    rgb565.AddMask(0xF800);
    rgb565.AddMask(0x07E0);
    rgb565.AddMask(0x001F);
    rgb565.Bits = {0x00, 0xF8, 0, 0};
    // 16 bits without masks are 5-5-5: full green.
    TDIB rgb555(1, 1, 16);
    rgb555.Bits = {0xE0, 0x03, 0, 0};
    // 32 bits with masks in the other order.
    TDIB rgb32(1, 1, 32, BI_BITFIELDS);
    rgb32.AddMask(0x000000FF);
    rgb32.AddMask(0x0000FF00);
    rgb32.AddMask(0x00FF0000);
    rgb32.Bits = {200, 100, 50, 0};
    const std::pair<const TDIB*, QColor> cases[] = {
        {&rgb24, QColor(10, 20, 30)}, {&rgb565, QColor(255, 0, 0)}, {&rgb555, QColor(0, 255, 0)}, {&rgb32, QColor(200, 100, 50)}};
    for (const auto& [dib, expected] : cases) {
        TBitmap target = Target(1, 1);
        EXPECT_EQ(Draw(target, *dib, QRect(0, 0, 1, 1), QRect(0, 0, 1, 1)), 1);
        EXPECT_EQ(QColor(target.Image().pixel(0, 0)), expected) << dib->Header().biBitCount;
    }
}

// The source rectangle's y counts from the last row of a bottom-up DIB and from the first of a
// top-down one: drawing row band (0, 90)-(10, 100) of a bottom-up DIB shows its top rows.
TEST(StretchDIBits, SourceRowsOfBottomUpAndTopDownDIBs)
{
    for (int height : {100, -100}) {
        TDIB dib(1, height, 8);
        for (int i = 0; i < 256; ++i)
            dib.AddColor(i, i, i);
        for (int memoryRow = 0; memoryRow < 100; ++memoryRow)
            dib.Row(memoryRow, 8)[0] = static_cast<std::uint8_t>(memoryRow);
        TBitmap target = Target(1, 10);
        // Picture rows 0..9 from the top.
        const int ySrc = height > 0 ? 90 : 0;
        EXPECT_EQ(Draw(target, dib, QRect(0, 0, 1, 10), QRect(0, ySrc, 1, 10)), 10);
        const int topMemoryRow = height > 0 ? 99 : 0;
        EXPECT_EQ(qRed(target.Image().pixel(0, 0)), topMemoryRow) << height;
        EXPECT_EQ(qRed(target.Image().pixel(0, 9)), height > 0 ? 90 : 9) << height;
    }
}

TEST(StretchDIBits, StretchesAndClipsTheSourceToTheDIB)
{
    TDIB dib(2, 1, 24);
    dib.Bits = {0, 0, 255, 255, 0, 0, 0, 0}; // red, blue
    TBitmap target = Target(4, 2);
    target.Canvas().SetStretchBltMode(COLORONCOLOR);
    EXPECT_EQ(Draw(target, dib, QRect(0, 0, 4, 2), QRect(0, 0, 2, 1)), 1);
    const QColor expected[] = {Qt::red, Qt::red, Qt::blue, Qt::blue};
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(QColor(target.Image().pixel(x, 1)), expected[x]) << x;
    // A source reaching past the right edge draws only the part that exists.
    TBitmap clipped = Target(4, 1);
    Draw(clipped, dib, QRect(0, 0, 4, 1), QRect(1, 0, 2, 1));
    EXPECT_EQ(QColor(clipped.Image().pixel(0, 0)), QColor(Qt::blue));
    EXPECT_EQ(QColor(clipped.Image().pixel(1, 0)), QColor(Qt::blue));
    EXPECT_EQ(QColor(clipped.Image().pixel(2, 0)), QColor(Qt::white));
}

TEST(StretchDIBits, RefusesWhatTheBytesDoNotHold)
{
    struct TCase {
        const char* Name;
        TDIB Dib;
        std::size_t CutBits;
        std::size_t CutInfo;
    };
    TDIB lyingClrUsed(2, 2, 8, BI_RGB, 200); // declares 200 entries, carries 2
    lyingClrUsed.AddColor(1, 2, 3);
    lyingClrUsed.AddColor(4, 5, 6);
    TDIB noMasks(2, 2, 16, BI_BITFIELDS);
    TDIB rle(2, 2, 8, BI_RLE8);
    TDIB bits12(2, 2, 12);
    TDIB fine(2, 2, 24);
    const TCase cases[] = {{"rows cut short", fine, 1, 0},          {"colour table shorter than declared", lyingClrUsed, 0, 0},
                           {"bit fields without masks", noMasks, 0, 0}, {"run-length data", rle, 0, 0},
                           {"12 bits per pixel", bits12, 0, 0},       {"header cut", fine, 0, 1}};
    for (const TCase& c : cases) {
        TBitmap target = Target(2, 2);
        const std::span<const std::uint8_t> bits(c.Dib.Bits.data(), c.Dib.Bits.size() - c.CutBits);
        const std::span<const std::uint8_t> info(c.Dib.Info.data(), c.Dib.Info.size() - c.CutInfo);
        EXPECT_EQ(StretchDIBits(target.Canvas(), 0, 0, 2, 2, 0, 0, 2, 2, bits, info, DIB_RGB_COLORS, SRCCOPY), 0) << c.Name;
        EXPECT_EQ(QColor(target.Image().pixel(0, 0)), QColor(Qt::white)) << c.Name;
    }
}

TEST(StretchDIBits, CombinesWithTheRasterOperation)
{
    TDIB dib(1, 1, 24);
    dib.Bits = {0x0F, 0xF0, 0x00, 0}; // blue 0x0F, green 0xF0, red 0
    TBitmap target = Target(1, 1);
    StretchDIBits(target.Canvas(), 0, 0, 1, 1, 0, 0, 1, 1, dib.Bits, dib.Info, DIB_RGB_COLORS, SRCAND);
    EXPECT_EQ(QColor(target.Image().pixel(0, 0)), QColor(0x00, 0xF0, 0x0F));
    EXPECT_EQ(target.Canvas().CopyMode(), cmSrcCopy) << "the canvas's own copy mode is kept";
}
