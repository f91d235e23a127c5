// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/USharpestPicture.h"

#include "decoder/UMovieDecoder.h"
#include "decoder/USceneScanner.h"
#include "decoder/USharpness.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace SharpestPicture {

namespace {

// The detector as automatic capture uses it, except that a cut may come at any distance from the
// stretch's start: a stretch is short, and its start is no cut.
SceneDetection::TSettings CutSettings()
{
    SceneDetection::TSettings settings;
    settings.MinSceneMs = 0;
    return settings;
}

// The search reads on through its stretch and comes back to one picture of it. The pictures it
// shows are kept converted for that; decoded pictures kept behind its first request would take
// their room, and the way back would decode the GOP again.
class TReadingOn {
public:
    explicit TReadingOn(TMovieDecoder& decoder)
        : FDecoder(decoder)
        , FKept(decoder.KeepsPicturesBehind())
    {
        FDecoder.SetKeepsPicturesBehind(false);
    }
    ~TReadingOn() { FDecoder.SetKeepsPicturesBehind(FKept); }
    TReadingOn(const TReadingOn&) = delete;
    TReadingOn& operator=(const TReadingOn&) = delete;

private:
    TMovieDecoder& FDecoder;
    const bool FKept;
};

} // namespace

std::int32_t ClampRange(std::int32_t rangeMs)
{
    return std::clamp(rangeMs, MinRangeMs, MaxRangeMs);
}

std::optional<TSharpestPicture> Find(TMovieDecoder& decoder, std::int32_t fromMs, std::int32_t toMs,
                                     std::int32_t anchorMs)
{
    if (!decoder.IsOpen())
        return std::nullopt;
    decoder.SetExact(true);
    const TReadingOn readingOn(decoder);
    if (!decoder.DecodeFrame(std::max(0, fromMs)) || decoder.StopAsked())
        return std::nullopt;
    std::vector<Sharpness::TScoredPicture> pictures;
    std::vector<std::int32_t> cuts;
    SceneDetection::TCutDetector detector(CutSettings());
    for (;;) {
        const std::int32_t ms = decoder.FrameTimeMs();
        // The picture after the stretch is only there to confirm a cut at its end.
        const bool inside = ms <= toMs || pictures.empty();
        // One reduced copy serves the measure and the detector: the full picture is read once.
        const QImage reduced = Sharpness::Reduced(decoder.Bitmap().Image());
        if (inside)
            pictures.push_back({ms, Sharpness::Score(reduced)});
        if (const auto still = detector.Feed(ms, SceneDetection::SmallOf(reduced)))
            cuts.push_back(still->CutMs);
        if (!inside || !decoder.DecodeNextFrame() || decoder.FrameTimeMs() <= ms)
            break;
    }
    if (decoder.StopAsked())
        return std::nullopt;
    if (const auto still = detector.Finish())
        cuts.push_back(still->CutMs);
    const std::size_t chosen = Sharpness::Choose(pictures, cuts, anchorMs);
    const std::size_t anchor = Sharpness::AnchorOf(pictures, anchorMs);
    TSharpestPicture result;
    result.TimeMs = pictures[chosen].TimeMs;
    result.Score = pictures[chosen].Score;
    result.AnchorMs = pictures[anchor].TimeMs;
    result.AnchorScore = pictures[anchor].Score;
    result.Pictures = static_cast<int>(pictures.size());
    if (!decoder.DecodeFrame(result.TimeMs) || decoder.FrameTimeMs() != result.TimeMs)
        return std::nullopt;
    return result;
}

std::optional<TSharpestPicture> Around(TMovieDecoder& decoder, std::int32_t anchorMs, std::int32_t rangeMs)
{
    // A time typed near the end of the millisecond range must not wrap around.
    const std::int64_t range = ClampRange(rangeMs);
    const auto within = [](std::int64_t ms) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(ms, 0, std::numeric_limits<std::int32_t>::max()));
    };
    return Find(decoder, within(anchorMs - range), within(anchorMs + range), anchorMs);
}

} // namespace SharpestPicture
