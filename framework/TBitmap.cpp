// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TBitmap.h"

#include "framework/EInvalidGraphic.h"
#include "framework/StretchDIBits.h"

#include <QBuffer>
#include <QPainter>
#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

// The bitmap's canvas opens the bitmap's image for each operation. QPainter cannot draw on
// palette images, so those are drawn on as 32-bit copies and mapped back to their colour table.
class TBitmap::TBitmapCanvas : public TCanvas {
public:
    explicit TBitmapCanvas(TBitmap& bitmap) : FBitmap(bitmap) {}

protected:
    QPaintDevice* BeginDevice() override
    {
        QImage& image = FBitmap.FImage;
        if (image.isNull())
            return nullptr;
        if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono) {
            FConverted = image.convertToFormat(QImage::Format_RGB32);
            return &FConverted;
        }
        return &image;
    }
    void EndDevice(bool changed) override
    {
        if (FConverted.isNull())
            return;
        QImage& image = FBitmap.FImage;
        if (changed)
            image = FConverted.convertToFormat(image.format(), image.colorTable(), Qt::ThresholdDither);
        FConverted = QImage();
    }
    QImage* DeviceImageForWrite() override { return FBitmap.FImage.isNull() ? nullptr : &FBitmap.FImage; }

private:
    TBitmap& FBitmap;
    QImage FConverted; // valid between BeginDevice and EndDevice for palette images
};

namespace {
// The sixteen colours of a 4-bit bitmap's default colour table.
const QList<QRgb>& FourBitColors()
{
    static const QList<QRgb> colors{
        qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
        qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
        qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
    return colors;
}

int BitsPerPixel(TPixelFormat format)
{
    switch (format) {
    case TPixelFormat::pf1bit: return 1;
    case TPixelFormat::pf4bit: return 4;
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit: return 16;
    case TPixelFormat::pf24bit: return 24;
    default: return 32;
    }
}

TPixelFormat FormatForBits(int bits, std::uint32_t compression)
{
    switch (bits) {
    case 1: return TPixelFormat::pf1bit;
    case 4: return TPixelFormat::pf4bit;
    case 8: return TPixelFormat::pf8bit;
    case 16: return compression == BI_BITFIELDS ? TPixelFormat::pf16bit : TPixelFormat::pf15bit;
    case 24: return TPixelFormat::pf24bit;
    case 32: return TPixelFormat::pf32bit;
    default: return TPixelFormat::pfCustom;
    }
}

template <class T>
T ReadLE(const std::uint8_t* p)
{
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Plain 8- and 24-bit bitmaps with the 40-byte header, which is what every movie frame is, are
// copied row by row: Qt's reader widens them to 32 bits and back at several times the cost.
// Anything else (or anything that does not add up) is left to Qt's reader, and image is left
// alone. An image of the same size and format that nothing shares is written over in place: a
// fresh one per frame would cost the process new pages from the system every time.
bool ReadPlainBitmap(std::span<const std::uint8_t> bytes, QImage& image)
{
    constexpr std::size_t headersSize = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    constexpr int MaxColours = 256;
    if (bytes.size() < headersSize)
        return false;
    BITMAPINFOHEADER header{};
    std::memcpy(&header, bytes.data() + sizeof(BITMAPFILEHEADER), sizeof header);
    const std::int64_t width = header.biWidth;
    const std::int64_t height = std::abs(std::int64_t{header.biHeight});
    const int bits = header.biBitCount;
    if (header.biSize != sizeof header || header.biCompression != BI_RGB || (bits != 8 && bits != 24)
        || width <= 0 || height <= 0 || width > INT16_MAX || height > INT16_MAX)
        return false;
    const std::int64_t colours = bits == 8 ? (header.biClrUsed != 0 ? std::int64_t{header.biClrUsed} : MaxColours) : 0;
    if (colours > MaxColours)
        return false;
    const std::int64_t tableEnd = std::int64_t{headersSize} + colours * 4;
    std::int64_t offBits = ReadLE<std::uint32_t>(bytes.data() + offsetof(BITMAPFILEHEADER, bfOffBits));
    if (offBits == 0)
        offBits = tableEnd;
    const std::int64_t stride = DIBRowStride(width, bits);
    if (offBits < tableEnd || offBits + stride * height > static_cast<std::int64_t>(bytes.size()))
        return false;

    const QImage::Format format = bits == 8 ? QImage::Format_Indexed8 : QImage::Format_BGR888;
    if (image.width() != width || image.height() != height || image.format() != format || !image.isDetached()) {
        QImage fresh(static_cast<int>(width), static_cast<int>(height), format);
        if (fresh.isNull())
            return false;
        image = std::move(fresh);
    }
    if (bits == 8) {
        QList<QRgb> table(MaxColours, qRgb(0, 0, 0)); // indices past biClrUsed read as black
        for (std::int64_t i = 0; i < colours; ++i) {
            const std::uint8_t* quad = bytes.data() + headersSize + 4 * i;
            table[i] = qRgb(quad[2], quad[1], quad[0]);
        }
        image.setColorTable(table);
    }
    const bool bottomUp = header.biHeight > 0;
    const std::uint8_t* pixels = bytes.data() + offBits;
    for (std::int64_t y = 0; y < height; ++y)
        std::memcpy(image.scanLine(static_cast<int>(y)), pixels + (bottomUp ? height - 1 - y : y) * stride,
                    static_cast<std::size_t>(width * bits / 8));
    return true;
}
} // namespace

TBitmap::TBitmap() = default;

TBitmap::TBitmap(const TBitmap& other)
    : TGraphic(other), FPixelFormat(other.FPixelFormat), FImage(other.FImage),
      FTransparentMode(other.FTransparentMode), FTransparentColor(other.FTransparentColor)
{
}

TBitmap& TBitmap::operator=(const TBitmap& other)
{
    Assign(other);
    return *this;
}

TBitmap::~TBitmap() = default;

void TBitmap::Share(const TBitmap& other)
{
    if (&other == this)
        return;
    FPixelFormat = other.FPixelFormat;
    FImage = other.FImage;
    FRowsWithRoom = -1;
    FTransparent = other.FTransparent;
    FTransparentMode = other.FTransparentMode;
    FTransparentColor = other.FTransparentColor;
    Changed(this);
}

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
        Changed(this);
        return;
    }
    QImage resized(width, height, QtFormatFor(FPixelFormat));
    if (resized.isNull())
        throw EInvalidGraphic("bitmap too large");
    if (resized.format() == QImage::Format_Indexed8 || resized.format() == QImage::Format_Mono) {
        QList<QRgb> table = FImage.colorTable();
        if (table.isEmpty())
            table = FPixelFormat == TPixelFormat::pf4bit ? FourBitColors()
                                                         : QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)};
        resized.setColorTable(table);
    }
    resized.fill(0);
    const int rows = std::min(height, Height());
    const int bytes = std::min(resized.bytesPerLine(), FImage.bytesPerLine());
    for (int y = 0; y < rows; ++y)
        std::copy_n(FImage.constScanLine(y), bytes, resized.scanLine(y));
    FImage = std::move(resized);
    Changed(this);
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == FPixelFormat)
        return;
    FPixelFormat = format;
    if (!FImage.isNull()) {
        if (format == TPixelFormat::pf4bit)
            FImage = FImage.convertToFormat(QImage::Format_Indexed8, FourBitColors(), Qt::ThresholdDither);
        else if (format == TPixelFormat::pf1bit)
            FImage = FImage.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
        else
            FImage = FImage.convertToFormat(QtFormatFor(format), Qt::AvoidDither);
    }
    Changed(this);
}

void TBitmap::SetMonochrome(bool monochrome)
{
    if (monochrome)
        SetPixelFormat(TPixelFormat::pf1bit);
    else if (Monochrome())
        SetPixelFormat(TPixelFormat::pfDevice);
}

std::uint8_t* TBitmap::ScanLine(int y)
{
    return FImage.scanLine(y);
}

const std::uint8_t* TBitmap::ScanLine(int y) const
{
    return FImage.constScanLine(y);
}

void TBitmap::TakeRowsWithRoom(QImage rows)
{
    if (rows.format() == QImage::Format_BGR888)
        FPixelFormat = TPixelFormat::pf24bit;
    FImage = std::move(rows);
    FRowsWithRoom = FImage.isNull() ? -1 : FImage.cacheKey() >> 32;
    Changed(this);
}

bool TBitmap::HasRowsWithRoom() const
{
    // A write through a shared image detaches it into ordinary rows with a serial of their own;
    // rows still shared would be detached by the next write.
    return !FImage.isNull() && FImage.cacheKey() >> 32 == FRowsWithRoom && FImage.isDetached();
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
    } else {
        QPainter painter(&FImage);
        painter.fillRect(area, color);
    }
    Changed(this);
}

void TBitmap::Assign(const TGraphic& source)
{
    if (&source == this)
        return;
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&source)) {
        FPixelFormat = bitmap->FPixelFormat;
        FImage = bitmap->FImage.copy();
        FTransparent = bitmap->FTransparent;
        FTransparentMode = bitmap->FTransparentMode;
        FTransparentColor = bitmap->FTransparentColor;
        Changed(this);
        return;
    }
    if (source.Empty()) {
        FImage = QImage();
        Changed(this);
        return;
    }
    // Any other graphic is drawn, on white, onto a 24-bit bitmap of its size.
    FImage = QImage();
    FPixelFormat = TPixelFormat::pf24bit;
    SetSize(source.Width(), source.Height());
    FImage.fill(Qt::white);
    const_cast<TGraphic&>(source).Draw(Canvas(), QRect(0, 0, Width(), Height()));
    Changed(this);
}

bool TBitmap::SharesImage(const TBitmap& other) const
{
    return !FImage.isNull() && FImage.cacheKey() == other.FImage.cacheKey();
}

void TBitmap::LoadFromMemory(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPCOREHEADER) || bytes.size() > std::size_t{INT32_MAX})
        throw EInvalidGraphic(kInvalidBitmapText);
    // Qt widens what it reads; the header says which depth the file had.
    const std::uint8_t* header = bytes.data() + sizeof(BITMAPFILEHEADER);
    const auto headerSize = ReadLE<std::uint32_t>(header);
    int bits = 0;
    std::uint32_t compression = BI_RGB;
    if (headerSize == sizeof(BITMAPCOREHEADER)) {
        bits = ReadLE<std::uint16_t>(header + offsetof(BITMAPCOREHEADER, bcBitCount));
    } else if (bytes.size() >= sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) {
        bits = ReadLE<std::uint16_t>(header + offsetof(BITMAPINFOHEADER, biBitCount));
        compression = ReadLE<std::uint32_t>(header + offsetof(BITMAPINFOHEADER, biCompression));
    }
    if (ReadPlainBitmap(bytes, FImage)) {
        FPixelFormat = FormatForBits(bits, compression);
        Changed(this);
        return;
    }
    // Run-length and other compressed rows are not bitmaps here, as for the program's own
    // reader, whichever thread reads them.
    QImage loaded;
    if ((compression != BI_RGB && compression != BI_BITFIELDS)
        || !loaded.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "BMP"))
        throw EInvalidGraphic(kInvalidBitmapText);
    // Qt fills rows missing from a cut file; here a cut file is not a bitmap.
    if (compression == BI_RGB && bits > 0) {
        const auto offBits = ReadLE<std::uint32_t>(bytes.data() + offsetof(BITMAPFILEHEADER, bfOffBits));
        const std::int64_t rows = DIBRowStride(loaded.width(), bits) * loaded.height();
        if (offBits != 0 && std::int64_t{offBits} + rows > static_cast<std::int64_t>(bytes.size()))
            throw EInvalidGraphic(kInvalidBitmapText);
    }
    const TPixelFormat format = FormatForBits(bits, compression);
    FPixelFormat = format;
    if (format == TPixelFormat::pf1bit || format == TPixelFormat::pf4bit || format == TPixelFormat::pf8bit)
        FImage = loaded.convertToFormat(QtFormatFor(format), loaded.colorTable(), Qt::ThresholdDither);
    else if (format == TPixelFormat::pfCustom)
        FImage = loaded;
    else
        FImage = loaded.convertToFormat(QtFormatFor(format));
    Changed(this);
}

void TBitmap::LoadFromStream(TStream& stream)
{
    BITMAPFILEHEADER header{};
    const std::int64_t remaining = RemainingBytes(stream);
    ReadBuffer(stream, &header, sizeof header);
    if (header.bfType != kBitmapFileType)
        throw EInvalidGraphic(kInvalidBitmapText);
    // Some writers leave the size 0; one that promises more than the stream holds is cut short.
    std::int64_t size = header.bfSize;
    if (size > remaining)
        throw EReadError();
    if (size < std::int64_t{sizeof header} + std::int64_t{sizeof(BITMAPCOREHEADER)})
        size = remaining;
    // A memory stream's bytes are read where they lie (a movie frame per call passes here).
    if (auto* buffer = qobject_cast<QBuffer*>(&stream); buffer && size >= std::int64_t{sizeof header}) {
        const std::int64_t start = buffer->pos() - std::int64_t{sizeof header};
        const auto* data = reinterpret_cast<const std::uint8_t*>(buffer->data().constData());
        LoadFromMemory(std::span(data + start, static_cast<std::size_t>(size)));
        buffer->seek(start + size);
        return;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::int64_t>(size, sizeof header)));
    std::memcpy(bytes.data(), &header, sizeof header);
    ReadBuffer(stream, bytes.data() + sizeof header, static_cast<std::int64_t>(bytes.size() - sizeof header));
    LoadFromMemory(bytes);
}

void TBitmap::SaveToStream(TStream& stream) const
{
    if (FImage.isNull())
        return;
    const int bits = BitsPerPixel(FPixelFormat);
    const bool bitfields = FPixelFormat == TPixelFormat::pf16bit;
    const QList<QRgb> table = bits <= 8 ? FImage.colorTable().mid(0, 1 << bits) : QList<QRgb>{};
    const std::int64_t stride = DIBRowStride(Width(), bits);
    const std::uint32_t extra = bitfields ? 12 : static_cast<std::uint32_t>(table.size() * sizeof(RGBQUAD));
    const std::uint32_t offBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + extra;
    const std::int64_t imageSize = stride * Height();

    BITMAPFILEHEADER file{kBitmapFileType, static_cast<std::uint32_t>(offBits + imageSize), 0, 0, offBits};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = Width();
    info.biHeight = Height();
    info.biPlanes = 1;
    info.biBitCount = static_cast<std::uint16_t>(bits);
    info.biCompression = bitfields ? BI_BITFIELDS : BI_RGB;
    info.biSizeImage = static_cast<std::uint32_t>(imageSize);
    info.biClrUsed = static_cast<std::uint32_t>(table.size());
    WriteBuffer(stream, &file, sizeof file);
    WriteBuffer(stream, &info, sizeof info);
    if (bitfields) {
        const std::array<std::uint32_t, 3> masks{0xF800, 0x07E0, 0x001F};
        WriteBuffer(stream, masks.data(), sizeof masks);
    }
    for (QRgb color : table) {
        const RGBQUAD quad{static_cast<std::uint8_t>(qBlue(color)), static_cast<std::uint8_t>(qGreen(color)),
                           static_cast<std::uint8_t>(qRed(color)), 0};
        WriteBuffer(stream, &quad, sizeof quad);
    }
    // Formats without a DIB row layout here are written from a 32-bit copy.
    const QImage rows = bits == 32 ? FImage.convertToFormat(QImage::Format_RGB32) : FImage;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(stride));
    for (int y = Height() - 1; y >= 0; --y) {
        std::fill(row.begin(), row.end(), 0);
        const std::uint8_t* source = rows.constScanLine(y);
        if (FPixelFormat == TPixelFormat::pf4bit) {
            for (int x = 0; x < Width(); ++x)
                row[static_cast<std::size_t>(x / 2)] |= static_cast<std::uint8_t>((source[x] & 0x0F) << (x % 2 ? 0 : 4));
        } else {
            // Only the pixels' bytes: the padding of Qt's rows is not initialised.
            const std::int64_t used = (std::int64_t{Width()} * bits + 7) / 8;
            std::memcpy(row.data(), source, static_cast<std::size_t>(used));
        }
        WriteBuffer(stream, row.data(), stride);
    }
}

void TBitmap::ReadData(TStream& stream)
{
    std::int32_t size = 0;
    ReadBuffer(stream, &size, sizeof size);
    if (size < 0 || size > RemainingBytes(stream))
        throw EReadError();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    ReadBuffer(stream, bytes.data(), size);
    if (bytes.empty()) {
        FImage = QImage();
        Changed(this);
        return;
    }
    LoadFromMemory(bytes);
}

void TBitmap::WriteData(TStream& stream) const
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    SaveToStream(buffer);
    const auto size = static_cast<std::int32_t>(buffer.data().size());
    WriteBuffer(stream, &size, sizeof size);
    WriteBuffer(stream, buffer.data().constData(), size);
}

void TBitmap::LoadFromClipboardFormat(std::uint16_t format, std::span<const std::uint8_t> data, const HPALETTE& palette)
{
    if (format != CF_DIB)
        return TGraphic::LoadFromClipboardFormat(format, data, palette);
    // A packed DIB: give it the file header it lacks, with the pixel offset worked out.
    if (data.size() < sizeof(BITMAPCOREHEADER))
        throw EInvalidGraphic(kInvalidBitmapText);
    const auto headerSize = ReadLE<std::uint32_t>(data.data());
    std::uint64_t offset = sizeof(BITMAPFILEHEADER) + headerSize;
    if (headerSize >= sizeof(BITMAPINFOHEADER) && data.size() >= sizeof(BITMAPINFOHEADER)) {
        const auto bits = ReadLE<std::uint16_t>(data.data() + offsetof(BITMAPINFOHEADER, biBitCount));
        const auto compression = ReadLE<std::uint32_t>(data.data() + offsetof(BITMAPINFOHEADER, biCompression));
        std::uint64_t colors = ReadLE<std::uint32_t>(data.data() + offsetof(BITMAPINFOHEADER, biClrUsed));
        if (colors == 0 && bits <= 8)
            colors = std::uint64_t{1} << bits;
        offset += compression == BI_BITFIELDS ? BitFieldMasksAfterHeader(headerSize) : colors * 4;
    }
    std::vector<std::uint8_t> bytes(sizeof(BITMAPFILEHEADER) + data.size());
    const BITMAPFILEHEADER file{kBitmapFileType, static_cast<std::uint32_t>(bytes.size()), 0, 0,
                                static_cast<std::uint32_t>(std::min<std::uint64_t>(offset, bytes.size()))};
    std::memcpy(bytes.data(), &file, sizeof file);
    std::memcpy(bytes.data() + sizeof file, data.data(), data.size());
    LoadFromMemory(bytes);
}

void TBitmap::Draw(TCanvas& canvas, const QRect& rect)
{
    if (FImage.isNull())
        return;
    if (!FTransparent) {
        canvas.DrawImage(rect, FImage);
        return;
    }
    // The transparent colour's pixels are left out; the others are copied.
    const TColor key = TransparentColor() & 0xFFFFFF;
    QImage masked = FImage.convertToFormat(QImage::Format_ARGB32);
    const QRgb keyRgb = qRgb(GetRValue(key), GetGValue(key), GetBValue(key));
    for (int y = 0; y < masked.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(masked.scanLine(y));
        for (int x = 0; x < masked.width(); ++x)
            if ((row[x] & 0xFFFFFF) == (keyRgb & 0xFFFFFF))
                row[x] = 0;
    }
    const TCopyMode mode = canvas.CopyMode();
    canvas.SetCopyMode(cmSrcCopy);
    canvas.DrawImage(rect, masked);
    canvas.SetCopyMode(mode);
}

TCanvas& TBitmap::Canvas()
{
    if (!FCanvas) {
        FCanvas = std::make_unique<TBitmapCanvas>(*this);
        FCanvas->OnChanging = MakeNotifyEvent<&TBitmap::CanvasChanging>(this);
        FCanvas->OnChange = MakeNotifyEvent<&TBitmap::CanvasChanged>(this);
    }
    return *FCanvas;
}

void TBitmap::CanvasChanging(TObject*) {}

void TBitmap::CanvasChanged(TObject*)
{
    Changed(this);
}

HPALETTE TBitmap::Palette() const
{
    if (FImage.format() != QImage::Format_Indexed8 && FImage.format() != QImage::Format_Mono)
        return {};
    std::vector<TPaletteEntry> entries;
    for (QRgb color : FImage.colorTable())
        entries.push_back({static_cast<std::uint8_t>(qRed(color)), static_cast<std::uint8_t>(qGreen(color)),
                           static_cast<std::uint8_t>(qBlue(color)), 0});
    return CreatePalette(entries);
}

void TBitmap::SetPalette(const HPALETTE& palette)
{
    if (!palette || (FImage.format() != QImage::Format_Indexed8 && FImage.format() != QImage::Format_Mono))
        return;
    const int limit = FImage.format() == QImage::Format_Mono ? 2 : FPixelFormat == TPixelFormat::pf4bit ? 16 : 256;
    QList<QRgb> table;
    for (const TPaletteEntry& entry : palette->Entries()) {
        if (table.size() == limit)
            break;
        table.push_back(qRgb(entry.peRed, entry.peGreen, entry.peBlue));
    }
    // Pixels may index entries the new palette lacks: those read as black.
    while (table.size() < FImage.colorCount())
        table.push_back(qRgb(0, 0, 0));
    FImage.setColorTable(table);
    Changed(this);
}

TColor TBitmap::TransparentColor() const
{
    if (FTransparentMode == TTransparentMode::tmFixed && FTransparentColor != clDefault)
        return FTransparentColor;
    if (FImage.isNull())
        return clDefault;
    return QColorToColor(FImage.pixelColor(0, Height() - 1));
}

void TBitmap::SetTransparentColor(TColor color)
{
    if (color == FTransparentColor)
        return;
    FTransparentColor = color;
    FTransparentMode = color == clDefault ? TTransparentMode::tmAuto : TTransparentMode::tmFixed;
    Changed(this);
}

void TBitmap::SetTransparentMode(TTransparentMode mode)
{
    if (mode == FTransparentMode)
        return;
    if (mode == TTransparentMode::tmAuto)
        SetTransparentColor(clDefault);
    else
        SetTransparentColor(TransparentColor());
}
