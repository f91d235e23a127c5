// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The BMP format as it arrives from files and the clipboard, i.e. from anywhere: the size rules
// of its headers, its BITMAPINFO block, and a view of one BMP image inside a stream. Every size a
// header declares is checked, in 64-bit arithmetic, against the bytes actually present before
// anything is allocated or copied.
#include "framework/StretchDIBits.h"
#include "framework/TStream.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

inline constexpr std::size_t kFileHeaderSize = 14;
inline constexpr std::size_t kCoreHeaderSize = 12;
inline constexpr std::size_t kInfoHeaderSize = 40;

// The size rules of a BMP header of either kind. `header` points at its size field and must
// hold a whole header of its kind (12 bytes for a core header, 40 for an info header). Sizes
// are 64-bit and saturate instead of wrapping, so a lying header yields a huge size that no
// stream holds, never a small one.
namespace bmp {
std::uint32_t ColorCountFor(std::uint64_t bits);
bool IsCoreHeader(const std::uint8_t* header);
std::uint64_t ColorCount(const std::uint8_t* header);
std::uint64_t InfoSize(const std::uint8_t* header);
// Bytes per row, padded to 4; negative for a negative width.
std::int64_t RowStride(std::int64_t width, std::uint64_t bitsPerPixel);
std::uint64_t ImageSize(const std::uint8_t* header);
// File header + InfoSize + ImageSize: the bytes a BMP image needs from its start.
std::uint64_t DataSize(const std::uint8_t* header);

// Whether `header`, with `available` bytes from it, is whole and of a kind this reader takes.
// Only its size field is read when fewer than 40 bytes are available.
enum class THeaderCheck { Ok, Truncated, Invalid };
THeaderCheck CheckHeader(const std::uint8_t* header, std::uint64_t available);
} // namespace bmp

// The BITMAPINFO block: the header, then the colour table or the three bit-field masks.
class TBMPInfo {
public:
    TBMPInfo(); // a 40-byte header for 24 bits per pixel, everything else 0

    void Allocate(std::size_t size);
    void Assign(const TBMPInfo& other);
    // Takes a header of either kind; `available` bytes can be read from `header`.
    void LoadFromHeader(const std::uint8_t* header, std::size_t available);
    void LoadFromCoreHeader(const std::uint8_t* core, std::size_t available);

    std::uint8_t* Block() { return FBlock.data(); }
    const std::uint8_t* Block() const { return FBlock.data(); }
    std::size_t Size() const { return FBlock.size(); }
    BITMAPINFOHEADER& Header() { return *reinterpret_cast<BITMAPINFOHEADER*>(FBlock.data()); }
    const BITMAPINFOHEADER& Header() const
    {
        return *reinterpret_cast<const BITMAPINFOHEADER*>(FBlock.data());
    }
    // The bytes after the header: colour table or masks.
    std::span<std::uint8_t> ColorTable();
    std::span<const std::uint8_t> ColorTable() const;

private:
    // A header may promise a colour table a little longer than the bytes at hand (the rest
    // stays zero); a promise beyond this is a lie that must not become an allocation.
    static constexpr std::size_t kMaxMissingInfo = 4 * 256;
    // Always at least a whole info header: every way in writes 40 bytes or more.
    std::vector<std::uint8_t> FBlock;
};

// A view of one BMP file image inside a stream, from its file header on. A memory stream is
// viewed in place; any other stream is copied into the holder first. Either way the stream
// ends up just past the BMP data, and the whole of it is known to be present.
class TBitmapStreamHolder {
public:
    explicit TBitmapStreamHolder(TStream& stream);
    TBitmapStreamHolder(const TBitmapStreamHolder&) = delete;
    TBitmapStreamHolder& operator=(const TBitmapStreamHolder&) = delete;

    // The file header; valid while the holder and the stream live.
    const std::uint8_t* Data() const { return FData; }
    // Bytes from Data() on: at least DataSize of the header.
    std::uint64_t Size() const { return FSize; }
    // The array Data() points into, shared rather than copied, so the pixels can stay where
    // they are; null when the stream's memory is not an array that owns its bytes.
    const QByteArray& Storage() const { return FStorage; }

private:
    // A lie in a header must not turn into one huge allocation before the bytes are seen.
    static constexpr std::int64_t kReadChunk = std::int64_t{1} << 20;

    void ViewMemory(TStream& stream, const QByteArray& bytes);
    void CopyStream(TStream& stream);

    const std::uint8_t* FData = nullptr;
    std::uint64_t FSize = 0;
    QByteArray FStorage; // the copy, or the stream's own array when that owns its bytes
};
