// SPDX-License-Identifier: GPL-3.0-or-later
// Capture window figures: start of the process to the window shown, opening the 1080p movie to
// its first picture painted, and the cost of one preview repaint and one playback tick at 1080p
// (both must stay well under the 97 ms tick; the share is reported as a counter).
#include "capture/UDesktop.h"
#include "capture/UFramora.h"
#include "framework/TBitmap.h"
#include "framework/TPaintBox.h"
#include "framework/TickCount.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>

namespace {

constexpr double TickMs = 97.0;
const QString Movie1080p = QStringLiteral(FRAMORA_FIXTURE_DIR "/bench-1080p.mp4");

std::uint32_t FakeNow = 0;

double MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The whole program: from starting the process to its window being shown.
void BM_ProcessStartToWindowShown(benchmark::State& state)
{
    QTemporaryDir locks;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("FRAMORA_LOCK_DIR"), locks.path());
    environment.insert(QStringLiteral("FRAMORA_ANSWER_BOXES"), QStringLiteral("1"));
    for (auto _ : state) {
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setReadChannel(QProcess::StandardError);
        const auto start = std::chrono::steady_clock::now();
        program.start(QStringLiteral(FRAMORA_BINARY_DIR "/framora"), {});
        QByteArray output;
        while (!output.contains("framora: shown") && program.waitForReadyRead(30000))
            output += program.readAllStandardError();
        state.SetIterationTime(MsSince(start) / 1000.0);
        if (!output.contains("framora: shown"))
            state.SkipWithError("the program did not show its window");
        program.kill();
        program.waitForFinished();
    }
}
BENCHMARK(BM_ProcessStartToWindowShown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

struct TShownWindow {
    explicit TShownWindow(QSize size)
    {
        // Each window takes the single-instance guard; a folder of its own keeps the next window
        // of this process from finding it taken.
        qputenv("FRAMORA_LOCK_DIR", Locks.path().toLocal8Bit());
        Form = NewFramoraWindow();
        Form->resize(size.expandedTo(Form->minimumSize()));
        Form->show();
        QApplication::processEvents();
    }
    ~TShownWindow() { Form.reset(); }

    // Stands for one playback tick: 97 ms pass on the clock and the timer fires.
    void Tick()
    {
        FakeNow += static_cast<std::uint32_t>(TickMs);
        Form->Timer2Timer();
        Settle();
    }
    void Open(const QString& movie)
    {
        Form->OpenMovie(movie);
        Settle();
    }
    // Until the decoding thread's pictures are on screen.
    void Settle()
    {
        while (!Form->PicturesSettled())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }

    QTemporaryDir Locks;
    std::unique_ptr<TfrmFramora> Form;
};

// OpenMovie on the 1080p movie until its first picture is on screen: the opening, the first tick
// (which decodes the picture at the tick's position) and the repaint of the preview.
void BM_OpenMovieToFirstPicturePainted(benchmark::State& state)
{
    TShownWindow window({800, 600});
    for (auto _ : state) {
        window.Open(Movie1080p);
        window.Tick();
        window.Form->PaintBox1->repaint();
        if (!window.Form->IsFrameShown())
            state.SkipWithError("no picture shown");
    }
}
BENCHMARK(BM_OpenMovieToFirstPicturePainted)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// One repaint of the preview with a 1080p picture, at the smallest window and a large one.
void BM_PreviewRepaint1080p(benchmark::State& state)
{
    TShownWindow window({static_cast<int>(state.range(0)), static_cast<int>(state.range(1))});
    window.Open(Movie1080p);
    window.Tick();
    if (!window.Form->IsFrameShown() || !window.Form->lblPicSize->text().startsWith(QStringLiteral("1920")))
        state.SkipWithError("no 1080p picture");
    for (auto _ : state)
        window.Form->PaintBox1->repaint();
    state.counters["preview_w"] = window.Form->PaintBox1->width();
    state.counters["preview_h"] = window.Form->PaintBox1->height();
    state.counters["share_of_tick"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * (TickMs / 1000.0),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PreviewRepaint1080p)->Args({800, 600})->Args({1600, 1000})->UseRealTime()->Unit(benchmark::kMillisecond);

// One playback tick at 1080p: the position moves 97 ms, the picture there is decoded and copied,
// and the preview repaints.
void BM_PlaybackTick1080p(benchmark::State& state)
{
    TShownWindow window({800, 600});
    window.Open(Movie1080p);
    for (auto _ : state) {
        window.Tick();
        window.Form->PaintBox1->repaint();
        if (window.Form->CurrentPlayState() != TPlayState::Playing) {
            state.PauseTiming();
            window.Open(Movie1080p);
            state.ResumeTiming();
        }
    }
    state.counters["share_of_tick"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * (TickMs / 1000.0),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PlaybackTick1080p)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(200);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    SetTickSource([] { return FakeNow; });
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
