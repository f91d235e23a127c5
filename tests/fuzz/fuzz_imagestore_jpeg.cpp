// SPDX-License-Identifier: GPL-3.0-or-later
// The JPEG header probe and the checked JPEG load on arbitrary bytes, decoded as thumbnails
// are (1/8, fast, no smoothing) and, for small pictures, at full size.
#include "framework/EInvalidGraphic.h"
#include "imagestore/USafetyBitmap.h"

#include <QBuffer>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Full-size decodes of large pictures only cost time; the thumbnail path covers them.
    constexpr std::int64_t kFullSizePixels = 1 << 20;
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const TJPEGHeaderInfo probed = ProbeJPEGHeader(buffer);
    if (buffer.pos() != 0)
        __builtin_trap();
    (void)probed;
    try {
        TSafetyJPEGImage image;
        image.LoadFromStream(buffer);
        image.SetScale(TJPEGScale::jsEighth);
        image.SetPerformance(TJPEGPerformance::jpBestSpeed);
        image.SetSmoothing(false);
        image.DIBNeeded();
        if (static_cast<std::int64_t>(image.Components()) > 0
            && static_cast<std::int64_t>(image.Width()) * image.Height() * 64 <= kFullSizePixels) {
            image.SetScale(TJPEGScale::jsFullSize);
            image.DIBNeeded();
        }
    } catch (const Exception&) {
    }
    return 0;
}
