// SPDX-License-Identifier: GPL-3.0-or-later
// What subtitles cost, each side by side with the same work without them, in one run:
//   CaptureWithSubtitle: a 1080p capture (the shown picture made from the decoded one) with a
//     line of text drawn in, against the same capture with subtitles off.
//   OpenLongMovie: opening a 30-minute Matroska to its first picture, then a seek to its middle
//     with the subtitle stream's index started after the first picture, against the same with
//     subtitles off; the index builds in the background.
//   IndexBuild: the whole index of that movie, against a bare read of its packets.
//   IndexNearLateTime: the index knowing a time near that movie's end, read there first,
//     against read in order.
// Each ratio is a counter: the capture's in CPU time of the calling thread (the machine is
// shared), the opening's in wall time and in the calling thread's CPU time, the index's in wall
// time.
#include "decoder/UDisplayPicture.h"
#include "decoder/UMovieDecoder.h"
#include "decoder/UMovieSubtitles.h"
#include "framework/FFmpegPtr.h"
#include "tests/fixtures/SubtitleMovies.h"
#include "tests/fixtures/TestMovies.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <chrono>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

namespace {

constexpr std::int32_t CaptureMs = 400;
constexpr auto IndexWait = std::chrono::minutes(5);
// The size the window shows a 1080p picture at, about.
const QSize PreviewSize(768, 432);

std::string Fixture(const char* name)
{
    return std::string(FRAMORA_FIXTURE_DIR) + "/" + name;
}

double ThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double WallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void BM_CaptureWithSubtitle(benchmark::State& state)
{
    QTemporaryDir dir;
    const std::string srt = dir.filePath(QStringLiteral("line.srt")).toStdString();
    std::ofstream(srt) << "1\n00:00:00,000 --> 00:00:10,000\nA line of dialogue, as a film shows one\n";
    TMovieDecoder decoder;
    if (!decoder.Open(Fixture(TestMovies::Bench1080p)) || !decoder.DecodeFrame(CaptureMs)) {
        state.SkipWithError("the movie does not open");
        return;
    }
    TMovieSubtitles subtitles;
    subtitles.OpenFile(srt);
    subtitles.WaitForIndex(CaptureMs, IndexWait);
    const QSize display = DisplayGeometry::DisplayedSize(QSize(decoder.Width(), decoder.Height()),
                                                         decoder.DisplayTransform(), TAspectScaling::Display);
    double withSeconds = 0, withoutSeconds = 0;
    bool drawn = true;
    for (auto _ : state) {
        // The window lays the line out for its preview between captures, at the preview's size.
        benchmark::DoNotOptimize(subtitles.Overlay(PreviewSize, decoder.FrameTimeMs(), display).constBits());
        const double start = ThreadSeconds();
        TBitmap with;
        MakeDisplayedPicture(decoder.Bitmap(), decoder.DisplayTransform(), TAspectScaling::Display, with);
        drawn = subtitles.Draw(with, decoder.FrameTimeMs(), display) && drawn;
        benchmark::DoNotOptimize(with.ScanLine(0));
        const double middle = ThreadSeconds();
        TBitmap without;
        MakeDisplayedPicture(decoder.Bitmap(), decoder.DisplayTransform(), TAspectScaling::Display, without);
        benchmark::DoNotOptimize(without.ScanLine(0));
        const double end = ThreadSeconds();
        withSeconds += middle - start;
        withoutSeconds += end - middle;
    }
    if (!drawn)
        state.SkipWithError("no subtitle was drawn");
    const double n = static_cast<double>(state.iterations());
    state.counters["with_ms"] = 1000 * withSeconds / n;
    state.counters["without_ms"] = 1000 * withoutSeconds / n;
    state.counters["ratio"] = withoutSeconds > 0 ? withSeconds / withoutSeconds : 0;
}
BENCHMARK(BM_CaptureWithSubtitle)->Unit(benchmark::kMillisecond);

// One opening: the first picture, then (with the index started) a seek to the middle, the
// request that competes with the index's reading. Seconds of wall and of this thread's CPU.
struct TOpening {
    double FirstWall = 0, FirstCpu = 0, SeekWall = 0, SeekCpu = 0;
};

bool Opening(const std::string& movie, bool subtitlesOn, TOpening& total)
{
    const double start = WallSeconds(), startCpu = ThreadSeconds();
    TMovieDecoder decoder;
    TMovieSubtitles subtitles;
    if (!decoder.Open(movie) || !decoder.DecodeFrame(0) || decoder.SubtitleStreams().empty())
        return false;
    const double first = WallSeconds(), firstCpu = ThreadSeconds();
    if (subtitlesOn)
        subtitles.OpenStream(movie, decoder.SubtitleStreams().front());
    decoder.DecodeFrame(decoder.Duration() / 2);
    total.FirstWall += first - start;
    total.FirstCpu += firstCpu - startCpu;
    total.SeekWall += WallSeconds() - first;
    total.SeekCpu += ThreadSeconds() - firstCpu;
    return true;
}

void BM_OpenLongMovie(benchmark::State& state)
{
    const std::string movie = Fixture(SubtitleMovies::Long);
    TOpening with, without;
    for (auto _ : state) {
        if (!Opening(movie, true, with) || !Opening(movie, false, without)) {
            state.SkipWithError("the movie does not open");
            return;
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["first_with_ms"] = 1000 * with.FirstWall / n;
    state.counters["first_without_ms"] = 1000 * without.FirstWall / n;
    state.counters["first_ratio"] = with.FirstWall / without.FirstWall;
    state.counters["first_ratio_cpu"] = with.FirstCpu / without.FirstCpu;
    state.counters["seek_with_ms"] = 1000 * with.SeekWall / n;
    state.counters["seek_without_ms"] = 1000 * without.SeekWall / n;
    state.counters["seek_ratio_cpu"] = with.SeekCpu / without.SeekCpu;
}
BENCHMARK(BM_OpenLongMovie)->Unit(benchmark::kMillisecond)->Iterations(30);

// Every packet of the movie read, nothing decoded: what the index cannot go below.
double BareReadSeconds(const std::string& movie)
{
    const double start = WallSeconds();
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, movie.c_str(), nullptr, nullptr) != 0)
        return 0;
    const ffmpeg::InputPtr input(format);
    const ffmpeg::PacketPtr packet(av_packet_alloc());
    while (av_read_frame(format, packet.get()) >= 0)
        av_packet_unref(packet.get());
    return WallSeconds() - start;
}

// The long movie's subtitle stream; nothing when the movie does not open.
std::optional<TSubtitleStreamInfo> LongMovieStream(const std::string& movie)
{
    TMovieDecoder decoder;
    if (!decoder.Open(movie) || decoder.SubtitleStreams().empty())
        return std::nullopt;
    return decoder.SubtitleStreams().front();
}

void BM_IndexBuild(benchmark::State& state)
{
    const std::string movie = Fixture(SubtitleMovies::Long);
    const std::optional<TSubtitleStreamInfo> stream = LongMovieStream(movie);
    if (!stream) {
        state.SkipWithError("the movie does not open");
        return;
    }
    double indexSeconds = 0, bareSeconds = 0;
    std::size_t events = 0;
    for (auto _ : state) {
        const double start = WallSeconds();
        TMovieSubtitles subtitles;
        subtitles.OpenStream(movie, *stream);
        subtitles.WaitForWholeIndex(IndexWait);
        indexSeconds += WallSeconds() - start;
        events = subtitles.EventCount();
        bareSeconds += BareReadSeconds(movie);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["index_ms"] = 1000 * indexSeconds / n;
    state.counters["bare_read_ms"] = 1000 * bareSeconds / n;
    state.counters["ratio"] = bareSeconds > 0 ? indexSeconds / bareSeconds : 0;
    state.counters["events"] = static_cast<double>(events);
}
BENCHMARK(BM_IndexBuild)->Unit(benchmark::kMillisecond)->Iterations(5);

// A capture near the end of the film just after the subtitles were chosen: the wait until the
// index knows its time, read there first, against the wait of an index read in order to it.
void BM_IndexNearLateTime(benchmark::State& state)
{
    const std::string movie = Fixture(SubtitleMovies::Long);
    const std::optional<TSubtitleStreamInfo> stream = LongMovieStream(movie);
    if (!stream) {
        state.SkipWithError("the movie does not open");
        return;
    }
    const std::int32_t lateMs = (SubtitleMovies::LongMinutes - 5) * 60000;
    double nearSeconds = 0, inOrderSeconds = 0;
    for (auto _ : state) {
        double start = WallSeconds();
        {
            TMovieSubtitles subtitles;
            subtitles.OpenStream(movie, *stream);
            subtitles.WaitForIndex(lateMs, IndexWait);
            nearSeconds += WallSeconds() - start;
        }
        start = WallSeconds();
        TMovieSubtitles subtitles;
        subtitles.OpenStream(movie, *stream);
        while (!subtitles.IndexCovers(lateMs))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        inOrderSeconds += WallSeconds() - start;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["near_ms"] = 1000 * nearSeconds / n;
    state.counters["in_order_ms"] = 1000 * inOrderSeconds / n;
    state.counters["ratio"] = inOrderSeconds > 0 ? nearSeconds / inOrderSeconds : 0;
}
BENCHMARK(BM_IndexNearLateTime)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
