// SPDX-License-Identifier: GPL-3.0-or-later
// Saving one 1920 x 1080 scene as PNG with its provenance written inside, the way the window
// saves it, against Qt's PNG writer alone writing the same picture to a file.
#include "imagestore/UImageFile.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// Gradients and texture, as a still of a film has them, so that compression has real work.
QImage Scene()
{
    QImage picture(kWidth, kHeight, QImage::Format_BGR888);
    unsigned noise = 12345;
    for (int y = 0; y < kHeight; ++y) {
        uchar* row = picture.scanLine(y);
        for (int x = 0; x < kWidth; ++x) {
            noise = noise * 1103515245 + 12345;
            row[3 * x] = static_cast<uchar>(x * 255 / kWidth);
            row[3 * x + 1] = static_cast<uchar>(y * 255 / kHeight);
            row[3 * x + 2] = static_cast<uchar>(((x / 16 + y / 16) % 2) * 128 + (noise >> 27));
        }
    }
    return picture;
}

TProvenance Origin()
{
    TProvenance origin;
    origin.Movie = QStringLiteral("夏の旅 2024.mkv");
    origin.PositionMs = 83456;
    origin.CodedSize = QSize(kWidth, kHeight);
    origin.ShownSize = QSize(kWidth, kHeight);
    origin.Settings = {{QStringLiteral("DisplaySize"), QStringLiteral("on")}};
    origin.Creator = QStringLiteral("Framora bench");
    return origin;
}

void BM_SavePngWithProvenance(benchmark::State& state)
{
    const QImage scene = Scene();
    const TProvenance origin = Origin();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("scene001.png"));
    for (auto _ : state) {
        QString error, metadataError;
        if (!WriteImageFile(scene, file, &origin, error, metadataError) || !metadataError.isEmpty())
            state.SkipWithError("not written");
    }
}

void BM_SavePngQtAlone(benchmark::State& state)
{
    const QImage scene = Scene();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("scene001.png"));
    for (auto _ : state) {
        QImageWriter writer(file, "png");
        if (!writer.write(scene))
            state.SkipWithError("not written");
    }
}

} // namespace

BENCHMARK(BM_SavePngWithProvenance)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SavePngQtAlone)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
