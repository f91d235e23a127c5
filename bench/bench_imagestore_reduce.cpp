// SPDX-License-Identifier: GPL-3.0-or-later
// Reducing a 1920 x 1080 24-bit frame into a 98 x 55 thumbnail against a memcpy of the frame's
// pixel bytes: what the area average costs on top of reading the source once.
#include "framework/TBitmap.h"
#include "imagestore/UGraphicsUtil.h"

#include <QGuiApplication>
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kThumbWidth = 98;
constexpr int kThumbHeight = 55;

TBitmap MakeFrame()
{
    TBitmap frame;
    frame.SetPixelFormat(TPixelFormat::pf24bit);
    frame.SetSize(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = frame.ScanLine(y);
        for (int b = 0; b < kWidth * 3; ++b)
            row[b] = static_cast<std::uint8_t>(b * 31 + y);
    }
    return frame;
}

void BM_ReduceBitmapInto(benchmark::State& state)
{
    const TBitmap frame = MakeFrame();
    TBitmap thumb;
    thumb.SetPixelFormat(TPixelFormat::pf24bit);
    thumb.SetSize(kThumbWidth, kThumbHeight);
    for (auto _ : state) {
        ReduceBitmapInto(frame, thumb);
        benchmark::DoNotOptimize(thumb.ScanLine(0));
    }
}

void BM_MemcpySourceBytes(benchmark::State& state)
{
    const TBitmap frame = MakeFrame();
    const auto bytes = static_cast<std::size_t>(frame.BytesPerLine()) * kHeight;
    std::vector<std::uint8_t> copy(bytes);
    for (auto _ : state) {
        std::memcpy(copy.data(), frame.Image().constBits(), bytes);
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_MemcpySourceBytes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReduceBitmapInto)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    // The bitmap's canvas needs a GUI application even off screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
