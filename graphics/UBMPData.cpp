// SPDX-License-Identifier: GPL-3.0-or-later
#include "graphics/UBMPData.h"

#include "framework/EInvalidGraphic.h"
#include "framework/TBitmap.h"

#include <QBuffer>
#include <algorithm>
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
