// SPDX-License-Identifier: GPL-3.0-or-later
// 4K movies (10 s at 3840 x 2160, H.264 and HEVC Main 10, one key frame every 250 pictures),
// each measurement beside bare FFmpeg decoding the same pictures with the same threads:
//   Playback: the window's ticks, 97 ms apart, through the movie: the playback path's request
//             with the designed window's preview size and the copy the window takes of what it
//             draws; the reference reads and decodes up to each tick's time and converts the
//             last picture once at that size. An iteration is the whole movie; the counters give
//             the median tick in wall-clock and in process CPU time (every thread's).
//   StepBack: one picture back from a picture 7 s past the key frame, reached by stepping
//             forward, and the window's copy; the reference decodes again from the key frame.
//   StepRun:  the first exact request at 7 s, then 30 steps back; beside them the same request
//             and 30 steps forward (a step back should cost no more than a step forward).
//   Memory:   the process's peak resident memory while playing the movie, and while stepping
//             back through its whole GOP beside the picture cache's bound.
#include "decoder/UMovieDecoder.h"
#include "tests/fixtures/TestMovies.h"
#include "BareMovie.h"
#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace TestMovies;

constexpr int TickMs = 97;
constexpr int PictureMs = 1000 / FrameRate;
constexpr int MovieMs = Bench4kFrames * PictureMs;
// The picture stepped back from: 7 s past the key frame at 0.
constexpr int StepFromMs = 7000;
// The designed window's preview panel (386 x 197) holds a 16:9 picture at this size.
const QSize DesignedPreview(350, 197);
constexpr double MiB = 1024.0 * 1024.0;

const char* const Movies[] = {Bench4kH264, Bench4kHevc10};

std::string MoviePath(const benchmark::State& state)
{
    return std::string(FRAMORA_FIXTURE_DIR) + "/" + Movies[state.range(0)];
}

double ProcessCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Runs tick(t) at every tick of one playback of the movie per iteration; prepare() before each,
// untimed. Reports the median tick.
template <class Prepare, class Tick>
void PlayTicks(benchmark::State& state, Prepare prepare, Tick tick)
{
    std::vector<double> wall, cpu;
    for (auto _ : state) {
        state.PauseTiming();
        prepare();
        state.ResumeTiming();
        for (int t = TickMs; t < MovieMs; t += TickMs) {
            const double wall0 = WallMs(), cpu0 = ProcessCpuMs();
            if (!tick(t)) {
                state.SkipWithError("a tick gave no picture");
                return;
            }
            wall.push_back(WallMs() - wall0);
            cpu.push_back(ProcessCpuMs() - cpu0);
        }
    }
    state.counters["TickWallMedianMs"] = Median(wall);
    state.counters["TickCpuMedianMs"] = Median(cpu);
    state.counters["Ticks"] = static_cast<double>(wall.size());
}

int ThreadsFor(const std::string& movie)
{
    TMovieDecoder decoder;
    return decoder.Open(movie) ? decoder.DecodingThreads() : 1;
}

void Playback_Decoder(benchmark::State& state)
{
    TMovieDecoder decoder;
    TBitmap shown;
    PlayTicks(
        state,
        [&] {
            decoder.Open(MoviePath(state));
            decoder.SetPreviewSize(DesignedPreview);
        },
        [&](int t) {
            if (!decoder.DecodeFrame(t))
                return false;
            // The window takes a copy of what it draws.
            shown.Assign(decoder.Preview().Empty() ? decoder.Bitmap() : decoder.Preview());
            return true;
        });
    state.counters["Threads"] = decoder.DecodingThreads();
}

void Playback_Reference(benchmark::State& state)
{
    const int threads = ThreadsFor(MoviePath(state));
    std::unique_ptr<TBareMovie> movie;
    PlayTicks(
        state, [&] { movie = std::make_unique<TBareMovie>(MoviePath(state), threads); },
        [&](int t) {
            movie->DecodeUntil(movie->Units(t));
            movie->ConvertScaled(DesignedPreview.width(), DesignedPreview.height());
            return true;
        });
    state.counters["Threads"] = threads;
}

void StepBack_Decoder(benchmark::State& state)
{
    TMovieDecoder decoder;
    decoder.SetExact(true);
    if (!decoder.Open(MoviePath(state)) || !decoder.DecodeFrame(0)) {
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
        shown.Assign(decoder.Bitmap());
        state.PauseTiming();
        decoder.DecodeNextFrame();
        state.ResumeTiming();
    }
    state.counters["Threads"] = decoder.DecodingThreads();
}

// A run of StepsInRun single-picture steps from StepFromMs, as a user stepping through a 4K
// movie (or framora-grab writing a picture every 40 ms) makes them: the first request alone,
// then the steps back; and, on a decoder of its own, the same request and the steps forward.
// Counters in wall-clock ms: the first request, the mean step each way and their ratios, and
// how many pictures the cache's bound holds at this size.
constexpr int StepsInRun = 30;

void StepRun_Decoder(benchmark::State& state)
{
    for (auto _ : state) {
        double first = 0, back = 0, forward = 0;
        std::int64_t held = 0;
        for (const bool backwards : {true, false}) {
            TMovieDecoder decoder;
            decoder.SetExact(true);
            if (!decoder.Open(MoviePath(state))) {
                state.SkipWithError("cannot open the benchmark movie");
                return;
            }
            const double start = WallMs();
            if (!decoder.DecodeFrame(StepFromMs)) {
                state.SkipWithError("the first request failed");
                return;
            }
            const double requested = WallMs();
            for (int step = 0; step < StepsInRun; ++step) {
                if (!(backwards ? decoder.DecodePreviousFrame() : decoder.DecodeNextFrame())) {
                    state.SkipWithError("a step failed");
                    return;
                }
                benchmark::DoNotOptimize(decoder.Bitmap().ScanLine(0));
            }
            (backwards ? back : forward) = (WallMs() - requested) / StepsInRun;
            if (backwards) {
                first = requested - start;
                const QImage& picture = decoder.Bitmap().Image();
                held = picture.sizeInBytes() > 0 ? decoder.CacheLimit() / picture.sizeInBytes() : 0;
            }
        }
        state.counters["FirstMs"] = first;
        state.counters["BackStepMs"] = back;
        state.counters["ForwardStepMs"] = forward;
        state.counters["BackOverForward"] = forward > 0 ? back / forward : 0;
        state.counters["StepsBackOverFirst"] = first > 0 ? back * StepsInRun / first : 0;
        state.counters["PicturesHeld"] = static_cast<double>(held);
    }
}

void StepBack_Reference(benchmark::State& state)
{
    TBareMovie movie(MoviePath(state), ThreadsFor(MoviePath(state)));
    for (auto _ : state) {
        if (!movie.SeekExactly(movie.Units(StepFromMs - PictureMs))) {
            state.SkipWithError("a step back failed");
            return;
        }
    }
}

void Memory_Playing(benchmark::State& state)
{
    for (auto _ : state) {
        if (!ResetPeakMemory()) {
            state.SkipWithError("cannot reset the peak of resident memory");
            return;
        }
        const std::int64_t before = StatusBytes("VmRSS");
        TMovieDecoder decoder;
        if (!decoder.Open(MoviePath(state))) {
            state.SkipWithError("cannot open the benchmark movie");
            return;
        }
        decoder.SetPreviewSize(DesignedPreview);
        TBitmap shown;
        for (int t = TickMs; t < MovieMs; t += TickMs) {
            decoder.DecodeFrame(t);
            shown.Assign(decoder.Preview());
        }
        // A capture at the end makes the full picture as well.
        shown.Assign(decoder.Bitmap());
        const std::int64_t peak = StatusBytes("VmHWM");
        state.counters["PeakMiB"] = static_cast<double>(peak) / MiB;
        state.counters["AboveStartMiB"] = static_cast<double>(peak - before) / MiB;
    }
}

void Memory_StepBackThroughGop(benchmark::State& state)
{
    for (auto _ : state) {
        if (!ResetPeakMemory()) {
            state.SkipWithError("cannot reset the peak of resident memory");
            return;
        }
        TMovieDecoder decoder;
        decoder.SetExact(true);
        if (!decoder.Open(MoviePath(state)) || !decoder.DecodeFrame(MovieMs - PictureMs)) {
            state.SkipWithError("cannot open the benchmark movie");
            return;
        }
        const std::int64_t decodedBefore = decoder.DecodedPictures();
        const double wall0 = WallMs(), cpu0 = ProcessCpuMs();
        TBitmap shown;
        int steps = 0;
        for (; decoder.FrameTimeMs() > 0 && steps < Bench4kFrames; ++steps) {
            decoder.DecodePreviousFrame();
            shown.Assign(decoder.Bitmap());
        }
        const double peak = static_cast<double>(StatusBytes("VmHWM"));
        state.counters["Steps"] = steps;
        state.counters["StepWallMs"] = (WallMs() - wall0) / std::max(1, steps);
        state.counters["StepCpuMs"] = (ProcessCpuMs() - cpu0) / std::max(1, steps);
        state.counters["DecodedPerStep"] = static_cast<double>(decoder.DecodedPictures() - decodedBefore) / std::max(1, steps);
        state.counters["PeakMiB"] = peak / MiB;
        state.counters["BoundMiB"] = static_cast<double>(decoder.CacheLimit()) / MiB;
        state.counters["OverBoundMiB"] = (peak - static_cast<double>(decoder.CacheLimit())) / MiB;
    }
}

} // namespace

// Memory first, while the process holds little else. Process CPU time counts the codec's threads.
BENCHMARK(Memory_Playing)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Memory_StepBackThroughGop)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Playback_Decoder)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->MeasureProcessCPUTime();
BENCHMARK(Playback_Reference)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->MeasureProcessCPUTime();
BENCHMARK(StepBack_Decoder)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(2)->MeasureProcessCPUTime();
BENCHMARK(StepRun_Decoder)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(2);
BENCHMARK(StepBack_Reference)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(2)->MeasureProcessCPUTime();

BENCHMARK_MAIN();
