// SPDX-License-Identifier: GPL-3.0-or-later
// The names scenes are saved under and the files they are written to.
#include "capture/UFramora.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QDateTime Stamp(QDate(2009, 3, 15), QTime(14, 30, 5));

TEST(SaveNames, ProposalIsTheStampInTheLastFolder)
{
    EXPECT_EQ(SaveStamp(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5))), QStringLiteral("20260102030405_"));
    EXPECT_EQ(ProposedSaveName(QString(), Stamp), QStringLiteral("20090315143005_.bmp"));
    EXPECT_EQ(ProposedSaveName(QStringLiteral("/pic/shot.png"), Stamp), QStringLiteral("/pic/20090315143005_.bmp"));
    EXPECT_EQ(ProposedSaveName(QStringLiteral("/"), Stamp), QStringLiteral("/20090315143005_.bmp"));
}

TEST(SaveNames, SceneNumberInThreeDigitsBeforeTheExtension)
{
    const struct {
        const char* Confirmed;
        int Scene;
        const char* Expected;
    } cases[] = {
        {"/pic/20090315143005_.bmp", 0, "/pic/20090315143005_001.bmp"},
        {"/pic/20090315143005_.bmp", 6, "/pic/20090315143005_007.bmp"},
        {"/pic/shot.png", 31, "/pic/shot032.png"},
        {"/pic/shot.tar.jpg", 1, "/pic/shot.tar002.jpg"},
        {"/pic/shot", 0, "/pic/shot001.bmp"},          // no extension
        {"/pic.d/shot", 0, "/pic.d/shot001.bmp"},      // a dot in the folder is no extension
        {"/pic/.hidden", 0, "/pic/001.hidden"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SceneFileName(QString::fromUtf8(c.Confirmed), c.Scene), QString::fromUtf8(c.Expected)) << c.Confirmed;
}

// With the position in the name, it follows the number, with dashes where a clock has colons.
TEST(SaveNames, PositionFollowsTheSceneNumber)
{
    const struct {
        const char* Confirmed;
        std::int32_t PositionMs;
        const char* Expected;
    } cases[] = {
        {"/pic/shot.png", 83456, "/pic/shot001_00-01-23.456.png"},
        {"/pic/shot", 0, "/pic/shot001_00-00-00.000.bmp"},
        {"/pic/a.b.webp", 36000000, "/pic/a.b001_10-00-00.000.webp"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SceneFileName(QString::fromUtf8(c.Confirmed), 0, c.PositionMs), QString::fromUtf8(c.Expected))
            << c.Confirmed;
}

class SceneFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Picture = QImage(64, 48, QImage::Format_BGR888);
        for (int y = 0; y < Picture.height(); ++y)
            for (int x = 0; x < Picture.width(); ++x)
                Picture.setPixelColor(x, y, QColor(x * 4, y * 5, 128));
    }

    QByteArray Head(const QString& file, int bytes)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.read(bytes) : QByteArray();
    }

    QTemporaryDir Dir;
    QImage Picture;
};

TEST_F(SceneFiles, FormatFollowsTheExtension)
{
    QString error;
    const QString png = Dir.filePath("a.PNG"), jpeg = Dir.filePath("a.jpg"), bmp = Dir.filePath("a.bmp"),
                  other = Dir.filePath("a.xyz"), webp = Dir.filePath("a.webp"), tiff = Dir.filePath("a.tiff");
    for (const QString& file : {png, jpeg, bmp, other, webp, tiff})
        ASSERT_TRUE(SaveSceneFile(Picture, file, error)) << error.toStdString();
    EXPECT_EQ(Head(webp, 12).mid(8), QByteArray("WEBP"));
    EXPECT_EQ(Head(tiff, 2), QByteArray("II"));
    for (const QString& lossless : {webp, tiff})
        EXPECT_EQ(QImage(lossless).convertToFormat(QImage::Format_RGB888), Picture.convertToFormat(QImage::Format_RGB888));
    EXPECT_EQ(Head(png, 8), QByteArray("\x89PNG\r\n\x1a\n"));
    EXPECT_EQ(Head(jpeg, 3), QByteArray("\xFF\xD8\xFF"));
    EXPECT_EQ(Head(bmp, 2), QByteArray("BM"));
    EXPECT_EQ(Head(other, 2), QByteArray("BM"));

    // Lossless formats give the picture back exactly; JPEG at quality 95 closely.
    EXPECT_EQ(QImage(png).convertToFormat(QImage::Format_RGB888), Picture.convertToFormat(QImage::Format_RGB888));
    EXPECT_EQ(QImage(bmp).convertToFormat(QImage::Format_RGB888), Picture.convertToFormat(QImage::Format_RGB888));
    const QImage decoded(jpeg);
    ASSERT_EQ(decoded.size(), Picture.size());
    const QColor got = decoded.pixelColor(40, 30), want = Picture.pixelColor(40, 30);
    EXPECT_NEAR(got.red(), want.red(), 6);
    EXPECT_NEAR(got.green(), want.green(), 6);
    EXPECT_NEAR(got.blue(), want.blue(), 6);
}

TEST_F(SceneFiles, ExistingFilesAreReplacedAndNoTemporaryStays)
{
    QString error;
    const QString file = Dir.filePath("s001.bmp");
    {
        QFile old(file);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents");
    }
    ASSERT_TRUE(SaveSceneFile(Picture, file, error));
    EXPECT_EQ(QImage(file).size(), Picture.size());
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"s001.bmp"});
}

TEST_F(SceneFiles, AFileThatCannotBeWrittenIsReportedAndLeavesNothing)
{
    QString error;
    EXPECT_FALSE(SaveSceneFile(Picture, Dir.filePath("missing/s001.png"), error));
    EXPECT_FALSE(error.isEmpty());

    // A file where the folder should be refuses everyone, root included.
    const QString notAFolder = Dir.filePath("file");
    QFile(notAFolder).open(QIODevice::WriteOnly);
    error.clear();
    EXPECT_FALSE(SaveSceneFile(Picture, notAFolder + QStringLiteral("/s001.bmp"), error));
    EXPECT_FALSE(error.isEmpty());
    // A picture that cannot be encoded (none) is refused before anything appears under the name.
    EXPECT_FALSE(SaveSceneFile(QImage(), Dir.filePath("empty.png"), error));
    EXPECT_FALSE(QFile::exists(Dir.filePath("empty.png")));
}

} // namespace
