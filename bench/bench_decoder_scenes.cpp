// SPDX-License-Identifier: GPL-3.0-or-later
// Scanning the 1080p benchmark movie for scenes, beside bare FFmpeg decoding the same pictures.
//   Scan:      TSceneScanner over the first ScanMs of the movie (every picture decoded, a 64-pixel
//              copy made and compared).
//   Reference: the same packets read and decoded, nothing else done with the pictures.
#include "decoder/UMovieDecoder.h"
#include "decoder/USceneScanner.h"
#include "tests/fixtures/TestMovies.h"
#include "BareMovie.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr int ScanMs = 10000;

std::string BenchMovie()
{
    return std::string(FRAMORA_FIXTURE_DIR) + "/" + TestMovies::Bench1080p;
}

void Scan_Scanner(benchmark::State& state)
{
    for (auto _ : state) {
        TMovieDecoder decoder;
        if (!decoder.Open(BenchMovie())) {
            state.SkipWithError("cannot open the benchmark movie");
            return;
        }
        TSceneScanner scanner(decoder);
        std::stop_source stop;
        int scenes = 0;
        scanner.ScanScenes(
            0, {}, stop.get_token(), [&](const TSceneScanner::TFound&) { return ++scenes > 0; },
            [&](std::int32_t position) {
                if (position >= ScanMs)
                    stop.request_stop();
            });
        benchmark::DoNotOptimize(scenes);
    }
}

void Scan_Reference(benchmark::State& state)
{
    for (auto _ : state) {
        TBareMovie movie(BenchMovie());
        movie.DecodeUntil(movie.Units(ScanMs));
    }
}

} // namespace

BENCHMARK(Scan_Scanner)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(Scan_Reference)->Unit(benchmark::kMillisecond)->Repetitions(3);

BENCHMARK_MAIN();
