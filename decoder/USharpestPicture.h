// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Finds the sharpest picture of a stretch of an open movie: every picture from fromMs to toMs,
// exactly positioned and scored (USharpness), within the scene of the picture at anchorMs as the
// scene detector sees it. Runs on the decoder's own thread; the decoder's stop signal ends it at
// the next packet.
#include <cstdint>
#include <optional>

class TMovieDecoder;

struct TSharpestPicture {
    std::int32_t TimeMs = -1;    // the chosen picture's own time
    double Score = 0;            // its sharpness
    std::int32_t AnchorMs = -1;  // the anchor's own picture: its time and sharpness
    double AnchorScore = 0;
    int Pictures = 0;            // how many were looked at
};

namespace SharpestPicture {

// The range around the picture on screen that the window looks in, either way.
inline constexpr std::int32_t MinRangeMs = 200;
inline constexpr std::int32_t DefaultRangeMs = 500;
inline constexpr std::int32_t MaxRangeMs = 2000;
// The range a caller gave, brought within the bounds above.
std::int32_t ClampRange(std::int32_t rangeMs);

// Leaves the chosen picture on the decoder's Bitmap (exact positioning stays on) and answers
// it; none when the movie gave no picture for fromMs or the stop signal was raised.
std::optional<TSharpestPicture> Find(TMovieDecoder& decoder, std::int32_t fromMs, std::int32_t toMs,
                                     std::int32_t anchorMs);

// Find over anchorMs +- rangeMs.
std::optional<TSharpestPicture> Around(TMovieDecoder& decoder, std::int32_t anchorMs, std::int32_t rangeMs);

} // namespace SharpestPicture
