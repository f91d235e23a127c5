// SPDX-License-Identifier: GPL-3.0-or-later
// A capture in the window with a line of subtitle text on the 1080p picture (the line already
// shown in the preview), against the same capture with 字幕 > なし, in one run: the picture made upright, the subtitle drawn in at the
// shown size, the scene stored and listed. Times are CPU time of the window's thread; the ratio
// is a counter. The movie is the benchmark's 1080p one, beside a SubRip file of its own name.
#include "capture/UDesktop.h"
#include "capture/UFramora.h"
#include "framework/MessageBox.h"
#include "framework/TAction.h"
#include "framework/TPaintBox.h"
#include "framework/TickCount.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QSlider>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <thread>
#include <fstream>
#include <memory>

namespace {

const QString Movie1080p = QStringLiteral(FRAMORA_FIXTURE_DIR "/bench-1080p.mp4");
constexpr int CaptureMs = 400;
constexpr auto PreviewWait = std::chrono::seconds(10);
constexpr auto PreviewPoll = std::chrono::milliseconds(20);
// The scene list holds 32; it is emptied before it is full.
constexpr int ScenesBeforeEmptying = 30;

std::uint32_t FakeNow = 0;

double ThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Lets the window run until its preview differs from plain (the subtitle is on screen).
bool PreviewChanges(TfrmFramora& form, const QImage& plain)
{
    const auto until = std::chrono::steady_clock::now() + PreviewWait;
    while (std::chrono::steady_clock::now() < until) {
        QApplication::processEvents();
        if (form.PaintBox1->grab().toImage() != plain)
            return true;
        std::this_thread::sleep_for(PreviewPoll);
    }
    return false;
}

// Until the decoding thread's answers are taken, sleeping between them.
void Settle(TfrmFramora& form)
{
    while (!form.PicturesSettled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void BM_WindowCaptureWithSubtitle1080p(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString movie = dir.filePath(QStringLiteral("film.mp4"));
    if (!QFile::link(Movie1080p, movie)) {
        state.SkipWithError("cannot place the movie");
        return;
    }
    std::ofstream(dir.filePath(QStringLiteral("film.srt")).toStdString())
        << "1\n00:00:00,000 --> 00:01:00,000\nA line of dialogue, as a film shows one\n";
    QTemporaryDir locks;
    qputenv("FRAMORA_LOCK_DIR", locks.path().toLocal8Bit());
    std::unique_ptr<TfrmFramora> form = NewFramoraWindow();
    form->OpenMovie(movie);
    Settle(*form);
    FakeNow += 100;
    form->Timer2Timer();
    Settle(*form);
    form->actPause->Execute();
    form->TrackBar1->setValue(CaptureMs);
    Settle(*form);
    const QList<QAction*> choices = form->Subtitles1->actions();
    if (choices.size() != 2 || !form->IsFrameShown()) {
        state.SkipWithError("no movie with a subtitle file");
        return;
    }
    const QImage plain = form->PaintBox1->grab().toImage();
    const TMessageBoxScript answers([](const TMessageBoxRequest&) { return TMsgResult::OK; });
    double withSeconds = 0, withoutSeconds = 0;
    // Each capture follows a repaint of the preview, as a user's does: neither finds the
    // caches warmer than the other. The window thread's time is counted, from the command to the
    // scene in the list; waiting for the decoding thread's picture costs it none.
    const auto capture = [&form] {
        form->PaintBox1->grab();
        const double start = ThreadSeconds();
        form->actCapture->Execute();
        Settle(*form);
        return ThreadSeconds() - start;
    };
    bool withFirst = true;
    for (auto _ : state) {
        if (form->CurrentSceneCount() >= ScenesBeforeEmptying)
            form->actDeleteAll->Execute();
        // Subtitles on as a user turns them on: the preview shows the line before the capture.
        // The two captures take turns at going first, so neither always finds the caches cold.
        if (!withFirst)
            withoutSeconds += capture();
        choices[1]->trigger();
        if (!PreviewChanges(*form, plain)) {
            state.SkipWithError("the preview shows no subtitle");
            return;
        }
        withSeconds += capture();
        choices[0]->trigger();
        if (withFirst)
            withoutSeconds += capture();
        withFirst = !withFirst;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["with_ms"] = 1000 * withSeconds / n;
    state.counters["without_ms"] = 1000 * withoutSeconds / n;
    state.counters["ratio"] = withoutSeconds > 0 ? withSeconds / withoutSeconds : 0;
}
BENCHMARK(BM_WindowCaptureWithSubtitle1080p)->Unit(benchmark::kMillisecond)->Iterations(60);

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
