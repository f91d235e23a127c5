// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures on the position bar, side by side for a 1080p movie with a key frame every 10 s and
// the 4K movies (H.264 and HEVC Main 10, one key frame every 10 s):
//   FirstPicture: a pointer coming to a place whose picture is not at hand: the request the
//                 window posts to the bar's decoding thread, until its answer (the small upright
//                 picture) is back. Places spread over the whole movie in a shuffled order, so
//                 that no two follow each other in the file. With Playing=1 the window's own
//                 decoder plays the movie meanwhile (a tick every 97 ms at the designed preview
//                 size), as when the pointer is over the bar during playback.
//   Memory:       the process's resident memory with the bar's decoder open after a sweep of
//                 the places, beside the cache's bound, and once it is closed again (after the
//                 allocator and the codec's spare buffers hand back what they kept).
#include "decoder/UBarPictures.h"
#include "decoder/UDecodedBuffers.h"
#include "decoder/UMovieDecoder.h"
#include "tests/fixtures/TestMovies.h"
#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace TestMovies;
using Clock = std::chrono::steady_clock;

constexpr int TickMs = 97;
constexpr int Places = 23;
const QSize DesignedPreview(350, 197);
constexpr double MiB = 1024.0 * 1024.0;

const char* const Movies[] = {Bench1080p, Bench4kH264, Bench4kHevc10};

std::string MoviePath(const char* name)
{
    return std::string(FRAMORA_FIXTURE_DIR) + "/" + name;
}

double Percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size())))];
}

// The bar's decoding thread, and a wait for the answer of each request.
class TBarThread {
public:
    TBarThread()
        : FThread(NewBarPictureDecoder(), [this](std::shared_ptr<TDecodingAnswer> answer) {
              const std::lock_guard lock(FLock);
              FAnswer = std::move(answer);
              FCame.notify_all();
          })
    {
    }
    std::shared_ptr<TDecodingAnswer> Ask(TDecodingRequest request)
    {
        std::unique_lock lock(FLock);
        FAnswer.reset();
        lock.unlock();
        const std::uint64_t serial = FThread.Post(std::move(request));
        lock.lock();
        FCame.wait(lock, [&] { return FAnswer && FAnswer->Serial == serial; });
        return FAnswer;
    }
    bool Open(const std::string& movie)
    {
        TDecodingRequest request;
        request.Kind = TDecodingKind::Open;
        request.FileName = movie;
        const auto answer = Ask(request);
        Facts = answer->Facts;
        Display = answer->Display;
        return answer->Outcome == TDecodingAnswer::TOutcome::Shown;
    }
    TDecodingRequest Picture(std::int32_t timeMs) const
    {
        TDecodingRequest request;
        request.Kind = TDecodingKind::BarPicture;
        request.TimeMs = timeMs;
        request.PreviewSize = BarPictureGeometry::CodedOrientationSize(Facts.CodedSize, Display);
        return request;
    }
    TMovieFacts Facts;
    TDisplayTransform Display;

private:
    std::mutex FLock;
    std::condition_variable FCame;
    std::shared_ptr<TDecodingAnswer> FAnswer;
    TDecodingThread FThread;
};

// The window's decoder playing the movie on a thread of its own while it lives.
class TPlayback {
public:
    explicit TPlayback(const std::string& movie)
    {
        FThread = std::thread([this, movie] {
            TMovieDecoder decoder;
            if (!decoder.Open(movie))
                return;
            decoder.SetPreviewSize(DesignedPreview);
            const auto start = Clock::now();
            while (!FStop) {
                const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
                decoder.DecodeFrame(static_cast<std::int32_t>(elapsed % std::max(decoder.Duration(), 1)));
                std::this_thread::sleep_for(std::chrono::milliseconds(TickMs));
            }
        });
    }
    ~TPlayback()
    {
        FStop = true;
        FThread.join();
    }

private:
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

void FirstPicture(benchmark::State& state)
{
    const std::string movie = MoviePath(Movies[state.range(0)]);
    TBarThread bar;
    if (!bar.Open(movie)) {
        state.SkipWithError("cannot open the benchmark movie");
        return;
    }
    std::unique_ptr<TPlayback> playback = state.range(1) ? std::make_unique<TPlayback>(movie) : nullptr;
    std::vector<double> waited;
    int place = 0;
    for (auto _ : state) {
        // Every ninth place of 23: neighbours in time never follow each other.
        place = (place + 9) % Places;
        const std::int32_t timeMs = static_cast<std::int32_t>(static_cast<std::int64_t>(bar.Facts.Duration) * place / Places);
        const auto asked = Clock::now();
        const auto answer = bar.Ask(bar.Picture(timeMs));
        waited.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
        if (answer->Outcome != TDecodingAnswer::TOutcome::Shown) {
            state.SkipWithError("a place gave no picture");
            return;
        }
    }
    state.counters["MedianMs"] = Percentile(waited, 0.5);
    state.counters["P90Ms"] = Percentile(waited, 0.9);
    state.counters["MaxMs"] = Percentile(waited, 1.0);
}

void Memory(benchmark::State& state)
{
    const std::string movie = MoviePath(Movies[state.range(0)]);
    for (auto _ : state) {
        const double before = static_cast<double>(StatusBytes("VmRSS"));
        TBarPictureCache cache;
        {
            TBarThread bar;
            if (!bar.Open(movie)) {
                state.SkipWithError("cannot open the benchmark movie");
                return;
            }
            for (int place = 0; place < Places; ++place) {
                const std::int32_t timeMs = static_cast<std::int32_t>(static_cast<std::int64_t>(bar.Facts.Duration) * place / Places);
                const auto answer = bar.Ask(bar.Picture(timeMs));
                cache.Put({place, {}, answer->Picture.Image(), answer->FrameTimeMs});
            }
            state.counters["OpenMiB"] = (static_cast<double>(StatusBytes("VmRSS")) - before) / MiB;
            TDecodingRequest close;
            close.Kind = TDecodingKind::Open;
            bar.Ask(close);
            // What the allocator still keeps of the freed pictures is handed back first, and the
            // codec's buffers kept for a next movie go once none comes: the figure is then what
            // the closed decoder holds.
            std::this_thread::sleep_for(2 * TDecodedBuffers::SparesKeptIdle);
            malloc_trim(0);
            state.counters["ClosedMiB"] = (static_cast<double>(StatusBytes("VmRSS")) - before) / MiB;
        }
        state.counters["CacheMiB"] = static_cast<double>(cache.Bytes()) / MiB;
        state.counters["CacheBoundMiB"] = static_cast<double>(cache.LimitBytes()) / MiB;
    }
}

} // namespace

BENCHMARK(Memory)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(FirstPicture)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"Movie", "Playing"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(46)
    ->UseRealTime();

BENCHMARK_MAIN();
