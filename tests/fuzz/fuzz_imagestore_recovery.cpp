// SPDX-License-Identifier: GPL-3.0-or-later
// Bytes read back as a scene kept for recovery: a damaged or forged file is refused, never read
// out of bounds and never made into a huge picture.
#include "imagestore/USceneRecovery.h"

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Reading a PNG needs the image plugins, which a GUI application loads.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    const std::optional<TRecoveredScene> scene = DecodeRecoveredScene(bytes, error);
    if (scene) {
        // What the window stores: a 24-bit picture of the size the header gives, within bounds.
        if (scene->Picture.format() != QImage::Format_BGR888 || scene->Picture.size() != scene->Origin.ShownSize
            || std::int64_t{scene->Picture.width()} * scene->Picture.height() > MaxRecoveredScenePixels)
            std::abort();
        // A scene that reads must write back to the same picture.
        QString again;
        const std::optional<TRecoveredScene> copy = DecodeRecoveredScene(EncodeRecoveredScene(scene->Picture, scene->Origin), again);
        if (!copy || copy->Picture != scene->Picture)
            std::abort();
    } else if (error.isEmpty()) {
        std::abort();
    }
    return 0;
}
