// SPDX-License-Identifier: GPL-3.0-or-later
// The window thread while scenes are saved and restored: 22 4K stills written as PNG, the save
// command run from the event loop as a click would run it; and 22 4K scenes a killed run left,
// put back at the next start. Reported: the longest absence of the window thread (the largest
// gap between ticks of a 20 ms timer) and the time until the work has ended.
#include "browser/FImageBrowser.h"
#include "capture/UDesktop.h"
#include "capture/UFramora.h"
#include "framework/MessageBox.h"
#include "framework/TAction.h"
#include "framework/TListView.h"
#include "imagestore/USceneRecovery.h"
#include "framework/TOpenDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>

namespace {

constexpr int SceneCount = 22;
constexpr QSize Size4k(3840, 2160);
constexpr int BeatMs = 20;
// Grain over a gradient compresses about as a movie picture does; flat colour would flatter PNG.
constexpr int GrainAmplitude = 12;

QImage Still4k(int seed)
{
    QImage picture(Size4k, QImage::Format_BGR888);
    std::mt19937 random(static_cast<std::uint32_t>(seed));
    std::uniform_int_distribution<int> grain(-GrainAmplitude, GrainAmplitude);
    for (int y = 0; y < picture.height(); ++y) {
        std::uint8_t* row = picture.scanLine(y);
        for (int x = 0; x < picture.width(); ++x)
            for (int c = 0; c < 3; ++c)
                row[3 * x + c] = static_cast<std::uint8_t>(
                    std::clamp((x * (c + 1) / 16 + y / 9 + seed * 7) % 256 + grain(random), 0, 255));
    }
    return picture;
}

// Ticks every BeatMs from its creation and keeps the largest gap between two ticks.
class THeartbeat {
public:
    THeartbeat()
    {
        FBeat.setInterval(BeatMs);
        QObject::connect(&FBeat, &QTimer::timeout, [this] { Mark(); });
        FClock.start();
        FBeat.start();
    }
    qint64 ElapsedMs() const { return FClock.elapsed(); }
    // The longest absence, up to now.
    qint64 LongestMs()
    {
        Mark();
        return FLongest;
    }

private:
    void Mark()
    {
        const qint64 now = FClock.elapsed();
        FLongest = std::max(FLongest, now - FLast);
        FLast = now;
    }
    QElapsedTimer FClock;
    QTimer FBeat;
    qint64 FLast = 0, FLongest = 0;
};

void SpinUntil(const std::function<bool()>& done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, BeatMs);
}

void BM_Save22Scenes4kPng(benchmark::State& state)
{
    QTemporaryDir home, out;
    qputenv("FRAMORA_LOCK_DIR", home.path().toLocal8Bit());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    // The bare window: no recovery thread encoding the same scenes beside the save.
    TfrmFramora form;
    TProvenance origin;
    origin.Movie = QStringLiteral("bench.mkv");
    origin.CodedSize = origin.ShownSize = Size4k;
    for (int i = 0; i < SceneCount; ++i) {
        origin.PositionMs = i * 1000;
        form.RestoreScene(Still4k(i), origin);
    }
    // Nothing chosen: every scene is saved.
    form.SceneBrowser().ListView1->ClearSelection();
    for (auto _ : state) {
        TMessageBoxScript boxes;
        TFileDialogScript dialogs({TFileDialogAnswer::Choose(out.filePath(QStringLiteral("scene_.png")))});
        QElapsedTimer clock;
        qint64 last = 0, longest = 0;
        QTimer beat;
        beat.setInterval(BeatMs);
        QObject::connect(&beat, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        clock.start();
        beat.start();
        qint64 executeMs = 0;
        QTimer::singleShot(0, &form, [&] {
            const qint64 start = clock.elapsed();
            form.actSaveImage->Execute();
            executeMs = clock.elapsed() - start;
        });
        while (boxes.Asked().isEmpty())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const qint64 total = clock.elapsed();
        longest = std::max(longest, total - last);
        state.SetIterationTime(static_cast<double>(total) / 1000.0);
        state.counters["longest_absence_ms"] = static_cast<double>(longest);
        state.counters["command_ms"] = static_cast<double>(executeMs);
        qint64 bytes = 0;
        for (const QFileInfo& file : QDir(out.path()).entryInfoList(QDir::Files))
            bytes += file.size();
        state.counters["written_mb"] = static_cast<double>(bytes) / 1e6;
        state.counters["files"] = static_cast<double>(QDir(out.path()).entryList(QDir::Files).size());
        if (boxes.Texts().size() != 1 || boxes.Asked()[0].Icon == TMsgIcon::Error)
            state.SkipWithError("the save did not end with its message");
    }
}
BENCHMARK(BM_Save22Scenes4kPng)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// From the yes to the recovery question until the scenes are in the list and, as before, kept in
// this run's own folder.
void BM_Restore22Scenes4k(benchmark::State& state)
{
    QTemporaryDir home;
    qputenv("FRAMORA_LOCK_DIR", home.path().toLocal8Bit());
    qputenv("XDG_STATE_HOME", home.path().toLocal8Bit());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    {
        TSceneRecovery killed;
        TProvenance origin;
        origin.Movie = QStringLiteral("bench.mkv");
        origin.CodedSize = origin.ShownSize = Size4k;
        for (int i = 0; i < SceneCount; ++i) {
            origin.PositionMs = i * 1000;
            killed.Added(Still4k(i), origin);
        }
        killed.Abandon();
    }
    const std::unique_ptr<TfrmFramora> form = NewFramoraWindow();
    auto* desktop = form->findChild<TFramoraDesktop*>();
    // Shown, as the program is: the scene list makes its thumbnails as the scenes come.
    form->show();
    for (auto _ : state) {
        TMessageBoxScript boxes({TMsgResult::Yes});
        THeartbeat beat;
        QTimer::singleShot(0, form.get(), [&form] { OfferRecoveredScenes(*form); });
        SpinUntil([&] { return form->CurrentSceneCount() == SceneCount; });
        const qint64 listed = beat.ElapsedMs();
        const qint64 longest = beat.LongestMs();
        // Waits on the window thread, so after the absences are taken.
        desktop->Recovery().Flush();
        state.SetIterationTime(static_cast<double>(beat.ElapsedMs()) / 1000.0);
        state.counters["longest_absence_ms"] = static_cast<double>(longest);
        state.counters["listed_ms"] = static_cast<double>(listed);
        state.counters["scenes"] = form->CurrentSceneCount();
        if (form->CurrentSceneCount() != SceneCount)
            state.SkipWithError("not every scene came back");
    }
}
BENCHMARK(BM_Restore22Scenes4k)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
