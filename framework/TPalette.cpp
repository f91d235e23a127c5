// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TPalette.h"

#include <algorithm>
#include <array>
#include <limits>

TPalette::TPalette(std::vector<TPaletteEntry> entries, std::uint16_t version)
    : FVersion(version), FEntries(std::move(entries))
{
}

int TPalette::SetEntries(int start, std::span<const TPaletteEntry> entries)
{
    if (start < 0 || start >= Count())
        return 0;
    const int n = std::min<int>(static_cast<int>(entries.size()), Count() - start);
    std::copy_n(entries.begin(), n, FEntries.begin() + start);
    return n;
}

void TPalette::Resize(int count)
{
    FEntries.resize(static_cast<std::size_t>(std::max(count, 0)));
}

int TPalette::NearestIndex(TColor color) const
{
    const TColor rgb = ColorToRGB(color);
    int best = -1;
    int bestDistance = std::numeric_limits<int>::max();
    for (int i = 0; i < Count(); ++i) {
        const int dr = FEntries[i].peRed - GetRValue(rgb);
        const int dg = FEntries[i].peGreen - GetGValue(rgb);
        const int db = FEntries[i].peBlue - GetBValue(rgb);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

HPALETTE CreatePalette(std::span<const TPaletteEntry> entries, std::uint16_t version)
{
    return std::make_shared<TPalette>(std::vector<TPaletteEntry>(entries.begin(), entries.end()), version);
}

HPALETTE StockDefaultPalette()
{
    static constexpr std::array<TPaletteEntry, kSystemColorCount> kStatic{{
        {0x00, 0x00, 0x00, 0}, {0x80, 0x00, 0x00, 0}, {0x00, 0x80, 0x00, 0}, {0x80, 0x80, 0x00, 0},
        {0x00, 0x00, 0x80, 0}, {0x80, 0x00, 0x80, 0}, {0x00, 0x80, 0x80, 0}, {0xC0, 0xC0, 0xC0, 0},
        {0xC0, 0xDC, 0xC0, 0}, {0xA6, 0xCA, 0xF0, 0}, {0xFF, 0xFB, 0xF0, 0}, {0xA0, 0xA0, 0xA4, 0},
        {0x80, 0x80, 0x80, 0}, {0xFF, 0x00, 0x00, 0}, {0x00, 0xFF, 0x00, 0}, {0xFF, 0xFF, 0x00, 0},
        {0x00, 0x00, 0xFF, 0}, {0xFF, 0x00, 0xFF, 0}, {0x00, 0xFF, 0xFF, 0}, {0xFF, 0xFF, 0xFF, 0},
    }};
    return CreatePalette(kStatic);
}

HPALETTE CreateHalftonePalette()
{
    // The static colours at both ends, a 6 x 6 x 6 colour cube and a grey ramp between them.
    const HPALETTE stock = StockDefaultPalette();
    std::vector<TPaletteEntry> entries(stock->Entries().begin(), stock->Entries().begin() + 10);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                entries.push_back({static_cast<std::uint8_t>(r * 51), static_cast<std::uint8_t>(g * 51),
                                   static_cast<std::uint8_t>(b * 51), 0});
    const std::size_t greys = 256 - 10 - entries.size(); // the last ten static colours follow
    for (std::size_t i = 1; i <= greys; ++i) {
        const auto v = static_cast<std::uint8_t>(i * 255 / (greys + 1));
        entries.push_back({v, v, v, 0});
    }
    entries.insert(entries.end(), stock->Entries().begin() + 10, stock->Entries().end());
    return CreatePalette(entries);
}
