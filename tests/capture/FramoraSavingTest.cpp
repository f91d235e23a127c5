// SPDX-License-Identifier: GPL-3.0-or-later
// Saving and restoring beside the window: the files a save writes, a save stopped (by its
// cancel, by closing the window) between whole files, a folder that refuses the files, and a
// restore stopped half way that loses no scene.
#include "FramoraTestSupport.h"

#include "browser/FImageBrowser.h"
#include "framework/TListView.h"
#include "framework/TOpenDialog.h"
#include "imagestore/USceneRecovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <random>

namespace {

constexpr int WaitLimitMs = 60000;
// Grain does not compress: writing or reading one such picture takes a good part of a second,
// so a cancel or a close lands while files are still to come.
constexpr QSize GrainySize(1920, 1080);
constexpr QSize SmallSize(TestMovies::Width, TestMovies::Height);
constexpr int ManyScenes = 8;
const QString UnsavedQuestion = QStringLiteral("保存していないシーンがあります。終了します。よろしいですか？");

QImage Grainy(int seed, QSize size)
{
    QImage picture(size, QImage::Format_BGR888);
    std::mt19937 random(static_cast<std::uint32_t>(seed));
    for (int y = 0; y < picture.height(); ++y) {
        std::uint8_t* row = picture.scanLine(y);
        for (int x = 0; x < 3 * picture.width(); ++x)
            row[x] = static_cast<std::uint8_t>(random());
    }
    return picture;
}

TProvenance OriginOf(int scene, QSize size)
{
    TProvenance origin;
    origin.Movie = QStringLiteral("grain.mkv");
    origin.PositionMs = scene * 1000;
    origin.CodedSize = origin.ShownSize = size;
    origin.Creator = QStringLiteral("test");
    return origin;
}

QImage Rgb(const QImage& image)
{
    return image.convertToFormat(QImage::Format_RGB888);
}

class FramoraSaving : public FramoraWindow {
protected:
    // Puts count grainy scenes into the list, none selected; answers their pictures.
    QList<QImage> AddScenes(int count, QSize size)
    {
        QList<QImage> pictures;
        for (int i = 0; i < count; ++i) {
            pictures.append(Grainy(i, size));
            EXPECT_TRUE(Form->RestoreScene(pictures.back(), OriginOf(i, size)));
        }
        Form->SceneBrowser().ListView1->ClearSelection();
        return pictures;
    }

    // Starts saving as file; the save runs on after this returns.
    void StartSave(const QString& file)
    {
        TFileDialogScript dialogs({TFileDialogAnswer::Choose(file)});
        ASSERT_TRUE(Form->actSaveImage->Execute());
    }

    static QStringList Files(const QString& folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    // Every file in folder is a whole picture of the scene its number names ("s003.png": the
    // third), and no temporary file is left. Answers how many there are.
    static qsizetype ExpectWholeFiles(const QString& folder, const QList<QImage>& pictures)
    {
        const QStringList files = Files(folder);
        for (const QString& name : files) {
            const QRegularExpressionMatch number = QRegularExpression(QStringLiteral("^s(\\d{3})\\.png$")).match(name);
            EXPECT_TRUE(number.hasMatch()) << name.toStdString();
            if (!number.hasMatch())
                continue;
            const qsizetype scene = number.captured(1).toInt() - 1;
            EXPECT_EQ(Rgb(QImage(QDir(folder).filePath(name))), Rgb(pictures.value(scene))) << name.toStdString();
        }
        return files.size();
    }

    QProgressDialog* SaveProgress() { return Form->findChild<QProgressDialog*>(QStringLiteral("SaveProgress")); }
    TFramoraDesktop& Desktop() { return *Form->findChild<TFramoraDesktop*>(); }

    QTemporaryDir Out;
};

// The files are those the writer makes of each scene by itself, byte for byte, in every format
// that keeps pixels; the message counts them and names their folder.
TEST_F(FramoraSaving, SavedFilesAreTheWritersOwnAndTheMessageCountsThem)
{
    const QList<QImage> pictures = AddScenes(3, SmallSize);
    for (const char* extension : {"png", "bmp", "tif", "webp"}) {
        const QString folder = Out.filePath(QString::fromLatin1(extension));
        const QString reference = Out.filePath(QStringLiteral("reference-") + QString::fromLatin1(extension));
        ASSERT_TRUE(QDir().mkpath(folder) && QDir().mkpath(reference));
        const QString name = QStringLiteral("/s.") + QString::fromLatin1(extension);
        TMessageBoxScript boxes;
        StartSave(folder + name);
        Form->WaitForSave();
        EXPECT_EQ(boxes.Texts(), QStringList{SavedText(3, folder)}) << extension;
        ASSERT_EQ(Files(folder).size(), 3) << extension;
        for (int i = 0; i < 3; ++i) {
            const QString file = SceneFileName(folder + name, i);
            const QString expected = SceneFileName(reference + name, i);
            QString error;
            const TProvenance origin = OriginOf(i, SmallSize);
            ASSERT_TRUE(SaveSceneFile(pictures[i], expected, error, &origin)) << error.toStdString();
            QFile written(file), made(expected);
            ASSERT_TRUE(written.open(QIODevice::ReadOnly) && made.open(QIODevice::ReadOnly)) << file.toStdString();
            EXPECT_EQ(written.readAll(), made.readAll()) << file.toStdString();
            EXPECT_EQ(Rgb(QImage(file)), Rgb(pictures[i])) << file.toStdString();
        }
        EXPECT_FALSE(Form->HasUnsavedScenes());
    }
}

// While the files are written the commands that change the list rest and a progress window
// counts the files; its cancel stops between files: whole files only, no message, the scenes
// kept and still unsaved.
TEST_F(FramoraSaving, CancelStopsBetweenWholeFilesAndKeepsTheScenes)
{
    const QList<QImage> pictures = AddScenes(ManyScenes, GrainySize);
    QSignalSpy saved(Form.get(), &TfrmFramora::ScenesSaved);
    TMessageBoxScript boxes;
    StartSave(Out.filePath(QStringLiteral("s.png")));
    Form->SceneBrowser().SelectImage(0);
    Idle();
    EXPECT_FALSE(Form->actSaveImage->Enabled());
    EXPECT_FALSE(Form->actDelete1->Enabled());
    EXPECT_FALSE(Form->actDeleteAll->Enabled());
    EXPECT_FALSE(Form->actSaveImage->Execute());

    ASSERT_TRUE(QTest::qWaitFor([this] { return SaveProgress() && SaveProgress()->isVisible(); }, WaitLimitMs));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\\d / 8$")).match(SaveProgress()->labelText()).hasMatch())
        << SaveProgress()->labelText().toStdString();
    SaveProgress()->findChild<QPushButton*>()->click();
    Form->WaitForSave();

    EXPECT_TRUE(boxes.Texts().isEmpty()) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(saved.count(), 0);
    EXPECT_LT(ExpectWholeFiles(Out.path(), pictures), ManyScenes);
    EXPECT_EQ(SaveProgress(), nullptr);
    EXPECT_EQ(Form->CurrentSceneCount(), ManyScenes);
    EXPECT_TRUE(Form->HasUnsavedScenes());
    Idle();
    EXPECT_TRUE(Form->actSaveImage->Enabled());
    EXPECT_TRUE(Form->actDeleteAll->Enabled());
}

// Closing the window ends the save between files before the window goes, and nothing the save
// sends afterwards reaches it.
TEST_F(FramoraSaving, ClosingDuringASaveEndsItBetweenWholeFiles)
{
    const QList<QImage> pictures = AddScenes(ManyScenes, GrainySize);
    Form->show();
    TMessageBoxScript boxes({TMsgResult::OK});
    StartSave(Out.filePath(QStringLiteral("s.png")));
    ASSERT_TRUE(Form->SaveRunning());
    EXPECT_TRUE(Form->close());
    EXPECT_FALSE(Form->SaveRunning());
    EXPECT_EQ(boxes.Texts(), QStringList{UnsavedQuestion});
    Form.reset();
    QCoreApplication::processEvents();
    EXPECT_LT(ExpectWholeFiles(Out.path(), pictures), ManyScenes);
}

// A folder that takes no file gives the writer's reason; nothing counts as saved.
TEST_F(FramoraSaving, AFolderThatRefusesFilesGivesItsReason)
{
    AddScenes(2, SmallSize);
    QString folder = Out.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    // Permissions do not stop root; sysfs takes no new file from anyone.
    if (QFileInfo(folder).isWritable())
        folder = QStringLiteral("/sys");
    QSignalSpy saved(Form.get(), &TfrmFramora::ScenesSaved);
    TMessageBoxScript boxes;
    StartSave(folder + QStringLiteral("/s.png"));
    Form->WaitForSave();
    ASSERT_EQ(boxes.Asked().size(), 1);
    EXPECT_EQ(boxes.Asked()[0].Icon, TMsgIcon::Error);
    EXPECT_TRUE(boxes.Asked()[0].Text.startsWith(folder + QStringLiteral("/s001.pngを保存できませんでした。\n")))
        << boxes.Asked()[0].Text.toStdString();
    EXPECT_TRUE(boxes.Asked()[0].Text.contains(QString::fromLocal8Bit(std::strerror(EACCES))))
        << boxes.Asked()[0].Text.toStdString();
    EXPECT_EQ(saved.count(), 0);
    EXPECT_TRUE(Form->HasUnsavedScenes());
    QFile::setPermissions(Out.filePath(QStringLiteral("locked")), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                     QFileDevice::ExeOwner);
}

// A restore stopped after its first scenes keeps the rest on disk as they were: the next start
// puts every scene back, once each, in the order they were captured.
TEST_F(FramoraSaving, AStoppedRestoreLosesNoSceneAndKeepsTheOrder)
{
    QList<QImage> pictures;
    {
        TSceneRecovery lost;
        for (int i = 0; i < ManyScenes; ++i) {
            pictures.append(Grainy(i, GrainySize));
            lost.Added(pictures.back(), OriginOf(i, GrainySize));
        }
        lost.Abandon();
    }
    {
        TMessageBoxScript boxes({TMsgResult::Yes});
        OfferRecoveredScenes(*Form);
    }
    ASSERT_TRUE(QTest::qWaitFor([this] { return Form->CurrentSceneCount() > 0; }, WaitLimitMs));
    Desktop().CancelRestore();
    Desktop().WaitForRestore();
    const int restored = Form->CurrentSceneCount();
    EXPECT_LT(restored, ManyScenes);
    for (int i = 0; i < restored; ++i) {
        TPictureEx picture;
        Form->CustomImagePack1->SafeGetImage(picture, i);
        EXPECT_EQ(Rgb(dynamic_cast<TBitmap&>(*picture.Graphic()).Image()), Rgb(pictures[i])) << i;
    }

    // This run ends as a kill would; the next one is offered what both left.
    Desktop().Recovery().Flush();
    Desktop().Recovery().Abandon();
    Form.reset();
    QTemporaryDir nextGuard;
    qputenv("FRAMORA_LOCK_DIR", nextGuard.path().toLocal8Bit());
    Form = NewFramoraWindow();
    {
        TMessageBoxScript boxes({TMsgResult::Yes});
        OfferRecoveredScenes(*Form);
        Desktop().WaitForRestore();
    }
    ASSERT_EQ(Form->CurrentSceneCount(), ManyScenes);
    for (int i = 0; i < ManyScenes; ++i) {
        TPictureEx picture;
        Form->CustomImagePack1->SafeGetImage(picture, i);
        EXPECT_EQ(Rgb(dynamic_cast<TBitmap&>(*picture.Graphic()).Image()), Rgb(pictures[i])) << i;
    }
}

} // namespace
