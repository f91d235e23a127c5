// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TDIB: one device-independent bitmap in memory (BITMAPINFO block + pixel rows). It is the
// program's own BMP reader, the bridge between framework bitmaps and raw DIB memory, and the
// drawing path that scales by itself on the 9x family.
//
// BMP data comes from files and the clipboard, i.e. from anywhere: every size a header declares
// is checked, in 64-bit arithmetic, against the bytes actually present before anything is
// allocated or copied.
#include "framework/TBitmap.h"
#include "framework/StretchDIBits.h"
#include "framework/TCanvas.h"
#include "framework/TPalette.h"
#include "framework/TStream.h"

#include <QByteArray>
#include <QRect>
#include <cstddef>
#include <cstdint>
#include <memory>
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

// The pixel memory of a DIB: owned, or borrowed from a framework bitmap that the DIB keeps
// alive. Shared between TDIB objects (std::shared_ptr) and freed with its last reference.
class IBitsHolder {
public:
    virtual ~IBitsHolder() = default;
    virtual void SetOwnedBits(std::unique_ptr<std::uint8_t[]> bits, std::size_t size) = 0;
    virtual void SetBorrowedBits(const std::uint8_t* bits, std::size_t size) = 0;
    // `bitmap` is the framework bitmap the bits may be borrowed from (or null).
    virtual const std::uint8_t* GetBits(const TBitmap* bitmap) const = 0;
    virtual std::size_t Size() const = 0;
    virtual bool Owned() const = 0;
};

class TBitsHolder : public IBitsHolder {
public:
    TBitsHolder() = default;
    TBitsHolder(const TBitsHolder&) = delete;
    TBitsHolder& operator=(const TBitsHolder&) = delete;

    void SetOwnedBits(std::unique_ptr<std::uint8_t[]> bits, std::size_t size) override;
    void SetBorrowedBits(const std::uint8_t* bits, std::size_t size) override;
    // Bits inside an array that the holder shares (Qt's implicit sharing keeps them as they are
    // for as long as the holder lives, whatever happens to the other copies).
    void SetSharedBits(const QByteArray& storage, const std::uint8_t* bits, std::size_t size);
    const std::uint8_t* GetBits(const TBitmap* bitmap) const override;
    std::size_t Size() const override { return FSize; }
    bool Owned() const override { return FOwnedBits != nullptr || !FStorage.isNull(); }

private:
    std::unique_ptr<std::uint8_t[]> FOwnedBits; // null when the bits are borrowed or shared
    QByteArray FStorage;                        // null unless the bits are shared
    const std::uint8_t* FBits = nullptr;
    std::size_t FSize = 0;
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

class TDIB {
public:
    TDIB();
    TDIB(const TDIB&) = delete;
    TDIB& operator=(const TDIB&) = delete;
    ~TDIB();

    void Assign(const TDIB& source);
    // Reads BMP data at the stream's position; raises EInvalidGraphic for a bad signature or
    // header and EReadError for data that ends early.
    void LoadFromStream(TStream& stream);
    void LoadFromBitmap(const TBitmap& bitmap);
    // True when the pixels are borrowed from the bitmap's own memory.
    bool LoadFromHandle(const TBitmap& bitmap, const HPALETTE& palette);
    void SaveToBitmap(TBitmap& bitmap) const;
    // A new bitmap holding the DIB: its rows in the matching pixel format when there is one,
    // otherwise drawn into a 24-bit bitmap.
    TBitmap CreateBitmapHandle() const;
    bool CreateDIBSectionHandle(TBitmap& bitmap) const;
    TBitmap CreateDDBHandle() const;

    // destRect in the canvas's logical coordinates; the mapping is reset for the draw.
    void Draw(TCanvas& canvas, const QRect& destRect, const QRect& srcRect) const;
    // destRect in device coordinates.
    void DrawDevice(TCanvas& canvas, const QRect& destRect, const QRect& srcRect) const;
    // One StretchDIBits call; false only when that call fails.
    bool StretchDraw(TCanvas& canvas, const QRect& destRect, const QRect& srcRect) const;

    int Width() const { return FInfo.Header().biWidth; }
    int Height() const;
    const TBMPInfo& Info() const { return FInfo; }
    const IBitsHolder* Bits() const { return FBits.get(); }
    const TBitmap* KeptBitmap() const { return FBitmap.get(); }

private:
    std::int64_t StrideOfRows() const;
    void SaveToBitmapThroughCanvas(TBitmap& bitmap) const;
    // Whether StretchDIBits can draw this DIB at all: other formats must not become a
    // bitmap of the size their header claims.
    bool Drawable() const;

    std::shared_ptr<IBitsHolder> FBits; // null until something is loaded
    TBMPInfo FInfo;
    // The bitmap whose pixels are borrowed, or a copy kept for drawing on the 9x family.
    std::unique_ptr<TBitmap> FBitmap;
};

// Nearest-neighbour scaling and the band split of large scaled draws.
namespace dibscale {
inline constexpr std::int64_t kBandPixels = std::int64_t{1} << 22; // 4 Mi destination pixels
// For each of `destLength` destination samples, the source sample under its centre.
std::vector<int> NearestMap(int destLength, int srcStart, int srcLength);
// Drops the first `offset` entries (a negative offset shortens the length instead) and keeps
// at most `limit` entries.
std::vector<int> CropMap(const std::vector<int>& map, int offset, int limit);
int BandCount(std::int64_t width, std::int64_t height);
// Band k of count bands over `visible`, full width.
QRect Band(const QRect& visible, int k, int count);
} // namespace dibscale

// Draws bitmap scaled into destRect (device coordinates) by nearest neighbour, producing only
// the part inside the clip box, in bands of at most 4 Mi pixels on the 9x family.
void ScaledCopyDraw(TCanvas& canvas, const TBitmap& bitmap, const QRect& destRect, const QRect& srcRect);
// Whether the pixel format is one the program's own scaling copies.
bool IsScalableFormat(TPixelFormat format);

// Fills target with the part of source that destRect shows of srcRect, nearest neighbour.
bool ScaleCopy(TBitmap& target, const TBitmap& source, const QRect& part, const QRect& destRect,
               const QRect& srcRect);
