// SPDX-License-Identifier: GPL-3.0-or-later
#include "graphics/UMaskedImage.h"

#include <cstring>
#include <vector>

void TMaskedImage::Invalidate()
{
    FMaskOutOfDate = true;
    FImageOutOfDate = true;
}

void TMaskedImage::Assign(const TMaskedImage& other)
{
    FMaskOutOfDate = other.FMaskOutOfDate;
    FImageOutOfDate = other.FImageOutOfDate;
}

// ---------------------------------------------------------------------------------------------
// CreateMask

namespace {

void SetMaskBit(std::uint8_t* row, int x)
{
    row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
}

} // namespace

void CreateMask(const TBitmap& source, TBitmap& mask, TColor color)
{
    // A fresh monochrome bitmap of the source's size; only red, green and blue count.
    mask.SetSize(0, 0);
    mask.SetPixelFormat(TPixelFormat::pf1bit);
    mask.SetSize(source.Width(), source.Height());
    if (mask.Empty())
        return;
    mask.Image().setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    color &= 0xFFFFFF;
    const auto red = static_cast<std::uint8_t>(GetRValue(color));
    const auto green = static_cast<std::uint8_t>(GetGValue(color));
    const auto blue = static_cast<std::uint8_t>(GetBValue(color));
    // A zeroed buffer with the mask's own row stride.
    const int stride = mask.BytesPerLine();
    const int width = source.Width();
    const int height = source.Height();
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height), 0);
    // The matching pixels.
    const QImage& image = source.Image();
    for (int y = 0; y < height; ++y) {
        std::uint8_t* out = buffer.data() + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y);
        const std::uint8_t* in = source.ScanLine(y);
        switch (source.PixelFormat()) {
        case TPixelFormat::pf8bit: {
            // Only an exact palette colour can be transparent; a near one leaves the mask empty.
            const HPALETTE palette = source.Palette();
            const int index = palette ? palette->NearestIndex(color) : -1;
            if (index < 0)
                break;
            const TPaletteEntry entry = palette->Entries()[static_cast<std::size_t>(index)];
            if (entry.peRed != red || entry.peGreen != green || entry.peBlue != blue)
                break;
            for (int x = 0; x < width; ++x)
                if (in[x] == index)
                    SetMaskBit(out, x);
            break;
        }
        case TPixelFormat::pf24bit:
            for (int x = 0; x < width; ++x)
                if (in[3 * x] == blue && in[3 * x + 1] == green && in[3 * x + 2] == red)
                    SetMaskBit(out, x);
            break;
        case TPixelFormat::pf32bit:
            for (int x = 0; x < width; ++x)
                if (in[4 * x] == blue && in[4 * x + 1] == green && in[4 * x + 2] == red)
                    SetMaskBit(out, x);
            break;
        default:
            for (int x = 0; x < width; ++x) {
                const QRgb pixel = image.pixel(x, y);
                if (qRed(pixel) == red && qGreen(pixel) == green && qBlue(pixel) == blue)
                    SetMaskBit(out, x);
            }
            break;
        }
    }
    for (int y = 0; y < height; ++y)
        std::memcpy(mask.ScanLine(y), buffer.data() + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y),
                    static_cast<std::size_t>(stride));
}

// ---------------------------------------------------------------------------------------------
// The white-where-transparent copy both variants draw with SRCAND.

namespace {

// The bitmap, opaque and 24-bit, ready for the mask to be OR-ed over it.
void PrepareImageCopy(const TBitmap& bitmap, TBitmap& copy)
{
    copy.Assign(bitmap);
    copy.SetTransparent(false);
    copy.SetPixelFormat(TPixelFormat::pf24bit);
    copy.Canvas().SetCopyMode(SRCPAINT);
    copy.Canvas().SetStretchBltMode(COLORONCOLOR);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TMaskedImageNT

TMaskedImageNT::TMaskedImageNT()
{
    FMask.SetMonochrome(true);
}

void TMaskedImageNT::Assign(const TMaskedImage& other)
{
    if (const auto* same = dynamic_cast<const TMaskedImageNT*>(&other)) {
        FMask.Assign(same->FMask);
        FImage.Assign(same->FImage);
    }
    TMaskedImage::Assign(other);
}

void TMaskedImageNT::BuildMask(const TBitmap& bitmap, TColor transparentColor)
{
    if (!FMaskOutOfDate)
        return;
    TBitmap mask;
    CreateMask(bitmap, mask, transparentColor);
    FMask.Assign(mask);
    FMaskOutOfDate = false;
}

void TMaskedImageNT::UpdateMask(const TBitmap& bitmap, TColor transparentColor)
{
    BuildMask(bitmap, transparentColor);
    // Transparent pixels become white (mask 1 arrives as the white background colour).
    if (!FImageOutOfDate)
        return;
    TBitmap copy;
    PrepareImageCopy(bitmap, copy);
    if (!copy.Empty())
        copy.Canvas().StretchDraw(QRect(0, 0, copy.Width(), copy.Height()), FMask);
    FImage.Assign(copy);
    FImageOutOfDate = false;
}

void TMaskedImageNT::Draw(TCanvas& canvas, const QRect& rect)
{
    canvas.SetStretchBltMode(COLORONCOLOR);
    canvas.SetCopyMode(MERGEPAINT);
    canvas.StretchDraw(rect, FMask);
    canvas.SetCopyMode(SRCAND);
    canvas.StretchDraw(rect, FImage);
}

void TMaskedImageNT::SetMask(const TBitmap& mask)
{
    FMask.Assign(mask);
    FMaskOutOfDate = false;
    FImageOutOfDate = true;
}

void TMaskedImageNT::GetMask(TBitmap& destination) const
{
    destination.Assign(FMask);
}

// ---------------------------------------------------------------------------------------------
// TMaskedImage9x

void TMaskedImage9x::Assign(const TMaskedImage& other)
{
    if (const auto* same = dynamic_cast<const TMaskedImage9x*>(&other)) {
        FMask.Assign(same->FMask);
        FImage.Assign(same->FImage);
    }
    TMaskedImage::Assign(other);
}

void TMaskedImage9x::BuildMask(const TBitmap& bitmap, TColor transparentColor)
{
    if (!FMaskOutOfDate)
        return;
    TBitmap mask;
    CreateMask(bitmap, mask, transparentColor);
    FMask.LoadFromBitmap(mask);
    FMaskOutOfDate = false;
}

void TMaskedImage9x::UpdateMask(const TBitmap& bitmap, TColor transparentColor)
{
    BuildMask(bitmap, transparentColor);
    if (!FImageOutOfDate)
        return;
    TBitmap copy;
    PrepareImageCopy(bitmap, copy);
    if (!copy.Empty())
        FMask.Draw(copy.Canvas(), QRect(0, 0, FMask.Width(), FMask.Height()),
                   QRect(0, 0, FMask.Width(), FMask.Height()));
    FImage.LoadFromBitmap(copy);
    FImageOutOfDate = false;
}

void TMaskedImage9x::Draw(TCanvas& canvas, const QRect& rect)
{
    canvas.SetStretchBltMode(COLORONCOLOR);
    canvas.SetCopyMode(MERGEPAINT);
    FMask.Draw(canvas, rect, QRect(0, 0, FMask.Width(), FMask.Height()));
    canvas.SetCopyMode(SRCAND);
    FImage.Draw(canvas, rect, QRect(0, 0, FImage.Width(), FImage.Height()));
}

void TMaskedImage9x::SetMask(const TBitmap& mask)
{
    FMask.LoadFromBitmap(mask);
    FMaskOutOfDate = false;
    FImageOutOfDate = true;
}

void TMaskedImage9x::GetMask(TBitmap& destination) const
{
    FMask.SaveToBitmap(destination);
}
