// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagestore/USafetyBitmap.h"

#include "framework/EInvalidGraphic.h"
#include "framework/Platform.h"
#include "framework/TMetafile.h"
#include "imagestore/UPictureEX.h"
#include "../framework/JPEGTestData.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

QByteArray ToArray(const Bytes& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

TJPEGHeaderInfo Probe(const Bytes& bytes, qint64 start = 0)
{
    QByteArray data = ToArray(bytes);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    buffer.seek(start);
    const TJPEGHeaderInfo info = ProbeJPEGHeader(buffer);
    EXPECT_EQ(buffer.pos(), start) << "the probe must leave the stream where it stood";
    return info;
}

// SOI, then the given bytes, then a baseline frame of 300 x 200 with 3 components.
Bytes WithFrameAfter(const Bytes& between)
{
    Bytes bytes{0xFF, 0xD8};
    bytes.insert(bytes.end(), between.begin(), between.end());
    bytes.insert(bytes.end(), {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0xC8, 0x01, 0x2C, 0x03});
    return bytes;
}

// The info header and pixels of a 2 x 1 24-bit DIB: red, blue; no file header (clipboard form).
Bytes ClipboardDIB()
{
    Bytes dib(40, 0);
    dib[0] = 40;
    dib[4] = 2;
    dib[8] = 1;
    dib[12] = 1;
    dib[14] = 24;
    dib.insert(dib.end(), {0, 0, 255, 255, 0, 0, 0, 0});
    return dib;
}

} // namespace

TEST(SafetyRegistrations, LookUpsFindTheSafeClasses)
{
    RegisterSafetyGraphics();
    EXPECT_EQ(TPicture::FindByExtension("jpg"), &TSafetyJPEGImage::StaticClass());
    EXPECT_EQ(TPicture::FindByExtension("JPEG"), &TSafetyJPEGImage::StaticClass());
    EXPECT_EQ(TPicture::FindByExtension("Bmp"), &TSafetyBitmap::StaticClass());
    EXPECT_EQ(TPicture::FindByClassName("TJPEGImage"), &USafetyBitmap::TJPEGImage::StaticClass());
    EXPECT_EQ(TPicture::FindByClipboardFormat(CF_DIB), &TSafetyBitmap::StaticClass());
    for (const TPicture::TFileFormat& format : TPicture::FileFormats())
        EXPECT_NE(format.Class, &::TJPEGImage::StaticClass());

    UnregisterSafetyGraphics();
    EXPECT_EQ(TPicture::FindByClassName("TJPEGImage"), nullptr);
    EXPECT_NE(TPicture::FindByExtension("bmp"), &TSafetyBitmap::StaticClass());
    RegisterSafetyGraphics();
    EXPECT_EQ(TPicture::FindByExtension("bmp"), &TSafetyBitmap::StaticClass());
}

TEST(ProbeJPEGHeader, FindsTheFrameAndRestoresThePosition)
{
    struct Row {
        const char* Name;
        Bytes Data;
        int Width;
        int Height;
        int Components;
    };
    const Row rows[] = {
        {"frame first", WithFrameAfter({}), 300, 200, 3},
        {"fill bytes", WithFrameAfter({0xFF, 0xFF, 0xFF}), 300, 200, 3},
        {"restart markers have no length", WithFrameAfter({0xFF, 0xD0, 0xFF, 0xD7, 0xFF, 0x01}), 300, 200, 3},
        {"segment skipped by its length", WithFrameAfter({0xFF, 0xE0, 0x00, 0x04, 0xFF, 0xC0}), 300, 200, 3},
        {"garbage after a segment", WithFrameAfter({0xFF, 0xFE, 0x00, 0x02, 0x12, 0x34}), 300, 200, 3},
        {"no start of image", {0xFF, 0xD9, 0xFF, 0xC0}, -1, -1, -1},
        {"empty", {}, -1, -1, -1},
        {"ends inside the frame", {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01}, 0, 256, 0},
        {"no frame", {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10}, -1, -1, -1},
        {"ends where a length belongs", {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x02, 0xFF, 0xE0}, -1, -1, -1},
        {"length shorter than itself", {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xC0}, -1, -1, -1},
    };
    for (const Row& row : rows) {
        const TJPEGHeaderInfo info = Probe(row.Data);
        EXPECT_EQ(info.Width, row.Width) << row.Name;
        EXPECT_EQ(info.Height, row.Height) << row.Name;
        EXPECT_EQ(info.Components, row.Components) << row.Name;
    }
    Bytes later{1, 2, 3};
    const Bytes frame = WithFrameAfter({});
    later.insert(later.end(), frame.begin(), frame.end());
    EXPECT_EQ(Probe(later, 3).Width, 300);
}

TEST(TSafetyJPEGImage, RefusesWhatItCannotShowBeforeDecoding)
{
    auto noSize = jpegtest::Encode(8, 8, jpegtest::TKind::Colour);
    jpegtest::SetFrameSize(noSize, 0, 8);
    struct Row {
        const char* Name;
        Bytes Data;
    };
    const Row rows[] = {
        {"not a JPEG", {'B', 'M', 1, 2, 3}},
        {"four components", jpegtest::Encode(8, 8, jpegtest::TKind::CMYK)},
        {"width 0", noSize},
    };
    for (const Row& row : rows) {
        QByteArray data = ToArray(row.Data);
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        TSafetyJPEGImage image;
        try {
            image.LoadFromStream(buffer);
            ADD_FAILURE() << row.Name << " was accepted";
        } catch (const EInvalidGraphic& error) {
            EXPECT_STREQ(error.what(), kUnsupportedJPEGText) << row.Name;
        }
        EXPECT_TRUE(image.Empty());
    }
}

TEST(TSafetyJPEGImage, PicturesLoadJPEGFilesAndStoredPicturesThroughIt)
{
    RegisterSafetyGraphics();
    QTemporaryDir dir;
    const auto bytes = jpegtest::Encode(24, 16, jpegtest::TKind::Colour);
    for (const char* name : {"a.jpg", "b.JPEG", "c.Jpg"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(ToArray(bytes));
        file.close();
        TPictureEx picture;
        picture.LoadFromFile(file.fileName());
        ASSERT_NE(picture.Graphic(), nullptr);
        EXPECT_EQ(&picture.Graphic()->ClassType(), &TSafetyJPEGImage::StaticClass()) << name;
        EXPECT_EQ(picture.Width(), 24);
    }

    // A stored picture naming "TJPEGImage" reads through the checking class, size and all.
    QByteArray stored;
    stored.append(char(10)).append("TJPEGImage");
    const auto size = static_cast<std::int32_t>(bytes.size());
    stored.append(reinterpret_cast<const char*>(&size), 4).append(ToArray(bytes));
    QBuffer in(&stored);
    in.open(QIODevice::ReadOnly);
    TPictureEx picture;
    picture.ReadData(in);
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_TRUE(picture.Graphic()->InheritsFrom(TSafetyJPEGImage::StaticClass()));
    EXPECT_EQ(picture.Height(), 16);
    EXPECT_EQ(in.pos(), stored.size());

    auto cmyk = jpegtest::Encode(8, 8, jpegtest::TKind::CMYK);
    QByteArray bad;
    bad.append(char(10)).append("TJPEGImage");
    const auto cmykSize = static_cast<std::int32_t>(cmyk.size());
    bad.append(reinterpret_cast<const char*>(&cmykSize), 4).append(ToArray(cmyk));
    QBuffer badIn(&bad);
    badIn.open(QIODevice::ReadOnly);
    EXPECT_THROW(picture.ReadData(badIn), EInvalidGraphic);
}

TEST(TSafetyJPEGImage, DrawsOnBothFamilies)
{
    const auto bytes = jpegtest::Encode(16, 16, jpegtest::TKind::Colour, 250, 250, 0);
    for (const TPlatformFamily family : {TPlatformFamily::NT, TPlatformFamily::Win9x}) {
        const TPlatformFamilyOverride platform(family);
        TSafetyJPEGImage image;
        image.LoadFromMemory(bytes);
        int changes = 0;
        image.OnChange = {[](void* data, TObject*) { ++*static_cast<int*>(data); }, &changes};
        TBitmap target;
        target.SetPixelFormat(TPixelFormat::pf24bit);
        target.SetSize(8, 8);
        image.Draw(target.Canvas(), QRect(0, 0, 8, 8));
        const QRgb pixel = target.Image().pixel(4, 4);
        EXPECT_GT(qRed(pixel), 200);
        EXPECT_LT(qBlue(pixel), 60);
        EXPECT_EQ(changes, 0);
        EXPECT_TRUE(image.OnChange);
    }
}

TEST(TSafetyBitmap, ClipboardDIBsLoadDespiteZeroFileHeaderFields)
{
    RegisterSafetyGraphics();
    TPictureEx picture;
    picture.LoadFromClipboardFormat(CF_DIB, ClipboardDIB(), nullptr);
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_TRUE(picture.Graphic()->InheritsFrom(TSafetyBitmap::StaticClass()));
    const auto& bitmap = static_cast<const TSafetyBitmap&>(*picture.Graphic());
    EXPECT_EQ(bitmap.Width(), 2);
    EXPECT_EQ(bitmap.Image().pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(bitmap.Image().pixel(1, 0) & 0xFFFFFF, 0x0000FFu);
}

TEST(TSafetyBitmap, OddFormatsEndUp24BitAndBadDataIsRefused)
{
    // 16 bits with masks that match no framework format.
    Bytes bytes{'B', 'M'};
    bytes.resize(14, 0);
    Bytes header(40, 0);
    header[0] = 40;
    header[4] = 1;
    header[8] = 1;
    header[12] = 1;
    header[14] = 16;
    header[16] = BI_BITFIELDS;
    bytes.insert(bytes.end(), header.begin(), header.end());
    bytes.insert(bytes.end(), {0x00, 0x0F, 0, 0, 0xF0, 0x00, 0, 0, 0x0F, 0x00, 0, 0}); // 4-4-4
    bytes.insert(bytes.end(), {0x00, 0x0F, 0, 0});                                     // red
    QByteArray data = ToArray(bytes);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    TSafetyBitmap bitmap;
    bitmap.LoadFromStream(buffer);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(bitmap.Image().pixel(0, 0) & 0xFFFFFF, 0xFF0000u);

    QByteArray bad("BX0123456789012345678901234567890123456789012345678901");
    QBuffer badBuffer(&bad);
    badBuffer.open(QIODevice::ReadOnly);
    EXPECT_THROW(bitmap.LoadFromStream(badBuffer), EInvalidGraphic);
    EXPECT_EQ(bitmap.Width(), 1); // unchanged
}

TEST(TSafetyBitmap, OtherThreadsUseTheFrameworkLoader)
{
    Bytes bytes{'B', 'M'};
    bytes.resize(14, 0);
    const Bytes dib = ClipboardDIB();
    bytes.insert(bytes.end(), dib.begin(), dib.end());
    const auto total = static_cast<std::uint32_t>(bytes.size());
    std::memcpy(bytes.data() + 2, &total, 4);
    const std::uint32_t offset = 54;
    std::memcpy(bytes.data() + 10, &offset, 4);
    int width = 0;
    std::thread worker([&] {
        QByteArray data = ToArray(bytes);
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        TSafetyBitmap bitmap;
        bitmap.LoadFromStream(buffer);
        width = bitmap.Width();
    });
    worker.join();
    EXPECT_EQ(width, 2);
}

TEST(TSafetyBitmap, RunLengthBitmapsAreRefusedAlikeOnEveryThread)
{
    // 1 x 1, RLE8: one run of one pixel of entry 0, then the end of the bitmap.
    Bytes bytes{'B', 'M'};
    bytes.resize(14, 0);
    Bytes header(40, 0);
    header[0] = 40;
    header[4] = 1;
    header[8] = 1;
    header[12] = 1;
    header[14] = 8;
    header[16] = BI_RLE8;
    header[20] = 4;  // biSizeImage
    header[32] = 1;  // biClrUsed
    bytes.insert(bytes.end(), header.begin(), header.end());
    bytes.insert(bytes.end(), {0, 0, 255, 0});   // red
    bytes.insert(bytes.end(), {1, 0, 0, 1});     // run, end of bitmap
    bytes[2] = static_cast<std::uint8_t>(bytes.size());
    bytes[10] = 14 + 40 + 4;
    const auto load = [&bytes] {
        QByteArray data = ToArray(bytes);
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        TSafetyBitmap bitmap;
        try {
            bitmap.LoadFromStream(buffer);
        } catch (const EInvalidGraphic& error) {
            return std::string(error.what());
        }
        return std::string("loaded");
    };
    EXPECT_EQ(load(), kInvalidBitmapText);
    std::string onWorker;
    std::thread worker([&] { onWorker = load(); });
    worker.join();
    EXPECT_EQ(onWorker, kInvalidBitmapText);
}

TEST(TSafetyBitmap, MetafilesBecome24BitBitmapsOfTheirSize)
{
    TMetafile metafile;
    metafile.SetWidth(30);
    metafile.SetHeight(20);
    TSafetyBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf8bit);
    bitmap.SetSize(5, 5);
    bitmap.Assign(metafile);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(bitmap.Width(), 30);
    EXPECT_EQ(bitmap.Height(), 20);
}

TEST(TSafetyBitmap, TransparentDrawsThroughTheMaskOnBothFamilies)
{
    for (const TPlatformFamily family : {TPlatformFamily::NT, TPlatformFamily::Win9x}) {
        const TPlatformFamilyOverride platform(family);
        TSafetyBitmap bitmap;
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        bitmap.SetSize(4, 4);
        bitmap.FillRect(QRect(0, 0, 4, 4), Qt::blue);
        bitmap.FillRect(QRect(0, 0, 2, 4), QColor(255, 0, 255));
        bitmap.SetTransparentMode(TTransparentMode::tmFixed);
        bitmap.SetTransparentColor(RGB(255, 0, 255));
        bitmap.SetTransparent(true);

        TBitmap target;
        target.SetPixelFormat(TPixelFormat::pf24bit);
        target.SetSize(8, 4);
        target.FillRect(QRect(0, 0, 8, 4), Qt::green);
        TCanvas& canvas = target.Canvas();
        canvas.SetBkColor(clRed);
        canvas.SetCopyMode(SRCPAINT);
        bitmap.Draw(canvas, QRect(0, 0, 8, 4));
        EXPECT_EQ(target.Image().pixel(1, 1) & 0xFFFFFF, 0x00FF00u) << static_cast<int>(family);
        EXPECT_EQ(target.Image().pixel(6, 1) & 0xFFFFFF, 0x0000FFu) << static_cast<int>(family);
        // The canvas gets its colours and copy mode back.
        EXPECT_EQ(canvas.BkColor(), clRed);
        EXPECT_EQ(canvas.CopyMode(), SRCPAINT);
        EXPECT_EQ(canvas.LockCount(), 0);

        // Copying another safety bitmap copies its mask instead of invalidating it.
        TSafetyBitmap copy;
        copy.Assign(bitmap);
        EXPECT_FALSE(copy.MaskedImage().MaskOutOfDate());
        copy.FillRect(QRect(0, 0, 1, 1), Qt::black);
        EXPECT_TRUE(copy.MaskedImage().MaskOutOfDate());
    }
}

TEST(TSafetyBitmap, OpaqueDrawsOnTheNinexFamilyGoThroughTheDIB)
{
    const TPlatformFamilyOverride platform(TPlatformFamily::Win9x);
    TSafetyBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(2, 2);
    bitmap.FillRect(QRect(0, 0, 1, 2), Qt::red);
    bitmap.FillRect(QRect(1, 0, 1, 2), Qt::blue);
    TBitmap target;
    target.SetPixelFormat(TPixelFormat::pf24bit);
    target.SetSize(4, 4);
    bitmap.Draw(target.Canvas(), QRect(0, 0, 4, 4));
    EXPECT_EQ(target.Image().pixel(1, 3) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(target.Image().pixel(2, 0) & 0xFFFFFF, 0x0000FFu);
}

TEST(ForceSafetyBitmap, ReplacesOtherGraphicsQuietlyForTheHandlerOnly)
{
    TPictureEx picture;
    picture.Bitmap().SetSize(3, 3);
    int changes = 0;
    picture.OnChange = {[](void* data, TObject*) { ++*static_cast<int*>(data); }, &changes};
    int heard = 0;
    TListener listener([&](TObject*, const TGUID& id) { heard += id == kChangedEventId; });
    listener.Listen(&picture);

    TSafetyBitmap& bitmap = ForceSafetyBitmap(picture);
    EXPECT_EQ(picture.Graphic(), &bitmap);
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(changes, 0);
    EXPECT_GE(heard, 1);
    EXPECT_TRUE(picture.OnChange);
    EXPECT_EQ(&ForceSafetyBitmap(picture), &bitmap); // already one: kept
}
