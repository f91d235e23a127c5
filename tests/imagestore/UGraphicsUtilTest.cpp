// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagestore/UGraphicsUtil.h"

#include "framework/TBitmap.h"
#include "framework/TJPEGImage.h"
#include "framework/TPicture.h"
#include "../framework/JPEGTestData.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TBitmap Bitmap24(int width, int height)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    return bitmap;
}

// The truncated mean of each block, computed pixel by pixel from the block edges.
TBitmap ReferenceReduction(const TBitmap& source, int dw, int dh)
{
    TBitmap out = Bitmap24(dw, dh);
    const int sw = source.Width(), sh = source.Height();
    for (int y = 0; y < dh; ++y) {
        const int top = y * sh / dh, bottom = std::max(top + 1, (y + 1) * sh / dh);
        for (int x = 0; x < dw; ++x) {
            const int left = x * sw / dw, right = std::max(left + 1, (x + 1) * sw / dw);
            for (int channel = 0; channel < 3; ++channel) {
                std::uint64_t sum = 0;
                for (int sy = top; sy < bottom; ++sy)
                    for (int sx = left; sx < right; ++sx)
                        sum += source.ScanLine(sy)[3 * sx + channel];
                out.ScanLine(y)[3 * x + channel] =
                    static_cast<std::uint8_t>(sum / ((bottom - top) * (right - left)));
            }
        }
    }
    return out;
}

void ExpectSamePixels(const TBitmap& a, const TBitmap& b)
{
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    for (int y = 0; y < a.Height(); ++y)
        ASSERT_EQ(0, std::memcmp(a.ScanLine(y), b.ScanLine(y), static_cast<std::size_t>(a.Width()) * 3)) << "row " << y;
}

TBitmap Noise(int width, int height)
{
    TBitmap bitmap = Bitmap24(width, height);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y)
        for (int b = 0; b < width * 3; ++b)
            bitmap.ScanLine(y)[b] = static_cast<std::uint8_t>(random());
    return bitmap;
}

} // namespace

TEST(ReduceBitmapInto, EachPixelIsTheTruncatedMeanOfItsBlock)
{
    TBitmap square = Bitmap24(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 3; ++c)
                square.ScanLine(y)[3 * x + c] = static_cast<std::uint8_t>(10 * (y * 4 + x) + c);
    TBitmap two = Bitmap24(2, 2);
    ReduceBitmapInto(square, two);
    // Top-left block: 0, 10, 40, 50 -> 25; bottom-right: 100, 110, 140, 150 -> 125 (plus channel).
    EXPECT_EQ(two.ScanLine(0)[0], 25);
    EXPECT_EQ(two.ScanLine(0)[2], 27);
    EXPECT_EQ(two.ScanLine(1)[3], 125);

    TBitmap row = Bitmap24(3, 1);
    const std::uint8_t pixels[] = {9, 9, 9, 10, 20, 30, 13, 24, 35};
    std::memcpy(row.ScanLine(0), pixels, sizeof pixels);
    TBitmap two1 = Bitmap24(2, 1);
    ReduceBitmapInto(row, two1);
    const std::uint8_t expected[] = {9, 9, 9, 11, 22, 32};
    EXPECT_EQ(0, std::memcmp(two1.ScanLine(0), expected, sizeof expected));

    // Tall blocks: more rows than the partial sums hold before they are carried over.
    TBitmap column = Bitmap24(1, 600);
    column.FillRect(QRect(0, 0, 1, 600), Qt::white);
    TBitmap dot = Bitmap24(1, 1);
    ReduceBitmapInto(column, dot);
    EXPECT_EQ(dot.Image().pixelColor(0, 0), QColor(Qt::white));

    const TBitmap frame = Noise(1920, 1080);
    TBitmap thumb = Bitmap24(98, 55);
    ReduceBitmapInto(frame, thumb);
    ExpectSamePixels(thumb, ReferenceReduction(frame, 98, 55));
}

TEST(ReduceBitmapInto, OtherFormatsAreReadThroughACopyAndSmallSourcesStretched)
{
    TBitmap source;
    source.SetPixelFormat(TPixelFormat::pf32bit);
    source.SetSize(4, 2);
    source.FillRect(QRect(0, 0, 4, 2), QColor(200, 100, 50));
    TBitmap small = Bitmap24(2, 1);
    ReduceBitmapInto(source, small);
    EXPECT_EQ(source.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(small.Image().pixelColor(1, 0), QColor(200, 100, 50));

    // A destination larger than the source is drawn stretched, never read past the source.
    TBitmap large = Bitmap24(9, 5);
    ReduceBitmapInto(small, large);
    EXPECT_EQ(large.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(large.Image().pixelColor(8, 4), QColor(200, 100, 50));
}

TEST(SetJPEGScaleFor, SmallestScaleThatStillCoversTheFittedSize)
{
    struct Case {
        int Width, Height;
        TJPEGScale Expected;
    };
    const Case cases[] = {{1280, 960, TJPEGScale::jsEighth},
                          {640, 480, TJPEGScale::jsQuarter},
                          {300, 200, TJPEGScale::jsHalf},
                          {200, 150, TJPEGScale::jsFullSize}};
    for (const Case& c : cases) {
        TJPEGImage jpeg;
        jpeg.LoadFromMemory(jpegtest::Encode(c.Width, c.Height, jpegtest::TKind::Colour));
        jpeg.SetScale(TJPEGScale::jsEighth); // the choice does not depend on an earlier one
        SetJPEGScaleFor(&jpeg, 148, 138);
        EXPECT_EQ(jpeg.Scale(), c.Expected) << c.Width;
        EXPECT_EQ(jpeg.Performance(), TJPEGPerformance::jpBestSpeed);
        EXPECT_FALSE(jpeg.Smoothing());
    }
    TBitmap bitmap = Bitmap24(4, 4);
    SetJPEGScaleFor(&bitmap, 1, 1);
    SetJPEGScaleFor(nullptr, 1, 1);
}

TEST(DrawPictureInto, TransparencyIsKeptMadeOpaqueOrDrawnOverTheBackColour)
{
    // A red picture with a blue square in the middle, blue being the transparent colour.
    const auto makePicture = [](TPicture& picture) {
        TBitmap& bitmap = picture.Bitmap();
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        bitmap.SetSize(4, 4);
        bitmap.FillRect(QRect(0, 0, 4, 4), Qt::red);
        bitmap.FillRect(QRect(1, 1, 2, 2), Qt::blue);
        bitmap.SetTransparentColor(clBlue);
        bitmap.SetTransparent(true);
    };
    TPicture picture;
    makePicture(picture);
    TBitmap out = Bitmap24(4, 4);
    DrawPictureInto(picture, out, NoTransparency, false, clWhite);
    EXPECT_TRUE(picture.Graphic()->Transparent());
    EXPECT_EQ(out.Image().pixelColor(1, 1), QColor(Qt::blue));

    DrawPictureInto(picture, out, clBlue, false, clLime);
    EXPECT_EQ(out.Image().pixelColor(1, 1), QColor(Qt::green));
    EXPECT_EQ(out.Image().pixelColor(0, 0), QColor(Qt::red));

    DrawPictureInto(picture, out, kMakeOpaque, false, clLime);
    EXPECT_FALSE(picture.Graphic()->Transparent());
    EXPECT_EQ(out.Image().pixelColor(1, 1), QColor(Qt::blue));
}
