#pragma once
// The framework bitmap: a device-independent picture with a pixel format, rows addressed from
// the top, and the handful of operations the units use. It keeps its pixels in a QImage whose
// rows are already padded to 4 bytes, so ScanLine rows match the layout of a Windows DIB row.
#include <QColor>
#include <QImage>
#include <QRect>
#include <cstddef>
#include <cstdint>
#include <span>

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

class TBitmap {
public:
    TBitmap() = default;
    TBitmap(const TBitmap& other) = default;
    TBitmap& operator=(const TBitmap& other) = default;
    virtual ~TBitmap() = default;

    int Width() const { return FImage.width(); }
    int Height() const { return FImage.height(); }
    bool Empty() const { return FImage.isNull(); }
    void SetWidth(int width) { SetSize(width, Height()); }
    void SetHeight(int height) { SetSize(Width(), height); }
    // Keeps the pixels of the overlapping area; new pixels are undefined (callers fill them).
    void SetSize(int width, int height);

    TPixelFormat PixelFormat() const { return FPixelFormat; }
    // Converts the existing pixels to the new format.
    void SetPixelFormat(TPixelFormat format);

    // Row y counted from the top; valid until the size or pixel format changes.
    std::uint8_t* ScanLine(int y);
    const std::uint8_t* ScanLine(int y) const;
    int BytesPerLine() const { return static_cast<int>(FImage.bytesPerLine()); }

    // Fills the part of rect that lies inside the bitmap.
    void FillRect(const QRect& rect, const QColor& color);

    // Makes this bitmap a deep copy of source (size, format, pixels).
    void Assign(const TBitmap& source);

    // Loads a Windows bitmap file image held in memory; raises EInvalidGraphic when the bytes
    // are not a bitmap this platform reads.
    void LoadFromMemory(std::span<const std::uint8_t> bytes);

    // The pixels as Qt sees them, for painting; the bitmap stays the owner.
    const QImage& Image() const { return FImage; }
    QImage& Image() { return FImage; }
    static QImage::Format QtFormatFor(TPixelFormat format);

private:
    TPixelFormat FPixelFormat = TPixelFormat::pfDevice;
    QImage FImage;
};
