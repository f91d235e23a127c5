// SPDX-License-Identifier: GPL-3.0-or-later
// Exact positioning on the 1080p benchmark movie (25 pictures per second, a key frame every 250),
// each measurement beside what bare FFmpeg does for the same picture:
//   Request:  random times, exact; served by the decoding thread (posted, its answer waited for)
//             beside the same decoder called on the asking thread with the copy the window took
//             of each picture; the reference seeks back to the key frame at or before the
//             time, decodes forward to the picture and converts it once to 24-bit BGR. Both
//             sides also run in turn, time by time, for their ratio, on this movie and on the
//             same pictures with B-frames.
//   StepBack: one picture back from a picture 7 s past a key frame, reached by stepping forward,
//             and the copy the window takes of it; the reference decodes again from the key
//             frame, as players do.
//   Memory:   the peak resident memory of stepping back through a whole GOP, above what the
//             process held before it opened the movie; the cache's bound is beside it.
#include "decoder/UDecodingThread.h"
#include "decoder/UMovieDecoder.h"
#include "tests/fixtures/TestMovies.h"
#include "BareMovie.h"
#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int PictureMs = 1000 / TestMovies::FrameRate;
constexpr int KeyFrameMs = TestMovies::BenchGopSize * PictureMs;
constexpr int MovieMs = TestMovies::BenchFrames * PictureMs;
constexpr int RequestsPerRun = 30;
// The picture stepped back from: 7 s past the key frame at 10 s.
constexpr int StepFromMs = KeyFrameMs + 7000;
constexpr double MiB = 1024.0 * 1024.0;

std::string BenchMovie()
{
    return std::string(FRAMORA_FIXTURE_DIR) + "/" + TestMovies::Bench1080p;
}

// RequestsPerRun times picked at random (the same ones in every run) in a movie of movieMs.
std::vector<int> PickTimes(int movieMs)
{
    std::mt19937 random(2027);
    std::uniform_int_distribution<int> pick(0, movieMs - PictureMs);
    std::vector<int> result(RequestsPerRun);
    for (int& t : result)
        t = pick(random);
    return result;
}

const std::vector<int>& RequestTimes()
{
    static const std::vector<int> times = PickTimes(MovieMs);
    return times;
}

void Memory_StepBackThroughGop(benchmark::State& state)
{
    for (auto _ : state) {
        if (!ResetPeakMemory()) {
            state.SkipWithError("cannot reset the peak of resident memory");
            return;
        }
        const std::int64_t before = StatusBytes("VmRSS");
        TMovieDecoder decoder;
        decoder.SetExact(true);
        if (!decoder.Open(BenchMovie()) || !decoder.DecodeFrame(2 * KeyFrameMs - PictureMs)) {
            state.SkipWithError("cannot open the benchmark movie");
            return;
        }
        for (int step = 1; step < TestMovies::BenchGopSize; ++step)
            decoder.DecodePreviousFrame();
        const double peak = static_cast<double>(StatusBytes("VmHWM") - before);
        state.counters["PeakMiB"] = peak / MiB;
        state.counters["BoundMiB"] = static_cast<double>(decoder.CacheLimit()) / MiB;
        state.counters["OverBoundMiB"] = (peak - static_cast<double>(decoder.CacheLimit())) / MiB;
        state.counters["Decoded"] = static_cast<double>(decoder.DecodedPictures());
    }
}

void Request_Decoder(benchmark::State& state)
{
    TMovieDecoder decoder;
    decoder.SetExact(true);
    if (!decoder.Open(BenchMovie())) {
        state.SkipWithError("cannot open the benchmark movie");
        return;
    }
    std::size_t next = 0;
    for (auto _ : state) {
        if (!decoder.DecodeFrame(RequestTimes()[next++ % RequestTimes().size()])) {
            state.SkipWithError("a request failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["Decoded"] = benchmark::Counter(static_cast<double>(decoder.DecodedPictures()), benchmark::Counter::kAvgIterations);
}

// The window before its decoder had a thread: the request on its own thread, then its copy.
void Request_Synchronous(benchmark::State& state)
{
    TMovieDecoder decoder;
    decoder.SetExact(true);
    if (!decoder.Open(BenchMovie())) {
        state.SkipWithError("cannot open the benchmark movie");
        return;
    }
    TBitmap shown;
    std::size_t next = 0;
    for (auto _ : state) {
        if (!decoder.DecodeFrame(RequestTimes()[next++ % RequestTimes().size()])) {
            state.SkipWithError("a request failed");
            return;
        }
        shown.Assign(decoder.Bitmap());
    }
    state.SetItemsProcessed(state.iterations());
}

// The same requests posted to the decoding thread, each answered (with its copy, after its first
// look) before the next is posted.
void Request_DecodingThread(benchmark::State& state)
{
    std::mutex lock;
    std::condition_variable answered;
    std::shared_ptr<TDecodingAnswer> last;
    TDecodingThread thread(std::make_unique<TMovieDecoder>(), [&](std::shared_ptr<TDecodingAnswer> answer) {
        if (answer->Outcome == TDecodingAnswer::TOutcome::FirstLook)
            return;
        const std::lock_guard held(lock);
        last = std::move(answer);
        answered.notify_all();
    });
    const auto ask = [&](TDecodingRequest request) {
        const std::uint64_t serial = thread.Post(std::move(request));
        std::unique_lock held(lock);
        answered.wait(held, [&] { return last && last->Serial == serial; });
        return last->Outcome == TDecodingAnswer::TOutcome::Shown;
    };
    TDecodingRequest open;
    open.Kind = TDecodingKind::Open;
    open.FileName = BenchMovie();
    if (!ask(open)) {
        state.SkipWithError("cannot open the benchmark movie");
        return;
    }
    std::size_t next = 0;
    for (auto _ : state) {
        TDecodingRequest request;
        request.Exact = true;
        request.TimeMs = RequestTimes()[next++ % RequestTimes().size()];
        if (!ask(request)) {
            state.SkipWithError("a request failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void Request_Reference(benchmark::State& state)
{
    TBareMovie movie(BenchMovie());
    std::size_t next = 0;
    for (auto _ : state) {
        if (!movie.SeekExactly(movie.Units(RequestTimes()[next++ % RequestTimes().size()]))) {
            state.SkipWithError("a request failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["Decoded"] = benchmark::Counter(static_cast<double>(movie.Decoded()), benchmark::Counter::kAvgIterations);
}

// The benchmark movie, and the same pictures with B-frames: the pictures no other one refers to
// need not be decoded on the way to a request, and bare FFmpeg decodes them all.
struct TRequestMovie {
    const char* File;
    int Ms;
};
const TRequestMovie RequestMovies[] = {{TestMovies::Bench1080p, MovieMs},
                                       {TestMovies::Bench1080pBFrames, TestMovies::BenchBFramesFrames * PictureMs}};

// Each time asked of the decoder and then of the reference, in turn, so that both meet the machine
// in the same state: the ratio the exact path is held to.
void Request_AgainstReference(benchmark::State& state)
{
    const TRequestMovie& chosen = RequestMovies[state.range(0)];
    const std::string path = std::string(FRAMORA_FIXTURE_DIR) + "/" + chosen.File;
    const std::vector<int> times = PickTimes(chosen.Ms);
    TMovieDecoder decoder;
    decoder.SetExact(true);
    if (!decoder.Open(path)) {
        state.SkipWithError("cannot open the benchmark movie");
        return;
    }
    TBareMovie movie(path);
    const std::int64_t decodedBefore = decoder.DecodedPictures(), referenceBefore = movie.Decoded();
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        for (const int time : times) {
            const double start = WallMs();
            const bool shown = decoder.DecodeFrame(time);
            const double between = WallMs();
            if (!shown || !movie.SeekExactly(movie.Units(time))) {
                state.SkipWithError("a request failed");
                return;
            }
            ours += between - start;
            theirs += WallMs() - between;
        }
    }
    const double requests = static_cast<double>(state.iterations()) * RequestsPerRun;
    state.counters["DecoderMs"] = ours / requests;
    state.counters["ReferenceMs"] = theirs / requests;
    state.counters["Ratio"] = theirs > 0 ? ours / theirs : 0;
    state.counters["Decoded"] = static_cast<double>(decoder.DecodedPictures() - decodedBefore) / requests;
    state.counters["ReferenceDecoded"] = static_cast<double>(movie.Decoded() - referenceBefore) / requests;
}

void StepBack_Decoder(benchmark::State& state)
{
    TMovieDecoder decoder;
    decoder.SetExact(true);
    if (!decoder.Open(BenchMovie()) || !decoder.DecodeFrame(KeyFrameMs)) {
        state.SkipWithError("cannot open the benchmark movie");
        return;
    }
    while (decoder.FrameTimeMs() < StepFromMs)
        decoder.DecodeNextFrame();
    TBitmap shown;
    for (auto _ : state) {
        if (!decoder.DecodePreviousFrame()) {
            state.SkipWithError("a step back failed");
            return;
        }
        // The window takes a copy of every picture it shows.
        shown.Assign(decoder.Bitmap());
        state.PauseTiming();
        decoder.DecodeNextFrame();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations());
}

void StepBack_Reference(benchmark::State& state)
{
    TBareMovie movie(BenchMovie());
    for (auto _ : state) {
        if (!movie.SeekExactly(movie.Units(StepFromMs - PictureMs))) {
            state.SkipWithError("a step back failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

// Memory first, while the process holds little else. Both sides of a pair run the same number of
// requests, so that they answer the same times.
BENCHMARK(Memory_StepBackThroughGop)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Request_Decoder)->Unit(benchmark::kMillisecond)->Iterations(RequestsPerRun)->Repetitions(3);
BENCHMARK(Request_Synchronous)->Unit(benchmark::kMillisecond)->Iterations(RequestsPerRun)->Repetitions(3);
BENCHMARK(Request_DecodingThread)->Unit(benchmark::kMillisecond)->Iterations(RequestsPerRun)->Repetitions(3);
BENCHMARK(Request_Reference)->Unit(benchmark::kMillisecond)->Iterations(RequestsPerRun)->Repetitions(3);
BENCHMARK(Request_AgainstReference)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(StepBack_Decoder)->Unit(benchmark::kMillisecond)->Iterations(50)->Repetitions(2);
BENCHMARK(StepBack_Reference)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(2);

BENCHMARK_MAIN();
