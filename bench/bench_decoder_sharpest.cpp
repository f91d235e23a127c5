// SPDX-License-Identifier: GPL-3.0-or-later
// The sharpest still on the 1080p benchmark movie (25 pictures per second, a key frame every 250),
// side by side with what it is held to: one exact request for the same random times.
//   Exact:    the picture shown at each time, exactly, and the copy a capture takes of it.
//   Sharpest: every picture within 0.5 s either way scored, the sharpest of the scene put on
//             the decoder, and the copy a capture takes of it.
//   Score:    the measure alone, on one full 1080p picture.
#include "decoder/UMovieDecoder.h"
#include "decoder/USharpestPicture.h"
#include "decoder/USharpness.h"
#include "tests/fixtures/TestMovies.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

constexpr int PictureMs = 1000 / TestMovies::FrameRate;
constexpr int MovieMs = TestMovies::BenchFrames * PictureMs;
constexpr int RequestsPerRun = 20;
constexpr std::int32_t RangeMs = SharpestPicture::DefaultRangeMs;

std::string BenchMovie()
{
    return std::string(FRAMORA_FIXTURE_DIR) + "/" + TestMovies::Bench1080p;
}

const std::vector<int>& RequestTimes()
{
    static const std::vector<int> times = [] {
        std::mt19937 random(2034);
        std::uniform_int_distribution<int> pick(RangeMs, MovieMs - RangeMs - PictureMs);
        std::vector<int> result(RequestsPerRun);
        for (int& t : result)
            t = pick(random);
        return result;
    }();
    return times;
}

bool OpenExact(TMovieDecoder& decoder, benchmark::State& state)
{
    decoder.SetExact(true);
    if (decoder.Open(BenchMovie()))
        return true;
    state.SkipWithError("cannot open the benchmark movie");
    return false;
}

void Capture_Exact(benchmark::State& state)
{
    TMovieDecoder decoder;
    if (!OpenExact(decoder, state))
        return;
    TBitmap stored;
    std::size_t next = 0;
    for (auto _ : state) {
        if (!decoder.DecodeFrame(RequestTimes()[next++ % RequestTimes().size()])) {
            state.SkipWithError("a request failed");
            return;
        }
        stored.Assign(decoder.Bitmap());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["Decoded"] = benchmark::Counter(static_cast<double>(decoder.DecodedPictures()), benchmark::Counter::kAvgIterations);
}

void Capture_Sharpest(benchmark::State& state)
{
    TMovieDecoder decoder;
    if (!OpenExact(decoder, state))
        return;
    TBitmap stored;
    std::size_t next = 0;
    double pictures = 0;
    for (auto _ : state) {
        const auto found = SharpestPicture::Around(decoder, RequestTimes()[next++ % RequestTimes().size()], RangeMs);
        if (!found) {
            state.SkipWithError("a search failed");
            return;
        }
        pictures += found->Pictures;
        stored.Assign(decoder.Bitmap());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["Decoded"] = benchmark::Counter(static_cast<double>(decoder.DecodedPictures()), benchmark::Counter::kAvgIterations);
    state.counters["Scored"] = benchmark::Counter(pictures, benchmark::Counter::kAvgIterations);
}

void Score_1080p(benchmark::State& state)
{
    TMovieDecoder decoder;
    if (!OpenExact(decoder, state) || !decoder.DecodeFrame(RequestTimes().front()))
        return;
    const QImage picture = decoder.Bitmap().Image();
    for (auto _ : state)
        benchmark::DoNotOptimize(Sharpness::Score(picture));
}

} // namespace

BENCHMARK(Capture_Exact)->Unit(benchmark::kMillisecond)->Iterations(RequestsPerRun)->Repetitions(3);
BENCHMARK(Capture_Sharpest)->Unit(benchmark::kMillisecond)->Iterations(RequestsPerRun)->Repetitions(3);
BENCHMARK(Score_1080p)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
