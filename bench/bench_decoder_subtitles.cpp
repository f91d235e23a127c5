// What subtitles cost, each side by side with the same work without them, in one run:
//   CaptureWithSubtitle: a 1080p capture (the shown picture made from the decoded one) with a
//     line of text drawn in, against the same capture with subtitles off.
//   OpenLongMovie: opening a 30-minute Matroska and showing its first picture with its subtitle
//     stream's index started, against the opening alone; the index builds in the background.
//   IndexBuild: the whole index of that movie, against a bare read of its packets.
// Each ratio is a counter; times are CPU time of the calling thread (the machine is shared),
// and the index's wall time beside it.
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
#include <string>

namespace {

constexpr std::int32_t CaptureMs = 400;
constexpr auto IndexWait = std::chrono::minutes(5);

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

void BM_OpenLongMovie(benchmark::State& state)
{
    const std::string movie = Fixture(SubtitleMovies::Long);
    double withSeconds = 0, withoutSeconds = 0;
    for (auto _ : state) {
        const double start = WallSeconds();
        {
            TMovieDecoder decoder;
            TMovieSubtitles subtitles;
            if (!decoder.Open(movie) || decoder.SubtitleStreams().empty()) {
                state.SkipWithError("the movie does not open");
                return;
            }
            subtitles.OpenStream(movie, decoder.SubtitleStreams().front().ContainerIndex);
            decoder.DecodeFrame(0);
            withSeconds += WallSeconds() - start;
        } // the index is stopped with the subtitles
        const double middle = WallSeconds();
        TMovieDecoder decoder;
        decoder.Open(movie);
        decoder.DecodeFrame(0);
        withoutSeconds += WallSeconds() - middle;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["with_ms"] = 1000 * withSeconds / n;
    state.counters["without_ms"] = 1000 * withoutSeconds / n;
    state.counters["ratio"] = withoutSeconds > 0 ? withSeconds / withoutSeconds : 0;
}
BENCHMARK(BM_OpenLongMovie)->Unit(benchmark::kMillisecond)->Iterations(10);

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

void BM_IndexBuild(benchmark::State& state)
{
    const std::string movie = Fixture(SubtitleMovies::Long);
    TMovieDecoder decoder;
    if (!decoder.Open(movie) || decoder.SubtitleStreams().empty()) {
        state.SkipWithError("the movie does not open");
        return;
    }
    const int stream = decoder.SubtitleStreams().front().ContainerIndex;
    double indexSeconds = 0, bareSeconds = 0;
    std::size_t events = 0;
    for (auto _ : state) {
        const double start = WallSeconds();
        TMovieSubtitles subtitles;
        subtitles.OpenStream(movie, stream);
        subtitles.WaitForIndex(std::numeric_limits<std::int32_t>::max(), IndexWait);
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

} // namespace

BENCHMARK_MAIN();
