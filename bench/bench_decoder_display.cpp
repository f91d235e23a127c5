// SPDX-License-Identifier: GPL-3.0-or-later
// What a capture costs once the picture is shown as meant, beside a plain copy of the same
// decoded picture (what a capture at the coded size does):
//   Turned1080p:  a 1920 x 1080 picture turned a quarter (a phone movie).
//   Dvd16x9:      a 720 x 480 picture of 16:9 enlarged to 853 x 480.
//   Dvd4x3:       a 720 x 480 picture of 4:3 enlarged to 720 x 540.
// The ratio to the copy is reported as a counter; a capture is one user action, kept under 20 ms.
#include "decoder/UDisplayPicture.h"
#include "decoder/UMovieDecoder.h"
#include "tests/fixtures/TestMovies.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

namespace {

using namespace TestMovies;

struct TCase {
    const char* Movie;
    TDisplayTransform Display; // what a phone states for the 1080p case; the movie's own otherwise
    bool OwnTransform;
};

const TCase Cases[] = {
    {Bench1080p, {90, 1, 1}, false},
    {Anamorphic16x9, {}, true},
    {Anamorphic4x3, {}, true},
};

// Both sides run in one benchmark, alternating, so that the ratio compares like with like.
void BM_Capture(benchmark::State& state)
{
    const TCase& c = Cases[state.range(0)];
    TMovieDecoder decoder;
    if (!decoder.Open(std::string(FRAMORA_FIXTURE_DIR) + "/" + c.Movie) || !decoder.DecodeFrame(400)) {
        state.SkipWithError("the movie does not open");
        return;
    }
    const TBitmap& coded = decoder.Bitmap();
    const TDisplayTransform display = c.OwnTransform ? decoder.DisplayTransform() : c.Display;
    double shownSeconds = 0, copySeconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        TBitmap shown;
        MakeDisplayedPicture(coded, display, TAspectScaling::Display, shown);
        benchmark::DoNotOptimize(shown.ScanLine(0));
        auto middle = std::chrono::steady_clock::now();
        TBitmap copy;
        copy.Assign(coded);
        benchmark::DoNotOptimize(copy.ScanLine(0)); // writable rows: the pixels are copied now
        auto end = std::chrono::steady_clock::now();
        shownSeconds += std::chrono::duration<double>(middle - start).count();
        copySeconds += std::chrono::duration<double>(end - middle).count();
        state.SetIterationTime(std::chrono::duration<double>(middle - start).count());
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["shown_ms"] = 1000 * shownSeconds / n;
    state.counters["copy_ms"] = 1000 * copySeconds / n;
    state.counters["ratio"] = copySeconds > 0 ? shownSeconds / copySeconds : 0;
    state.SetLabel(c.Movie);
}
BENCHMARK(BM_Capture)->DenseRange(0, 2)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
