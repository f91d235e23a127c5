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
#include <cmath>
#include <cstdlib>

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
    // Six sectors of about 42.7 each around a circle of 256.
    double h = 0;
    if (high == r)
        h = (g - b) / double(delta);
    else if (high == g)
        h = 2 + (b - r) / double(delta);
    else
        h = 4 + (r - g) / double(delta);
    long hue = std::lround(h * 256.0 / 6.0);
    hue = ((hue % 256) + 256) % 256;
    return {static_cast<std::uint8_t>(hue), s, static_cast<std::uint8_t>(high)};
}

THsvPicture ToHsv(const std::uint8_t* rgb, int width, int height, int pitch)
{
    THsvPicture picture;
    if (width <= 0 || height <= 0)
        return picture;
    picture.reserve(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* p = rgb + std::ptrdiff_t(y) * pitch;
        for (int x = 0; x < width; ++x, p += 3) {
            const THsv hsv = RgbToHsv(p[0], p[1], p[2]);
            picture.insert(picture.end(), {hsv.H, hsv.S, hsv.V});
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
    double sum = 0;
    for (std::size_t i = 0; i + 2 < a.size(); i += 3)
        sum += PixelChange({a[i], a[i + 1], a[i + 2]}, {b[i], b[i + 1], b[i + 2]});
    return sum / double(a.size() / 3);
}

TCutDetector::TCutDetector(TSettings settings)
    : FSettings(settings)
{
}

std::optional<TCutDetector::TStill> TCutDetector::Feed(std::int32_t timeMs, THsvPicture picture)
{
    std::optional<TStill> still;
    if (!FLastCutMs) {
        FLastCutMs = timeMs;
    } else if (FPending) {
        if (--FPicturesLeft <= 0) {
            FPending = false;
            // A flash or a single damaged picture is over by now: the scene looks as before.
            if (MeanChange(FBeforeCut, picture) >= FSettings.Threshold) {
                FLastCutMs = FCandidateMs;
                still = TStill{FCandidateMs, timeMs};
            }
        }
    } else if (MeanChange(FPrevious, picture) >= FSettings.Threshold
               && std::int64_t(timeMs) - *FLastCutMs >= FSettings.MinSceneMs) {
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
    FPrevious = std::move(picture);
    FLastMs = timeMs;
    return still;
}

std::optional<TCutDetector::TStill> TCutDetector::Finish()
{
    if (!FPending)
        return std::nullopt;
    FPending = false;
    if (MeanChange(FBeforeCut, FPrevious) < FSettings.Threshold)
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

using SceneDetection::THsvPicture;

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
    THsvPicture Of(const AVFrame& picture)
    {
        const int width = std::min(SceneDetection::SmallWidth, picture.width);
        const int height = SmallHeight(picture.width, picture.height);
        const TSource source{picture.width, picture.height, picture.format};
        if (!FConverter || !(source == FSource)) {
            FSource = {};
            // Two taps are plenty for a 64-pixel copy, and cheap next to the decoding.
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
        return SceneDetection::ToHsv(FRows.constBits(), width, height, pitch);
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

THsvPicture SmallOf(const TBitmap& bitmap)
{
    const QImage& image = bitmap.Image();
    if (image.isNull())
        return {};
    const QImage small = image
                             .scaled(std::min(SceneDetection::SmallWidth, image.width()),
                                     SmallHeight(image.width(), image.height()), Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGB888);
    return SceneDetection::ToHsv(small.constBits(), small.width(), small.height(),
                                 static_cast<int>(small.bytesPerLine()));
}

} // namespace

TSceneScanner::TSceneScanner(TMovieDecoder& decoder)
    : FDecoder(decoder)
{
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
    d.SetExact(true);
    if (!d.DecodeFrame(startMs))
        return false;
    TMovieDecoder::TState& s = *d.FState;
    SceneDetection::TCutDetector detector(settings);
    std::int32_t toldMs = d.FrameTimeMs();
    FReachedMs = toldMs;
    const auto tell = [&](std::int32_t ms) {
        FReachedMs = ms;
        if (progress && ms - toldMs >= ProgressStepMs) {
            toldMs = ms;
            progress(ms);
        }
    };
    // The first scene starts where the scan does.
    if (!found({FReachedMs, FReachedMs, d.Bitmap(), d.DisplayTransform()}))
        return true;

    if (s.UsesAVIFile) {
        // Every sample is a picture of its own; stepping reads them in turn.
        detector.Feed(FReachedMs, SmallOf(d.Bitmap()));
        while (!stop.stop_requested()) {
            const std::int32_t before = d.FrameTimeMs();
            if (!d.DecodeNextFrame() || d.FrameTimeMs() <= before)
                break;
            const std::int32_t ms = d.FrameTimeMs();
            tell(ms);
            if (const auto still = detector.Feed(ms, SmallOf(d.Bitmap())))
                if (!found({still->CutMs, ms, d.Bitmap(), d.DisplayTransform()}))
                    return true;
        }
        return true;
    }

    TSmallPictures small;
    const AVRational timeBase = s.Stream()->time_base;
    const auto msOf = [&](std::int64_t pts) {
        return MovieTime::PictureTimeMs(pts, s.StreamStart, timeBase.num, timeBase.den);
    };
    // Converts picture into Bitmap and hands it out.
    const auto take = [&](const AVFrame& picture, std::int64_t pts, std::int32_t markMs) {
        if (!s.Converter.ConvertInto(picture, s.FrameWidth, s.FrameHeight, *d.FBitmap))
            return true; // a picture that cannot be converted is passed over
        s.ShownPts = pts;
        s.ShownNextPts = TPictureCache::NextUnknown;
        return found({markMs, msOf(pts), d.Bitmap(), d.DisplayTransform()});
    };
    // Each picture in turn; false ends the scan.
    const auto follow = [&](const AVFrame& picture, std::int64_t pts) {
        const std::int32_t ms = msOf(pts);
        tell(ms);
        if (const auto still = detector.Feed(ms, small.Of(picture)))
            return take(picture, pts, still->CutMs);
        return true;
    };

    // Exact positioning left the picture shown in Candidate and, unless the movie ended, the
    // one after it in DecodedFrame.
    std::int64_t lastPts = s.ShownPts;
    if (s.CandidatePts == s.ShownPts && s.Candidate->data[0])
        detector.Feed(FReachedMs, small.Of(*s.Candidate));
    else
        detector.Feed(FReachedMs, SmallOf(d.Bitmap()));
    bool going = true;
    if (s.RunValid && !s.RunEnded && s.RunLastPts > lastPts && s.DecodedFrame->data[0]) {
        lastPts = s.RunLastPts;
        going = follow(*s.DecodedFrame, lastPts);
    }
    // The scan moves the codec on without the positioning's knowledge.
    s.RunValid = false;
    const std::int64_t duration = std::max<std::int64_t>(1, d.FrameDuration());
    while (going && !stop.stop_requested()) {
        int budget = ScanPacketBudget;
        // Damaged packets are passed over inside NextPicture; only the end of the file, a read
        // that timed out or a stretch with no picture at all ends the scan.
        if (const TMovieDecoder::TNextPicture next = d.NextPicture(budget); next != TMovieDecoder::TNextPicture::Picture) {
            // A read cut off by its deadline may come back as the end of the file (MP4 read with
            // generated timestamps); the interrupt itself tells the two apart.
            FCutShort = next == TMovieDecoder::TNextPicture::Failed || s.CallInterrupted;
            break;
        }
        std::int64_t pts = PresentationTimeOf(*s.DecodedFrame);
        if (pts == AV_NOPTS_VALUE)
            pts = MovieTime::SaturatingAdd(lastPts, duration);
        // A damaged stream may repeat or go back in time; such pictures are passed over.
        if (pts <= lastPts)
            continue;
        lastPts = pts;
        going = follow(*s.DecodedFrame, pts);
    }
    if (going && !stop.stop_requested())
        if (const auto still = detector.Finish(); still && s.DecodedFrame->data[0])
            take(*s.DecodedFrame, lastPts, still->CutMs);
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
    d.SetExact(true);
    bool any = false;
    for (const std::int32_t t : SceneDetection::IntervalTimes(startMs, d.Duration(), everyMs)) {
        if (stop.stop_requested())
            break;
        FReachedMs = t;
        if (progress)
            progress(t);
        // A time in a damaged stretch gives no picture; the next may.
        if (!d.DecodeFrame(t)) {
            FMissedMs.push_back(t);
            continue;
        }
        any = true;
        if (!found({t, d.FrameTimeMs(), d.Bitmap(), d.DisplayTransform()}))
            break;
    }
    return any;
}
