// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic capture: the scene detector's arithmetic, and the scans that read a movie picture by
// picture (scenes) or request its pictures at intervals.
#include "decoder/USceneScanner.h"
#include "decoder/MovieDecoderState.h"
#include "framework/FFmpegRows.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <QImage>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>

using MovieDecoding::PresentationTimeOf;

namespace SceneDetection {

THsv RgbToHsv(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    const int high = std::max({r, g, b});
    const int low = std::min({r, g, b});
    const int delta = high - low;
    if (delta == 0)
        return {0, 0, static_cast<std::uint8_t>(high)};
    const auto s = static_cast<std::uint8_t>((255 * delta + high / 2) / high);
    // Six sectors of about 42.7 each around a circle of 256: the hue is
    // (sector + difference / delta) * 256 / 6, rounded.
    int sector = 0, difference = 0;
    if (high == r)
        difference = g - b;
    else if (high == g)
        sector = 2, difference = b - r;
    else
        sector = 4, difference = r - g;
    // The quotient is at least 1 / 1530 away from a half, so a multiplication by the sector
    // width's reciprocal rounds it as the division would.
    static const std::array<double, 256> sixths = [] {
        std::array<double, 256> reciprocals{};
        for (int d = 1; d < 256; ++d)
            reciprocals[std::size_t(d)] = 1.0 / (6.0 * d);
        return reciprocals;
    }();
    long hue = std::lround(256.0 * (sector * delta + difference) * sixths[std::size_t(delta)]);
    hue = ((hue % 256) + 256) % 256;
    return {static_cast<std::uint8_t>(hue), s, static_cast<std::uint8_t>(high)};
}

THsvPicture ToHsv(const std::uint8_t* rgb, int width, int height, int pitch)
{
    THsvPicture picture;
    if (width <= 0 || height <= 0)
        return picture;
    picture.resize(std::size_t(width) * height * 3);
    std::uint8_t* out = picture.data();
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* p = rgb + std::ptrdiff_t(y) * pitch;
        for (int x = 0; x < width; ++x, p += 3, out += 3) {
            const THsv hsv = RgbToHsv(p[0], p[1], p[2]);
            out[0] = hsv.H;
            out[1] = hsv.S;
            out[2] = hsv.V;
        }
    }
    return picture;
}

double PixelChange(THsv a, THsv b)
{
    int hue = std::abs(a.H - b.H);
    hue = std::min(hue, 256 - hue); // 0..128 around the circle
    // Hue means little where a pixel is grey or dark, saturation little where it is dark: their
    // noise there would make every fade a cut.
    const double brightness = std::max(a.V, b.V) / 255.0;
    const double hueChange = std::min(255, hue * 2) * (std::min(a.S, b.S) / 255.0) * brightness;
    const double saturationChange = std::abs(a.S - b.S) * brightness;
    const double valueChange = std::abs(a.V - b.V);
    return (hueChange + saturationChange + valueChange) / 3.0;
}

double MeanChange(const THsvPicture& a, const THsvPicture& b)
{
    if (a.empty() || a.size() != b.size())
        return 0;
    // PixelChange summed over the picture with its three terms kept apart as whole numbers and
    // scaled once at the end: the same mean, without three divisions per pixel of every picture
    // a scan reads.
    std::int64_t hueSum = 0, saturationSum = 0, valueSum = 0;
    for (std::size_t i = 0; i + 2 < a.size(); i += 3) {
        int hue = std::abs(a[i] - b[i]);
        hue = std::min(hue, 256 - hue);
        const int brightness = std::max(a[i + 2], b[i + 2]);
        hueSum += std::min(255, hue * 2) * std::min(a[i + 1], b[i + 1]) * brightness;
        saturationSum += std::abs(a[i + 1] - b[i + 1]) * brightness;
        valueSum += std::abs(a[i + 2] - b[i + 2]);
    }
    const double sum = double(hueSum) / (255.0 * 255.0) + double(saturationSum) / 255.0 + double(valueSum);
    return sum / 3.0 / double(a.size() / 3);
}

namespace {

// Pictures darker than this on average are compared as if this bright, so that the noise of a
// nearly black picture does not fill the relative histograms.
constexpr double MeanFloor = 16;
// The mean maps to this bin, so brightness up to about four times the mean is told apart.
constexpr double MeanBin = BrightnessBins / 4.0;
// Gradient energy (relative to the mean) below this is flat, compression noise included.
constexpr double EdgeFloor = 0.1;
// Below this mean brightness a cell's layout counts less, in proportion: the last steps of a fade
// to black wipe out edges and histograms alike, and are no cut.
constexpr double DarkMean = 48;
// A cell whose brightness histogram moved less than this share, flat in both pictures, shows
// nothing to compare (black bars, a plain sky).
constexpr double AlikeShare = 0.1;
constexpr int MeanSlot = BrightnessBins + DirectionBins;

double MeanValue(const THsvPicture& hsv)
{
    double sum = 0;
    for (std::size_t i = 2; i < hsv.size(); i += 3)
        sum += hsv[i];
    return hsv.empty() ? 0 : sum / double(hsv.size() / 3);
}

// The direction of a gradient in four bins a quarter turn apart (sign does not matter): across
// the rows, rising diagonal, along the columns, falling diagonal.
int DirectionOf(int dx, int dy)
{
    const int ax = std::abs(dx), ay = std::abs(dy);
    if (ax > 2 * ay)
        return 0;
    if (ay > 2 * ax)
        return 2;
    return (dx > 0) == (dy > 0) ? 1 : 3;
}

// The cells' values of a picture: relative brightness histograms (each bin shared between the two
// nearest, so a slight change of light moves mass smoothly), directional gradient energy and the
// cell's mean value.
std::vector<float> CellValuesOf(const THsvPicture& hsv, int width, int height, int columns, int rows, double mean)
{
    // The values with the edge pixels repeated one further all round, as the gradients at the
    // border read them.
    const int padded = width + 2;
    std::vector<int> plane(std::size_t(padded) * (height + 2));
    for (int y = -1; y <= height; ++y)
        for (int x = -1; x <= width; ++x)
            plane[std::size_t(y + 1) * padded + std::size_t(x + 1)] =
                hsv[(std::size_t(std::clamp(y, 0, height - 1)) * width + std::size_t(std::clamp(x, 0, width - 1))) * 3 + 2];
    const auto value = [&](int x, int y) { return plane[std::size_t(y + 1) * padded + std::size_t(x + 1)]; };
    mean = std::max(MeanFloor, mean);
    // Multiplications in the loop over every pixel of every picture, not divisions.
    const double perMean = 1.0 / mean;
    const double binPerValue = MeanBin / mean;
    std::vector<float> cells(std::size_t(columns) * rows * CellValues, 0.0f);
    std::vector<int> counts(std::size_t(columns) * rows, 0);
    for (int y = 0; y < height; ++y) {
        const int row = y * rows / height;
        for (int x = 0; x < width; ++x) {
            const std::size_t cell = std::size_t(row) * columns + x * columns / width;
            float* values = &cells[cell * CellValues];
            ++counts[cell];
            const double at = std::clamp(value(x, y) * binPerValue - 0.5, 0.0, BrightnessBins - 1.0);
            const int low = int(at);
            const int high = std::min(low + 1, BrightnessBins - 1);
            values[low] += float(1 - (at - low));
            values[high] += float(at - low);
            const int dx = value(x + 1, y) - value(x - 1, y);
            const int dy = value(x, y + 1) - value(x, y - 1);
            values[BrightnessBins + DirectionOf(dx, dy)] += float((std::abs(dx) + std::abs(dy)) * perMean);
            values[MeanSlot] += float(value(x, y));
        }
    }
    for (std::size_t cell = 0; cell < counts.size(); ++cell)
        for (int i = 0; i < CellValues; ++i)
            cells[cell * CellValues + i] /= float(std::max(1, counts[cell]));
    return cells;
}

// How one cell changed, 0..1: the share of its brightness histogram that moved, and the share of
// its gradient energy that changed direction or strength, halved each; nothing when the cell is
// flat and alike in both.
std::optional<double> CellChange(const float* a, const float* b)
{
    double moved = 0;
    for (int i = 0; i < BrightnessBins; ++i)
        moved += std::abs(a[i] - b[i]);
    moved /= 2;
    double edgeChange = 0, edgeTotal = 0;
    for (int i = BrightnessBins; i < MeanSlot; ++i) {
        edgeChange += std::abs(a[i] - b[i]);
        edgeTotal += a[i] + b[i];
    }
    if (edgeTotal < EdgeFloor && moved < AlikeShare)
        return std::nullopt;
    const double light = std::min(1.0, std::max(a[MeanSlot], b[MeanSlot]) / DarkMean);
    return light * (moved + edgeChange / (edgeTotal + EdgeFloor)) / 2;
}

} // namespace

TSmallPicture::TSmallPicture(THsvPicture hsv)
    : TSmallPicture(std::move(hsv), 0, 1)
{
    Width = int(Hsv.size() / 3);
    if (Width > 0) {
        Columns = std::min(GridCells, Width);
        Rows = 1;
        Cells = CellValuesOf(Hsv, Width, Height, Columns, Rows, MeanValue(Hsv));
    }
}

TSmallPicture::TSmallPicture(THsvPicture hsv, int width, int height)
    : Hsv(std::move(hsv))
    , Width(width)
    , Height(height)
{
    if (width <= 0 || height <= 0 || Hsv.size() != std::size_t(width) * height * 3)
        return;
    Columns = std::min(GridCells, width);
    Rows = std::min(GridCells, height);
    Cells = CellValuesOf(Hsv, width, height, Columns, Rows, MeanValue(Hsv));
}

double StructureChange(const TSmallPicture& a, const TSmallPicture& b)
{
    if (a.Cells.empty() || a.Cells.size() != b.Cells.size() || a.Columns != b.Columns)
        return 0;
    const std::size_t count = a.Cells.size() / CellValues;
    std::vector<double> changes;
    changes.reserve(count);
    for (std::size_t cell = 0; cell < count; ++cell)
        if (const auto change = CellChange(&a.Cells[cell * CellValues], &b.Cells[cell * CellValues]))
            changes.push_back(*change);
    if (changes.empty())
        return 0;
    const std::size_t half = (changes.size() + 1) / 2;
    std::partial_sort(changes.begin(), changes.begin() + std::ptrdiff_t(half), changes.end(), std::greater<>());
    double sum = 0;
    for (std::size_t i = 0; i < half; ++i)
        sum += changes[i];
    return StructureScale * sum / double(half);
}

double CutScore(const TSmallPicture& a, const TSmallPicture& b)
{
    return MeanChange(a.Hsv, b.Hsv) + StructureChange(a, b);
}

TCutDetector::TCutDetector(TSettings settings)
    : FSettings(settings)
{
}

double TCutDetector::NeighbourLevel() const
{
    if (FRecentScores.empty())
        return 0;
    double sum = 0;
    for (const double score : FRecentScores)
        sum += score;
    return sum / double(FRecentScores.size());
}

bool TCutDetector::IsCandidate(std::int32_t timeMs, double score) const
{
    const double level = NeighbourLevel();
    return score - level >= FSettings.Threshold && score >= StandOutRatio * level
        && std::int64_t(timeMs) - *FLastCutMs >= FSettings.MinSceneMs;
}

std::optional<TCutDetector::TStill> TCutDetector::Feed(std::int32_t timeMs, TSmallPicture picture)
{
    std::optional<TStill> still;
    if (!FLastCutMs) {
        FLastCutMs = timeMs;
    } else {
        const double score = CutScore(FPrevious, picture);
        if (FPending) {
            if (--FPicturesLeft <= 0) {
                FPending = false;
                // A flash or a single damaged picture is over by now: the scene looks as before.
                if (CutScore(FBeforeCut, picture) >= FSettings.Threshold) {
                    FLastCutMs = FCandidateMs;
                    still = TStill{FCandidateMs, timeMs};
                }
            }
        } else if (IsCandidate(timeMs, score)) {
            if (FSettings.StillOffset <= 0) {
                FLastCutMs = timeMs;
                still = TStill{timeMs, timeMs};
            } else {
                FPending = true;
                FBeforeCut = FPrevious;
                FCandidateMs = timeMs;
                FPicturesLeft = FSettings.StillOffset;
            }
        }
        if (FRecentScores.size() >= std::size_t(NeighbourPictures))
            FRecentScores.erase(FRecentScores.begin());
        FRecentScores.push_back(score);
    }
    FPrevious = std::move(picture);
    FLastMs = timeMs;
    return still;
}

std::optional<TCutDetector::TStill> TCutDetector::Finish()
{
    if (!FPending)
        return std::nullopt;
    FPending = false;
    if (CutScore(FBeforeCut, FPrevious) < FSettings.Threshold)
        return std::nullopt;
    FLastCutMs = FCandidateMs;
    return TStill{FCandidateMs, FLastMs};
}

std::vector<std::int32_t> IntervalTimes(std::int32_t startMs, std::int32_t durationMs, std::int32_t everyMs)
{
    std::vector<std::int32_t> times;
    if (everyMs <= 0)
        return times;
    for (std::int64_t t = std::max(0, startMs); t < durationMs; t += everyMs)
        times.push_back(static_cast<std::int32_t>(t));
    return times;
}

} // namespace SceneDetection

namespace {

using SceneDetection::TSmallPicture;

// Video packets the scan may read for one picture before it takes the rest of the movie for
// unreadable.
constexpr int ScanPacketBudget = 5000;
// Progress is told at most this often, in movie time.
constexpr int ProgressStepMs = 250;

int SmallHeight(int width, int height)
{
    const int small = std::min(SceneDetection::SmallWidth, width);
    return std::max(1, int(std::lround(double(height) * small / std::max(1, width))));
}

// Makes the detector's small copy straight from a decoded picture, in whatever format it comes.
class TSmallPictures {
public:
    TSmallPicture Of(const AVFrame& picture)
    {
        const int width = std::min(SceneDetection::SmallWidth, picture.width);
        const int height = SmallHeight(picture.width, picture.height);
        const TSource source{picture.width, picture.height, picture.format};
        if (!FConverter || !(source == FSource)) {
            FSource = {};
            // Two taps are plenty for so small a copy, and cheap next to the decoding.
            FConverter.reset(sws_getContext(picture.width, picture.height, static_cast<AVPixelFormat>(picture.format),
                                            width, height, AV_PIX_FMT_RGB24, SWS_FAST_BILINEAR, nullptr, nullptr,
                                            nullptr));
            if (!FConverter)
                return {};
            FRows = ffmpeg::ImageWithRoom(width, height, QImage::Format_RGB888, AV_PIX_FMT_RGB24);
            if (FRows.isNull())
                return {};
            FSource = source;
        }
        const int pitch = static_cast<int>(FRows.bytesPerLine());
        ffmpeg::FramePtr unused;
        if (!ffmpeg::ScaleInto(*FConverter, picture.data, picture.linesize, picture.height, FRows.bits(), pitch,
                               width, height, AV_PIX_FMT_RGB24, true, unused))
            return {};
        return {SceneDetection::ToHsv(FRows.constBits(), width, height, pitch), width, height};
    }

private:
    struct TSource {
        int Width = 0, Height = 0, Format = -1;
        bool operator==(const TSource&) const = default;
    } FSource;
    ffmpeg::SwsPtr FConverter;
    // The small copy's rows, with room for the converter's whole blocks.
    QImage FRows;
};

} // namespace

SceneDetection::TSmallPicture SceneDetection::SmallOf(const QImage& image)
{
    if (image.isNull())
        return {};
    const QImage small = image
                             .scaled(std::min(SceneDetection::SmallWidth, image.width()),
                                     SmallHeight(image.width(), image.height()), Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGB888);
    return {SceneDetection::ToHsv(small.constBits(), small.width(), small.height(),
                                  static_cast<int>(small.bytesPerLine())),
            small.width(), small.height()};
}

using SceneDetection::SmallOf;

// For the length of a scan, a stop of its token also ends the decoder's call in progress at its
// next packet. A decoder that already hears a flag of its owner's keeps it: the owner raises
// that one with the token.
class TSceneScanner::TStopBridge {
public:
    TStopBridge(TMovieDecoder::TState& state, std::stop_token stop)
        : FState(state)
        , FBefore(state.Stop)
        , FToken(std::move(stop))
        , FCallback(FToken, [this] { FRaised = true; })
    {
        if (!FBefore)
            FState.Stop = &FRaised;
    }
    ~TStopBridge() { FState.Stop = FBefore; }
    TStopBridge(const TStopBridge&) = delete;
    TStopBridge& operator=(const TStopBridge&) = delete;

    bool Stopped() const { return FToken.stop_requested() || FState.StopAsked(); }

private:
    TMovieDecoder::TState& FState;
    const std::atomic<bool>* const FBefore;
    std::atomic<bool> FRaised{false};
    std::stop_token FToken;
    std::stop_callback<std::function<void()>> FCallback;
};

TSceneScanner::TSceneScanner(TMovieDecoder& decoder)
    : FDecoder(decoder)
{
}

// One scan for scenes, from the picture the scan starts on: every picture in turn goes to the
// cut detector, and the still it chooses after each cut is handed out.
class TSceneScanner::TSceneRun {
public:
    TSceneRun(TSceneScanner& scanner, const SceneDetection::TSettings& settings, const TStopBridge& bridge,
              const TFoundFn& found, const TProgressFn& progress)
        : FScanner(scanner)
        , FDecoder(scanner.FDecoder)
        , FState(*scanner.FDecoder.FState)
        , FBridge(bridge)
        , FFound(found)
        , FProgress(progress)
        , FDetector(settings)
        , FToldMs(scanner.FDecoder.FrameTimeMs())
    {
        FScanner.FReachedMs = FToldMs;
    }

    // The first scene starts where the scan does; false when the callback ends the scan there.
    bool FoundFirst()
    {
        return FFound({FScanner.FReachedMs, FScanner.FReachedMs, FDecoder.Bitmap(), FDecoder.DisplayTransform()});
    }
    void ScanAVIFile();
    void ScanDecoded();

private:
    void Tell(std::int32_t ms);
    std::int32_t MsOf(std::int64_t pts) const;
    // Converts picture into the decoder's bitmap and hands it out; false ends the scan.
    bool Take(const AVFrame& picture, std::int64_t pts, std::int32_t markMs);
    // Each picture in turn; false ends the scan.
    bool Follow(const AVFrame& picture, std::int64_t pts);
    // The picture the positioning showed, as the detector's first; the positioning's pictures
    // are let go after it. Answers the last presentation time taken.
    std::int64_t StartFromShownPicture(bool& going);

    TSceneScanner& FScanner;
    TMovieDecoder& FDecoder;
    TMovieDecoder::TState& FState;
    const TStopBridge& FBridge;
    const TFoundFn& FFound;
    const TProgressFn& FProgress;
    SceneDetection::TCutDetector FDetector;
    TSmallPictures FSmall;
    std::int32_t FToldMs;
};

void TSceneScanner::TSceneRun::Tell(std::int32_t ms)
{
    FScanner.FReachedMs = ms;
    if (FProgress && ms - FToldMs >= ProgressStepMs) {
        FToldMs = ms;
        FProgress(ms);
    }
}

std::int32_t TSceneScanner::TSceneRun::MsOf(std::int64_t pts) const
{
    const AVRational timeBase = FState.Stream()->time_base;
    return MovieTime::PictureTimeMs(pts, FState.StreamStart, timeBase.num, timeBase.den);
}

bool TSceneScanner::TSceneRun::Take(const AVFrame& picture, std::int64_t pts, std::int32_t markMs)
{
    if (!FState.Converter.ConvertInto(picture, FState.FrameWidth, FState.FrameHeight, *FDecoder.FBitmap))
        return true; // a picture that cannot be converted is passed over
    FState.ShownPts = pts;
    FState.ShownNextPts = TPictureCache::NextUnknown;
    return FFound({markMs, MsOf(pts), FDecoder.Bitmap(), FDecoder.DisplayTransform()});
}

bool TSceneScanner::TSceneRun::Follow(const AVFrame& picture, std::int64_t pts)
{
    const std::int32_t ms = MsOf(pts);
    Tell(ms);
    if (const auto still = FDetector.Feed(ms, FSmall.Of(picture)))
        return Take(picture, pts, still->CutMs);
    return true;
}

void TSceneScanner::TSceneRun::ScanAVIFile()
{
    // Every sample is a picture of its own; stepping reads them in turn.
    FDetector.Feed(FScanner.FReachedMs, SmallOf(FDecoder.Bitmap().Image()));
    while (!FBridge.Stopped()) {
        const std::int32_t before = FDecoder.FrameTimeMs();
        if (!FDecoder.DecodeNextFrame() || FDecoder.FrameTimeMs() <= before)
            return;
        const std::int32_t ms = FDecoder.FrameTimeMs();
        Tell(ms);
        if (const auto still = FDetector.Feed(ms, SmallOf(FDecoder.Bitmap().Image())))
            if (!FFound({still->CutMs, ms, FDecoder.Bitmap(), FDecoder.DisplayTransform()}))
                return;
    }
}

std::int64_t TSceneScanner::TSceneRun::StartFromShownPicture(bool& going)
{
    TMovieDecoder::TState& s = FState;
    // Exact positioning left the picture shown in Candidate and, unless the movie ended, the
    // one after it in DecodedFrame.
    std::int64_t lastPts = s.ShownPts;
    if (s.CandidatePts == s.ShownPts && s.Candidate->data[0])
        FDetector.Feed(FScanner.FReachedMs, FSmall.Of(*s.Candidate));
    else
        FDetector.Feed(FScanner.FReachedMs, SmallOf(FDecoder.Bitmap().Image()));
    // The positioning's pictures are of no more use to it once the scan moves the codec on, and
    // each one held keeps the codec allocating another picture's buffer.
    av_frame_unref(s.Candidate.get());
    av_frame_unref(s.PreviousCandidate.get());
    s.CandidatePts = AV_NOPTS_VALUE;
    going = true;
    if (s.RunValid && !s.RunEnded && s.RunLastPts > lastPts && s.DecodedFrame->data[0]) {
        lastPts = s.RunLastPts;
        going = Follow(*s.DecodedFrame, lastPts);
    }
    // The scan moves the codec on without the positioning's knowledge.
    s.RunValid = false;
    return lastPts;
}

void TSceneScanner::TSceneRun::ScanDecoded()
{
    TMovieDecoder::TState& s = FState;
    bool going = true;
    std::int64_t lastPts = StartFromShownPicture(going);
    const std::int64_t duration = std::max<std::int64_t>(1, FDecoder.FrameDuration());
    while (going && !FBridge.Stopped()) {
        int budget = ScanPacketBudget;
        // Damaged packets are passed over inside NextPicture; only the end of the file, a read
        // that timed out or a stretch with no picture at all ends the scan.
        if (const TMovieDecoder::TNextPicture next = FDecoder.NextPicture(budget);
            next != TMovieDecoder::TNextPicture::Picture) {
            // A read cut off by its deadline may come back as the end of the file (MP4 read with
            // generated timestamps); the interrupt itself tells the two apart.
            FScanner.FCutShort =
                !FBridge.Stopped() && (next == TMovieDecoder::TNextPicture::Failed || s.CallInterrupted);
            break;
        }
        // Nothing here looks back a picture: held, it would have the codec allocate one more
        // picture's buffer, whose fresh pages cost more than many pictures' comparisons.
        av_frame_unref(s.PreviousDecoded.get());
        std::int64_t pts = PresentationTimeOf(*s.DecodedFrame);
        if (pts == AV_NOPTS_VALUE)
            pts = MovieTime::SaturatingAdd(lastPts, duration);
        // A damaged stream may repeat or go back in time; such pictures are passed over.
        if (pts <= lastPts)
            continue;
        lastPts = pts;
        going = Follow(*s.DecodedFrame, pts);
    }
    if (going && !FBridge.Stopped())
        if (const auto still = FDetector.Finish(); still && s.DecodedFrame->data[0])
            Take(*s.DecodedFrame, lastPts, still->CutMs);
}

bool TSceneScanner::ScanScenes(std::int32_t startMs, const SceneDetection::TSettings& settings, std::stop_token stop,
                               const TFoundFn& found, const TProgressFn& progress)
{
    TMovieDecoder& d = FDecoder;
    FReachedMs = -1;
    FMissedMs.clear();
    FCutShort = false;
    if (!d.IsOpen())
        return false;
    const TStopBridge bridge(*d.FState, stop);
    d.SetExact(true);
    // The scan reads on and never steps back.
    d.SetKeepsPicturesBehind(false);
    if (bridge.Stopped() || !d.DecodeFrame(startMs))
        return bridge.Stopped();
    TSceneRun run(*this, settings, bridge, found, progress);
    if (!run.FoundFirst())
        return true;
    if (d.FState->UsesAVIFile)
        run.ScanAVIFile();
    else
        run.ScanDecoded();
    return true;
}

bool TSceneScanner::ScanIntervals(std::int32_t startMs, std::int32_t everyMs, std::stop_token stop,
                                  const TFoundFn& found, const TProgressFn& progress)
{
    TMovieDecoder& d = FDecoder;
    FReachedMs = -1;
    FMissedMs.clear();
    FCutShort = false;
    if (!d.IsOpen() || everyMs <= 0)
        return false;
    const TStopBridge bridge(*d.FState, stop);
    d.SetExact(true);
    // The scan reads on and never steps back.
    d.SetKeepsPicturesBehind(false);
    bool any = false;
    for (const std::int32_t t : SceneDetection::IntervalTimes(startMs, d.Duration(), everyMs)) {
        if (bridge.Stopped())
            break;
        FReachedMs = t;
        if (progress)
            progress(t);
        // A time in a damaged stretch gives no picture; the next may. A request ended by a stop
        // missed nothing.
        if (!d.DecodeFrame(t)) {
            if (bridge.Stopped())
                break;
            FMissedMs.push_back(t);
            continue;
        }
        any = true;
        if (!found({t, d.FrameTimeMs(), d.Bitmap(), d.DisplayTransform()}))
            break;
    }
    return any;
}
