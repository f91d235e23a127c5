// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding a 1920 x 1080 JPEG the way thumbnails are made (scale 1/8, fast DCT, no smoothing,
// behind the header probe) against libjpeg-turbo's own full-size decode of the same file.
#include "imagestore/USafetyBitmap.h"

#include <QBuffer>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// A picture with gradients and texture, so that the entropy decoder has real work.
QByteArray MakeJPEG()
{
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = kWidth;
    info.image_height = kHeight;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(kWidth * 3);
    unsigned noise = 12345;
    while (info.next_scanline < info.image_height) {
        const unsigned y = info.next_scanline;
        for (unsigned x = 0; x < kWidth; ++x) {
            noise = noise * 1103515245 + 12345;
            row[3 * x] = static_cast<unsigned char>(x * 255 / kWidth);
            row[3 * x + 1] = static_cast<unsigned char>(y * 255 / kHeight);
            row[3 * x + 2] = static_cast<unsigned char>(((x / 16 + y / 16) % 2) * 128 + (noise >> 27));
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
    std::free(buffer);
    return bytes;
}

void BM_SafetyJPEGEighthScale(benchmark::State& state)
{
    QByteArray bytes = MakeJPEG();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    for (auto _ : state) {
        buffer.seek(0);
        TSafetyJPEGImage image;
        image.LoadFromStream(buffer);
        image.SetScale(TJPEGScale::jsEighth);
        image.SetPerformance(TJPEGPerformance::jpBestSpeed);
        image.SetSmoothing(false);
        benchmark::DoNotOptimize(image.Bitmap().ScanLine(0));
    }
}
BENCHMARK(BM_SafetyJPEGEighthScale)->Unit(benchmark::kMicrosecond);

void BM_LibjpegFullSize(benchmark::State& state)
{
    const QByteArray bytes = MakeJPEG();
    std::vector<unsigned char> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
    for (auto _ : state) {
        jpeg_decompress_struct info{};
        jpeg_error_mgr error{};
        info.err = jpeg_std_error(&error);
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
                     static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&info, TRUE);
        jpeg_start_decompress(&info);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = pixels.data() + static_cast<std::size_t>(info.output_scanline) * info.output_width * 3;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        benchmark::DoNotOptimize(pixels.data());
    }
}
BENCHMARK(BM_LibjpegFullSize)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
