// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Drawing a bitmap with one transparent colour using only raster operations: a monochrome mask
// (1 where the bitmap has the transparent colour) and a copy of the bitmap whose transparent
// pixels are white, both built lazily and drawn with MERGEPAINT then SRCAND. The NT variant
// keeps them as framework bitmaps, the 9x variant as DIBs.
#include "framework/TBitmap.h"
#include "framework/TCanvas.h"
#include "framework/TColor.h"
#include "graphics/UDIB.h"

#include <QRect>

class TMaskedImage {
public:
    TMaskedImage() = default;
    TMaskedImage(const TMaskedImage&) = delete;
    TMaskedImage& operator=(const TMaskedImage&) = delete;
    virtual ~TMaskedImage() = default;

    // Marks mask and image out of date.
    void Invalidate();
    bool MaskOutOfDate() const { return FMaskOutOfDate; }
    bool ImageOutOfDate() const { return FImageOutOfDate; }

    // Copies mask and image from a masked image of the same variant; the flags always.
    virtual void Assign(const TMaskedImage& other);
    // Rebuilds what is out of date from bitmap.
    virtual void UpdateMask(const TBitmap& bitmap, TColor transparentColor) = 0;
    // The caller sets the background colour white and the text colour black, and restores them
    // and the copy mode afterwards; the copy mode is left at SRCAND.
    virtual void Draw(TCanvas& canvas, const QRect& rect) = 0;
    virtual void BuildMask(const TBitmap& bitmap, TColor transparentColor) = 0;
    virtual void SetMask(const TBitmap& mask) = 0;
    virtual void GetMask(TBitmap& destination) const = 0;

protected:
    // Both valid only while the flags say so.
    bool FMaskOutOfDate = false;
    bool FImageOutOfDate = false;
};

class TMaskedImageNT : public TMaskedImage {
public:
    TMaskedImageNT();

    void Assign(const TMaskedImage& other) override;
    void UpdateMask(const TBitmap& bitmap, TColor transparentColor) override;
    void Draw(TCanvas& canvas, const QRect& rect) override;
    void BuildMask(const TBitmap& bitmap, TColor transparentColor) override;
    void SetMask(const TBitmap& mask) override;
    void GetMask(TBitmap& destination) const override;

    const TBitmap& Mask() const { return FMask; }
    const TBitmap& Image() const { return FImage; }

private:
    TBitmap FMask; // monochrome
    TBitmap FImage;
};

class TMaskedImage9x : public TMaskedImage {
public:
    void Assign(const TMaskedImage& other) override;
    void UpdateMask(const TBitmap& bitmap, TColor transparentColor) override;
    void Draw(TCanvas& canvas, const QRect& rect) override;
    void BuildMask(const TBitmap& bitmap, TColor transparentColor) override;
    void SetMask(const TBitmap& mask) override;
    void GetMask(TBitmap& destination) const override;

    const TDIB& Mask() const { return FMask; }
    const TDIB& Image() const { return FImage; }

private:
    TDIB FMask;
    TDIB FImage;
};

// Builds the monochrome mask of source: bit 1 (most significant bit first) where a pixel has
// the colour's red, green and blue.
void CreateMask(const TBitmap& source, TBitmap& mask, TColor color);
