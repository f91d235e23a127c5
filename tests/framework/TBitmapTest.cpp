// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/EInvalidGraphic.h"
#include "framework/TBitmap.h"
#include "framework/TMetafile.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <cstring>
#include <utility>

namespace {

// A bitmap whose pixels differ from each other, in the given format.
TBitmap Pattern(TPixelFormat format, int width, int height)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap.Image().setPixel(x, y, qRgb((x * 40) & 0xFF, (y * 60) & 0xFF, ((x + y) * 30) & 0xFF));
    bitmap.SetPixelFormat(format);
    return bitmap;
}

QByteArray Saved(const TGraphic& graphic)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    graphic.SaveToStream(buffer);
    return buffer.data();
}

struct TCounter {
    int Count = 0;
    void Hit(TObject*) { ++Count; }
};

} // namespace

// Each format is written in its own DIB layout and read back to the same pixels and format.
TEST(Bitmap, SaveAndLoadKeepFormatAndPixels)
{
    struct TCase {
        TPixelFormat Format;
        int BitCount;
    };
    for (const TCase& c : {TCase{TPixelFormat::pf1bit, 1}, TCase{TPixelFormat::pf4bit, 4}, TCase{TPixelFormat::pf8bit, 8},
                           TCase{TPixelFormat::pf15bit, 16}, TCase{TPixelFormat::pf16bit, 16},
                           TCase{TPixelFormat::pf24bit, 24}, TCase{TPixelFormat::pf32bit, 32}}) {
        const TBitmap original = Pattern(c.Format, 5, 3);
        const QByteArray bytes = Saved(original);
        ASSERT_GE(bytes.size(), 54);
        std::uint16_t bitCount = 0;
        std::memcpy(&bitCount, bytes.constData() + 28, 2);
        EXPECT_EQ(bitCount, c.BitCount);

        QBuffer buffer;
        buffer.setData(bytes + QByteArray("trailing"));
        buffer.open(QIODevice::ReadOnly);
        TBitmap loaded;
        loaded.LoadFromStream(buffer);
        EXPECT_EQ(buffer.pos(), bytes.size()) << "reads exactly the file, not what follows";
        EXPECT_EQ(loaded.PixelFormat(), c.Format) << c.BitCount;
        ASSERT_EQ(loaded.Width(), 5);
        ASSERT_EQ(loaded.Height(), 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(loaded.Image().pixel(x, y), original.Image().pixel(x, y)) << c.BitCount << " at " << x << "," << y;
    }
}

TEST(Bitmap, AssignIsDeepAndKeepsTheColourTable)
{
    TBitmap source = Pattern(TPixelFormat::pf8bit, 4, 4);
    source.SetTransparentColor(clFuchsia);
    source.SetTransparent(true);
    TBitmap copy;
    copy.Assign(source);
    EXPECT_EQ(copy.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(copy.Image().colorTable(), source.Image().colorTable());
    EXPECT_TRUE(copy.Transparent());
    EXPECT_EQ(copy.TransparentMode(), TTransparentMode::tmFixed);
    EXPECT_EQ(copy.TransparentColor(), clFuchsia);
    EXPECT_FALSE(copy.SharesImage(source));
    copy.ScanLine(0)[0] = static_cast<std::uint8_t>(source.ScanLine(0)[0] + 1);
    EXPECT_NE(copy.ScanLine(0)[0], source.ScanLine(0)[0]);

    // A copy made by construction shares until either side writes.
    TBitmap shared(source);
    EXPECT_TRUE(shared.SharesImage(source));
    shared.ScanLine(1)[0] ^= 1;
    EXPECT_FALSE(shared.SharesImage(source));

    // So does one that shares a bitmap it had, taking all it is, and a write to the bitmap it
    // shares leaves it as it was.
    TBitmap taken = Pattern(TPixelFormat::pf24bit, 2, 2);
    taken.Share(source);
    EXPECT_TRUE(taken.SharesImage(source));
    EXPECT_EQ(taken.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(taken.TransparentColor(), clFuchsia);
    const std::uint8_t before = taken.ScanLine(2)[1];
    source.ScanLine(2)[1] = static_cast<std::uint8_t>(before + 1);
    EXPECT_EQ(std::as_const(taken).ScanLine(2)[1], before);
}

TEST(Bitmap, DrawingOnItsCanvasReportsAChange)
{
    TBitmap bitmap = Pattern(TPixelFormat::pf24bit, 4, 4);
    TCounter counter;
    bitmap.OnChange = MakeNotifyEvent<&TCounter::Hit>(&counter);
    bitmap.Canvas().FillRect(QRect(0, 0, 2, 2));
    EXPECT_EQ(counter.Count, 1);
    bitmap.SetSize(5, 5);
    EXPECT_EQ(counter.Count, 2);
    EXPECT_TRUE(bitmap.Modified());
}

TEST(Bitmap, TransparentColourIsTheBottomLeftPixelUnlessFixed)
{
    TBitmap bitmap = Pattern(TPixelFormat::pf24bit, 3, 3);
    EXPECT_EQ(bitmap.TransparentMode(), TTransparentMode::tmAuto);
    EXPECT_EQ(bitmap.TransparentColor(), QColorToColor(QColor(bitmap.Image().pixel(0, 2))));
    bitmap.SetTransparentColor(clLime);
    EXPECT_EQ(bitmap.TransparentMode(), TTransparentMode::tmFixed);
    bitmap.SetTransparentMode(TTransparentMode::tmAuto);
    EXPECT_EQ(bitmap.TransparentColor(), QColorToColor(QColor(bitmap.Image().pixel(0, 2))));
}

TEST(Bitmap, TransparentDrawLeavesTheKeyColourOut)
{
    TBitmap sprite;
    sprite.SetPixelFormat(TPixelFormat::pf24bit);
    sprite.SetSize(2, 1);
    sprite.Image().setPixel(0, 0, qRgb(255, 0, 255));
    sprite.Image().setPixel(1, 0, qRgb(0, 128, 0));
    sprite.SetTransparentColor(clFuchsia);
    sprite.SetTransparent(true);
    TBitmap target;
    target.SetPixelFormat(TPixelFormat::pf24bit);
    target.SetSize(2, 1);
    target.FillRect(QRect(0, 0, 2, 1), Qt::blue);
    target.Canvas().Draw(0, 0, sprite);
    EXPECT_EQ(QColor(target.Image().pixel(0, 0)), QColor(Qt::blue));
    EXPECT_EQ(QColor(target.Image().pixel(1, 0)), QColor(0, 128, 0));
}

TEST(Bitmap, PackedDIBFromTheClipboardLoadsWithoutAFileHeader)
{
    const QByteArray file = Saved(Pattern(TPixelFormat::pf8bit, 3, 2));
    const auto* dib = reinterpret_cast<const std::uint8_t*>(file.constData()) + 14;
    TBitmap bitmap;
    bitmap.LoadFromClipboardFormat(CF_DIB, std::span(dib, static_cast<std::size_t>(file.size() - 14)), {});
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_THROW(bitmap.LoadFromClipboardFormat(CF_BITMAP, std::span(dib, 4), {}), EInvalidGraphic);
}

TEST(Bitmap, BadStreamsRaiseTheGraphicOrReadError)
{
    struct TCase {
        const char* Name;
        QByteArray Bytes;
        bool ReadError;
    };
    QByteArray good = Saved(Pattern(TPixelFormat::pf24bit, 4, 4));
    QByteArray wrongSignature = good;
    wrongSignature[0] = 'X';
    QByteArray cutWithoutSize = good.left(60);
    std::memset(cutWithoutSize.data() + 2, 0, 4); // no file size to tell it was cut
    for (const TCase& c : {TCase{"short header", QByteArray("BM\x10", 3), true},
                           TCase{"no signature", wrongSignature, false},
                           TCase{"file size beyond the stream", good.left(60), true},
                           TCase{"cut pixel rows", cutWithoutSize, false}}) {
        QBuffer buffer;
        buffer.setData(c.Bytes);
        buffer.open(QIODevice::ReadOnly);
        TBitmap bitmap;
        if (c.ReadError)
            EXPECT_THROW(bitmap.LoadFromStream(buffer), EReadError) << c.Name;
        else
            EXPECT_THROW(bitmap.LoadFromStream(buffer), EInvalidGraphic) << c.Name;
    }
}

TEST(Bitmap, StoredFormCarriesItsSize)
{
    const TBitmap original = Pattern(TPixelFormat::pf24bit, 6, 2);
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    original.WriteData(buffer);
    buffer.write("next");
    buffer.seek(0);
    TBitmap loaded;
    loaded.ReadData(buffer);
    EXPECT_EQ(buffer.read(4), QByteArray("next"));
    EXPECT_TRUE(loaded.Equals(original));
}

TEST(Bitmap, AssigningAMetafileDrawsItOntoA24BitBitmap)
{
    TMetafile metafile;
    {
        TMetafileCanvas recorder(metafile);
        recorder.Brush().SetColor(clRed);
        recorder.FillRect(QRect(0, 0, 8, 4));
    }
    metafile.SetWidth(8);
    metafile.SetHeight(4);
    TBitmap bitmap;
    bitmap.Assign(metafile);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(bitmap.Width(), 8);
    EXPECT_EQ(bitmap.Height(), 4);
    EXPECT_EQ(QColor(bitmap.Image().pixel(7, 3)), QColor(Qt::red));
}

// Movie frames come as plain 8- and 24-bit bitmaps, read without Qt's reader: top-down rows and
// colour tables shorter than 256 entries must come out as written.
TEST(Bitmap, PlainBitmapsKeepRowOrderAndTheirColourTable)
{
    const TBitmap original = Pattern(TPixelFormat::pf24bit, 5, 3);
    QByteArray bytes = Saved(original);
    constexpr int offBits = 54, stride = 16;
    QByteArray topDown = bytes.left(offBits);
    for (int row = 2; row >= 0; --row)
        topDown += bytes.mid(offBits + row * stride, stride);
    const std::int32_t negative = -3;
    std::memcpy(topDown.data() + 22, &negative, 4);
    TBitmap loaded;
    loaded.LoadFromMemory(std::span(reinterpret_cast<const std::uint8_t*>(topDown.constData()), topDown.size()));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(loaded.Image().pixel(x, y), original.Image().pixel(x, y)) << x << "," << y;

    // Two colours, and an index past them, which reads as black.
    const std::uint8_t eightBit[] = {
        'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0,              // file header
        40, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 1, 0, 8, 0, 0, 0, 0, 0, // 3 x 1, 8 bits
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0,  // biClrUsed 2
        10, 20, 30, 0, 40, 50, 60, 0,                                 // blue, green, red
        1, 0, 7, 0};
    loaded.LoadFromMemory(eightBit);
    EXPECT_EQ(loaded.PixelFormat(), TPixelFormat::pf8bit);
    loaded.SetPixelFormat(TPixelFormat::pf24bit);
    EXPECT_EQ(loaded.Image().pixel(0, 0), qRgb(60, 50, 40));
    EXPECT_EQ(loaded.Image().pixel(1, 0), qRgb(30, 20, 10));
    EXPECT_EQ(loaded.Image().pixel(2, 0), qRgb(0, 0, 0));
}
