// SPDX-License-Identifier: GPL-3.0-or-later
#include "graphics/UPaletteUtil.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <set>
#include <tuple>

namespace {

QByteArray RiffPalette(const std::vector<TPaletteEntry>& entries, std::uint16_t version = kPaletteVersion)
{
    QByteArray data;
    auto put16 = [&](std::uint16_t v) { data.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto put32 = [&](std::uint32_t v) { put16(std::uint16_t(v & 0xFFFF)); put16(std::uint16_t(v >> 16)); };
    const std::uint32_t chunk = 4 + 4 * static_cast<std::uint32_t>(entries.size());
    data.append("RIFF");
    put32(chunk + 12);
    data.append("PAL data");
    put32(chunk);
    put16(version);
    put16(static_cast<std::uint16_t>(entries.size()));
    for (const TPaletteEntry& e : entries)
        data.append(char(e.peRed)).append(char(e.peGreen)).append(char(e.peBlue)).append(char(e.peFlags));
    return data;
}

HPALETTE Load(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return LoadPaletteFromStream(buffer);
}

void ExpectSystemColoursAtBothEnds(const TPalette& palette, const char* name)
{
    const HPALETTE stockPalette = StockDefaultPalette();
    const auto& stock = stockPalette->Entries();
    ASSERT_EQ(palette.Count(), 256) << name;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(palette.Entries()[i], stock[i]) << name << " entry " << i;
        EXPECT_EQ(palette.Entries()[246 + i], stock[10 + i]) << name << " entry " << 246 + i;
    }
}

} // namespace

TEST(PaletteUtil, RiffPaletteRoundTripAndRefusals)
{
    const std::vector<TPaletteEntry> entries{{1, 2, 3, 0}, {250, 128, 7, 4}};
    const HPALETTE palette = Load(RiffPalette(entries));
    ASSERT_TRUE(palette);
    EXPECT_EQ(palette->Entries(), entries);

    QByteArray notRiff = RiffPalette(entries);
    notRiff[0] = 'X';
    QByteArray notPal = RiffPalette(entries);
    notPal[12] = 'X';
    QByteArray countTooLarge = RiffPalette(entries);
    countTooLarge[22] = 3; // says 3 entries, the chunk holds 2
    QByteArray chunkTooLarge = RiffPalette(entries);
    chunkTooLarge[16] = char(0x08); // 1032 bytes: more than 256 entries
    chunkTooLarge[17] = char(0x04);
    QByteArray hugeChunk = RiffPalette(entries);
    hugeChunk[19] = char(0x7F);
    const std::pair<const char*, QByteArray> refused[] = {
        {"no RIFF", notRiff},
        {"no PAL data", notPal},
        {"cut header", RiffPalette(entries).left(19)},
        {"cut entries", RiffPalette(entries).chopped(1)},
        {"count beyond the chunk", countTooLarge},
        {"chunk over 256 entries", chunkTooLarge},
        {"chunk of two gigabytes", hugeChunk},
        {"wrong version", RiffPalette(entries, 0x200)},
        {"no entries", RiffPalette({})},
    };
    for (const auto& [name, bytes] : refused)
        EXPECT_FALSE(Load(bytes)) << name;
}

TEST(PaletteUtil, NormalizeKeepsEachColourOnceBetweenTheSystemColours)
{
    const HPALETTE palette = CreatePalette(std::vector<TPaletteEntry>{
        {10, 20, 30, 0}, {10, 20, 30, 5}, {0, 0, 0, 0}, {40, 50, 60, 0}, {0, 0, 1, 0}});
    NormalizePalette(palette, false);
    ExpectSystemColoursAtBothEnds(*palette, "normalised");
    EXPECT_EQ(palette->Entries()[10], (TPaletteEntry{10, 20, 30, 0}));
    EXPECT_EQ(palette->Entries()[11], (TPaletteEntry{40, 50, 60, 0})) << "duplicates and system colours skipped";
    EXPECT_EQ(palette->Entries()[12], (TPaletteEntry{0, 0, 1, 0}));
    EXPECT_EQ(palette->Entries()[13], (TPaletteEntry{0, 0, 2, 0})) << "blues fill up, skipping those present";
    std::set<std::tuple<int, int, int>> distinct;
    for (const TPaletteEntry& e : palette->Entries())
        distinct.insert({e.peRed, e.peGreen, e.peBlue});
    EXPECT_EQ(distinct.size(), 256u);
}

TEST(PaletteUtil, NormalizeBlackAndWhitePutsThemAtTheEnds)
{
    const HPALETTE palette = CreatePalette(std::vector<TPaletteEntry>{{255, 255, 255, 0}, {9, 9, 9, 0}});
    NormalizePalette(palette, true, 256);
    ASSERT_EQ(palette->Count(), 256);
    EXPECT_EQ(palette->Entries()[0], (TPaletteEntry{0, 0, 0, 0}));
    EXPECT_EQ(palette->Entries()[1], (TPaletteEntry{9, 9, 9, 0}));
    EXPECT_EQ(palette->Entries()[255], (TPaletteEntry{255, 255, 255, 0}));
}

TEST(PaletteUtil, DefaultPaletteIsNormalisedAndMadeOnce)
{
    const HPALETTE palette = DefaultPalette();
    ASSERT_TRUE(palette);
    EXPECT_EQ(palette, DefaultPalette());
    EXPECT_EQ(palette->Version(), kPaletteVersion);
    ExpectSystemColoursAtBothEnds(*palette, "default");
}

TEST(PaletteUtil, ColourTableConversionsRoundTrip)
{
    const HPALETTE palette = CreatePalette(std::vector<TPaletteEntry>{{1, 2, 3, 7}, {200, 100, 50, 1}});
    RGBQUAD table[256];
    ASSERT_EQ(PaletteToRGBQuads(palette, table), 2);
    EXPECT_EQ(table[1].rgbRed, 200);
    EXPECT_EQ(table[1].rgbBlue, 50);
    EXPECT_EQ(table[1].rgbReserved, 0);
    const HPALETTE back = PaletteFromRGBQuads(table, 2);
    EXPECT_EQ(back->Entries(), (std::vector<TPaletteEntry>{{1, 2, 3, 0}, {200, 100, 50, 0}}));
    EXPECT_EQ(PaletteToRGBQuads({}, table), 0);
    RGBQUAD small[1];
    EXPECT_EQ(PaletteToRGBQuads(palette, small), 1) << "never more than the table holds";
    EXPECT_EQ(PaletteFromRGBQuads(table, 1000)->Count(), 256);
}
