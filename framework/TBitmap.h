// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The framework bitmap: a device-independent picture with a pixel format, rows addressed from
// the top, a canvas that draws on it, and transparency attributes. It keeps its pixels in a
// QImage whose rows are padded to 4 bytes, so a ScanLine row has the layout of a Windows DIB
// row for 1, 8, 15, 16, 24 and 32 bits. Qt has no 4-bit image: a 4-bit bitmap keeps one byte
// per pixel (with a 16-entry colour table) and is packed only when it is saved.
// Copies are deep: a copy never shares pixels that a later write through either would change.
#include "framework/TCanvas.h"
#include "framework/TGraphic.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

inline constexpr const char* kInvalidBitmapText = "ビットマップイメージが不正です";

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

class TBitmap : public TGraphic {
    FRAMORA_GRAPHIC_CLASS(TBitmap, TGraphic, "TBitmap")
public:
    TBitmap();
    TBitmap(const TBitmap& other);
    // Copies the pixels (a copy is made as Assign makes it).
    TBitmap& operator=(const TBitmap& other);
    ~TBitmap() override;
    // Takes other's pixels without copying them: both read the same rows until one of them
    // writes, which then writes to rows of its own. A 4K picture handed over costs nothing.
    void Share(const TBitmap& other);

    int Width() const override { return FImage.width(); }
    int Height() const override { return FImage.height(); }
    bool Empty() const override { return FImage.isNull(); }
    void SetWidth(int width) override { SetSize(width, Height()); }
    void SetHeight(int height) override { SetSize(Width(), height); }
    // Keeps the pixels of the overlapping area; new pixels are zero (black, or palette entry 0).
    void SetSize(int width, int height);

    TPixelFormat PixelFormat() const { return FPixelFormat; }
    // Converts the existing pixels to the new format.
    void SetPixelFormat(TPixelFormat format);
    bool Monochrome() const { return FPixelFormat == TPixelFormat::pf1bit; }
    void SetMonochrome(bool monochrome);
    // Kept for the callers that ask for a handle before drawing; pixels always exist here.
    void HandleNeeded() {}

    // Row y counted from the top; valid until the size or pixel format changes.
    std::uint8_t* ScanLine(int y);
    const std::uint8_t* ScanLine(int y) const;
    int BytesPerLine() const { return static_cast<int>(FImage.bytesPerLine()); }

    // Rows with room after them for converters that store whole blocks of pixels (made by
    // framework/FFmpegRows): the bitmap takes rows (24-bit when they are BGR888) as its pixels.
    // HasRowsWithRoom holds while they stay its own: a resize, a new image or a write after a
    // copy took them gives ordinary rows again.
    void TakeRowsWithRoom(QImage rows);
    bool HasRowsWithRoom() const;

    // Fills the part of rect that lies inside the bitmap.
    void FillRect(const QRect& rect, const QColor& color);

    // From a bitmap: a deep copy (size, format, pixels, colour table, transparency). From any
    // other graphic: the graphic drawn onto a 24-bit bitmap of its size.
    void Assign(const TGraphic& source) override;
    // True when both hold the very same pixel memory (a copy made by the copy constructor
    // shares it until either side writes).
    bool SharesImage(const TBitmap& other) const;

    // Loads a Windows bitmap file image held in memory; raises EInvalidGraphic when the bytes
    // are not a bitmap this platform reads.
    void LoadFromMemory(std::span<const std::uint8_t> bytes);
    // Reads a Windows bitmap file at the stream's position (the file header's size says where
    // it ends; a size that does not fit the stream means "up to the end").
    void LoadFromStream(TStream& stream) override;
    // Writes a Windows bitmap file: bottom-up rows in the bitmap's own format.
    void SaveToStream(TStream& stream) const override;
    // Stored inside pictures with a 32-bit size in front.
    void ReadData(TStream& stream) override;
    void WriteData(TStream& stream) const override;
    void LoadFromClipboardFormat(std::uint16_t format, std::span<const std::uint8_t> data,
                                 const HPALETTE& palette) override;

    void Draw(TCanvas& canvas, const QRect& rect) override;
    TCanvas& Canvas();

    // The colour table of 1-, 4- and 8-bit bitmaps as a palette; null for the others.
    HPALETTE Palette() const override;
    void SetPalette(const HPALETTE& palette) override;

    // In auto mode the transparent colour is that of the bottom-left pixel.
    TColor TransparentColor() const;
    void SetTransparentColor(TColor color);
    TTransparentMode TransparentMode() const { return FTransparentMode; }
    void SetTransparentMode(TTransparentMode mode);

    // The pixels as Qt sees them, for painting; the bitmap stays the owner.
    const QImage& Image() const { return FImage; }
    QImage& Image() { return FImage; }
    static QImage::Format QtFormatFor(TPixelFormat format);

private:
    class TBitmapCanvas;
    void CanvasChanging(TObject* sender);
    void CanvasChanged(TObject* sender);

    TPixelFormat FPixelFormat = TPixelFormat::pfDevice;
    QImage FImage;
    // The serial number (cacheKey's high half) of the rows TakeRowsWithRoom took; -1 for none.
    qint64 FRowsWithRoom = -1;
    TTransparentMode FTransparentMode = TTransparentMode::tmAuto;
    TColor FTransparentColor = clDefault; // valid in tmFixed mode
    std::unique_ptr<TBitmapCanvas> FCanvas; // created on first use
};
