// SPDX-License-Identifier: GPL-3.0-or-later
// The decoder on the 1080p benchmark movie (25 pictures per second, a key frame every 250),
// each measurement beside a reference loop that does the same job with bare FFmpeg calls:
//   Playback: requests 97 ms apart, the forward path; the reference reads and decodes the same
//             packets and converts the picture of each request once to RGB32.
//   Seek:     far, random, repeatable times, the seek path; the reference seeks, flushes and
//             decodes up to the first key frame (and, in a second variant, converts it too).
#include "decoder/UMovieDecoder.h"
#include "framework/FFmpegPtr.h"
#include "tests/fixtures/TestMovies.h"
#include "BareMovie.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int PlaybackTickMs = 97;
constexpr int PlaybackSteps = 50; // about 5 s of playback per iteration
constexpr int SeekTimes = 64;
constexpr int SeekRangeMs = 50000; // the last key frame is at 50 s; beyond it a seek finds none
constexpr int KeyFrameMs = TestMovies::BenchGopSize * 1000 / TestMovies::FrameRate;

std::string BenchMovie()
{
    return std::string(FRAMORA_FIXTURE_DIR) + "/" + TestMovies::Bench1080p;
}

// Far times: each one either before the key frame the previous seek landed on or more than
// 8 s after it, so every request takes the seek path.
const std::vector<int>& FarTimes()
{
    static const std::vector<int> times = [] {
        std::mt19937 random(2026);
        std::uniform_int_distribution<int> pick(0, SeekRangeMs);
        std::vector<int> result;
        int landed = -1;
        while (static_cast<int>(result.size()) < SeekTimes) {
            const int t = pick(random);
            if (landed >= 0 && t >= landed && t <= landed + 8000)
                continue;
            result.push_back(t);
            landed = (t + KeyFrameMs - 1) / KeyFrameMs * KeyFrameMs;
        }
        return result;
    }();
    return times;
}

// Arg: the codec's threads, 0 for the decoder's own choice (one per processor); 1 decodes as
// the decoder did before it had threads.
void Playback_Decoder(benchmark::State& state)
{
    TMovieDecoder decoder;
    decoder.SetDecodingThreads(static_cast<int>(state.range(0)));
    if (!decoder.Open(BenchMovie())) {
        state.SkipWithError("cannot open the benchmark movie");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        decoder.DecodeFrame(0); // back to the key frame at the start
        state.ResumeTiming();
        for (int step = 1; step <= PlaybackSteps; ++step)
            benchmark::DoNotOptimize(decoder.DecodeFrame(step * PlaybackTickMs));
    }
    state.SetItemsProcessed(state.iterations() * PlaybackSteps);
}

void Playback_Reference(benchmark::State& state)
{
    TBareMovie movie(BenchMovie());
    for (auto _ : state) {
        state.PauseTiming();
        movie.SeekToKeyFrame(movie.Units(0));
        movie.Convert();
        state.ResumeTiming();
        for (int step = 1; step <= PlaybackSteps; ++step) {
            movie.DecodeUntil(movie.Units(step * PlaybackTickMs));
            movie.Convert();
        }
    }
    state.SetItemsProcessed(state.iterations() * PlaybackSteps);
}

void Seek_Decoder(benchmark::State& state)
{
    TMovieDecoder decoder;
    decoder.SetDecodingThreads(static_cast<int>(state.range(0)));
    if (!decoder.Open(BenchMovie())) {
        state.SkipWithError("cannot open the benchmark movie");
        return;
    }
    std::size_t next = 0;
    for (auto _ : state) {
        if (!decoder.DecodeFrame(FarTimes()[next++ % FarTimes().size()])) {
            state.SkipWithError("a far request failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void Seek_Reference(benchmark::State& state)
{
    TBareMovie movie(BenchMovie());
    const bool convert = state.range(0) != 0;
    std::size_t next = 0;
    for (auto _ : state) {
        if (!movie.SeekToKeyFrame(movie.Units(FarTimes()[next++ % FarTimes().size()]))) {
            state.SkipWithError("a far seek failed");
            return;
        }
        if (convert)
            movie.Convert();
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

// Process CPU time counts the codec's threads as well.
BENCHMARK(Playback_Decoder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(5)->MeasureProcessCPUTime();
BENCHMARK(Playback_Reference)->Unit(benchmark::kMillisecond)->Repetitions(5)->MeasureProcessCPUTime();
BENCHMARK(Seek_Decoder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(5)->MeasureProcessCPUTime();
// Arg 0: seek + flush + decode up to the key frame; arg 1: the same plus its RGB32 conversion.
BENCHMARK(Seek_Reference)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(5)->MeasureProcessCPUTime();

BENCHMARK_MAIN();
