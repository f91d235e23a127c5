// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Logical palettes as data. No display here is a palette device, so a palette is only a list
// of colours that bitmaps take their colour tables from; handles are shared pointers, and a
// palette goes when its last handle does.
#include "framework/TColor.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct TPaletteEntry {
    std::uint8_t peRed = 0;
    std::uint8_t peGreen = 0;
    std::uint8_t peBlue = 0;
    std::uint8_t peFlags = 0;
    friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};

// The version every palette-creation call of Windows expects.
inline constexpr std::uint16_t kPaletteVersion = 0x300;
// Number of static colours of the system palette (the stock default palette).
inline constexpr int kSystemColorCount = 20;

class TPalette {
public:
    explicit TPalette(std::vector<TPaletteEntry> entries, std::uint16_t version = kPaletteVersion);

    std::uint16_t Version() const { return FVersion; }
    int Count() const { return static_cast<int>(FEntries.size()); }
    const std::vector<TPaletteEntry>& Entries() const { return FEntries; }
    // Copies entries from start on; those beyond the palette's end are dropped. Returns the count set.
    int SetEntries(int start, std::span<const TPaletteEntry> entries);
    // New entries are black.
    void Resize(int count);
    // Index of the entry nearest to the colour (squared distance in red, green, blue); -1 when empty.
    int NearestIndex(TColor color) const;

private:
    std::uint16_t FVersion;
    std::vector<TPaletteEntry> FEntries;
};

using HPALETTE = std::shared_ptr<TPalette>;

HPALETTE CreatePalette(std::span<const TPaletteEntry> entries, std::uint16_t version = kPaletteVersion);
// The 20 static colours of the system palette, in the order the system keeps them.
HPALETTE StockDefaultPalette();
// A 256-entry palette spread over the colour cube, as the system makes for halftoning.
HPALETTE CreateHalftonePalette();
