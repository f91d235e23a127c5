#include "framework/TBitmap.h"

#include "framework/EInvalidGraphic.h"

#include <QPainter>
#include <algorithm>

QImage::Format TBitmap::QtFormatFor(TPixelFormat format)
{
    switch (format) {
    case TPixelFormat::pf1bit: return QImage::Format_Mono;
    case TPixelFormat::pf4bit: // Qt has no 4-bit image; the palette keeps it at 16 entries.
    case TPixelFormat::pf8bit: return QImage::Format_Indexed8;
    case TPixelFormat::pf15bit: return QImage::Format_RGB555;
    case TPixelFormat::pf16bit: return QImage::Format_RGB16;
    case TPixelFormat::pf24bit: return QImage::Format_BGR888;
    case TPixelFormat::pf32bit: return QImage::Format_RGB32;
    case TPixelFormat::pfDevice:
    case TPixelFormat::pfCustom: break;
    }
    return QImage::Format_RGB32;
}

void TBitmap::SetSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == Width() && height == Height())
        return;
    if (width == 0 || height == 0) {
        FImage = QImage();
        return;
    }
    QImage resized(width, height, QtFormatFor(FPixelFormat));
    if (resized.isNull())
        throw EInvalidGraphic("bitmap too large");
    if (resized.format() == QImage::Format_Indexed8 || resized.format() == QImage::Format_Mono)
        resized.setColorTable(FImage.isNull() ? QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)}
                                              : FImage.colorTable());
    resized.fill(0);
    const int rows = std::min(height, Height());
    const int bytes = std::min(resized.bytesPerLine(), FImage.bytesPerLine());
    for (int y = 0; y < rows; ++y)
        std::copy_n(FImage.constScanLine(y), bytes, resized.scanLine(y));
    FImage = std::move(resized);
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == FPixelFormat)
        return;
    FPixelFormat = format;
    if (!FImage.isNull())
        FImage = FImage.convertToFormat(QtFormatFor(format));
}

std::uint8_t* TBitmap::ScanLine(int y)
{
    return FImage.scanLine(y);
}

const std::uint8_t* TBitmap::ScanLine(int y) const
{
    return FImage.constScanLine(y);
}

void TBitmap::FillRect(const QRect& rect, const QColor& color)
{
    const QRect area = rect.intersected(FImage.rect());
    if (area.isEmpty())
        return;
    if (FImage.format() == QImage::Format_Indexed8 || FImage.format() == QImage::Format_Mono) {
        // QPainter cannot draw on palette images: fill with the nearest palette entry.
        const QList<QRgb> table = FImage.colorTable();
        int best = 0;
        int bestDistance = INT32_MAX;
        for (int i = 0; i < table.size(); ++i) {
            const int dr = qRed(table[i]) - color.red(), dg = qGreen(table[i]) - color.green(),
                      db = qBlue(table[i]) - color.blue();
            if (dr * dr + dg * dg + db * db < bestDistance) {
                bestDistance = dr * dr + dg * dg + db * db;
                best = i;
            }
        }
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                FImage.setPixel(x, y, static_cast<uint>(best));
        return;
    }
    QPainter painter(&FImage);
    painter.fillRect(area, color);
}

void TBitmap::Assign(const TBitmap& source)
{
    FPixelFormat = source.FPixelFormat;
    FImage = source.FImage.copy();
}

void TBitmap::LoadFromMemory(std::span<const std::uint8_t> bytes)
{
    QImage loaded;
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX)
        || !loaded.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "BMP"))
        throw EInvalidGraphic("Bitmap image is not valid");
    FPixelFormat = loaded.depth() == 32 ? TPixelFormat::pf32bit : TPixelFormat::pf24bit;
    FImage = loaded.convertToFormat(QtFormatFor(FPixelFormat));
}
