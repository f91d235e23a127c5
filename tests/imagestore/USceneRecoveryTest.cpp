// SPDX-License-Identifier: GPL-3.0-or-later
// Scenes kept on disk until saved: the file a scene becomes, and the folders a run leaves behind.
#include "imagestore/USceneRecovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QImage Picture(int width, int height, int seed)
{
    QImage picture(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb((x * 7 + seed) & 255, (y * 13 + seed) & 255, (x ^ y ^ seed) & 255));
    return picture;
}

TProvenance Origin(int positionMs)
{
    TProvenance origin;
    origin.Movie = QStringLiteral("夏の 映画 %.mkv\n");
    origin.PositionMs = positionMs;
    origin.PictureNumber = positionMs / 40;
    origin.CodedSize = QSize(720, 480);
    origin.ShownSize = QSize(64, 48);
    origin.Settings = {{QStringLiteral("DisplaySize"), QStringLiteral("on")}, {QStringLiteral("Note"), QStringLiteral("a b")}};
    origin.Creator = QStringLiteral("Framora 1.0");
    return origin;
}

mode_t ModeOf(const QString& path)
{
    struct stat status {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 0777;
}

TEST(RecoveredSceneFile, KeepsEveryPixelAndWhereTheSceneCameFrom)
{
    const QImage picture = Picture(64, 48, 5);
    QString error;
    const auto scene = DecodeRecoveredScene(EncodeRecoveredScene(picture, Origin(83456)), error);
    ASSERT_TRUE(scene) << error.toStdString();
    EXPECT_EQ(scene->Picture.format(), QImage::Format_BGR888);
    EXPECT_EQ(scene->Picture, picture);
    const TProvenance want = Origin(83456);
    EXPECT_EQ(scene->Origin.Movie, want.Movie);
    EXPECT_EQ(scene->Origin.PositionMs, want.PositionMs);
    EXPECT_EQ(scene->Origin.PictureNumber, want.PictureNumber);
    EXPECT_EQ(scene->Origin.CodedSize, want.CodedSize);
    EXPECT_EQ(scene->Origin.ShownSize, picture.size());
    EXPECT_EQ(scene->Origin.Settings, want.Settings);
    EXPECT_EQ(scene->Origin.Creator, want.Creator);
}

TEST(RecoveredSceneFile, DamagedBytesAreRefusedWithAReason)
{
    const QByteArray whole = EncodeRecoveredScene(Picture(64, 48, 1), Origin(0));
    const qsizetype png = whole.indexOf("\x89PNG");
    ASSERT_GT(png, 0);
    QByteArray flipped = whole;
    flipped[png + 40] = static_cast<char>(flipped[png + 40] ^ 0x55); // inside the first chunk, under its CRC
    QByteArray otherSize = whole;
    otherSize.replace("shown 64x48", "shown 64x47");
    QByteArray huge = whole;
    huge.replace("shown 64x48", "shown 100000x100000");
    const struct {
        const char* Name;
        QByteArray Bytes;
    } cases[] = {
        {"empty", QByteArray()},
        {"another file", QByteArrayLiteral("\x89PNG\r\n\x1a\n")},
        {"header only", whole.left(png)},
        {"cut in the picture", whole.left(whole.size() - 10)},
        {"bytes after the picture", whole + "x"},
        {"no picture length", whole.left(whole.indexOf("png "))},
        {"picture length not a number", QByteArray(whole).replace("\npng ", "\npng x")},
        {"size differs from the picture", otherSize},
        {"size beyond any picture", huge},
        {"unreadable size", QByteArray(whole).replace("shown 64x48", "shown 64")},
        {"unreadable position", QByteArray(whole).replace("position 0", "position zero")},
        {"damaged picture", flipped},
    };
    for (const auto& c : cases) {
        QString error;
        EXPECT_FALSE(DecodeRecoveredScene(c.Bytes, error)) << c.Name;
        EXPECT_FALSE(error.isEmpty()) << c.Name;
    }
}

class SceneRecoveryFolders : public ::testing::Test {
protected:
    QString Root() const { return Dir.filePath(QStringLiteral("state/framora")); }
    QTemporaryDir Dir;
};

TEST_F(SceneRecoveryFolders, ARunThatEndsWithoutCleaningUpLeavesItsScenesInOrder)
{
    {
        TSceneRecovery recovery(Root());
        recovery.Added(Picture(32, 24, 1), Origin(1000));
        recovery.Added(Picture(32, 24, 2), Origin(2000));
        recovery.Added(Picture(32, 24, 3), Origin(3000));
        recovery.Removed(1);
        recovery.Flush();
        EXPECT_EQ(ModeOf(Root()), 0700u);
        EXPECT_EQ(ModeOf(recovery.Folder()), 0700u);
        // A run still going is nobody's to take.
        EXPECT_EQ(TOrphanedScenes(Root()).FolderCount(), 0u);
        recovery.Abandon();
    }
    TOrphanedScenes orphans(Root());
    ASSERT_EQ(orphans.FolderCount(), 1u);
    EXPECT_EQ(orphans.SceneFileCount(0), 2u);
    const std::vector<TRecoveredScene> scenes = orphans.Read(0);
    ASSERT_EQ(scenes.size(), 2u);
    EXPECT_EQ(scenes[0].Picture, Picture(32, 24, 1));
    EXPECT_EQ(scenes[1].Picture, Picture(32, 24, 3));
    EXPECT_EQ(scenes[1].Origin.PositionMs, 3000);
    // While one starting run holds the folder, another does not see it.
    EXPECT_EQ(TOrphanedScenes(Root()).FolderCount(), 0u);
    orphans.Remove(0);
    EXPECT_TRUE(QDir(Root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(SceneRecoveryFolders, ANormalEndLeavesNothing)
{
    QString folder;
    {
        TSceneRecovery recovery(Root());
        recovery.Added(Picture(16, 16, 1), Origin(0));
        recovery.Flush();
        folder = recovery.Folder();
        EXPECT_TRUE(QFileInfo(folder).isDir());
    }
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(TOrphanedScenes(Root()).FolderCount(), 0u);
}

// Scenes saved keep their places in the list without files; a later deletion must still take
// the file of the scene deleted, not of its neighbour.
TEST_F(SceneRecoveryFolders, DeletingAfterASaveRemovesTheRightScene)
{
    TSceneRecovery recovery(Root());
    recovery.Added(Picture(16, 16, 1), Origin(1));
    recovery.Added(Picture(16, 16, 2), Origin(2));
    recovery.Saved();
    recovery.Added(Picture(16, 16, 3), Origin(3));
    recovery.Added(Picture(16, 16, 4), Origin(4));
    recovery.Removed(0); // a saved scene: no file to remove
    recovery.Removed(1); // the scene of position 3
    recovery.Flush();
    recovery.Abandon();
    TOrphanedScenes orphans(Root());
    ASSERT_EQ(orphans.FolderCount(), 1u);
    const std::vector<TRecoveredScene> scenes = orphans.Read(0);
    ASSERT_EQ(scenes.size(), 1u);
    EXPECT_EQ(scenes[0].Origin.PositionMs, 4);
}

TEST_F(SceneRecoveryFolders, ADamagedFileIsSkippedAndTheOthersComeBack)
{
    QString folder;
    {
        TSceneRecovery recovery(Root());
        for (int i = 1; i <= 3; ++i)
            recovery.Added(Picture(16, 16, i), Origin(i));
        recovery.Flush();
        folder = recovery.Folder();
        recovery.Abandon();
    }
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.scene")}, QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 3);
    QFile middle(QDir(folder).filePath(files[1]));
    ASSERT_TRUE(middle.resize(middle.size() / 2)); // cut as a power cut might have left it
    TOrphanedScenes orphans(Root());
    ASSERT_EQ(orphans.FolderCount(), 1u);
    const std::vector<TRecoveredScene> scenes = orphans.Read(0);
    ASSERT_EQ(scenes.size(), 2u);
    EXPECT_EQ(scenes[0].Origin.PositionMs, 1);
    EXPECT_EQ(scenes[1].Origin.PositionMs, 3);
}

TEST_F(SceneRecoveryFolders, DeletingEveryScenePassesNothingOn)
{
    TSceneRecovery recovery(Root());
    recovery.Added(Picture(16, 16, 1), Origin(1));
    recovery.Added(Picture(16, 16, 2), Origin(2));
    recovery.Cleared();
    recovery.Added(Picture(16, 16, 3), Origin(3));
    recovery.Removed(0);
    recovery.Flush();
    const QString folder = recovery.Folder();
    recovery.Abandon();
    // Nothing to offer, and the empty folder goes.
    EXPECT_EQ(TOrphanedScenes(Root()).FolderCount(), 0u);
    EXPECT_FALSE(QFileInfo::exists(folder));
}

} // namespace
