// SPDX-License-Identifier: GPL-3.0-or-later
// The scene list: capturing, deleting, saving, and the close question over unsaved scenes.
#include "FramoraTestSupport.h"

#include "browser/FImageBrowser.h"
#include "framework/TOpenDialog.h"
#include "imagestore/UCustomImagePack.h"
#include "imagestore/UPictureEX.h"
#include "support/XmpRead.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPushButton>

namespace {

const QString UnsavedQuestion = QStringLiteral("保存していないシーンがあります。終了します。よろしいですか？");

class FramoraScenes : public FramoraWindow {
protected:
    // Captures the pictures at the given positions (paused); answers their stamps.
    QList<int> CaptureAt(std::initializer_list<int> positions)
    {
        QList<int> stamps;
        for (int ms : positions) {
            Form->TrackBar1->setValue(ms);
            Idle();
            EXPECT_TRUE(Capture());
            stamps.append(ShownStamp());
        }
        return stamps;
    }

    QStringList Captions()
    {
        QStringList captions;
        for (int i = 0; i < Form->CurrentSceneCount(); ++i)
            captions.append(Form->SceneBrowser().ListView1->ItemCaption(i));
        return captions;
    }

    // Runs the save command choosing file (none: cancel); answers the message texts.
    QStringList Save(const QString& file)
    {
        TMessageBoxScript boxes;
        TFileDialogScript dialogs({file.isEmpty() ? TFileDialogAnswer::Cancel() : TFileDialogAnswer::Choose(file)});
        Form->actSaveImage->Execute();
        Form->WaitForSave();
        return boxes.Texts();
    }

    QTemporaryDir Out;
};

TEST_F(FramoraScenes, CaptureStopsAt32AndDeletingOneEnablesItAgain)
{
    OpenPausedAt(1000);
    for (int i = 0; i < 32; ++i)
        ASSERT_TRUE(Capture());
    Idle();
    EXPECT_FALSE(Form->actCapture->Enabled());
    EXPECT_EQ(Form->lblPicNum->text(), QStringLiteral("32"));
    EXPECT_EQ(Form->SceneBrowser().SelectedIndex(), 31); // the newest scene is selected
    Form->actCaptureExecute(nullptr);                    // at 32, even when asked directly
    EXPECT_EQ(Form->CurrentSceneCount(), 32);

    TMessageBoxScript boxes({TMsgResult::OK});
    ASSERT_TRUE(Form->actDelete1->Execute());
    EXPECT_EQ(boxes.Texts(), QStringList{QStringLiteral("No.32を削除します。よろしいですか？")});
    EXPECT_TRUE(Form->actCapture->Enabled());
    EXPECT_EQ(Form->lblPicNum->text(), QStringLiteral("31"));
    EXPECT_FALSE(Form->actDelete1->Enabled()); // nothing selected after a deletion
}

TEST_F(FramoraScenes, DeletingRenumbersKeepsPicturesAndTakesTheFirstSelected)
{
    OpenPausedAt(0);
    const QList<int> stamps = CaptureAt({2000, 4000, 6000, 8000});
    ASSERT_EQ(SceneStamps(), stamps);

    // No.2 and No.3 selected: only No.2 goes.
    Form->SceneBrowser().SelectImage(-1);
    Form->SceneBrowser().SelectImage(1);
    Form->SceneBrowser().SelectImage(2);
    {
        TMessageBoxScript boxes({TMsgResult::OK});
        ASSERT_TRUE(Form->actDelete1->Execute());
        EXPECT_EQ(boxes.Texts(), QStringList{QStringLiteral("No.2を削除します。よろしいですか？")});
    }
    EXPECT_EQ(SceneStamps(), (QList<int>{stamps[0], stamps[2], stamps[3]}));
    EXPECT_EQ(Captions(), (QStringList{"No.1", "No.2", "No.3"}));

    // Deleting No.1 moves the others down with their pictures.
    Form->SceneBrowser().SelectImage(0);
    {
        TMessageBoxScript boxes({TMsgResult::OK});
        ASSERT_TRUE(Form->actDelete1->Execute());
    }
    EXPECT_EQ(SceneStamps(), (QList<int>{stamps[2], stamps[3]}));
    EXPECT_EQ(Form->lblPicNum->text(), QStringLiteral("2"));
}

TEST_F(FramoraScenes, CancelledConfirmationsChangeNothingAndScenesIgnorePlayback)
{
    OpenPausedAt(0);
    const QList<int> stamps = CaptureAt({3000, 3000});
    {
        TMessageBoxScript boxes({TMsgResult::Cancel, TMsgResult::Cancel});
        Form->actDelete1->Execute();
        Form->actDeleteAll->Execute();
        EXPECT_EQ(boxes.Texts(), (QStringList{QStringLiteral("No.2を削除します。よろしいですか？"),
                                              QStringLiteral("すべて削除します。よろしいですか？")}));
    }
    EXPECT_EQ(SceneStamps(), stamps);
    // Playing on replaces the picture on screen, never a stored one.
    ASSERT_TRUE(Form->actPlay->Execute());
    Tick(2000);
    EXPECT_NE(ShownStamp(), stamps[0]);
    EXPECT_EQ(SceneStamps(), stamps);

    TMessageBoxScript boxes({TMsgResult::OK});
    Form->actDeleteAll->Execute();
    EXPECT_EQ(Form->CurrentSceneCount(), 0);
    EXPECT_EQ(Form->lblPicNum->text(), QStringLiteral("0"));
    Idle();
    EXPECT_FALSE(Form->actDeleteAll->Enabled());
    EXPECT_FALSE(Form->actSaveImage->Enabled());
}

TEST_F(FramoraScenes, SavingAllOrTheSelectionInTheFormatTyped)
{
    OpenPausedAt(0);
    const QList<int> stamps = CaptureAt({1000, 2000, 3000, 4000});
    Form->SceneBrowser().SelectImage(-1);

    // Nothing selected: every scene, in BMP for the proposed name's extension.
    const QString all = Out.filePath("all_.bmp");
    EXPECT_EQ(Save(all), QStringList{SavedText(4, Out.path())});
    EXPECT_EQ(QDir(Out.path()).entryList(QDir::Files),
              (QStringList{"all_001.bmp", "all_002.bmp", "all_003.bmp", "all_004.bmp"}));
    const QImage third(Out.filePath("all_003.bmp"));
    EXPECT_EQ(third.size(), QSize(TestMovies::Width, TestMovies::Height));

    // No.2 and No.4 selected: their own numbers; ".png" typed gives PNG files.
    Form->SceneBrowser().SelectImage(1);
    Form->SceneBrowser().SelectImage(3);
    EXPECT_EQ(Save(Out.filePath("sel/shot.png")).size(), 1); // no such folder: reported
    QDir(Out.path()).mkdir("sel");
    EXPECT_EQ(Save(Out.filePath("sel/shot.png")), QStringList{SavedText(2, Out.filePath("sel"))});
    EXPECT_EQ(QDir(Out.filePath("sel")).entryList(QDir::Files), (QStringList{"shot002.png", "shot004.png"}));
    QFile png(Out.filePath("sel/shot004.png"));
    ASSERT_TRUE(png.open(QIODevice::ReadOnly));
    EXPECT_EQ(png.read(4), QByteArray("\x89PNG"));

    // The next proposal lies in the folder last used, with a new stamp.
    TFileDialogScript dialogs;
    Form->actSaveImage->Execute();
    ASSERT_EQ(dialogs.Asked().size(), 1);
    EXPECT_TRUE(dialogs.Asked()[0].FileName.startsWith(Out.filePath("sel/")));
    EXPECT_TRUE(dialogs.Asked()[0].FileName.endsWith(QStringLiteral("_.bmp")));
    EXPECT_EQ(SceneStamps(), stamps);
}

// Each scene keeps its movie and time: its hint shows them, saved files carry them inside and,
// with the setting on, in their names; a deleted scene takes its origin with it.
TEST_F(FramoraScenes, ScenesKeepTheirMovieAndTime)
{
    OpenPausedAt(0);
    CaptureAt({1000, 2000, 3000});
    const auto hint = [this](int item) {
        QString tip;
        Form->SceneBrowser().ListView1->OnInfoTip(nullptr, item, tip);
        return tip;
    };
    const QString movie = QFileInfo(FixturePath(TestMovies::LongGopH264)).fileName();
    EXPECT_EQ(hint(1), "No.2  00:00:02.000  " + movie);
    Form->SceneBrowser().SelectImage(0);
    {
        TMessageBoxScript boxes({TMsgResult::OK});
        ASSERT_TRUE(Form->actDelete1->Execute());
    }
    EXPECT_EQ(hint(0), "No.1  00:00:02.000  " + movie);

    Form->SceneBrowser().SelectImage(-1);
    Form->PositionInFileName1->setChecked(true);
    EXPECT_EQ(Save(Out.filePath("s.png")), QStringList{SavedText(2, Out.path())});
    EXPECT_EQ(QDir(Out.path()).entryList(QDir::Files), (QStringList{"s001_00-00-02.000.png", "s002_00-00-03.000.png"}));
    auto xmp = XmpOf(Out.filePath("s002_00-00-03.000.png"));
    EXPECT_EQ(xmp["Xmp.framora.Movie"], movie);
    EXPECT_EQ(xmp["Xmp.framora.Position"], QStringLiteral("00:00:03.000"));
    EXPECT_EQ(xmp["Xmp.framora.CodedSize"], QStringLiteral("%1x%2").arg(TestMovies::Width).arg(TestMovies::Height));
    EXPECT_EQ(xmp["Xmp.framora.DisplaySize"], QStringLiteral("on"));
    EXPECT_EQ(xmp["Xmp.framora.Deinterlace"], QStringLiteral("auto"));
    EXPECT_EQ(xmp["Xmp.framora.ToneMapping"], QStringLiteral("on"));
    EXPECT_EQ(xmp["Xmp.xmp.CreatorTool"], QStringLiteral("Framora " FRAMORA_PROJECT_VERSION));

    Form->PositionInFileName1->setChecked(false);
    EXPECT_EQ(Save(Out.filePath("plain.webp")).size(), 1);
    EXPECT_TRUE(QFile::exists(Out.filePath("plain002.webp")));
}

TEST_F(FramoraScenes, AFileThatCannotBeWrittenIsNamedAndNothingIsLost)
{
    OpenPausedAt(0);
    const QList<int> stamps = CaptureAt({1000, 2000});
    Form->SceneBrowser().SelectImage(-1);
    // Where the second file should go stands a folder, which no one can replace with a file.
    QDir(Out.path()).mkpath("s002.bmp/inside");
    const QStringList texts = Save(Out.filePath("s.bmp"));
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].startsWith(Out.filePath("s002.bmp") + QStringLiteral("を保存できませんでした。")))
        << texts[0].toStdString();
    EXPECT_TRUE(QFile::exists(Out.filePath("s001.bmp")));
    EXPECT_EQ(SceneStamps(), stamps);
    EXPECT_TRUE(Form->HasUnsavedScenes());
}

TEST_F(FramoraScenes, UnsavedScenesAreAlwaysConfirmedOnClosing)
{
    Form->SetStartedWithParameters(true);
    Form->show();
    OpenPausedAt(0);
    CaptureAt({1000});
    {
        TMessageBoxScript boxes({TMsgResult::Cancel});
        Form->btnOK->click();
        EXPECT_EQ(boxes.Texts(), QStringList{UnsavedQuestion});
        EXPECT_TRUE(Form->isVisible());
    }
    EXPECT_EQ(Save(Out.filePath("kept_.bmp")).size(), 1);
    EXPECT_FALSE(Form->HasUnsavedScenes());
    TMessageBoxScript boxes;
    Form->btnOK->click();
    EXPECT_TRUE(boxes.Texts().isEmpty());
    EXPECT_FALSE(Form->isVisible());
}

// Numbered files already there are asked about once, before anything is written.
TEST_F(FramoraScenes, SavingOverExistingNumberedFilesAsksOnce)
{
    OpenPausedAt(0);
    CaptureAt({1000, 2000, 3000});
    Form->SceneBrowser().SelectImage(-1);
    const QByteArray earlier = QByteArrayLiteral("an earlier picture");
    const auto plant = [&](const char* name) {
        QFile file(Out.filePath(QString::fromUtf8(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(earlier);
    };
    const auto saveAnswering = [&](TMsgResult answer) {
        TMessageBoxScript boxes({answer, TMsgResult::OK});
        TFileDialogScript dialogs({TFileDialogAnswer::Choose(Out.filePath("s.png"))});
        Form->actSaveImage->Execute();
        Form->WaitForSave();
        return boxes.Texts();
    };
    const auto contents = [&](const char* name) {
        QFile file(Out.filePath(QString::fromUtf8(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };

    plant("s002.png");
    EXPECT_EQ(saveAnswering(TMsgResult::No), QStringList{QStringLiteral("s002.png は既にあります。上書きしますか？")});
    EXPECT_EQ(QDir(Out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"s002.png"});
    EXPECT_EQ(contents("s002.png"), earlier);
    EXPECT_TRUE(Form->HasUnsavedScenes());

    plant("s001.png");
    plant("s003.png");
    EXPECT_EQ(saveAnswering(TMsgResult::No), QStringList{QStringLiteral("s001.png ほか2件は既にあります。上書きしますか？")});
    EXPECT_EQ(contents("s003.png"), earlier);

    EXPECT_EQ(saveAnswering(TMsgResult::Yes), (QStringList{QStringLiteral("s001.png ほか2件は既にあります。上書きしますか？"),
                                                           SavedText(3, Out.path())}));
    EXPECT_TRUE(contents("s003.png").startsWith("\x89PNG"));
    EXPECT_FALSE(Form->HasUnsavedScenes());
}

// Every format saving writes is offered by name, the bitmap first and all files last.
TEST_F(FramoraScenes, TheSaveDialogOffersEveryFormat)
{
    OpenPausedAt(0);
    CaptureAt({1000});
    TFileDialogScript dialogs({TFileDialogAnswer::Cancel()});
    Form->actSaveImage->Execute();
    ASSERT_EQ(dialogs.Asked().size(), 1);
    const QStringList parts = dialogs.Asked()[0].Filter.split(QLatin1Char('|'));
    QStringList patterns;
    for (qsizetype i = 1; i < parts.size(); i += 2)
        patterns.append(parts[i]);
    EXPECT_EQ(patterns, (QStringList{"*.bmp", "*.png", "*.jpg;*.jpeg", "*.webp", "*.tif;*.tiff", "*.*"}));
    EXPECT_EQ(dialogs.Asked()[0].FilterIndex, 1);
}

} // namespace
