// SPDX-License-Identifier: GPL-3.0-or-later
#include "graphics/UDIB.h"

#include "framework/EInvalidGraphic.h"
#include "framework/Platform.h"
#include "graphics/UCanvas.h"
#include "graphics/UDIBScaling.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>

// ---------------------------------------------------------------------------------------------
// TBitsHolder

void TBitsHolder::SetOwnedBits(std::unique_ptr<std::uint8_t[]> bits, std::size_t size)
{
    FStorage = QByteArray();
    FOwnedBits = std::move(bits);
    FBits = FOwnedBits.get();
    FSize = size;
}

void TBitsHolder::SetBorrowedBits(const std::uint8_t* bits, std::size_t size)
{
    FStorage = QByteArray();
    FOwnedBits.reset();
    FBits = bits;
    FSize = size;
}

void TBitsHolder::SetSharedBits(const QByteArray& storage, const std::uint8_t* bits, std::size_t size)
{
    FOwnedBits.reset();
    FStorage = storage;
    FBits = bits;
    FSize = size;
}

const std::uint8_t* TBitsHolder::GetBits(const TBitmap* bitmap) const
{
    // Borrowed bits follow the bitmap they come from, should it have moved its pixels.
    if (!Owned() && bitmap && !bitmap->Empty() && !IsNTFamily())
        return bitmap->Image().constBits();
    return FBits;
}

// ---------------------------------------------------------------------------------------------
// TDIB: loading and saving

TDIB::TDIB() = default;
TDIB::~TDIB() = default;

int TDIB::Height() const
{
    return static_cast<int>(std::min<std::int64_t>(std::abs(static_cast<std::int64_t>(FInfo.Header().biHeight)),
                                                   std::numeric_limits<int>::max()));
}

std::int64_t TDIB::StrideOfRows() const
{
    const BITMAPINFOHEADER& header = FInfo.Header();
    return bmp::RowStride(header.biWidth, std::uint64_t{header.biBitCount} * header.biPlanes);
}

void TDIB::Assign(const TDIB& source)
{
    if (this == &source)
        return;
    FInfo.Assign(source.FInfo);
    FBits = source.FBits;
    FBitmap.reset();
    if (source.FBitmap)
        FBitmap = std::make_unique<TBitmap>(*source.FBitmap);
}

void TDIB::LoadFromStream(TStream& stream)
{
    // Drop the kept bitmap; view the BMP data (this moves the stream past it).
    FBitmap.reset();
    const TBitmapStreamHolder holder(stream);
    const std::uint8_t* header = holder.Data() + kFileHeaderSize;
    const std::uint64_t available = holder.Size() - kFileHeaderSize;
    // The header, converted to an info header.
    TBMPInfo info;
    info.LoadFromHeader(header, static_cast<std::size_t>(available));
    // The pixel rows, right after the header as stored (bfOffBits is not trusted).
    const std::uint64_t infoSize = bmp::InfoSize(header);
    const auto imageSize = static_cast<std::size_t>(bmp::ImageSize(header));
    auto holderBits = std::make_shared<TBitsHolder>();
    if (!holder.Storage().isNull()) {
        // The rows stay where they were read: a large picture is not moved once more.
        holderBits->SetSharedBits(holder.Storage(), header + infoSize, imageSize);
    } else {
        auto bits = std::make_unique_for_overwrite<std::uint8_t[]>(std::max<std::size_t>(imageSize, 1));
        std::memcpy(bits.get(), header + infoSize, imageSize);
        holderBits->SetOwnedBits(std::move(bits), imageSize);
    }
    FInfo.Assign(info);
    FBits = std::move(holderBits);
    // The stream holder goes with this scope.
}

namespace {

// How a framework bitmap's rows read as DIB rows, when they do.
struct TDIBLayout {
    std::uint16_t BitCount = 0;
    std::uint32_t Compression = BI_RGB;
    std::uint32_t Masks[3] = {};
};

bool LayoutOf(const QImage& image, TDIBLayout& layout)
{
    switch (image.format()) {
    case QImage::Format_Mono: layout = {1, BI_RGB, {}}; return true;
    case QImage::Format_Indexed8: layout = {8, BI_RGB, {}}; return true;
    case QImage::Format_RGB555: layout = {16, BI_RGB, {}}; return true;
    case QImage::Format_RGB16: layout = {16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}}; return true;
    case QImage::Format_BGR888: layout = {24, BI_RGB, {}}; return true;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: layout = {32, BI_RGB, {}}; return true;
    default: return false;
    }
}

void WriteColorTable(std::span<std::uint8_t> table, const QList<QRgb>& colors)
{
    const std::size_t count = std::min<std::size_t>(table.size() / 4, static_cast<std::size_t>(colors.size()));
    for (std::size_t i = 0; i < count; ++i) {
        const QRgb color = colors[static_cast<qsizetype>(i)];
        table[4 * i] = static_cast<std::uint8_t>(qBlue(color));
        table[4 * i + 1] = static_cast<std::uint8_t>(qGreen(color));
        table[4 * i + 2] = static_cast<std::uint8_t>(qRed(color));
        table[4 * i + 3] = 0;
    }
}

QList<QRgb> PaletteColors(const HPALETTE& palette)
{
    QList<QRgb> colors;
    if (palette)
        for (const TPaletteEntry& entry : palette->Entries())
            colors.append(qRgb(entry.peRed, entry.peGreen, entry.peBlue));
    return colors;
}

// Palette images read indices past their table; give them all 2^bits entries.
QList<QRgb> ColorTableOf(const TBMPInfo& info, int entries)
{
    QList<QRgb> colors(entries, qRgb(0, 0, 0));
    const auto table = info.ColorTable();
    const std::size_t count = std::min<std::size_t>({table.size() / 4, static_cast<std::size_t>(entries),
                                                     static_cast<std::size_t>(bmp::ColorCount(info.Block()))});
    for (std::size_t i = 0; i < count; ++i)
        colors[static_cast<qsizetype>(i)] = qRgb(table[4 * i + 2], table[4 * i + 1], table[4 * i]);
    return colors;
}

void AdoptImage(TBitmap& bitmap, QImage image, TPixelFormat format)
{
    bitmap.SetSize(0, 0);
    bitmap.SetPixelFormat(format);
    bitmap.Image() = std::move(image);
    bitmap.Changed(&bitmap);
}

} // namespace

void TDIB::LoadFromBitmap(const TBitmap& bitmap)
{
    // Framework bitmaps are all DIB sections here: a palette only for palette formats.
    HPALETTE palette;
    if (bitmap.Image().depth() <= 8 && !bitmap.Empty()) {
        std::vector<TPaletteEntry> entries;
        for (const QRgb color : bitmap.Image().colorTable())
            entries.push_back({static_cast<std::uint8_t>(qRed(color)), static_cast<std::uint8_t>(qGreen(color)),
                               static_cast<std::uint8_t>(qBlue(color)), 0});
        palette = CreatePalette(entries);
    }
    // Borrowed pixels: keep a bitmap sharing the image so they stay alive.
    if (LoadFromHandle(bitmap, palette)) {
        FBitmap = std::make_unique<TBitmap>(bitmap);
        std::static_pointer_cast<TBitsHolder>(FBits)->SetBorrowedBits(FBitmap->Image().constBits(),
                                                                       FBits->Size());
        return;
    }
    // Copied pixels; the 9x family draws through a kept copy.
    if (!IsNTFamily())
        FBitmap = std::make_unique<TBitmap>(bitmap);
}

bool TDIB::LoadFromHandle(const TBitmap& bitmap, const HPALETTE& palette)
{
    FBitmap.reset();
    auto holder = std::make_shared<TBitsHolder>();
    const QImage& image = bitmap.Image();
    TDIBLayout layout;
    // Rows laid out wider than a DIB's (a decoder's, with room for its converter) are copied.
    if (!bitmap.Empty() && LayoutOf(image, layout)
        && image.bytesPerLine() == (std::int64_t{image.width()} * layout.BitCount + 31) / 32 * 4) {
        // The rows are DIB rows already (top-down): borrow them.
        const std::size_t size = static_cast<std::size_t>(image.sizeInBytes());
        holder->SetBorrowedBits(image.constBits(), size);
        const std::size_t tableEntries = layout.BitCount <= 8 ? bmp::ColorCountFor(layout.BitCount) : 0;
        FInfo.Allocate(kInfoHeaderSize + (layout.Compression == BI_BITFIELDS ? 12 : 4 * tableEntries));
        BITMAPINFOHEADER& header = FInfo.Header();
        header.biSize = kInfoHeaderSize;
        header.biWidth = image.width();
        header.biHeight = -image.height();
        header.biPlanes = 1;
        header.biBitCount = layout.BitCount;
        header.biCompression = layout.Compression;
        header.biSizeImage = static_cast<std::uint32_t>(std::min<std::size_t>(size, UINT32_MAX));
        if (layout.Compression == BI_BITFIELDS)
            std::memcpy(FInfo.ColorTable().data(), layout.Masks, sizeof layout.Masks);
        else
            WriteColorTable(FInfo.ColorTable(), image.colorTable());
        FBits = std::move(holder);
        return true;
    }
    // Anything else is copied as 24-bit bottom-up rows, with the palette as colour table.
    const QImage rgb = bitmap.Empty() ? QImage() : image.convertToFormat(QImage::Format_BGR888);
    const QList<QRgb> colors = PaletteColors(palette);
    const std::size_t entries = std::min<std::size_t>(static_cast<std::size_t>(colors.size()), 256);
    FInfo.Allocate(kInfoHeaderSize + 4 * entries);
    BITMAPINFOHEADER& header = FInfo.Header();
    header.biSize = kInfoHeaderSize;
    header.biWidth = rgb.width();
    header.biHeight = rgb.height();
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biClrUsed = header.biClrImportant = static_cast<std::uint32_t>(entries);
    WriteColorTable(FInfo.ColorTable(), colors);
    const auto stride = static_cast<std::size_t>(StrideOfRows());
    const std::size_t size = stride * static_cast<std::size_t>(rgb.height());
    header.biSizeImage = static_cast<std::uint32_t>(std::min<std::size_t>(size, UINT32_MAX));
    auto bits = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(size, 1));
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(bits.get() + stride * static_cast<std::size_t>(rgb.height() - 1 - y), rgb.constScanLine(y),
                    static_cast<std::size_t>(rgb.width()) * 3);
    holder->SetOwnedBits(std::move(bits), size);
    FBits = std::move(holder);
    return false;
}

void TDIB::SaveToBitmap(TBitmap& bitmap) const
{
    if (FBitmap) {
        bitmap.Assign(*FBitmap);
        return;
    }
    // The DIB-section way writes straight into the bitmap.
    if (IsNTFamily()) {
        const std::uint32_t compression = FInfo.Header().biCompression;
        if ((compression != BI_RGB && compression != BI_BITFIELDS) || !CreateDIBSectionHandle(bitmap))
            bitmap.Assign(CreateDDBHandle());
        return;
    }
    SaveToBitmapThroughCanvas(bitmap);
}

TBitmap TDIB::CreateBitmapHandle() const
{
    const BITMAPINFOHEADER& header = FInfo.Header();
    TBitmap bitmap;
    if ((header.biCompression == BI_RGB || header.biCompression == BI_BITFIELDS) && CreateDIBSectionHandle(bitmap))
        return bitmap;
    return CreateDDBHandle();
}

bool TDIB::CreateDIBSectionHandle(TBitmap& bitmap) const
{
    const BITMAPINFOHEADER& header = FInfo.Header();
    const std::uint32_t bits = std::uint32_t{header.biBitCount} * header.biPlanes;
    QImage::Format format = QImage::Format_Invalid;
    TPixelFormat pixelFormat = TPixelFormat::pfCustom;
    if (header.biCompression == BI_RGB) {
        switch (bits) {
        case 1: format = QImage::Format_Mono; pixelFormat = TPixelFormat::pf1bit; break;
        case 4: format = QImage::Format_Indexed8; pixelFormat = TPixelFormat::pf4bit; break;
        case 8: format = QImage::Format_Indexed8; pixelFormat = TPixelFormat::pf8bit; break;
        case 16: format = QImage::Format_RGB555; pixelFormat = TPixelFormat::pf15bit; break;
        case 24: format = QImage::Format_BGR888; pixelFormat = TPixelFormat::pf24bit; break;
        case 32: format = QImage::Format_RGB32; pixelFormat = TPixelFormat::pf32bit; break;
        default: return false;
        }
    } else {
        std::array<std::uint32_t, 3> masks{};
        if (!ReadBitFieldMasks({FInfo.Block(), FInfo.Size()}, masks))
            return false;
        const auto is = [&masks](std::uint32_t r, std::uint32_t g, std::uint32_t b) {
            return masks[0] == r && masks[1] == g && masks[2] == b;
        };
        if (bits == 16 && is(0x7C00, 0x03E0, 0x001F)) {
            format = QImage::Format_RGB555;
            pixelFormat = TPixelFormat::pf15bit;
        } else if (bits == 16 && is(0xF800, 0x07E0, 0x001F)) {
            format = QImage::Format_RGB16;
            pixelFormat = TPixelFormat::pf16bit;
        } else if (bits == 32 && is(0xFF0000, 0xFF00, 0xFF)) {
            format = QImage::Format_RGB32;
            pixelFormat = TPixelFormat::pf32bit;
        } else {
            return false;
        }
    }
    const std::int64_t stride = StrideOfRows();
    const std::int64_t width = header.biWidth;
    const std::int64_t height = Height();
    if (!FBits || width <= 0 || height <= 0 || stride <= 0
        || static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(height) > FBits->Size())
        return false;
    QImage image(static_cast<int>(width), static_cast<int>(height), format);
    if (image.isNull())
        throw EInvalidGraphic("bitmap too large");
    if (bits <= 8)
        image.setColorTable(ColorTableOf(FInfo, bits == 1 ? 2 : 256));
    const std::uint8_t* source = FBits->GetBits(FBitmap.get());
    const bool bottomUp = header.biHeight > 0;
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint8_t* row = source + stride * (bottomUp ? height - 1 - y : y);
        std::uint8_t* out = image.scanLine(static_cast<int>(y));
        if (bits == 4) {
            for (std::int64_t x = 0; x < width; ++x)
                out[x] = (x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 0x0F;
        } else if (bits == 32) {
            // Qt's 32-bit RGB wants the unused byte at FF.
            for (std::int64_t x = 0; x < width; ++x) {
                std::memcpy(out + 4 * x, row + 4 * x, 3);
                out[4 * x + 3] = 0xFF;
            }
        } else {
            std::memcpy(out, row, static_cast<std::size_t>(std::min<std::int64_t>(stride, image.bytesPerLine())));
        }
    }
    AdoptImage(bitmap, std::move(image), pixelFormat);
    return true;
}

bool TDIB::Drawable() const
{
    const BITMAPINFOHEADER& header = FInfo.Header();
    const std::uint32_t bits = std::uint32_t{header.biBitCount} * header.biPlanes;
    const bool knownDepth = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    return knownDepth && (header.biCompression == BI_RGB || header.biCompression == BI_BITFIELDS);
}

TBitmap TDIB::CreateDDBHandle() const
{
    if (!Drawable())
        throw EInvalidGraphic(kInvalidBitmapText);
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(Width(), Height());
    if (!bitmap.Empty()) {
        bitmap.Canvas().SetCopyMode(SRCCOPY);
        StretchDraw(bitmap.Canvas(), QRect(0, 0, Width(), Height()), QRect(0, 0, Width(), Height()));
    }
    return bitmap;
}

void TDIB::SaveToBitmapThroughCanvas(TBitmap& bitmap) const
{
    if (!Drawable())
        throw EInvalidGraphic(kInvalidBitmapText);
    const BITMAPINFOHEADER& header = FInfo.Header();
    bitmap.SetSize(0, 0);
    switch (std::uint32_t{header.biBitCount} * header.biPlanes) {
    case 1: bitmap.SetPixelFormat(TPixelFormat::pf1bit); break;
    case 4: bitmap.SetPixelFormat(TPixelFormat::pf4bit); break;
    case 8: bitmap.SetPixelFormat(TPixelFormat::pf8bit); break;
    default: bitmap.SetPixelFormat(TPixelFormat::pf24bit); break;
    }
    // A top-down DIB gives a bitmap of its real height (bitmaps have no negative heights).
    bitmap.SetSize(Width(), Height());
    if (header.biBitCount <= 8) {
        const QList<QRgb> colors = ColorTableOf(FInfo, static_cast<int>(bmp::ColorCountFor(header.biBitCount)));
        std::vector<TPaletteEntry> entries;
        for (const QRgb color : colors)
            entries.push_back({static_cast<std::uint8_t>(qRed(color)), static_cast<std::uint8_t>(qGreen(color)),
                               static_cast<std::uint8_t>(qBlue(color)), 0});
        bitmap.SetPalette(CreatePalette(entries));
    }
    if (bitmap.Empty())
        return;
    TCanvas& canvas = bitmap.Canvas();
    canvas.Lock();
    try {
        StretchDraw(canvas, QRect(0, 0, Width(), Height()), QRect(0, 0, Width(), Height()));
    } catch (...) {
        canvas.Unlock();
        throw;
    }
    canvas.Unlock();
}

// ---------------------------------------------------------------------------------------------
// TDIB: drawing

void TDIB::Draw(TCanvas& canvas, const QRect& destRect, const QRect& srcRect) const
{
    // Logical to device coordinates.
    const QRect deviceRect(canvas.LPtoDP(destRect.topLeft()),
                           canvas.LPtoDP(QPoint(destRect.left() + destRect.width(), destRect.top() + destRect.height())));
    const QRect dest(deviceRect.topLeft(), QSize(deviceRect.right() - deviceRect.left(), deviceRect.bottom() - deviceRect.top()));
    // Device units for the length of the draw.
    const TInterfaceRef<IInterface> saved = SaveCanvasState(canvas, true);
    TCoordMap::ResetMapping(canvas);
    DrawDevice(canvas, dest, srcRect);
}

void TDIB::DrawDevice(TCanvas& canvas, const QRect& destRect, const QRect& srcRect) const
{
    if (!FBits)
        return;
    if (destRect.size() == srcRect.size()) {
        StretchDraw(canvas, destRect, srcRect);
        return;
    }
    if (!IsPrinterCanvas(canvas) && FBitmap && IsScalableFormat(FBitmap->PixelFormat())) {
        ScaledCopyDraw(canvas, *FBitmap, destRect, srcRect);
        return;
    }
    if (StretchDraw(canvas, destRect, srcRect))
        return;
    // Row by row over the whole DIB; a failure here is left as it is.
    const std::int64_t h = destRect.height();
    const std::int64_t H = Height();
    for (std::int64_t k = 0; k < h; ++k) {
        const auto first = static_cast<int>(k * H / h);
        auto last = static_cast<int>((k + 1) * H / h);
        if (last == first)
            last = first + 1;
        StretchDraw(canvas, QRect(destRect.left(), destRect.top() + static_cast<int>(k), destRect.width(), 1),
                    QRect(0, first, Width(), last - first));
    }
}

bool TDIB::StretchDraw(TCanvas& canvas, const QRect& destRect, const QRect& srcRect) const
{
    if (!FBits)
        return true;
    if (destRect.width() == 0 && destRect.height() == 0 && srcRect.width() == 0 && srcRect.height() == 0)
        return true;
    if (!canvas.RectVisible(destRect))
        return true;
    // Bottom-up rows count the source from the bottom.
    const BITMAPINFOHEADER& header = FInfo.Header();
    const int sourceY = header.biHeight > 0 ? header.biHeight - (srcRect.top() + srcRect.height()) : srcRect.top();
    canvas.SetStretchBltMode(COLORONCOLOR);
    const std::uint8_t* bits = FBits->GetBits(FBitmap.get());
    return ::StretchDIBits(canvas, destRect.left(), destRect.top(), destRect.width(), destRect.height(),
                           srcRect.left(), sourceY, srcRect.width(), srcRect.height(),
                           std::span<const std::uint8_t>(bits, FBits->Size()),
                           std::span<const std::uint8_t>(FInfo.Block(), FInfo.Size()), DIB_RGB_COLORS,
                           canvas.CopyMode())
        != 0;
}
