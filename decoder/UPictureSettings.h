// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How decoded pictures are treated before they become bitmaps. Plain values, free of FFmpeg
// types, so that the window and the grab tool can hold and pass them.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class TDeinterlace {
    Auto,   // pictures the stream flags as interlaced
    Always, // every picture, whatever its flag says
    Never,
};

struct TPictureSettings {
    TDeinterlace Deinterlace = TDeinterlace::Auto;
    // PQ and HLG pictures tone-mapped to SDR, wide-gamut pictures brought to BT.709 primaries.
    bool ToneMapping = true;
    bool operator==(const TPictureSettings&) const = default;
};

// The command-line words for the deinterlacing choices: auto, on, off.
std::optional<TDeinterlace> DeinterlaceFromWord(std::string_view word);
std::string_view DeinterlaceWord(TDeinterlace mode);

// Name and word of each setting as saved pictures record them: Deinterlace auto|on|off and
// ToneMapping on|off.
std::vector<std::pair<std::string, std::string>> SettingWords(const TPictureSettings& settings);
