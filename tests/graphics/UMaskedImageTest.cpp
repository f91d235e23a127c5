// SPDX-License-Identifier: GPL-3.0-or-later
#include "graphics/UMaskedImage.h"

#include "framework/Platform.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr TColor kMagenta = RGB(255, 0, 255);

bool MaskBit(const TBitmap& mask, int x, int y)
{
    return (mask.ScanLine(y)[x / 8] & (0x80 >> (x % 8))) != 0;
}

// 10 x 2, 24 bits: blue everywhere except magenta at columns 0, 8 and 9 of row 1.
TBitmap KeyedBitmap(TPixelFormat format)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(10, 2);
    bitmap.FillRect(QRect(0, 0, 10, 2), Qt::blue);
    for (const int x : {0, 8, 9})
        bitmap.FillRect(QRect(x, 1, 1, 1), QColor(255, 0, 255));
    return bitmap;
}

std::unique_ptr<TMaskedImage> MakeMaskedImage(TPlatformFamily family)
{
    if (family == TPlatformFamily::NT)
        return std::make_unique<TMaskedImageNT>();
    return std::make_unique<TMaskedImage9x>();
}

} // namespace

TEST(CreateMask, MarksTheKeyColourMostSignificantBitFirst)
{
    for (const TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit, TPixelFormat::pf16bit}) {
        const TBitmap source = KeyedBitmap(format);
        TBitmap mask;
        CreateMask(source, mask, kMagenta | 0x02000000); // only the low 24 bits count
        ASSERT_EQ(mask.PixelFormat(), TPixelFormat::pf1bit);
        ASSERT_EQ(mask.Width(), 10);
        ASSERT_EQ(mask.Height(), 2);
        for (int x = 0; x < 10; ++x) {
            EXPECT_FALSE(MaskBit(mask, x, 0)) << x;
            EXPECT_EQ(MaskBit(mask, x, 1), x == 0 || x == 8 || x == 9) << static_cast<int>(format) << " " << x;
        }
        EXPECT_EQ(mask.ScanLine(1)[0], 0x80);
        EXPECT_EQ(mask.ScanLine(1)[1], 0xC0);
    }
}

TEST(CreateMask, PalettesNeedTheExactColour)
{
    TBitmap source;
    source.SetPixelFormat(TPixelFormat::pf8bit);
    source.SetSize(4, 1);
    source.Image().setColorTable({qRgb(0, 0, 255), qRgb(254, 0, 255), qRgb(255, 0, 255)});
    const std::uint8_t indices[] = {0, 1, 2, 1};
    std::copy(std::begin(indices), std::end(indices), source.ScanLine(0));

    TBitmap mask;
    CreateMask(source, mask, kMagenta);
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(MaskBit(mask, x, 0), x == 2) << x;

    // Without the exact colour nothing is transparent, however near entry 1 comes.
    source.Image().setColorTable({qRgb(0, 0, 255), qRgb(254, 0, 255), qRgb(0, 0, 0)});
    CreateMask(source, mask, kMagenta);
    for (int x = 0; x < 4; ++x)
        EXPECT_FALSE(MaskBit(mask, x, 0)) << x;
}

TEST(TMaskedImage, DrawShowsTheBackgroundThroughKeyPixelsOnBothFamilies)
{
    for (const TPlatformFamily family : {TPlatformFamily::NT, TPlatformFamily::Win9x}) {
        const TPlatformFamilyOverride platform(family);
        const TBitmap source = KeyedBitmap(TPixelFormat::pf24bit);
        auto masked = MakeMaskedImage(family);
        masked->Invalidate();
        masked->UpdateMask(source, kMagenta);

        TBitmap target;
        target.SetPixelFormat(TPixelFormat::pf24bit);
        target.SetSize(20, 4);
        target.FillRect(QRect(0, 0, 20, 4), Qt::green);
        masked->Draw(target.Canvas(), QRect(0, 0, 20, 4)); // stretched twice
        EXPECT_EQ(target.Canvas().CopyMode(), SRCAND);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 20; ++x) {
                const bool key = y >= 2 && (x / 2 == 0 || x / 2 == 8 || x / 2 == 9);
                EXPECT_EQ(target.Image().pixel(x, y) & 0xFFFFFF, key ? 0x00FF00u : 0x0000FFu)
                    << static_cast<int>(family) << " at " << x << "," << y;
            }
    }
}

TEST(TMaskedImage, RebuildsOnlyAfterInvalidate)
{
    for (const TPlatformFamily family : {TPlatformFamily::NT, TPlatformFamily::Win9x}) {
        const TPlatformFamilyOverride platform(family);
        auto masked = MakeMaskedImage(family);
        EXPECT_FALSE(masked->MaskOutOfDate());
        masked->Invalidate();
        masked->UpdateMask(KeyedBitmap(TPixelFormat::pf24bit), kMagenta);
        EXPECT_FALSE(masked->MaskOutOfDate());
        EXPECT_FALSE(masked->ImageOutOfDate());

        // A second update without a change keeps what was built from the first bitmap.
        TBitmap plain;
        plain.SetPixelFormat(TPixelFormat::pf24bit);
        plain.SetSize(3, 3);
        masked->UpdateMask(plain, kMagenta);
        TBitmap mask;
        masked->GetMask(mask);
        EXPECT_EQ(mask.Width(), 10);
        EXPECT_TRUE(MaskBit(mask, 9, 1));

        // Assign copies content of the same variant and the flags of any.
        auto other = MakeMaskedImage(family);
        other->Assign(*masked);
        TBitmap copied;
        other->GetMask(copied);
        EXPECT_EQ(copied.Width(), 10);
        masked->Invalidate();
        other->Assign(*masked);
        EXPECT_TRUE(other->MaskOutOfDate());
        EXPECT_TRUE(other->ImageOutOfDate());

        // SetMask takes the mask as it is and leaves only the image to rebuild.
        other->SetMask(mask);
        EXPECT_FALSE(other->MaskOutOfDate());
        EXPECT_TRUE(other->ImageOutOfDate());
    }
}
