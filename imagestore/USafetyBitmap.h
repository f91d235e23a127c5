// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The two graphic classes pictures load with. TSafetyBitmap reads BMP data through the
// program's own DIB reader on the GUI thread, draws transparent bitmaps through a masked image
// and draws through DIB memory on the 9x family. TSafetyJPEGImage checks the JPEG header before
// libjpeg sees a byte, and refuses what it cannot show ("未対応のJPEG形式です").
#include "framework/TBitmap.h"
#include "framework/TJPEGImage.h"
#include "framework/TPicture.h"
#include "framework/TStream.h"
#include "graphics/UMaskedImage.h"

#include <memory>

inline constexpr const char* kUnsupportedJPEGText = "未対応のJPEG形式です";

class TSafetyBitmap : public TBitmap {
    FRAMORA_GRAPHIC_CLASS(TSafetyBitmap, TBitmap, "TSafetyBitmap")
public:
    TSafetyBitmap();
    TSafetyBitmap(const TSafetyBitmap& other);
    ~TSafetyBitmap() override;

    void Assign(const TGraphic& source) override;
    void Changed(TObject* sender) override;
    void Draw(TCanvas& canvas, const QRect& rect) override;
    // Two bitmaps are equal when they share one image.
    bool Equals(const TGraphic& graphic) const override;
    void ReadData(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
    // CF_DIB data is read as a BMP file whose header has zero size and offset fields.
    void LoadFromClipboardFormat(std::uint16_t format, std::span<const std::uint8_t> data,
                                 const HPALETTE& palette) override;

    // Rebuilds the mask when the bitmap is transparent.
    void UpdateMask();
    void DrawThroughDIB(TCanvas& canvas, const QRect& rect);
    const TMaskedImage& MaskedImage() const { return *FMaskedImage; }

private:
    void AssignCommon(const TGraphic& source);

    // The platform family's variant, chosen once at construction.
    std::unique_ptr<TMaskedImage> FMaskedImage;
    bool FAssigning = false; // true while another TSafetyBitmap's masked image is being copied
};

struct TJPEGHeaderInfo {
    int Width = -1;
    int Height = -1;
    int Components = -1;
};

// Finds the start-of-frame of the JPEG data at the stream's position and puts the stream back
// where it stood. Sizes stay -1 when there is none.
TJPEGHeaderInfo ProbeJPEGHeader(TStream& stream);

class TSafetyJPEGImage : public TJPEGImage {
    FRAMORA_GRAPHIC_CLASS(TSafetyJPEGImage, TJPEGImage, "TSafetyJPEGImage")
public:
    void Draw(TCanvas& canvas, const QRect& rect) override;
    void ReadData(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
};

// Stored pictures that name their graphic class "TJPEGImage" are read through the
// header-checking class.
namespace USafetyBitmap {
class TJPEGImage : public TSafetyJPEGImage {
    FRAMORA_GRAPHIC_CLASS(USafetyBitmap::TJPEGImage, TSafetyJPEGImage, "TJPEGImage")
};
} // namespace USafetyBitmap

// Makes the graphic classes above the ones pictures load with; once, by the program's start-up
// (a static initialiser in this library could be left out by the linker).
void RegisterSafetyGraphics();
// Removes them again (with every class derived from them); at program end.
void UnregisterSafetyGraphics();

// The picture's graphic, replaced by an empty TSafetyBitmap first unless it is one.
TSafetyBitmap& ForceSafetyBitmap(TPicture& picture);
