// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UPictureRows.h"

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::size_t RowAlignment = 64;
constexpr std::size_t HugePageBytes = std::size_t{2} << 20;
// A mapping is made up to whole huge pages when that adds at most this share of it (1/8).
constexpr std::size_t MaxMadeUpShare = 8;
// The mapping's first bytes hold its length, for the release; the rows follow, still aligned.
constexpr std::size_t HeaderBytes = RowAlignment;

std::size_t RoundUp(std::size_t value, std::size_t to)
{
    return (value + to - 1) / to * to;
}

void Unmap(void* mapping)
{
    munmap(mapping, *static_cast<const std::size_t*>(mapping));
}

// A mapping of length bytes starting on a huge page boundary, so that every whole huge page
// inside it can be one: a wider one is asked for and its ends are given back.
std::uint8_t* MapAligned(std::size_t length)
{
    void* wide = mmap(nullptr, length + HugePageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (wide == MAP_FAILED)
        return nullptr;
    auto* const first = static_cast<std::uint8_t*>(wide);
    auto* const start = first + (RoundUp(reinterpret_cast<std::uintptr_t>(first), HugePageBytes)
                                 - reinterpret_cast<std::uintptr_t>(first));
    if (start != first)
        munmap(first, static_cast<std::size_t>(start - first));
    const std::size_t tail = static_cast<std::size_t>(first + length + HugePageBytes - (start + length));
    if (tail > 0)
        munmap(start + length, tail);
    return start;
}

// A mapping of its own for bytes, its first byte 64-byte aligned; null when it cannot be had.
std::uint8_t* MapBytes(std::size_t bytes)
{
    const long pageBytes = sysconf(_SC_PAGESIZE);
    std::size_t length = RoundUp(HeaderBytes + bytes, pageBytes > 0 ? std::size_t(pageBytes) : 4096);
    // Only whole huge pages inside a mapping become huge pages: a 4K picture's chroma plane,
    // a few KiB short of one, would otherwise be all small pages, each cleared on a fault of
    // its own. A mapping a little short of whole huge pages is made up to them.
    const std::size_t whole = RoundUp(length, HugePageBytes);
    if (whole - length <= length / MaxMadeUpShare)
        length = whole;
    std::uint8_t* const mapping = MapAligned(length);
    if (!mapping)
        return nullptr;
    // Both are advice: a system without huge pages, or a kernel that cannot fill a mapping in
    // advance, gives ordinary pages on first touch.
    madvise(mapping, length, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
    madvise(mapping, length, MADV_POPULATE_WRITE);
#endif
    *reinterpret_cast<std::size_t*>(mapping) = length;
    return mapping + HeaderBytes;
}

QImage MappedImage(int width, int height, int pitch, std::size_t bytes, QImage::Format format)
{
    std::uint8_t* const rows = MapBytes(bytes);
    if (!rows)
        return {};
    QImage image(rows, width, height, pitch, format, Unmap, rows - HeaderBytes);
    if (image.isNull())
        PictureRows::Release(rows);
    return image;
}

} // namespace

namespace PictureRows {

QImage Make(int width, int height, int pitch, std::size_t bytes, QImage::Format format)
{
    if (width <= 0 || height <= 0 || pitch <= 0
        || bytes < static_cast<std::size_t>(pitch) * static_cast<std::size_t>(height))
        return {};
    return MappedImage(width, height, pitch, bytes, format);
}

std::uint8_t* Map(std::size_t bytes)
{
    return bytes > 0 ? MapBytes(bytes) : nullptr;
}

void Release(std::uint8_t* rows)
{
    if (rows)
        Unmap(rows - HeaderBytes);
}

} // namespace PictureRows
