// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion of a decoded picture into the program's rows, on rows with room for swscale's
// whole-block stores (the decoder's bitmap, kept from picture to picture), beside swscale
// writing straight into a plain QImage's rows as the decoder once did (safe only for widths
// that are whole blocks, as these are):
//   Conversion/0: a 1920 x 1080 picture, Conversion/1: a 3840 x 2160 picture (4:2:0, 8 bits).
// Both sides alternate within the benchmark; ratio = room / plain.
#include "bench/BareMovie.h"
#include "decoder/UPictureConverter.h"
#include "framework/TBitmap.h"
#include "tests/fixtures/TestMovies.h"

#include <benchmark/benchmark.h>

#include <QImage>

#include <chrono>
#include <string>

namespace {

using namespace TestMovies;

const char* const Movies[] = {Bench1080p, Bench4kH264};

void BM_Conversion(benchmark::State& state)
{
    TBareMovie movie(std::string(FRAMORA_FIXTURE_DIR) + "/" + Movies[state.range(0)]);
    movie.DecodeUntil(movie.Units(0));
    const AVFrame& picture = movie.Picture();
    const int w = picture.width, h = picture.height;
    TPictureConverter converter;
    TBitmap bitmap;
    const ffmpeg::SwsPtr plain(sws_getContext(w, h, static_cast<AVPixelFormat>(picture.format), w, h,
                                              AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    const int* matrix = sws_getCoefficients(AVCOL_SPC_BT709);
    sws_setColorspaceDetails(plain.get(), matrix, 0, matrix, 1, 0, 1 << 16, 1 << 16);
    QImage rows(w, h, QImage::Format_BGR888);
    double roomSeconds = 0, plainSeconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        converter.ConvertInto(picture, w, h, bitmap);
        benchmark::DoNotOptimize(bitmap.ScanLine(0));
        const auto middle = std::chrono::steady_clock::now();
        std::uint8_t* const target[4] = {rows.bits(), nullptr, nullptr, nullptr};
        const int pitch[4] = {static_cast<int>(rows.bytesPerLine()), 0, 0, 0};
        sws_scale(plain.get(), picture.data, picture.linesize, 0, h, target, pitch);
        benchmark::DoNotOptimize(rows.bits());
        const auto end = std::chrono::steady_clock::now();
        roomSeconds += std::chrono::duration<double>(middle - start).count();
        plainSeconds += std::chrono::duration<double>(end - middle).count();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["room_ms"] = 1000 * roomSeconds / n;
    state.counters["plain_ms"] = 1000 * plainSeconds / n;
    state.counters["ratio"] = roomSeconds / plainSeconds;
}
BENCHMARK(BM_Conversion)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
