// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Automatic capture: reads a movie from a position to its end and hands out one picture per
// scene, or one per interval. The scene detector compares a small HSV copy of each decoded
// picture with the one before, by colour and by layout, and takes a cut for a change that stands
// out from the changes around it; its arithmetic is pure and lives in SceneDetection.
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
// How far a picture's score (CutScore against the picture before) must rise above the mean score
// of the NeighbourPictures before it to make a cut; the lower, the more cuts. Hard cuts between
// shots of a film score 30 and more, cuts between shots of like colours mostly through their
// layout; the steps of a fade stay below, and shake, pans and noise, which change every picture
// about as much as the last, do not rise above their neighbours.
inline constexpr double DefaultThreshold = 27.0;
// A cut also scores at least this many times the mean of its neighbours, so that a shot that
// changes a lot from picture to picture needs a jump in proportion.
inline constexpr double StandOutRatio = 2.0;
inline constexpr int NeighbourPictures = 8;
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

// The layout is compared over a grid of this many cells a side (fewer for tinier pictures).
inline constexpr int GridCells = 4;
// Per cell: a histogram of brightness relative to the picture's mean (so a fade or a change of
// exposure leaves it be), the gradient energy in four directions relative to the same mean, and
// the cell's own mean value (a dark cell's layout counts less, as the hue of dark pixels does).
inline constexpr int BrightnessBins = 8;
inline constexpr int DirectionBins = 4;
inline constexpr int CellValues = BrightnessBins + DirectionBins + 1;

// A small copy as the detector keeps it: its pixels and, worked out once, the layout of its cells.
struct TSmallPicture {
    TSmallPicture() = default;
    // A picture of a single row; implicit, so that rows of pixels can be fed as they are.
    TSmallPicture(THsvPicture hsv);
    TSmallPicture(THsvPicture hsv, int width, int height);

    THsvPicture Hsv;
    int Width = 0, Height = 0;
    int Columns = 0, Rows = 0;
    // CellValues per cell, row by row; empty when the size does not match the pixels.
    std::vector<float> Cells;
};

// The detector's small copy of a picture, whatever its format.
TSmallPicture SmallOf(const QImage& image);

// How far the layouts of two pictures differ, 0..StructureScale: the mean of the more changed half
// of the cells that show something, so black bars and a plain sky the shots share do not water
// down the rest. 0 when the grids differ.
inline constexpr double StructureScale = 128.0;
double StructureChange(const TSmallPicture& a, const TSmallPicture& b);
// The detector's score of the change from a to b: MeanChange plus StructureChange.
double CutScore(const TSmallPicture& a, const TSmallPicture& b);

struct TSettings {
    double Threshold = DefaultThreshold;
    int MinSceneMs = DefaultMinSceneMs;
    int StillOffset = DefaultStillOffset;
};

// Follows the pictures of a scan one by one and says which is the still of a new scene. A score
// that rises the threshold above the scores before it makes a candidate cut;
// StillOffset pictures on, the candidate is a cut only if that picture still scores above the
// threshold against the one before the jump (a flash has gone by then).
class TCutDetector {
public:
    explicit TCutDetector(TSettings settings = {});

    struct TStill {
        std::int32_t CutMs;   // the first picture of the new scene
        std::int32_t StillMs; // the picture to take
    };
    // The next picture of the scan. The first one starts the first scene (the caller takes it).
    std::optional<TStill> Feed(std::int32_t timeMs, TSmallPicture picture);
    // The movie ended: a candidate that had no time to be confirmed.
    std::optional<TStill> Finish();

private:
    // The mean of the last scores; 0 before any.
    double NeighbourLevel() const;
    bool IsCandidate(std::int32_t timeMs, double score) const;

    TSettings FSettings;
    TSmallPicture FPrevious;
    // The scores of the last NeighbourPictures pictures, oldest first.
    std::vector<double> FRecentScores;
    std::optional<std::int32_t> FLastCutMs;
    std::int32_t FLastMs = 0;
    // The candidate cut in progress: the picture before it, its time, pictures still to come.
    bool FPending = false;
    TSmallPicture FBeforeCut;
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

    // A stop of the token (or of the decoder's own stop signal) ends a scan at the decoder's
    // next packet, and no new request starts after it.

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
    class TStopBridge;
    class TSceneRun;

    TMovieDecoder& FDecoder;
    std::int32_t FReachedMs = -1;
    std::vector<std::int32_t> FMissedMs;
    bool FCutShort = false;
};
