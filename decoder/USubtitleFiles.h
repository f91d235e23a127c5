// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Subtitle files that belong to a movie by where they lie: a text file beside it with its name,
// and the IFO file of a DVD title set, which holds its subpictures' palette.
#include <string>

namespace SubtitleFiles {

// Extensions of a subtitle file taken beside a movie, in the order they are looked for.
inline constexpr const char* BesideExtensions[] = {".srt", ".ass", ".ssa", ".vtt"};

// The subtitle file beside movie with its base name ("film.mkv" -> "film.srt"), the first of
// BesideExtensions that is a regular file; empty when there is none.
std::string FileBeside(const std::string& movie);
// The title set's IFO file that holds the palette of a DVD's VOB file ("VTS_01_1.VOB" ->
// "VTS_01_0.IFO", any case); empty when there is none or the name is not a title set's.
std::string IfoBeside(const std::string& vob);

} // namespace SubtitleFiles
