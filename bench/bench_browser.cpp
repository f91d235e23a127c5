// SPDX-License-Identifier: GPL-3.0-or-later
// Scene browser figures against the 97 ms playback tick: making and drawing the thumbnails of 32
// captured 1920 x 1080 scenes on the window thread in one repaint, and the window thread's share
// per thumbnail when the background loader reads the scenes.
#include "browser/FImageBrowser.h"
#include "framework/TBitmap.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

constexpr double TickMs = 97.0;
constexpr int SceneCount = 32;

double MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// 32 captured scenes held full-size, as the capture window's store holds them.
struct TScenes {
    TCustomImagePack Store;
    TCustomImagePack Source;
    TScenes()
    {
        Store.SetCacheLimit(40);
        for (int i = 0; i < SceneCount; ++i) {
            TPictureEx scene;
            TBitmap& bitmap = scene.Bitmap();
            bitmap.SetPixelFormat(TPixelFormat::pf24bit);
            bitmap.SetSize(1920, 1080);
            bitmap.Image().fill(QColor::fromHsv(i * 11, 200, 200));
            Store.StoreImage(scene, i);
        }
        Store.OnGetCount = [](TObject*, std::int32_t& n) { n = SceneCount; };
        Source.SetCacheLimit(40);
        Source.OnGetCount = [](TObject*, std::int32_t& n) { n = SceneCount; };
        Source.OnGetImage = [this](TObject*, TPictureEx& picture, std::int32_t no) { Store.SafeGetImage(picture, no); };
    }
};

// A browser large enough to show all 32 thumbnails at size 100.
struct TShownBrowser {
    TScenes Scenes;
    TfrmImageBrowser Browser;
    explicit TShownBrowser(bool loader)
    {
        Browser.SetUseLoaderThread(loader);
        Browser.SetImageSource(&Scenes.Source);
        Browser.SetThumbnailSize(100);
        Browser.resize(1300, 560);
        QStringList captions;
        for (int i = 1; i <= SceneCount; ++i)
            captions << QString("No.%1").arg(i);
        Browser.SetCaptions(captions);
        Browser.show();
        QApplication::processEvents(); // the window is exposed, and draws, from here on
    }
    void Repaint() { Browser.ListView1->ItemArea()->repaint(); }
    int Shown() const
    {
        int shown = 0;
        for (int item = 0; item < SceneCount; ++item)
            shown += Browser.ListView1->ItemArea()->rect().intersects(Browser.ListView1->ItemBounds(item));
        return shown;
    }
};

void BM_MakeAndDraw32Thumbnails1080p(benchmark::State& state)
{
    TShownBrowser shown(false);
    for (auto _ : state) {
        shown.Browser.ImagePack->Reset();
        shown.Repaint();
    }
    if (shown.Shown() != SceneCount || shown.Browser.ImagePack->CachedCount() != SceneCount)
        state.SkipWithError("not every thumbnail was drawn");
    state.counters["share_of_tick"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * (TickMs / 1000.0), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MakeAndDraw32Thumbnails1080p)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// With the loader on: the window thread draws placeholders and requests, the worker reads the
// scenes meanwhile (not timed), then the window thread takes, thumbnails and redraws each one.
void BM_WindowThreadPerThumbnailWithLoader(benchmark::State& state)
{
    TShownBrowser shown(true);
    if (shown.Shown() != SceneCount) {
        state.SkipWithError("not every thumbnail is shown");
        return;
    }
    std::mutex lock;
    std::condition_variable changed;
    int loaded = 0;
    shown.Browser.Loader().OnLoaded = [&] {
        std::lock_guard guard(lock);
        ++loaded;
        changed.notify_all();
    };
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        shown.Browser.ImagePack->Reset();
        shown.Repaint();
        double windowMs = MsSince(start);
        {
            std::unique_lock guard(lock);
            changed.wait(guard, [&] { return loaded >= SceneCount; });
            loaded = 0;
        }
        start = std::chrono::steady_clock::now();
        for (int i = 0; i < SceneCount; ++i)
            shown.Browser.TakeLoadedThumbnail();
        shown.Repaint();
        windowMs += MsSince(start);
        state.SetIterationTime(windowMs / SceneCount / 1000.0);
    }
}
BENCHMARK(BM_WindowThreadPerThumbnailWithLoader)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

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
