// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UPictureSettings.h"

std::optional<TDeinterlace> DeinterlaceFromWord(std::string_view word)
{
    if (word == "auto")
        return TDeinterlace::Auto;
    if (word == "on")
        return TDeinterlace::Always;
    if (word == "off")
        return TDeinterlace::Never;
    return std::nullopt;
}

std::string_view DeinterlaceWord(TDeinterlace mode)
{
    switch (mode) {
    case TDeinterlace::Always:
        return "on";
    case TDeinterlace::Never:
        return "off";
    case TDeinterlace::Auto:
        break;
    }
    return "auto";
}

std::vector<std::pair<std::string, std::string>> SettingWords(const TPictureSettings& settings)
{
    return {{"Deinterlace", std::string(DeinterlaceWord(settings.Deinterlace))},
            {"ToneMapping", settings.ToneMapping ? "on" : "off"}};
}
