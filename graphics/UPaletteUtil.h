// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Palettes: the process's default palette, its normalisation to the system's 256-entry layout
// (static colours at both ends), a reader for RIFF palette data, and conversions between
// palettes and DIB colour tables. Palettes are data here (see framework/TPalette.h).
#include "framework/StretchDIBits.h"
#include "framework/TPalette.h"
#include "framework/TStream.h"

#include <QString>
#include <cstdint>
#include <span>

// The largest data chunk of a RIFF palette: version, count and 256 entries.
inline constexpr std::uint32_t kMaxPaletteChunkSize = 4 + 256 * 4;
inline constexpr int kMaxPaletteEntries = 256;
// Where the program would ship its own default palette (it ships none).
inline constexpr const char* kDefaultPaletteName = "DefaultPalette";
inline constexpr const char* kPaletteResourceType = "Palette";

// Made on first request (from the program's resource, else the halftone palette), normalised,
// and kept until the process ends.
HPALETTE DefaultPalette();
// Reads the Qt resource ":/<type>/<name>"; null when it is missing or not a RIFF palette.
HPALETTE LoadPaletteResource(const QString& resourceName, const QString& resourceType);
// Reads a RIFF palette at the stream's position; null for anything that is not one, including
// data that ends early or declares more than it holds.
HPALETTE LoadPaletteFromStream(TStream& stream);
// Rewrites palette to size entries: static colours (the system's 20, or black and white) half
// at the start and half at the end, the palette's own distinct colours between, then blues.
void NormalizePalette(const HPALETTE& palette, bool blackAndWhiteOnly, int size = kMaxPaletteEntries);
// Writes up to 256 entries (and no more than out holds) as (blue, green, red, 0); the count written.
int PaletteToRGBQuads(const HPALETTE& palette, std::span<RGBQUAD> out);
// A palette of the first count entries of table (at most 256), flags 0.
HPALETTE PaletteFromRGBQuads(std::span<const RGBQUAD> table, int count);
