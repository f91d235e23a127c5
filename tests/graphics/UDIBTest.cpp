// SPDX-License-Identifier: GPL-3.0-or-later
#include "graphics/UDIB.h"
#include "graphics/UDIBScaling.h"

#include "framework/EInvalidGraphic.h"
#include "framework/Platform.h"

#include <QBuffer>
#include <QTemporaryFile>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint16_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

struct TInfo {
    std::int32_t Width = 1;
    std::int32_t Height = 1;
    std::uint16_t Bits = 24;
    std::uint32_t Compression = BI_RGB;
    std::uint32_t SizeImage = 0;
    std::uint32_t ClrUsed = 0;
};

// A BMP file image: file header (size and offset fields zero unless given), info header, then
// `table` and `pixels` as they are.
Bytes MakeBMP(const TInfo& info, const Bytes& table, const Bytes& pixels, std::uint32_t offBits = 0)
{
    Bytes b{'B', 'M'};
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, offBits);
    Put32(b, 40);
    Put32(b, static_cast<std::uint32_t>(info.Width));
    Put32(b, static_cast<std::uint32_t>(info.Height));
    Put16(b, 1);
    Put16(b, info.Bits);
    Put32(b, info.Compression);
    Put32(b, info.SizeImage);
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, info.ClrUsed);
    Put32(b, 0);
    b.insert(b.end(), table.begin(), table.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

Bytes InfoHeaderOf(const TInfo& info)
{
    Bytes b = MakeBMP(info, {}, {});
    return Bytes(b.begin() + 14, b.end());
}

// A one-row BI_BITFIELDS file whose header of headerSize bytes (108 or 124, as image editors
// write them) carries the masks itself; the pixels follow the header directly.
Bytes MakeMaskedHeaderBMP(std::uint32_t headerSize, std::uint16_t bits, std::array<std::uint32_t, 3> masks, const Bytes& pixels)
{
    const std::int32_t width = static_cast<std::int32_t>(pixels.size() * 8 / bits);
    Bytes b = MakeBMP({width, 1, bits, BI_BITFIELDS, 0, 0}, {}, {});
    b[14] = static_cast<std::uint8_t>(headerSize);
    for (const std::uint32_t mask : masks)
        Put32(b, mask);
    b.resize(14 + headerSize, 0); // alpha mask, colour space and the rest: zero
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

void LoadBytes(TDIB& dib, const Bytes& bytes)
{
    QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    dib.LoadFromStream(buffer);
}

// A stream that is not memory-based and cannot seek: the holder's copying path.
class TSequentialStream : public QIODevice {
public:
    explicit TSequentialStream(const Bytes& bytes) : FBytes(bytes) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return static_cast<qint64>(FBytes.size() - FAt) + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        const auto count = std::min<qint64>(max, static_cast<qint64>(FBytes.size() - FAt));
        if (count > 0)
            std::memcpy(data, FBytes.data() + FAt, static_cast<std::size_t>(count));
        FAt += static_cast<std::size_t>(count);
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    Bytes FBytes;
    std::size_t FAt = 0;
};

QRgb PixelOf(const TBitmap& bitmap, int x, int y)
{
    return bitmap.Image().pixel(x, y) & 0xFFFFFF;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Size rules

TEST(TDIBSizeRules, RowStridesArePaddedToFourBytes)
{
    struct Row {
        std::int64_t Width;
        std::uint64_t Bits;
        std::int64_t Stride;
    };
    const Row rows[] = {{1, 24, 4}, {3, 24, 12}, {33, 1, 8}, {32, 1, 4}, {1, 1, 4},   {9, 4, 8},
                        {5, 8, 8},  {3, 16, 8},  {3, 32, 12}, {0, 24, 0}, {4, 24, 12}};
    for (const Row& row : rows)
        EXPECT_EQ(bmp::RowStride(row.Width, row.Bits), row.Stride) << row.Width << " x " << row.Bits;
}

TEST(TDIBSizeRules, HeaderSizesOfEachKind)
{
    struct Row {
        const char* Name;
        TInfo Info;
        std::uint64_t Colors;
        std::uint64_t InfoSize;
        std::uint64_t ImageSize;
    };
    const Row rows[] = {
        {"8 bits, full table", {3, 2, 8, BI_RGB, 0, 0}, 256, 40 + 1024, 8},
        {"8 bits, biClrUsed 2", {3, 2, 8, BI_RGB, 0, 2}, 2, 48, 8},
        {"1 bit", {33, 3, 1, BI_RGB, 0, 0}, 2, 48, 24},
        {"24 bits top-down", {3, -5, 24, BI_RGB, 999, 0}, 0, 40, 60},
        {"bit fields with biSizeImage", {3, 2, 16, BI_BITFIELDS, 100, 0}, 0, 52, 100},
        {"bit fields, biSizeImage 0", {3, 2, 16, BI_BITFIELDS, 0, 0}, 0, 52, 16},
        {"bit fields, biSizeImage short of the rows", {3, 2, 32, BI_BITFIELDS, 4, 0}, 0, 52, 24},
        {"run-length data", {3, 2, 8, 1, 77, 0}, 256, 40 + 1024, 77},
    };
    for (const Row& row : rows) {
        const Bytes header = InfoHeaderOf(row.Info);
        EXPECT_EQ(bmp::ColorCount(header.data()), row.Colors) << row.Name;
        EXPECT_EQ(bmp::InfoSize(header.data()), row.InfoSize) << row.Name;
        EXPECT_EQ(bmp::ImageSize(header.data()), row.ImageSize) << row.Name;
    }
}

TEST(TDIBSizeRules, CoreHeaderUsesThreeByteEntriesAndUnsignedSizes)
{
    Bytes core;
    Put32(core, 12);
    Put16(core, 40000); // above the signed 16-bit range
    Put16(core, 2);
    Put16(core, 1);
    Put16(core, 8);
    EXPECT_EQ(bmp::ColorCount(core.data()), 256u);
    EXPECT_EQ(bmp::InfoSize(core.data()), 12u + 3 * 256);
    EXPECT_EQ(bmp::ImageSize(core.data()), 40000u * 2);
}

TEST(TDIBSizeRules, LyingSizesSaturateInsteadOfWrapping)
{
    const Bytes header = InfoHeaderOf({0x7FFFFFFF, -0x7FFFFFFF, 32, BI_RGB, 0, 0xFFFFFFFF});
    EXPECT_GT(bmp::DataSize(header.data()), std::uint64_t{1} << 40);
    EXPECT_EQ(bmp::CheckHeader(header.data(), header.size()), bmp::THeaderCheck::Ok);
    Bytes small = header;
    small[0] = 20; // between the core and the info header sizes
    EXPECT_EQ(bmp::CheckHeader(small.data(), small.size()), bmp::THeaderCheck::Invalid);
    EXPECT_EQ(bmp::CheckHeader(header.data(), 20), bmp::THeaderCheck::Truncated);
}

// ---------------------------------------------------------------------------------------------
// Reading

TEST(TDIBLoad, ReadsBottomUpRowsAndStopsAtTheEndOfTheData)
{
    // 3 x 2, 24 bits: bottom row blue, green, red; top row white, black, grey.
    const Bytes pixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0,
                          255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 0};
    Bytes bytes = MakeBMP({3, 2, 24, BI_RGB, 0, 0}, {}, pixels);
    bytes.push_back(0xAB); // whatever follows the image stays in the stream
    QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    TDIB dib;
    dib.LoadFromStream(buffer);
    EXPECT_EQ(buffer.pos(), static_cast<qint64>(bytes.size() - 1));
    EXPECT_EQ(dib.Width(), 3);
    EXPECT_EQ(dib.Height(), 2);

    TBitmap bitmap;
    dib.SaveToBitmap(bitmap);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(PixelOf(bitmap, 2, 0), 0x808080u);
    EXPECT_EQ(PixelOf(bitmap, 0, 1), 0x0000FFu);
    EXPECT_EQ(PixelOf(bitmap, 2, 1), 0xFF0000u);
}

TEST(TDIBLoad, PixelsFollowTheColourTableWhateverTheOffsetField)
{
    // bfOffBits points 8 bytes further: those bytes are taken as the pixel data.
    const Bytes table = {0, 0, 255, 0, 0, 255, 0, 0}; // red, green
    const Bytes pixels = {1, 0, 0, 0};
    const Bytes bytes = MakeBMP({1, 1, 8, BI_RGB, 0, 2}, table, pixels, 14 + 48 + 8);
    TDIB dib;
    LoadBytes(dib, bytes);
    EXPECT_EQ(dib.Info().Size(), 48u);
    TBitmap bitmap;
    dib.SaveToBitmap(bitmap);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), 0x00FF00u);
}

TEST(TDIBLoad, CoreHeaderBecomesAnInfoHeaderWithFourByteEntries)
{
    Bytes bytes{'B', 'M'};
    bytes.resize(14, 0);
    Put32(bytes, 12);
    Put16(bytes, 2);
    Put16(bytes, 1);
    Put16(bytes, 1);
    Put16(bytes, 8);
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(i));       // blue
        bytes.push_back(static_cast<std::uint8_t>(255 - i)); // green
        bytes.push_back(7);                                  // red
    }
    bytes.insert(bytes.end(), {3, 200, 0, 0});
    TDIB dib;
    LoadBytes(dib, bytes);
    const TBMPInfo& info = dib.Info();
    ASSERT_EQ(info.Size(), 40u + 4 * 256);
    EXPECT_EQ(info.Header().biSize, 40u);
    EXPECT_EQ(info.Header().biWidth, 2);
    EXPECT_EQ(info.Header().biHeight, 1);
    EXPECT_EQ(info.Header().biBitCount, 8);
    const auto table = info.ColorTable();
    EXPECT_EQ(table[4 * 200 + 0], 200);
    EXPECT_EQ(table[4 * 200 + 1], 55);
    EXPECT_EQ(table[4 * 200 + 2], 7);
    EXPECT_EQ(table[4 * 200 + 3], 0);
    TBitmap bitmap;
    dib.SaveToBitmap(bitmap);
    EXPECT_EQ(PixelOf(bitmap, 1, 0), qRgb(7, 55, 200) & 0xFFFFFFu);
}

TEST(TDIBLoad, BitFieldsCarryMasksAndDecodeAs565)
{
    Bytes masks;
    Put32(masks, 0xF800);
    Put32(masks, 0x07E0);
    Put32(masks, 0x001F);
    const Bytes pixels = {0x00, 0xF8, 0x1F, 0x00}; // red, blue
    const Bytes bytes = MakeBMP({2, 1, 16, BI_BITFIELDS, 0, 0}, masks, pixels);
    TDIB dib;
    LoadBytes(dib, bytes);
    EXPECT_EQ(dib.Info().Size(), 52u);
    TBitmap bitmap;
    dib.SaveToBitmap(bitmap);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf16bit);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), 0xFF0000u);
    EXPECT_EQ(PixelOf(bitmap, 1, 0), 0x0000FFu);
}

TEST(TDIBLoad, LargerHeadersCarryTheirMasksInside)
{
    struct Row {
        const char* Name;
        Bytes Data;
        QRgb First;
        QRgb Second;
    };
    const Row rows[] = {
        {"108 bytes, 32 bits", MakeMaskedHeaderBMP(108, 32, {0xFF0000, 0xFF00, 0xFF}, {0, 0, 0xFF, 0xFF, 0x80, 0, 0, 0xFF}),
         0xFF0000, 0x000080},
        {"124 bytes, 16 bits 5-5-5", MakeMaskedHeaderBMP(124, 16, {0x7C00, 0x03E0, 0x001F}, {0x00, 0x7C, 0x1F, 0x00}),
         0xFF0000, 0x0000FF},
        {"124 bytes, 16 bits 4-4-4", MakeMaskedHeaderBMP(124, 16, {0x0F00, 0x00F0, 0x000F}, {0xF0, 0x00, 0x0F, 0x00}),
         0x00FF00, 0x0000FF},
    };
    for (const Row& row : rows) {
        for (const TPlatformFamily family : {TPlatformFamily::NT, TPlatformFamily::Win9x}) {
            const TPlatformFamilyOverride platform(family);
            TDIB dib;
            TSequentialStream stream(row.Data);
            ASSERT_NO_THROW(dib.LoadFromStream(stream)) << row.Name;
            TBitmap bitmap;
            dib.SaveToBitmap(bitmap);
            EXPECT_EQ(PixelOf(bitmap, 0, 0), row.First) << row.Name;
            EXPECT_EQ(PixelOf(bitmap, 1, 0), row.Second) << row.Name;
        }
        // The framework's reader, which other threads use, sees the same pixels (it widens
        // short channels a little differently).
        QByteArray data(reinterpret_cast<const char*>(row.Data.data()), static_cast<qsizetype>(row.Data.size()));
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        TBitmap framework;
        framework.LoadFromStream(buffer);
        const auto near = [](QRgb a, QRgb b) {
            return std::abs(qRed(a) - qRed(b)) < 16 && std::abs(qGreen(a) - qGreen(b)) < 16 && std::abs(qBlue(a) - qBlue(b)) < 16;
        };
        EXPECT_PRED2(near, PixelOf(framework, 0, 0), row.First) << row.Name;
        EXPECT_PRED2(near, PixelOf(framework, 1, 0), row.Second) << row.Name;
    }
    // A header between 40 and 52 bytes has no place for the masks.
    Bytes between = MakeMaskedHeaderBMP(44, 32, {0xFF0000, 0xFF00, 0xFF}, Bytes(4, 0));
    TDIB dib;
    EXPECT_THROW(LoadBytes(dib, between), EInvalidGraphic);
}

TEST(TDIBLoad, BadAndLyingDataIsRefused)
{
    const Bytes good = MakeBMP({3, 2, 24, BI_RGB, 0, 0}, {}, Bytes(24, 0));
    struct Row {
        const char* Name;
        Bytes Data;
        bool ReadError; // otherwise EInvalidGraphic
    };
    Bytes wrongSignature = good;
    wrongSignature[1] = 'A';
    Bytes truncated(good.begin(), good.end() - 1);
    Bytes hugeHeight = good;
    hugeHeight[22] = 0xFF;
    hugeHeight[23] = 0xFF;
    hugeHeight[24] = 0xFF;
    hugeHeight[25] = 0x3F;
    Bytes hugeClrUsed = MakeBMP({3, 2, 8, BI_RGB, 0, 0xFFFFFFF0}, {}, Bytes(8, 0));
    Bytes tinyHeader = good;
    tinyHeader[14] = 16;
    Bytes negativeWidth = MakeBMP({-3, 2, 24, BI_RGB, 0, 0}, {}, Bytes(24, 0));
    const Row rows[] = {
        {"empty", {}, true},
        {"one byte", {'B'}, true},
        {"wrong signature", wrongSignature, false},
        {"file header only", Bytes(good.begin(), good.begin() + 14), true},
        {"pixels cut short", truncated, true},
        {"height of a billion rows", hugeHeight, true},
        {"four billion colours", hugeClrUsed, true},
        {"header too small for its fields", tinyHeader, false},
        {"negative width", negativeWidth, false},
    };
    for (const Row& row : rows) {
        for (const bool memory : {true, false}) {
            TDIB dib;
            try {
                if (memory) {
                    LoadBytes(dib, row.Data);
                } else {
                    TSequentialStream stream(row.Data);
                    dib.LoadFromStream(stream);
                }
                ADD_FAILURE() << row.Name << " was accepted";
            } catch (const EReadError& error) {
                EXPECT_TRUE(row.ReadError) << row.Name;
                EXPECT_STREQ(error.what(), kReadErrorText);
            } catch (const EInvalidGraphic& error) {
                EXPECT_FALSE(row.ReadError) << row.Name;
                EXPECT_STREQ(error.what(), kInvalidBitmapText);
            }
            EXPECT_EQ(dib.Bits(), nullptr) << row.Name;
        }
    }
}

TEST(TDIBLoad, PixelsOutliveAndIgnoreTheMemoryTheyWereReadFrom)
{
    for (const bool raw : {false, true}) {
        Bytes bytes = MakeBMP({1, 1, 24, BI_RGB, 0, 0}, {}, {0, 0, 255, 0}); // red
        TDIB dib;
        {
            QByteArray data = raw ? QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()))
                                  : QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
            QBuffer buffer(&data);
            buffer.open(QIODevice::ReadOnly);
            dib.LoadFromStream(buffer);
            data.fill('\0');
        }
        std::fill(bytes.begin(), bytes.end(), 0);
        TBitmap bitmap;
        dib.SaveToBitmap(bitmap);
        EXPECT_EQ(PixelOf(bitmap, 0, 0), 0xFF0000u) << (raw ? "raw memory" : "an array");
    }
}

TEST(TDIBLoad, FileStreamsAreCopiedAndLeftJustPastTheData)
{
    const Bytes pixels = {0, 0, 255, 0};
    Bytes bytes = MakeBMP({1, 1, 24, BI_RGB, 0, 0}, {}, pixels);
    bytes.insert(bytes.end(), {1, 2, 3});
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    file.seek(0);
    TDIB dib;
    dib.LoadFromStream(file);
    EXPECT_EQ(file.pos(), static_cast<qint64>(bytes.size() - 3));
    TBitmap bitmap;
    dib.SaveToBitmap(bitmap);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), 0xFF0000u);
}

// ---------------------------------------------------------------------------------------------
// Bitmaps in and out

TEST(TDIBBitmaps, PixelsOfAFrameworkBitmapAreBorrowedAndKeptAlive)
{
    TDIB dib;
    {
        TBitmap source;
        source.SetPixelFormat(TPixelFormat::pf24bit);
        source.SetSize(5, 3);
        source.FillRect(QRect(0, 0, 5, 3), Qt::red);
        dib.LoadFromBitmap(source);
        source.FillRect(QRect(0, 0, 5, 3), Qt::blue); // the source writes after the load
    }
    ASSERT_NE(dib.Bits(), nullptr);
    EXPECT_FALSE(dib.Bits()->Owned());
    EXPECT_EQ(dib.Info().Header().biHeight, -3); // top-down, as the bitmap's rows are
    TBitmap copy;
    dib.SaveToBitmap(copy);
    EXPECT_EQ(copy.Width(), 5);
    EXPECT_EQ(PixelOf(copy, 4, 2), 0xFF0000u);

    // Pixels in a layout no DIB has are copied as 24-bit bottom-up rows.
    TBitmap grey;
    grey.Image() = QImage(3, 2, QImage::Format_Grayscale8);
    grey.Image().fill(0);
    grey.Image().setPixel(2, 0, qRgb(90, 90, 90));
    TDIB copied;
    copied.LoadFromBitmap(grey);
    ASSERT_NE(copied.Bits(), nullptr);
    EXPECT_TRUE(copied.Bits()->Owned());
    EXPECT_EQ(copied.Info().Header().biBitCount, 24);
    EXPECT_EQ(copied.Info().Header().biHeight, 2);
    TBitmap back;
    copied.SaveToBitmap(back);
    EXPECT_EQ(PixelOf(back, 2, 0), 0x5A5A5Au);
    EXPECT_EQ(PixelOf(back, 2, 1), 0x000000u);
}

TEST(TDIBBitmaps, NinexFamilySavesThroughTheCanvas)
{
    const TPlatformFamilyOverride family(TPlatformFamily::Win9x);
    const Bytes table = {0, 0, 0, 0, 255, 255, 255, 0};
    const Bytes pixels = {0x80, 0, 0, 0, 0x40, 0, 0, 0}; // 2 rows of 2 bits: bottom (1,0), top (0,1)
    const Bytes bytes = MakeBMP({2, 2, 1, BI_RGB, 0, 0}, table, pixels);
    TDIB dib;
    LoadBytes(dib, bytes);
    TBitmap bitmap;
    dib.SaveToBitmap(bitmap);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), 0x000000u);
    EXPECT_EQ(PixelOf(bitmap, 1, 0), 0xFFFFFFu);
    EXPECT_EQ(PixelOf(bitmap, 0, 1), 0xFFFFFFu);
    EXPECT_EQ(PixelOf(bitmap, 1, 1), 0x000000u);
}

// ---------------------------------------------------------------------------------------------
// Drawing

namespace {

// 10 x 100 DIB whose row r (counted from the top of the picture) has red = r.
TDIB& RowsDIB(TDIB& dib, bool bottomUp)
{
    Bytes pixels;
    for (int stored = 0; stored < 100; ++stored) {
        const int row = bottomUp ? 99 - stored : stored;
        for (int x = 0; x < 10; ++x)
            pixels.insert(pixels.end(), {0, 0, static_cast<std::uint8_t>(row)});
        pixels.insert(pixels.end(), {0, 0});
    }
    LoadBytes(dib, MakeBMP({10, bottomUp ? 100 : -100, 24, BI_RGB, 0, 0}, {}, pixels));
    return dib;
}

} // namespace

TEST(TDIBDraw, SourceRowsCountFromTheTopForBothRowOrders)
{
    for (const bool bottomUp : {true, false}) {
        TDIB dib;
        RowsDIB(dib, bottomUp);
        TBitmap target;
        target.SetPixelFormat(TPixelFormat::pf24bit);
        target.SetSize(10, 10);
        EXPECT_TRUE(dib.StretchDraw(target.Canvas(), QRect(0, 0, 10, 10), QRect(0, 0, 10, 10)));
        EXPECT_EQ(qRed(target.Image().pixel(0, 0)), 0) << bottomUp;
        EXPECT_EQ(qRed(target.Image().pixel(0, 9)), 9) << bottomUp;
    }
}

TEST(TDIBDraw, AnEmptyDIBDrawsNothingAndSucceeds)
{
    TDIB dib;
    TBitmap target;
    target.SetPixelFormat(TPixelFormat::pf24bit);
    target.SetSize(4, 4);
    target.FillRect(QRect(0, 0, 4, 4), Qt::green);
    EXPECT_TRUE(dib.StretchDraw(target.Canvas(), QRect(0, 0, 4, 4), QRect(0, 0, 4, 4)));
    dib.Draw(target.Canvas(), QRect(0, 0, 4, 4), QRect(0, 0, 8, 8));
    EXPECT_EQ(PixelOf(target, 2, 2), 0x00FF00u);
}

TEST(TDIBDraw, ScaledDrawsOfKeptBitmapsSampleNearestAndStayInsideTheClip)
{
    for (const TPlatformFamily family : {TPlatformFamily::NT, TPlatformFamily::Win9x}) {
        const TPlatformFamilyOverride platform(family);
        TBitmap source;
        source.SetPixelFormat(TPixelFormat::pf24bit);
        source.SetSize(4, 1);
        const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
        for (int x = 0; x < 4; ++x)
            source.FillRect(QRect(x, 0, 1, 1), colours[x]);
        TDIB dib;
        dib.LoadFromBitmap(source);
        TBitmap target;
        target.SetPixelFormat(TPixelFormat::pf24bit);
        target.SetSize(4, 2);
        target.FillRect(QRect(0, 0, 4, 2), Qt::white);
        target.Canvas().IntersectClipRect(QRect(0, 0, 4, 1));
        dib.DrawDevice(target.Canvas(), QRect(0, 0, 2, 2), QRect(0, 0, 4, 1));
        EXPECT_EQ(PixelOf(target, 0, 0), 0x00FF00u); // column 1
        EXPECT_EQ(PixelOf(target, 1, 0), 0xFFFF00u); // column 3
        EXPECT_EQ(PixelOf(target, 0, 1), 0xFFFFFFu); // clipped away
        EXPECT_EQ(PixelOf(target, 2, 0), 0xFFFFFFu); // outside the destination
    }
}

TEST(TDIBDraw, RowFallbackMapsTheWholeDIB)
{
    // A run-length DIB cannot be drawn by StretchDIBits: the fallback tries every row and
    // nothing is drawn, nor read past the bits.
    Bytes bytes = MakeBMP({2, 2, 8, 1, 4, 0}, Bytes(1024, 0), {0, 0, 0, 0});
    TDIB dib;
    LoadBytes(dib, bytes);
    TBitmap target;
    target.SetPixelFormat(TPixelFormat::pf24bit);
    target.SetSize(4, 4);
    target.FillRect(QRect(0, 0, 4, 4), Qt::green);
    dib.DrawDevice(target.Canvas(), QRect(0, 0, 4, 4), QRect(0, 0, 2, 2));
    EXPECT_EQ(PixelOf(target, 3, 3), 0x00FF00u);
    TBitmap saved;
    EXPECT_THROW(dib.SaveToBitmap(saved), EInvalidGraphic);
}

// ---------------------------------------------------------------------------------------------
// Scaling arithmetic

TEST(TDIBScaling, NearestMapsSampleTheCentres)
{
    EXPECT_EQ(dibscale::NearestMap(2, 0, 4), (std::vector<int>{1, 3}));
    EXPECT_EQ(dibscale::NearestMap(4, 0, 2), (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(dibscale::NearestMap(3, 10, 3), (std::vector<int>{10, 11, 12}));
    EXPECT_EQ(dibscale::NearestMap(0, 0, 3), (std::vector<int>{}));
}

TEST(TDIBScaling, CropKeepsThePartOnly)
{
    const std::vector<int> map{0, 1, 2, 3, 4, 5};
    EXPECT_EQ(dibscale::CropMap(map, 2, 3), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(dibscale::CropMap(map, 4, 10), (std::vector<int>{4, 5}));
    EXPECT_EQ(dibscale::CropMap(map, -2, 10), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(dibscale::CropMap(map, 7, 3), (std::vector<int>{}));
}

TEST(TDIBScaling, LargeAreasAreSplitIntoBands)
{
    EXPECT_EQ(dibscale::BandCount(3000, 2000), 2);
    EXPECT_EQ(dibscale::BandCount(1000, 1000), 1);
    EXPECT_EQ(dibscale::BandCount(2048, 2048), 2);
    EXPECT_EQ(dibscale::BandCount(4096, 4096), 5);
    const QRect visible(10, 20, 3000, 2001);
    int next = visible.top();
    for (int k = 0; k < 3; ++k) {
        const QRect band = dibscale::Band(visible, k, 3);
        EXPECT_EQ(band.top(), next);
        EXPECT_EQ(band.left(), 10);
        EXPECT_EQ(band.width(), 3000);
        next = band.bottom() + 1;
    }
    EXPECT_EQ(next, visible.bottom() + 1);
}

TEST(TDIBScaling, ScaleCopyKeepsEachPixelFormat)
{
    // 1 bit: 33 columns, every third set, halved.
    TBitmap mono;
    mono.SetPixelFormat(TPixelFormat::pf1bit);
    mono.SetSize(33, 1);
    std::memset(mono.ScanLine(0), 0, static_cast<std::size_t>(mono.BytesPerLine()));
    for (int x = 0; x < 33; x += 3)
        mono.ScanLine(0)[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    TBitmap target;
    target.SetSize(11, 1);
    ASSERT_TRUE(ScaleCopy(target, mono, QRect(0, 0, 11, 1), QRect(0, 0, 11, 1), QRect(0, 0, 33, 1)));
    EXPECT_EQ(target.PixelFormat(), TPixelFormat::pf1bit);
    // Destination column i samples source column 3i + 1, never set.
    for (int i = 0; i < 11; ++i)
        EXPECT_FALSE(target.ScanLine(0)[i / 8] & (0x80 >> (i % 8))) << i;

    // 32 bits, with a part that starts inside the destination.
    TBitmap wide;
    wide.SetPixelFormat(TPixelFormat::pf32bit);
    wide.SetSize(2, 2);
    wide.FillRect(QRect(0, 0, 1, 2), Qt::red);
    wide.FillRect(QRect(1, 0, 1, 2), Qt::blue);
    TBitmap part;
    part.SetSize(2, 2);
    ASSERT_TRUE(ScaleCopy(part, wide, QRect(2, 0, 2, 2), QRect(0, 0, 4, 4), QRect(0, 0, 2, 2)));
    EXPECT_EQ(part.Width(), 2);
    EXPECT_EQ(PixelOf(part, 0, 0), 0x0000FFu);
    EXPECT_EQ(PixelOf(part, 1, 1), 0x0000FFu);

    EXPECT_FALSE(ScaleCopy(part, wide, QRect(10, 0, 2, 2), QRect(0, 0, 4, 4), QRect(0, 0, 2, 2)));
}
