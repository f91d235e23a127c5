// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own BMP reader on arbitrary bytes: from memory and from a stream it must copy,
// then out to a bitmap and drawn, as a loaded picture would be.
#include "framework/EInvalidGraphic.h"
#include "framework/Platform.h"
#include "framework/TStream.h"
#include "graphics/UDIB.h"

#include <QBuffer>

#include <cstdint>
#include <cstring>

namespace {

// A stream that cannot seek, so the reader takes its copying path.
class TSequentialStream : public QIODevice {
public:
    TSequentialStream(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size)
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return static_cast<qint64>(FSize - FAt) + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(max), FSize - FAt);
        if (count > 0)
            std::memcpy(data, FData + FAt, count);
        FAt += count;
        return static_cast<qint64>(count);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FAt = 0;
};

void Exercise(TDIB& dib)
{
    for (const TPlatformFamily family : {TPlatformFamily::NT, TPlatformFamily::Win9x}) {
        const TPlatformFamilyOverride platform(family);
        TBitmap bitmap;
        try {
            dib.SaveToBitmap(bitmap);
        } catch (const EInvalidGraphic&) {
        }
    }
    TBitmap target;
    target.SetPixelFormat(TPixelFormat::pf24bit);
    target.SetSize(16, 16);
    dib.DrawDevice(target.Canvas(), QRect(0, 0, 16, 16), QRect(0, 0, dib.Width(), dib.Height()));
    dib.StretchDraw(target.Canvas(), QRect(0, 0, 7, 5), QRect(1, 1, 3, 9));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    try {
        TDIB dib;
        dib.LoadFromStream(buffer);
        Exercise(dib);
    } catch (const Exception&) {
    }
    try {
        TSequentialStream stream(data, size);
        TDIB dib;
        dib.LoadFromStream(stream);
    } catch (const Exception&) {
    }
    return 0;
}
