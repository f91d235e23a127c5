// SPDX-License-Identifier: GPL-3.0-or-later
#include "graphics/UDIB.h"

#include "framework/EInvalidGraphic.h"
#include "framework/Platform.h"
#include "graphics/UCanvas.h"

#include <QBuffer>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint64_t kSaturated = std::numeric_limits<std::uint64_t>::max();

std::uint64_t SaturatingMul(std::uint64_t a, std::uint64_t b)
{
    if (a != 0 && b > kSaturated / a)
        return kSaturated;
    return a * b;
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b)
{
    return b > kSaturated - a ? kSaturated : a + b;
}

std::uint32_t ReadSizeField(const std::uint8_t* header)
{
    std::uint32_t size = 0;
    std::memcpy(&size, header, sizeof size);
    return size;
}

BITMAPCOREHEADER ReadCore(const std::uint8_t* header)
{
    BITMAPCOREHEADER core{};
    std::memcpy(&core, header, sizeof core);
    return core;
}

BITMAPINFOHEADER ReadInfo(const std::uint8_t* header)
{
    BITMAPINFOHEADER info{};
    std::memcpy(&info, header, sizeof info);
    return info;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Size rules

std::uint32_t bmp::ColorCountFor(std::uint64_t bits)
{
    switch (bits) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

bool bmp::IsCoreHeader(const std::uint8_t* header)
{
    return ReadSizeField(header) == kCoreHeaderSize;
}

std::uint64_t bmp::ColorCount(const std::uint8_t* header)
{
    if (IsCoreHeader(header)) {
        const BITMAPCOREHEADER core = ReadCore(header);
        return ColorCountFor(std::uint64_t{core.bcBitCount} * core.bcPlanes);
    }
    const BITMAPINFOHEADER info = ReadInfo(header);
    if (info.biClrUsed != 0)
        return info.biClrUsed;
    return ColorCountFor(std::uint64_t{info.biBitCount} * info.biPlanes);
}

std::uint64_t bmp::InfoSize(const std::uint8_t* header)
{
    const std::uint64_t headerSize = ReadSizeField(header);
    if (IsCoreHeader(header))
        return headerSize + 3 * ColorCount(header);
    if (ReadInfo(header).biCompression == BI_BITFIELDS)
        return headerSize + BitFieldMasksAfterHeader(headerSize);
    return headerSize + 4 * ColorCount(header);
}

std::int64_t bmp::RowStride(std::int64_t width, std::uint64_t bitsPerPixel)
{
    // |width| < 2^32 and bits < 2^33 (two 16-bit factors) cannot overflow 64 bits; guard the
    // general case anyway so the rule can be trusted with any input.
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max() / 2;
    const std::uint64_t magnitude = width < 0 ? 0 - static_cast<std::uint64_t>(width) : static_cast<std::uint64_t>(width);
    const std::uint64_t product = SaturatingMul(magnitude, bitsPerPixel);
    if (product > static_cast<std::uint64_t>(kMax))
        return width < 0 ? -kMax : kMax;
    const std::int64_t bits = width < 0 ? -static_cast<std::int64_t>(product) : static_cast<std::int64_t>(product);
    return ((bits + 31) & ~std::int64_t{31}) / 8;
}

std::uint64_t bmp::ImageSize(const std::uint8_t* header)
{
    std::int64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t bits = 0;
    if (IsCoreHeader(header)) {
        const BITMAPCOREHEADER core = ReadCore(header);
        width = core.bcWidth;
        height = core.bcHeight;
        bits = std::uint64_t{core.bcBitCount} * core.bcPlanes;
    } else {
        const BITMAPINFOHEADER info = ReadInfo(header);
        width = info.biWidth;
        height = static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(info.biHeight)));
        bits = std::uint64_t{info.biBitCount} * info.biPlanes;
        if (info.biCompression != BI_RGB && info.biCompression != BI_BITFIELDS)
            return info.biSizeImage;
        if (info.biCompression == BI_BITFIELDS) {
            // Uncompressed rows must all be there whatever biSizeImage claims (it is often 0):
            // a smaller value would let the drawing code read past the pixel memory.
            const std::int64_t stride = RowStride(width, bits);
            const std::uint64_t rows = stride < 0 ? 0 : SaturatingMul(static_cast<std::uint64_t>(stride), height);
            return std::max<std::uint64_t>(info.biSizeImage, rows);
        }
    }
    const std::int64_t stride = RowStride(width, bits);
    if (stride < 0)
        return kSaturated; // a negative width describes no rows at all
    return SaturatingMul(static_cast<std::uint64_t>(stride), height);
}

bmp::THeaderCheck bmp::CheckHeader(const std::uint8_t* header, std::uint64_t available)
{
    if (available < sizeof(std::uint32_t))
        return THeaderCheck::Truncated;
    const std::uint32_t size = ReadSizeField(header);
    if (size != kCoreHeaderSize && size < kInfoHeaderSize)
        return THeaderCheck::Invalid; // too small to hold the fields it must carry
    if (available < std::min<std::uint64_t>(size, kInfoHeaderSize))
        return THeaderCheck::Truncated;
    if (size != kCoreHeaderSize) {
        const BITMAPINFOHEADER info = ReadInfo(header);
        if (info.biWidth < 0 || info.biHeight == std::numeric_limits<std::int32_t>::min()
            || (info.biCompression == BI_BITFIELDS && !HoldsBitFieldMasks(size)))
            return THeaderCheck::Invalid;
    }
    return THeaderCheck::Ok;
}

std::uint64_t bmp::DataSize(const std::uint8_t* header)
{
    return SaturatingAdd(SaturatingAdd(kFileHeaderSize, InfoSize(header)), ImageSize(header));
}

// ---------------------------------------------------------------------------------------------
// TBMPInfo

TBMPInfo::TBMPInfo()
{
    Allocate(kInfoHeaderSize);
    Header().biSize = kInfoHeaderSize;
    Header().biPlanes = 1;
    Header().biBitCount = 24;
}

void TBMPInfo::Allocate(std::size_t size)
{
    // Never below a whole info header, so Header() is always backed by memory.
    FBlock.assign(std::max(size, kInfoHeaderSize), 0);
}

void TBMPInfo::Assign(const TBMPInfo& other)
{
    FBlock = other.FBlock;
}

void TBMPInfo::LoadFromHeader(const std::uint8_t* header, std::size_t available)
{
    if (bmp::CheckHeader(header, available) != bmp::THeaderCheck::Ok)
        throw EInvalidGraphic(kInvalidBitmapText);
    if (bmp::IsCoreHeader(header)) {
        LoadFromCoreHeader(header, available);
        return;
    }
    const std::uint64_t size = bmp::InfoSize(header);
    if (size > available + kMaxMissingInfo)
        throw EInvalidGraphic(kInvalidBitmapText);
    Allocate(static_cast<std::size_t>(size));
    std::memcpy(FBlock.data(), header, std::min<std::size_t>(static_cast<std::size_t>(size), available));
}

void TBMPInfo::LoadFromCoreHeader(const std::uint8_t* core, std::size_t available)
{
    if (available < kCoreHeaderSize)
        throw EInvalidGraphic(kInvalidBitmapText);
    const BITMAPCOREHEADER header = ReadCore(core);
    const std::size_t count = static_cast<std::size_t>(bmp::ColorCount(core)); // at most 256
    Allocate(kInfoHeaderSize + 4 * count);
    BITMAPINFOHEADER& info = Header();
    info.biSize = kInfoHeaderSize;
    info.biWidth = header.bcWidth;
    info.biHeight = header.bcHeight;
    info.biPlanes = header.bcPlanes;
    info.biBitCount = header.bcBitCount;
    const std::size_t present = std::min(count, (available - kCoreHeaderSize) / 3);
    std::uint8_t* table = FBlock.data() + kInfoHeaderSize;
    const std::uint8_t* source = core + kCoreHeaderSize;
    for (std::size_t i = 0; i < present; ++i) {
        std::memcpy(table + 4 * i, source + 3 * i, 3);
        table[4 * i + 3] = 0;
    }
}

std::span<std::uint8_t> TBMPInfo::ColorTable()
{
    const std::size_t offset = std::min<std::size_t>(Header().biSize, FBlock.size());
    return {FBlock.data() + offset, FBlock.size() - offset};
}

std::span<const std::uint8_t> TBMPInfo::ColorTable() const
{
    const std::size_t offset = std::min<std::size_t>(Header().biSize, FBlock.size());
    return {FBlock.data() + offset, FBlock.size() - offset};
}

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
// Nearest-neighbour maps and bands

std::vector<int> dibscale::NearestMap(int destLength, int srcStart, int srcLength)
{
    std::vector<int> map(static_cast<std::size_t>(std::max(destLength, 0)));
    const std::int64_t denominator = 2 * std::int64_t{destLength};
    for (std::size_t i = 0; i < map.size(); ++i)
        map[i] = srcStart + static_cast<int>((2 * static_cast<std::int64_t>(i) + 1) * srcLength / denominator);
    return map;
}

std::vector<int> dibscale::CropMap(const std::vector<int>& map, int offset, int limit)
{
    const std::int64_t size = static_cast<std::int64_t>(map.size());
    std::int64_t first = offset > 0 ? offset : 0;
    std::int64_t length = offset < 0 ? size + offset : size - first;
    length = std::clamp<std::int64_t>(std::min<std::int64_t>(length, limit), 0, std::max<std::int64_t>(size - first, 0));
    return {map.begin() + first, map.begin() + first + length};
}

int dibscale::BandCount(std::int64_t width, std::int64_t height)
{
    return static_cast<int>(width * height / kBandPixels + 1);
}

QRect dibscale::Band(const QRect& visible, int k, int count)
{
    const std::int64_t h = visible.height();
    const int top = visible.top() + static_cast<int>(h * k / count);
    const int bottom = visible.top() + static_cast<int>(h * (k + 1) / count);
    return QRect(QPoint(visible.left(), top), QPoint(visible.right(), bottom - 1));
}

// ---------------------------------------------------------------------------------------------
// ScaleCopy

namespace {

template <std::size_t BytesPerPixel>
void CopyRowBytes(std::uint8_t* target, const std::uint8_t* source, const std::vector<int>& columns)
{
    for (std::size_t j = 0; j < columns.size(); ++j)
        std::memcpy(target + BytesPerPixel * j, source + BytesPerPixel * static_cast<std::size_t>(columns[j]),
                    BytesPerPixel);
}

void CopyRowBits(std::uint8_t* target, const std::uint8_t* source, const std::vector<int>& columns)
{
    std::memset(target, 0, (columns.size() + 7) / 8);
    for (std::size_t j = 0; j < columns.size(); ++j) {
        const int x = columns[j];
        if (source[x / 8] & (0x80 >> (x % 8)))
            target[j / 8] |= static_cast<std::uint8_t>(0x80 >> (j % 8));
    }
}

} // namespace

bool ScaleCopy(TBitmap& target, const TBitmap& source, const QRect& part, const QRect& destRect,
               const QRect& srcRect)
{
    // Column and row maps.
    std::vector<int> columns = dibscale::NearestMap(destRect.width(), srcRect.left(), srcRect.width());
    std::vector<int> rows = dibscale::NearestMap(destRect.height(), srcRect.top(), srcRect.height());
    // Crop both to the part.
    columns = dibscale::CropMap(columns, part.left() - destRect.left(), target.Width());
    rows = dibscale::CropMap(rows, part.top() - destRect.top(), target.Height());
    // Nothing to copy.
    if (columns.empty() || rows.empty())
        return false;
    // Samples outside the source would be reads past its rows.
    const auto outside = [](const std::vector<int>& map, int limit) {
        return std::any_of(map.begin(), map.end(), [limit](int v) { return v < 0 || v >= limit; });
    };
    if (outside(columns, source.Width()) || outside(rows, source.Height()))
        return false;
    // Copy row by row by the source's pixel layout.
    target.SetPixelFormat(source.PixelFormat());
    target.SetSize(static_cast<int>(columns.size()), static_cast<int>(rows.size()));
    const int depth = source.Image().depth();
    if (target.Image().depth() != depth)
        return false;
    if (depth <= 8)
        target.Image().setColorTable(source.Image().colorTable());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::uint8_t* out = target.ScanLine(static_cast<int>(r));
        const std::uint8_t* in = source.ScanLine(rows[r]);
        switch (depth) {
        case 1: CopyRowBits(out, in, columns); break;
        case 8: CopyRowBytes<1>(out, in, columns); break;
        case 16: CopyRowBytes<2>(out, in, columns); break;
        case 24: CopyRowBytes<3>(out, in, columns); break;
        case 32: CopyRowBytes<4>(out, in, columns); break;
        default: return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// TBitmapStreamHolder

namespace {

void CheckSignature(const std::uint8_t* data)
{
    if (data[0] != 'B' || data[1] != 'M')
        throw EInvalidGraphic(kInvalidBitmapText);
}

// The bytes the BMP data at `data` needs, given that `available` bytes are there; raises the
// reader's errors for a bad or truncated header.
std::uint64_t NeededBytes(const std::uint8_t* data, std::uint64_t available)
{
    if (available < 2)
        throw EReadError();
    CheckSignature(data);
    if (available < kFileHeaderSize)
        throw EReadError();
    switch (bmp::CheckHeader(data + kFileHeaderSize, available - kFileHeaderSize)) {
    case bmp::THeaderCheck::Truncated: throw EReadError();
    case bmp::THeaderCheck::Invalid: throw EInvalidGraphic(kInvalidBitmapText);
    case bmp::THeaderCheck::Ok: break;
    }
    return bmp::DataSize(data + kFileHeaderSize);
}

} // namespace

TBitmapStreamHolder::TBitmapStreamHolder(TStream& stream)
{
    if (const auto* buffer = qobject_cast<const QBuffer*>(&stream))
        ViewMemory(stream, buffer->data());
    else
        CopyStream(stream);
}

void TBitmapStreamHolder::ViewMemory(TStream& stream, const QByteArray& bytes)
{
    // In place: every declared size must fit within the buffer before anything is read.
    const std::int64_t position = stream.pos();
    const std::uint64_t available = static_cast<std::uint64_t>(std::max<std::int64_t>(bytes.size() - position, 0));
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData()) + std::min<std::int64_t>(position, bytes.size());
    const std::uint64_t needed = NeededBytes(data, available);
    if (needed > available)
        throw EReadError();
    stream.seek(position + static_cast<std::int64_t>(needed));
    FData = data;
    FSize = needed;
    // An array made over someone else's memory (fromRawData) owns nothing: it cannot be kept.
    QByteArray shared = bytes;
    if (shared.data_ptr().isMutable())
        FStorage = std::move(shared);
}

void TBitmapStreamHolder::CopyStream(TStream& stream)
{
    // Any other stream: the first bytes decide how many more to copy.
    constexpr std::int64_t kFirstBytes = kFileHeaderSize + kInfoHeaderSize;
    const std::int64_t position = stream.pos();
    FStorage = stream.read(kFirstBytes);
    const auto first = static_cast<std::uint64_t>(FStorage.size());
    const std::uint64_t needed = NeededBytes(reinterpret_cast<const std::uint8_t*>(FStorage.constData()), first);
    if (needed < first) {
        // A small core-header image: give back what belongs to whatever follows it.
        FStorage.truncate(static_cast<qsizetype>(needed));
        if (!stream.isSequential())
            stream.seek(position + static_cast<std::int64_t>(needed));
    } else {
        std::uint64_t missing = needed - first;
        if (!stream.isSequential() && missing > static_cast<std::uint64_t>(RemainingBytes(stream)))
            throw EReadError();
        while (missing > 0) {
            const std::int64_t chunk = static_cast<std::int64_t>(std::min<std::uint64_t>(missing, kReadChunk));
            const qsizetype at = FStorage.size();
            FStorage.resize(at + chunk);
            ReadBuffer(stream, FStorage.data() + at, chunk);
            missing -= static_cast<std::uint64_t>(chunk);
        }
    }
    FData = reinterpret_cast<const std::uint8_t*>(FStorage.constData());
    FSize = needed;
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

bool IsScalableFormat(TPixelFormat format)
{
    return format != TPixelFormat::pfDevice && format != TPixelFormat::pfCustom;
}

namespace {

// The scaled part drawn 1:1; the 9x family draws it through DIB memory too.
void DrawScaledPart(TCanvas& canvas, const TBitmap& bitmap, const QRect& part, const QRect& destRect,
                    const QRect& srcRect)
{
    TBitmap scaled;
    scaled.SetPixelFormat(bitmap.PixelFormat());
    scaled.SetSize(part.width(), part.height());
    if (!ScaleCopy(scaled, bitmap, part, destRect, srcRect))
        return;
    const QRect target(part.topLeft(), QSize(scaled.Width(), scaled.Height()));
    if (IsNTFamily()) {
        scaled.Draw(canvas, target);
        return;
    }
    TDIB dib;
    dib.LoadFromBitmap(scaled);
    dib.DrawDevice(canvas, target, QRect(0, 0, scaled.Width(), scaled.Height()));
}

} // namespace

void ScaledCopyDraw(TCanvas& canvas, const TBitmap& bitmap, const QRect& destRect, const QRect& srcRect)
{
    if (!IsScalableFormat(bitmap.PixelFormat())) {
        canvas.StretchDraw(destRect, const_cast<TBitmap&>(bitmap));
        return;
    }
    // Only what can be seen.
    QRect clip;
    const int kind = canvas.DeviceClipBox(clip);
    if (kind != SIMPLEREGION && kind != COMPLEXREGION)
        clip = QRect(QPoint(0, 0), canvas.DeviceSize());
    const QRect visible = clip.intersected(destRect);
    const std::int64_t w = visible.width();
    const std::int64_t h = visible.height();
    if (IsNTFamily() || w * h < dibscale::kBandPixels) {
        DrawScaledPart(canvas, bitmap, visible, destRect, srcRect);
        return;
    }
    const int count = dibscale::BandCount(w, h);
    for (int k = 0; k < count; ++k)
        DrawScaledPart(canvas, bitmap, dibscale::Band(visible, k, count), destRect, srcRect);
}
