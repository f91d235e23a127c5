// SPDX-License-Identifier: GPL-3.0-or-later
// Scenes that outlive a run that ended without saving them, and saving when the disk refuses.
#include "FramoraTestSupport.h"

#include "browser/FImageBrowser.h"
#include "framework/TListView.h"
#include "framework/TOpenDialog.h"
#include "imagestore/USceneRecovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>
#include <sys/resource.h>

namespace {

const QString RestoreQuestion = QStringLiteral("前回保存されなかったシーンがあります。復元しますか？");

class FramoraRecovery : public FramoraWindow {
protected:
    TFramoraDesktop& Desktop() { return *Form->findChild<TFramoraDesktop*>(); }
    TSceneRecovery& Recovery() { return Desktop().Recovery(); }

    // Captures a scene at each position; answers the pictures stored.
    QList<QImage> CaptureAt(std::initializer_list<int> positions)
    {
        OpenPausedAt(*positions.begin());
        for (const int ms : positions) {
            Form->TrackBar1->setValue(ms);
            Idle();
            EXPECT_TRUE(Capture());
        }
        return SceneImages();
    }

    QList<QImage> SceneImages()
    {
        QList<QImage> images;
        for (int i = 0; i < Form->CurrentSceneCount(); ++i) {
            TPictureEx picture;
            Form->CustomImagePack1->SafeGetImage(picture, i);
            auto* bitmap = dynamic_cast<TBitmap*>(picture.Graphic());
            images.append(bitmap ? bitmap->Image().copy() : QImage());
        }
        return images;
    }

    // A process of its own would not see the single-instance guard that this one holds for good.
    void NewRun()
    {
        const QString guards = LockDir.filePath(QStringLiteral("run%1").arg(++Runs));
        ASSERT_TRUE(QDir().mkpath(guards));
        qputenv("FRAMORA_LOCK_DIR", guards.toLocal8Bit());
    }

    // The run ends as a kill would end it: nothing is cleaned up.
    void Crash()
    {
        Recovery().Flush();
        Recovery().Abandon();
        Form.reset();
    }

    // A new run starts and is asked about what the last one left; answers the texts asked.
    QStringList Restart(TMsgResult answer)
    {
        NewRun();
        Form = NewFramoraWindow();
        TMessageBoxScript boxes({answer});
        OfferRecoveredScenes(*Form);
        Desktop().WaitForRestore();
        return boxes.Texts();
    }

    int Runs = 0;

    // Saves every scene (none selected) as file.
    QStringList Save(const QString& file)
    {
        Form->SceneBrowser().ListView1->ClearSelection();
        TMessageBoxScript boxes;
        TFileDialogScript dialogs({TFileDialogAnswer::Choose(file)});
        Form->actSaveImage->Execute();
        Form->WaitForSave();
        return boxes.Texts();
    }
};

TEST_F(FramoraRecovery, ScenesOfAKilledRunComeBackPixelForPixelAndUnsaved)
{
    const QList<QImage> captured = CaptureAt({1000, 5000, 9000});
    ASSERT_EQ(captured.size(), 3);
    const QList<int> stamps = SceneStamps();
    Crash();

    EXPECT_EQ(Restart(TMsgResult::Yes), QStringList{RestoreQuestion});
    ASSERT_EQ(Form->CurrentSceneCount(), 3);
    EXPECT_EQ(SceneImages(), captured);
    EXPECT_EQ(SceneStamps(), stamps);
    EXPECT_TRUE(Form->HasUnsavedScenes());
    EXPECT_EQ(Form->lblPicNum->text(), QStringLiteral("3"));
    // None is chosen, so that saving writes them all.
    EXPECT_EQ(Form->SceneBrowser().SelectedIndex(), -1);

    // They are kept under the new run now, so a second crash loses them no more than the first.
    Crash();
    EXPECT_EQ(Restart(TMsgResult::Yes), QStringList{RestoreQuestion});
    EXPECT_EQ(SceneImages(), captured);
}

TEST_F(FramoraRecovery, NoDeletesTheKeptScenes)
{
    CaptureAt({1000, 2000});
    Crash();
    EXPECT_EQ(Restart(TMsgResult::No), QStringList{RestoreQuestion});
    EXPECT_EQ(Form->CurrentSceneCount(), 0);
    Form.reset();
    EXPECT_TRUE(Restart(TMsgResult::Yes).isEmpty());
}

TEST_F(FramoraRecovery, SavedOrDeletedScenesAreNotOffered)
{
    CaptureAt({1000, 2000});
    EXPECT_EQ(Save(QDir(LockDir.path()).filePath(QStringLiteral("shot.png"))), QStringList{SavedText(2, LockDir.path())});
    Crash();
    EXPECT_TRUE(Restart(TMsgResult::Yes).isEmpty());

    CaptureAt({3000});
    TMessageBoxScript boxes({TMsgResult::OK});
    ASSERT_TRUE(Form->actDeleteAll->Execute());
    Crash();
    EXPECT_TRUE(Restart(TMsgResult::Yes).isEmpty());
}

TEST_F(FramoraRecovery, ScenesThatDoNotFitStayForALaterStart)
{
    CaptureAt({1000, 2000, 3000});
    Crash();
    NewRun();
    Form = NewFramoraWindow();
    OpenPausedAt(4000);
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(Capture());
    {
        TMessageBoxScript boxes({TMsgResult::Yes});
        OfferRecoveredScenes(*Form);
        Desktop().WaitForRestore();
    }
    EXPECT_EQ(Form->CurrentSceneCount(), 30);
    Form->findChild<TFramoraDesktop*>()->Recovery().Flush();
    Form.reset(); // a normal end: the 30 go, the 3 stay
    EXPECT_EQ(Restart(TMsgResult::Yes), QStringList{RestoreQuestion});
    EXPECT_EQ(Form->CurrentSceneCount(), 3);
}

// Restores the file-size limit and SIGXFSZ as they were.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &FOld);
        FOldSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = FOld;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldSignal);
    }

private:
    rlimit FOld{};
    void (*FOldSignal)(int) = nullptr;
};

TEST_F(FramoraRecovery, AWriteBeyondTheFileSizeLimitIsReportedAndLosesNothing)
{
    CaptureAt({1000, 2000, 3000});
    Recovery().Flush();
    const QDir out(LockDir.filePath(QStringLiteral("out")));
    ASSERT_TRUE(out.mkpath(QStringLiteral(".")));
    // An earlier save's files under the same names.
    ASSERT_EQ(Save(out.filePath(QStringLiteral("shot.bmp"))), QStringList{SavedText(3, out.path())});
    const QImage earlier = QImage(out.filePath(QStringLiteral("shot001.bmp")));
    ASSERT_FALSE(earlier.isNull());
    CaptureAt({5000});
    Recovery().Flush();
    const qint64 fileSize = QFileInfo(out.filePath(QStringLiteral("shot001.bmp"))).size();
    QStringList texts;
    {
        // No picture fits under this limit: the first write fails half way.
        const FileSizeLimit limit(static_cast<rlim_t>(fileSize / 2));
        texts = Save(out.filePath(QStringLiteral("shot.bmp")));
    }
    // The earlier files are asked about (answered yes) before the write that fails.
    ASSERT_EQ(texts.size(), 2);
    EXPECT_EQ(texts[0], QStringLiteral("shot001.bmp ほか2件は既にあります。上書きしますか？"));
    EXPECT_TRUE(texts[1].startsWith(out.filePath(QStringLiteral("shot001.bmp")) + QStringLiteral("を保存できませんでした。\n")))
        << texts[1].toStdString();
    EXPECT_TRUE(texts[1].contains(QString::fromLocal8Bit(std::strerror(EFBIG)))) << texts[1].toStdString();
    // The files of the earlier save stay whole; no part of the failed one is left anywhere.
    EXPECT_EQ(out.entryList(QDir::Files | QDir::Hidden),
              (QStringList{QStringLiteral("shot001.bmp"), QStringLiteral("shot002.bmp"), QStringLiteral("shot003.bmp")}));
    EXPECT_EQ(QImage(out.filePath(QStringLiteral("shot001.bmp"))), earlier);
    EXPECT_EQ(Form->CurrentSceneCount(), 4);
    EXPECT_TRUE(Form->HasUnsavedScenes());
    // And the scene not saved is still kept against a crash (the three saved before are not).
    Crash();
    EXPECT_EQ(Restart(TMsgResult::Yes), QStringList{RestoreQuestion});
    EXPECT_EQ(Form->CurrentSceneCount(), 1);
}

TEST_F(FramoraRecovery, ScenesRestoredIntoAFullStateFolderStayInTheOldOne)
{
    const QList<QImage> captured = CaptureAt({1000, 5000, 9000});
    Crash();
    {
        // This run cannot keep a single scene file of its own.
        const FileSizeLimit limit(1024);
        EXPECT_EQ(Restart(TMsgResult::Yes), QStringList{RestoreQuestion});
        EXPECT_EQ(Form->CurrentSceneCount(), 3);
        EXPECT_FALSE(Recovery().KeepsEveryScene());
    }
    // The old folder is still the scenes' only copy on disk, so it is offered again.
    Crash();
    EXPECT_EQ(Restart(TMsgResult::Yes), QStringList{RestoreQuestion});
    EXPECT_EQ(SceneImages(), captured);
    EXPECT_TRUE(Recovery().KeepsEveryScene());
}

// The question says how many scenes wait and when they were captured.
TEST_F(FramoraRecovery, TheQuestionSaysHowManyScenesAndWhenTheyWereCaptured)
{
    CaptureAt({1000, 5000, 9000});
    Recovery().Flush();
    const QDir kept(Recovery().Folder());
    const QStringList files = kept.entryList({QStringLiteral("*.scene")}, QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 3);
    const QDateTime first(QDate(2026, 12, 1), QTime(10, 0));
    for (qsizetype i = 0; i < files.size(); ++i) {
        QFile file(kept.filePath(files[i]));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(first.addSecs(150 * i), QFileDevice::FileModificationTime));
    }
    Crash();
    NewRun();
    Form = NewFramoraWindow();
    TMessageBoxScript boxes({TMsgResult::Yes});
    OfferRecoveredScenes(*Form);
    ASSERT_EQ(boxes.Asked().size(), 1);
    EXPECT_EQ(boxes.Asked()[0].Text, RestoreQuestion);
    EXPECT_EQ(boxes.Asked()[0].Buttons, TMsgButtons::YesNo);
    EXPECT_EQ(boxes.Asked()[0].Informative, QStringLiteral("3件のシーン（2026-12-01 10:00〜2026-12-01 10:05にキャプチャ）"));
}

} // namespace
