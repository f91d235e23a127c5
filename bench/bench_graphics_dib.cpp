// SPDX-License-Identifier: GPL-3.0-or-later
// Loading a 1920 x 1080 24-bit BMP through TDIB against a plain read and copy of the same bytes:
// what the header checks and the holder cost on top of moving the pixels.
#include "graphics/UDIB.h"

#include <QBuffer>
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

QByteArray MakeBMP()
{
    const std::int64_t stride = bmp::RowStride(kWidth, 24);
    QByteArray bytes(static_cast<qsizetype>(kFileHeaderSize + kInfoHeaderSize + stride * kHeight), '\0');
    auto* data = reinterpret_cast<std::uint8_t*>(bytes.data());
    data[0] = 'B';
    data[1] = 'M';
    BITMAPINFOHEADER header{};
    header.biSize = kInfoHeaderSize;
    header.biWidth = kWidth;
    header.biHeight = kHeight;
    header.biPlanes = 1;
    header.biBitCount = 24;
    std::memcpy(data + kFileHeaderSize, &header, sizeof header);
    for (qsizetype i = kFileHeaderSize + kInfoHeaderSize; i < bytes.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 31);
    return bytes;
}

void BM_LoadThroughTDIB(benchmark::State& state)
{
    QByteArray bytes = MakeBMP();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    for (auto _ : state) {
        buffer.seek(0);
        TDIB dib;
        dib.LoadFromStream(buffer);
        benchmark::DoNotOptimize(dib.Bits());
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_LoadThroughTDIB)->Unit(benchmark::kMicrosecond);

void BM_PlainReadAndCopy(benchmark::State& state)
{
    QByteArray bytes = MakeBMP();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    for (auto _ : state) {
        buffer.seek(0);
        std::vector<char> copy(static_cast<std::size_t>(bytes.size()));
        buffer.read(copy.data(), bytes.size());
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_PlainReadAndCopy)->Unit(benchmark::kMicrosecond);

// The whole way into a framework bitmap, as a loaded picture goes.
void BM_LoadThroughTDIBIntoBitmap(benchmark::State& state)
{
    QByteArray bytes = MakeBMP();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    for (auto _ : state) {
        buffer.seek(0);
        TDIB dib;
        dib.LoadFromStream(buffer);
        TBitmap bitmap;
        dib.SaveToBitmap(bitmap);
        benchmark::DoNotOptimize(bitmap.ScanLine(0));
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_LoadThroughTDIBIntoBitmap)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
