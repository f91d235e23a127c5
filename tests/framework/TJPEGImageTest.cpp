// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TJPEGImage.h"

#include "framework/EInvalidGraphic.h"
#include "JPEGTestData.h"

#include <QBuffer>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

bool Near(int a, int b)
{
    return std::abs(a - b) <= 12;
}

} // namespace

TEST(TJPEGImage, DecodesAtEveryScaleInto24Bits)
{
    const auto bytes = jpegtest::Encode(64, 50, jpegtest::TKind::Colour);
    struct Row {
        TJPEGScale Scale;
        int Width;
        int Height;
    };
    const Row rows[] = {{TJPEGScale::jsFullSize, 64, 50},
                        {TJPEGScale::jsHalf, 32, 25},
                        {TJPEGScale::jsQuarter, 16, 13},
                        {TJPEGScale::jsEighth, 8, 7}};
    for (const TJPEGPerformance performance : {TJPEGPerformance::jpBestQuality, TJPEGPerformance::jpBestSpeed}) {
        TJPEGImage image;
        image.LoadFromMemory(bytes);
        image.SetPerformance(performance);
        image.SetSmoothing(performance == TJPEGPerformance::jpBestQuality);
        EXPECT_EQ(image.Components(), 3);
        for (const Row& row : rows) {
            image.SetScale(row.Scale);
            EXPECT_EQ(image.Width(), row.Width);
            EXPECT_EQ(image.Height(), row.Height);
            const TBitmap& bitmap = image.Bitmap();
            ASSERT_EQ(bitmap.Width(), row.Width);
            ASSERT_EQ(bitmap.Height(), row.Height);
            EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
            const QRgb pixel = bitmap.Image().pixel(row.Width / 2, row.Height / 2);
            EXPECT_TRUE(Near(qRed(pixel), 200) && Near(qGreen(pixel), 30) && Near(qBlue(pixel), 40))
                << std::hex << pixel;
        }
    }
}

TEST(TJPEGImage, GreyAndProgressivePicturesDecode)
{
    for (const auto kind : {jpegtest::TKind::Grey, jpegtest::TKind::Progressive}) {
        TJPEGImage image;
        image.LoadFromMemory(jpegtest::Encode(20, 10, kind));
        const QRgb pixel = image.Bitmap().Image().pixel(5, 5);
        EXPECT_TRUE(Near(qRed(pixel), 200)) << std::hex << pixel;
        EXPECT_EQ(image.Bitmap().PixelFormat(), TPixelFormat::pf24bit);
    }
}

TEST(TJPEGImage, BadDataRaisesInsteadOfEndingTheProcess)
{
    const auto good = jpegtest::Encode(16, 16, jpegtest::TKind::Colour);
    auto huge = good;
    jpegtest::SetFrameSize(huge, 65000, 65000);
    auto large = good;
    jpegtest::SetFrameSize(large, 16000, 16000);
    struct Row {
        const char* Name;
        std::vector<std::uint8_t> Data;
    };
    const Row rows[] = {
        {"empty", {}},
        {"not a JPEG", {'B', 'M', 0, 0, 0, 0}},
        {"four components", jpegtest::Encode(8, 8, jpegtest::TKind::CMYK)},
        {"header cut off", std::vector<std::uint8_t>(good.begin(), good.begin() + 30)},
        {"65000 x 65000 pixels", huge},
    };
    for (const Row& row : rows) {
        TJPEGImage image;
        EXPECT_THROW(image.LoadFromMemory(row.Data), EInvalidGraphic) << row.Name;
        EXPECT_TRUE(image.Empty()) << row.Name;
    }
    // 256 Mi pixels: too many to decode at full size, a thumbnail's worth at 1/8.
    TJPEGImage image;
    image.LoadFromMemory(large);
    EXPECT_THROW(image.Bitmap(), EInvalidGraphic);
    image.SetScale(TJPEGScale::jsEighth);
    EXPECT_EQ(image.Bitmap().Width(), 2000);
}

TEST(TJPEGImage, TruncatedScanDataStillGivesAPicture)
{
    const auto good = jpegtest::Encode(64, 64, jpegtest::TKind::Colour);
    std::size_t scan = 0;
    for (std::size_t i = 0; i + 1 < good.size() && scan == 0; ++i)
        if (good[i] == 0xFF && good[i + 1] == 0xDA)
            scan = i;
    ASSERT_GT(scan, 0u);
    const std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>((scan + good.size()) / 2));
    TJPEGImage image;
    image.LoadFromMemory(cut);
    EXPECT_EQ(image.Bitmap().Width(), 64);
}

TEST(TJPEGImage, StreamsAndStoredDataRoundTrip)
{
    const auto bytes = jpegtest::Encode(12, 8, jpegtest::TKind::Colour);
    TJPEGImage image;
    image.LoadFromMemory(bytes);
    QByteArray stored;
    QBuffer out(&stored);
    out.open(QIODevice::WriteOnly);
    image.WriteData(out);
    out.close();
    ASSERT_EQ(stored.size(), static_cast<qsizetype>(bytes.size() + 4));

    QBuffer in(&stored);
    in.open(QIODevice::ReadOnly);
    TJPEGImage copy;
    copy.ReadData(in);
    EXPECT_EQ(copy.Data(), bytes);
    EXPECT_EQ(copy.Width(), 12);

    // A stored size larger than the data is a read error, not an allocation of that size.
    QByteArray lying = stored;
    lying[3] = 0x7F;
    QBuffer short_(&lying);
    short_.open(QIODevice::ReadOnly);
    TJPEGImage none;
    EXPECT_THROW(none.ReadData(short_), EReadError);
}
