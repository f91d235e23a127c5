// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/EInvalidGraphic.h"
#include "framework/TBitmap.h"
#include "framework/TMetafile.h"
#include "framework/TPicture.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QTemporaryDir>

namespace {

// Graphic classes of a test's own, registered and removed by the tests.
class TFirstBitmap : public TBitmap {
    FRAMORA_GRAPHIC_CLASS(TFirstBitmap, TBitmap, "TFirstBitmap")
};
class TSecondBitmap : public TFirstBitmap {
    FRAMORA_GRAPHIC_CLASS(TSecondBitmap, TFirstBitmap, "TSecondBitmap")
};
// Named like another class, as a unit may do to take over stored pictures of that name.
class TRenamedBitmap : public TSecondBitmap {
    FRAMORA_GRAPHIC_CLASS(TRenamedBitmap, TSecondBitmap, "TFirstBitmap")
};

struct TCounter {
    int Count = 0;
    void Hit(TObject*) { ++Count; }
};

TBitmap SmallBitmap()
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(3, 2);
    bitmap.FillRect(QRect(0, 0, 3, 2), Qt::green);
    return bitmap;
}

} // namespace

TEST(PictureRegistry, LookUpsSearchNewestFirstAndRemovalTakesDescendants)
{
    EXPECT_EQ(TPicture::FindByExtension("bmp"), &TBitmap::StaticClass());
    TPicture::RegisterFileFormat("tst", "First", TFirstBitmap::StaticClass());
    TPicture::RegisterFileFormat("TST", "Second", TSecondBitmap::StaticClass());
    TPicture::RegisterFileFormat("tst2", "Renamed", TRenamedBitmap::StaticClass());
    TPicture::RegisterClipboardFormat(0x4001, TFirstBitmap::StaticClass());

    EXPECT_EQ(TPicture::FindByExtension("Tst"), &TSecondBitmap::StaticClass());
    EXPECT_EQ(TPicture::FindByExtension(".tst"), &TSecondBitmap::StaticClass());
    EXPECT_EQ(TPicture::FindByClassName("TFirstBitmap"), &TRenamedBitmap::StaticClass());
    EXPECT_EQ(TPicture::FindByClassName("TSecondBitmap"), &TSecondBitmap::StaticClass());
    EXPECT_EQ(TPicture::FindByClipboardFormat(0x4001), &TFirstBitmap::StaticClass());

    // Removing the second class removes the renamed one derived from it; the first stays.
    TPicture::UnregisterGraphicClass(TSecondBitmap::StaticClass());
    EXPECT_EQ(TPicture::FindByExtension("tst"), &TFirstBitmap::StaticClass());
    EXPECT_EQ(TPicture::FindByExtension("tst2"), nullptr);
    EXPECT_EQ(TPicture::FindByClassName("TFirstBitmap"), &TFirstBitmap::StaticClass());
    TPicture::UnregisterGraphicClass(TFirstBitmap::StaticClass());
    EXPECT_EQ(TPicture::FindByExtension("tst"), nullptr);
    EXPECT_FALSE(TPicture::SupportsClipboardFormat(0x4001));
    EXPECT_EQ(TPicture::FindByExtension("bmp"), &TBitmap::StaticClass());
}

TEST(Picture, LoadFromFileChoosesTheClassByExtension)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("scene.TST");
    SmallBitmap().SaveToFile(path);
    TPicture::RegisterFileFormat("tst", "Test", TSecondBitmap::StaticClass());
    TPicture picture;
    picture.LoadFromFile(path);
    TPicture::UnregisterGraphicClass(TSecondBitmap::StaticClass());
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_STREQ(picture.Graphic()->ClassName(), "TSecondBitmap");
    EXPECT_EQ(picture.Width(), 3);
    try {
        picture.LoadFromFile(dir.filePath("scene.xyz"));
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& error) {
        EXPECT_NE(std::string(error.what()).find(".xyz"), std::string::npos);
    }
    EXPECT_STREQ(picture.Graphic()->ClassName(), "TSecondBitmap") << "a failed load keeps the graphic";
}

TEST(Picture, StoredPictureIsReadThroughTheClassRegisteredUnderItsName)
{
    TPicture::RegisterFileFormat("tst", "First", TFirstBitmap::StaticClass());
    TPicture original;
    original.SetGraphic(std::make_unique<TFirstBitmap>());
    static_cast<TBitmap*>(original.Graphic())->Assign(SmallBitmap());
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    original.WriteData(buffer);
    // A newer class under the same name takes over pictures stored with that name.
    TPicture::RegisterFileFormat("tst", "Renamed", TRenamedBitmap::StaticClass());
    buffer.seek(0);
    TPicture stored;
    stored.ReadData(buffer);
    TPicture::UnregisterGraphicClass(TFirstBitmap::StaticClass());
    ASSERT_NE(stored.Graphic(), nullptr);
    EXPECT_EQ(&stored.Graphic()->ClassType(), &TRenamedBitmap::StaticClass());
    EXPECT_EQ(stored.Width(), 3);
    EXPECT_EQ(QColor(static_cast<TBitmap*>(stored.Graphic())->Image().pixel(2, 1)), QColor(Qt::green));
    EXPECT_EQ(buffer.pos(), buffer.size());
}

TEST(Picture, ChangesOfTheGraphicReachTheChangeHook)
{
    TPicture picture;
    TCounter counter;
    picture.OnChange = MakeNotifyEvent<&TCounter::Hit>(&counter);
    TBitmap& bitmap = picture.Bitmap();
    EXPECT_EQ(counter.Count, 1);
    bitmap.SetSize(2, 2);
    EXPECT_EQ(counter.Count, 2);
    const TBitmap* before = &bitmap;
    picture.Bitmap();
    EXPECT_EQ(&picture.Bitmap(), before) << "asking for the bitmap it has keeps it";
    picture.Metafile();
    EXPECT_EQ(counter.Count, 3);
    picture.SetGraphic(static_cast<const TGraphic*>(nullptr));
    EXPECT_EQ(picture.Graphic(), nullptr);
}

TEST(Picture, AssignCopiesTheGraphicByItsOwnClass)
{
    TPicture source;
    source.SetGraphic(std::make_unique<TSecondBitmap>());
    static_cast<TBitmap*>(source.Graphic())->SetSize(4, 4);
    TPicture target;
    target.Assign(source);
    ASSERT_NE(target.Graphic(), source.Graphic());
    EXPECT_STREQ(target.Graphic()->ClassName(), "TSecondBitmap");
    EXPECT_EQ(target.Width(), 4);
}

TEST(Metafile, RecordsAndDrawsStretchedButIsNeverRead)
{
    TMetafile metafile;
    {
        TMetafileCanvas canvas(metafile);
        EXPECT_EQ(canvas.DeviceCaps(TDeviceCap::Technology), DT_METAFILE);
        canvas.Brush().SetColor(clBlue);
        canvas.FillRect(QRect(0, 0, 2, 2));
        canvas.Brush().SetColor(clRed);
        canvas.FillRect(QRect(2, 0, 2, 2));
    }
    EXPECT_EQ(metafile.Width(), 4);
    EXPECT_EQ(metafile.Height(), 2);
    TBitmap target;
    target.SetPixelFormat(TPixelFormat::pf24bit);
    target.SetSize(8, 4);
    target.Canvas().StretchDraw(QRect(0, 0, 8, 4), metafile);
    EXPECT_EQ(QColor(target.Image().pixel(1, 3)), QColor(Qt::blue));
    EXPECT_EQ(QColor(target.Image().pixel(6, 3)), QColor(Qt::red));

    // No file reaches a metafile reader: none is registered, and the class refuses bytes.
    EXPECT_EQ(TPicture::FindByExtension(QStringLiteral("pic")), nullptr);
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    metafile.SaveToStream(buffer);
    buffer.seek(0);
    TMetafile loaded;
    EXPECT_THROW(loaded.LoadFromStream(buffer), EInvalidGraphic);
}
