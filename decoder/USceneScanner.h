#pragma once
// Automatic capture: reads a movie from a position to its end and hands out one picture per
// scene, or one per interval. The scene detector compares a small HSV copy of each decoded
// picture with the one before; its arithmetic is pure and lives in SceneDetection.
#include "decoder/UDisplayPicture.h"
#include "framework/TBitmap.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

class TMovieDecoder;

namespace SceneDetection {

// The small copy the detector compares: this many pixels wide, as high as the aspect gives.
inline constexpr int SmallWidth = 64;
// Mean change (0..255) between two pictures from which a cut is suspected. Hard cuts between
// shots of a film score 30 and more; camera motion and the steps of a fade stay far below.
inline constexpr double DefaultThreshold = 27.0;
// A scene lasts at least this long: a cut closer to the last one is taken for a flash, a burst
// of motion or a fade.
inline constexpr int DefaultMinSceneMs = 600;
// The still of a scene is this many pictures after its cut, so it never shows the transition.
inline constexpr int DefaultStillOffset = 3;

// A picture as hue, saturation and value, three bytes per pixel (hue 0..255 around the circle).
using THsvPicture = std::vector<std::uint8_t>;

// One RGB pixel as hue, saturation, value, each 0..255.
struct THsv {
    std::uint8_t H, S, V;
};
THsv RgbToHsv(std::uint8_t r, std::uint8_t g, std::uint8_t b);
// Packed RGB rows (pitch bytes apart) into an HSV picture.
THsvPicture ToHsv(const std::uint8_t* rgb, int width, int height, int pitch);

// How much one pixel changed, 0..255: the mean of the hue distance (around the circle, weighed
// by the lesser saturation, since the hue of grey and black pixels is noise), the saturation
// change and the value change.
double PixelChange(THsv a, THsv b);
// The mean PixelChange over two pictures of the same size; 0 when either is empty or they differ
// in size.
double MeanChange(const THsvPicture& a, const THsvPicture& b);

struct TSettings {
    double Threshold = DefaultThreshold;
    int MinSceneMs = DefaultMinSceneMs;
    int StillOffset = DefaultStillOffset;
};

// Follows the pictures of a scan one by one and says which is the still of a new scene. A jump
// above the threshold makes a candidate cut; StillOffset pictures on, the candidate is a cut only
// if that picture still differs from the one before the jump (a flash has gone by then).
class TCutDetector {
public:
    explicit TCutDetector(TSettings settings = {});

    struct TStill {
        std::int32_t CutMs;   // the first picture of the new scene
        std::int32_t StillMs; // the picture to take
    };
    // The next picture of the scan. The first one starts the first scene (the caller takes it).
    std::optional<TStill> Feed(std::int32_t timeMs, THsvPicture picture);
    // The movie ended: a candidate that had no time to be confirmed.
    std::optional<TStill> Finish();

private:
    TSettings FSettings;
    THsvPicture FPrevious;
    std::optional<std::int32_t> FLastCutMs;
    std::int32_t FLastMs = 0;
    // The candidate cut in progress: the picture before it, its time, pictures still to come.
    bool FPending = false;
    THsvPicture FBeforeCut;
    std::int32_t FCandidateMs = 0;
    int FPicturesLeft = 0;
};

// The interval times from startMs up to (not including) durationMs, everyMs apart; none when
// everyMs is not positive.
std::vector<std::int32_t> IntervalTimes(std::int32_t startMs, std::int32_t durationMs, std::int32_t everyMs);

} // namespace SceneDetection

// Reads an open movie through its decoder; one scan at a time, on the decoder's thread.
class TSceneScanner {
public:
    explicit TSceneScanner(TMovieDecoder& decoder);

    struct TFound {
        // The interval time asked, or the cut the still belongs to; the still's own time.
        std::int32_t MarkMs;
        std::int32_t TimeMs;
        // As coded; valid during the callback only.
        const TBitmap& Picture;
        TDisplayTransform Display;
    };
    // Called for each picture found, in time order; false ends the scan.
    using TFoundFn = std::function<bool(const TFound&)>;
    // Called now and then with the position reached.
    using TProgressFn = std::function<void(std::int32_t positionMs)>;

    // One picture per scene from startMs to the end, the first at startMs. False when the
    // movie could not be read from startMs at all.
    bool ScanScenes(std::int32_t startMs, const SceneDetection::TSettings& settings, std::stop_token stop,
                    const TFoundFn& found, const TProgressFn& progress = {});
    // The picture shown at each interval time from startMs to the end.
    bool ScanIntervals(std::int32_t startMs, std::int32_t everyMs, std::stop_token stop, const TFoundFn& found,
                       const TProgressFn& progress = {});

    // The position the last scan reached; -1 before any.
    std::int32_t ReachedMs() const { return FReachedMs; }
    // The interval times of the last ScanIntervals that gave no picture, in order; filled as the
    // scan goes, so a found callback sees the ones before its own time.
    const std::vector<std::int32_t>& MissedMs() const { return FMissedMs; }
    // The last scan stopped before the end of the movie: a read failed or ran past its deadline
    // (not a stop asked for, nor a callback's false).
    bool CutShort() const { return FCutShort; }

private:
    TMovieDecoder& FDecoder;
    std::int32_t FReachedMs = -1;
    std::vector<std::int32_t> FMissedMs;
    bool FCutShort = false;
};
