// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TDIB: one device-independent bitmap in memory (BITMAPINFO block + pixel rows). It is the
// program's own BMP reader (over the checked header rules of UBMPData), the bridge between
// framework bitmaps and raw DIB memory, and the drawing path that scales by itself on the 9x
// family (UDIBScaling).
#include "framework/StretchDIBits.h"
#include "framework/TBitmap.h"
#include "framework/TCanvas.h"
#include "framework/TPalette.h"
#include "graphics/UBMPData.h"

#include <QByteArray>
#include <QRect>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

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
