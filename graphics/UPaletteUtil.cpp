// SPDX-License-Identifier: GPL-3.0-or-later
#include "graphics/UPaletteUtil.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {
constexpr std::size_t kRiffHeaderSize = 20;
constexpr std::size_t kPaletteHeaderSize = 4; // version and entry count
constexpr TPaletteEntry kBlack{0, 0, 0, 0};
constexpr TPaletteEntry kWhite{255, 255, 255, 0};

bool SameColor(const TPaletteEntry& a, const TPaletteEntry& b)
{
    return a.peRed == b.peRed && a.peGreen == b.peGreen && a.peBlue == b.peBlue;
}

bool Contains(const std::vector<TPaletteEntry>& list, const TPaletteEntry& entry)
{
    return std::any_of(list.begin(), list.end(), [&](const TPaletteEntry& e) { return SameColor(e, entry); });
}

std::uint16_t ReadU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ReadU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
           | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

HPALETTE MakeDefaultPalette()
{
    HPALETTE palette = LoadPaletteResource(kDefaultPaletteName, kPaletteResourceType);
    if (!palette) {
        const HPALETTE halftone = CreateHalftonePalette();
        palette = CreatePalette(halftone->Entries(), kPaletteVersion);
    }
    NormalizePalette(palette, false, kMaxPaletteEntries);
    // No display here is a palette device: there is nothing to realize it on.
    return palette;
}
} // namespace

HPALETTE DefaultPalette()
{
    static const HPALETTE palette = MakeDefaultPalette();
    return palette;
}

HPALETTE LoadPaletteResource(const QString& resourceName, const QString& resourceType)
{
    QFile resource(QStringLiteral(":/%1/%2").arg(resourceType, resourceName));
    if (!resource.open(QIODevice::ReadOnly))
        return {};
    return LoadPaletteFromStream(resource);
}

HPALETTE LoadPaletteFromStream(TStream& stream)
{
    std::array<std::uint8_t, kRiffHeaderSize> header{};
    if (stream.read(reinterpret_cast<char*>(header.data()), header.size()) != static_cast<qint64>(header.size()))
        return {};
    if (std::memcmp(header.data(), "RIFF", 4) != 0 || std::memcmp(header.data() + 8, "PAL data", 8) != 0)
        return {};
    const std::uint32_t chunkSize = ReadU32(header.data() + 16);
    if (chunkSize < kPaletteHeaderSize || chunkSize > kMaxPaletteChunkSize)
        return {};
    std::vector<std::uint8_t> chunk(chunkSize);
    if (stream.read(reinterpret_cast<char*>(chunk.data()), chunkSize) != static_cast<qint64>(chunkSize))
        return {};
    const std::uint16_t version = ReadU16(chunk.data());
    const std::uint16_t count = ReadU16(chunk.data() + 2);
    if (version != kPaletteVersion || count == 0 || kPaletteHeaderSize + std::size_t{count} * 4 > chunkSize)
        return {};
    std::vector<TPaletteEntry> entries(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = chunk.data() + kPaletteHeaderSize + 4 * i;
        entries[i] = {e[0], e[1], e[2], e[3]};
    }
    return CreatePalette(entries, version);
}

void NormalizePalette(const HPALETTE& palette, bool blackAndWhiteOnly, int size)
{
    if (!palette)
        return;
    // The static colours first.
    std::vector<TPaletteEntry> list;
    if (blackAndWhiteOnly)
        list = {kBlack, kWhite};
    else
        list = StockDefaultPalette()->Entries();
    const int staticCount = static_cast<int>(list.size());
    size = std::clamp(size, staticCount, kMaxPaletteEntries);
    // The palette's own colours, each once.
    for (const TPaletteEntry& entry : palette->Entries()) {
        if (static_cast<int>(list.size()) >= size)
            break;
        if (!Contains(list, entry))
            list.push_back(entry);
    }
    // Blues to fill up; there are always enough, as every blue already present was counted.
    for (int blue = 1; blue <= 255 && static_cast<int>(list.size()) < size; ++blue) {
        const TPaletteEntry entry{0, 0, static_cast<std::uint8_t>(blue), 0};
        if (!Contains(list, entry))
            list.push_back(entry);
    }
    // First half of the statics at the start, the rest of the list, second half at the end.
    const int half = staticCount / 2;
    const std::span<const TPaletteEntry> all(list);
    palette->Resize(size);
    palette->SetEntries(0, all.subspan(0, static_cast<std::size_t>(half)));
    palette->SetEntries(half, all.subspan(static_cast<std::size_t>(staticCount)));
    palette->SetEntries(size - (staticCount - half), all.subspan(static_cast<std::size_t>(half),
                                                                 static_cast<std::size_t>(staticCount - half)));
}

int PaletteToRGBQuads(const HPALETTE& palette, std::span<RGBQUAD> out)
{
    if (!palette)
        return 0;
    const int count = std::min({palette->Count(), kMaxPaletteEntries, static_cast<int>(out.size())});
    for (int i = 0; i < count; ++i) {
        const TPaletteEntry& entry = palette->Entries()[static_cast<std::size_t>(i)];
        out[static_cast<std::size_t>(i)] = {entry.peBlue, entry.peGreen, entry.peRed, 0};
    }
    return count;
}

HPALETTE PaletteFromRGBQuads(std::span<const RGBQUAD> table, int count)
{
    count = std::clamp(count, 0, std::min(kMaxPaletteEntries, static_cast<int>(table.size())));
    std::vector<TPaletteEntry> entries(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < entries.size(); ++i)
        entries[i] = {table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
    return CreatePalette(entries, kPaletteVersion);
}
