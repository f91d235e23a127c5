// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes through the RIFF palette reader, and whatever it accepts through the
// normalisation and colour-table conversions that use it.
#include "graphics/UPaletteUtil.h"

#include <QBuffer>
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QBuffer buffer;
    buffer.setData(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    buffer.open(QIODevice::ReadOnly);
    const HPALETTE palette = LoadPaletteFromStream(buffer);
    if (!palette)
        return 0;
    if (palette->Count() < 1 || palette->Count() > kMaxPaletteEntries)
        std::abort();
    RGBQUAD table[kMaxPaletteEntries];
    const int count = PaletteToRGBQuads(palette, table);
    if (PaletteFromRGBQuads(table, count)->Count() != count)
        std::abort();
    NormalizePalette(palette, size % 2 == 0);
    if (palette->Count() != kMaxPaletteEntries)
        std::abort();
    return 0;
}
