// SPDX-License-Identifier: GPL-3.0-or-later
// The capture window as a desktop application: drops, keyboard shortcuts through real key
// events, and what it keeps between runs.
#include "FramoraTestSupport.h"

#include "browser/FImageBrowser.h"
#include "framework/TOpenDialog.h"
#include "imagestore/UCustomImagePack.h"
#include "imagestore/UPictureEX.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QToolButton>
#include <QUrl>

namespace {

class FramoraDesktop : public FramoraWindow {
protected:
    // Drags data over the window and drops it; answers whether the window took the drag and the
    // drop. The opening runs once the drop has ended.
    std::pair<bool, bool> Drop(QMimeData& data)
    {
        const QPoint centre = Form->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(Form.get(), &enter);
        QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(Form.get(), &drop);
        TMessageBoxScript boxes;
        QCoreApplication::sendPostedEvents();
        Settle();
        return {enter.isAccepted(), drop.isAccepted()};
    }

    // A window of a later run: the guard of this run stays held, so the next one takes its own.
    std::unique_ptr<TfrmFramora> NextRun()
    {
        Form.reset();
        NextLocks.emplace_back(std::make_unique<QTemporaryDir>());
        qputenv("FRAMORA_LOCK_DIR", NextLocks.back()->path().toLocal8Bit());
        return NewFramoraWindow();
    }

    void ShowActive()
    {
        Form->show();
        QApplication::setActiveWindow(Form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    }

    // A key as the user types it; idle moments come before it as between real key presses.
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        Idle();
        QTest::keyClick(Form.get(), static_cast<Qt::Key>(key), modifiers);
        Idle();
    }

    std::vector<std::unique_ptr<QTemporaryDir>> NextLocks;
};

QUrl FixtureUrl(const char* name)
{
    return QUrl::fromLocalFile(FixturePath(name));
}

TEST_F(FramoraDesktop, ADroppedMovieOpensAndAnythingElseIsRefused)
{
    QMimeData one;
    one.setUrls({FixtureUrl(TestMovies::Mpeg4Avi)});
    EXPECT_EQ(Drop(one), std::make_pair(true, true));
    EXPECT_EQ(Form->CurrentMoviePath(), FixturePath(TestMovies::Mpeg4Avi));
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Playing);

    QMimeData two;
    two.setUrls({FixtureUrl(TestMovies::LongGopH264), FixtureUrl(TestMovies::Mpeg4Avi)});
    EXPECT_EQ(Drop(two), std::make_pair(true, true));
    EXPECT_EQ(Form->CurrentMoviePath(), FixturePath(TestMovies::LongGopH264)) << "the first of several";

    QMimeData web;
    web.setUrls({QUrl("https://example.org/movie.mp4"), FixtureUrl(TestMovies::Mpeg4Avi)});
    QMimeData folder;
    folder.setUrls({QUrl::fromLocalFile(QString::fromUtf8(FRAMORA_FIXTURE_DIR))});
    QMimeData text;
    text.setText(FixturePath(TestMovies::Mpeg4Avi));
    for (QMimeData* refused : {&web, &folder, &text}) {
        EXPECT_EQ(Drop(*refused), std::make_pair(false, false));
        EXPECT_EQ(Form->CurrentMoviePath(), FixturePath(TestMovies::LongGopH264)) << "no change";
    }
}

TEST_F(FramoraDesktop, PlaybackKeys)
{
    OpenPausedAt(5000);
    ShowActive();
    Key(Qt::Key_Right);
    EXPECT_EQ(Position(), 15000) << "a step of the chosen unit";
    Form->cmbStepUnit->setCurrentIndex(4); // 5 s
    Key(Qt::Key_Left);
    EXPECT_EQ(Position(), 10000);
    Key(Qt::Key_Home);
    EXPECT_EQ(Position(), 0);
    Key(Qt::Key_Space);
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Playing);
    Key(Qt::Key_Space);
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Paused);
    // While playing the step keys do nothing.
    Key(Qt::Key_Space);
    Key(Qt::Key_Right);
    EXPECT_EQ(Position(), 0);
}

TEST_F(FramoraDesktop, SinglePictureKeys)
{
    OpenPausedAt(10000);
    ShowActive();
    EXPECT_TRUE(Form->btnFramePrev->toolTip().endsWith(QStringLiteral("(,)")));
    EXPECT_TRUE(Form->btnFrameNext->toolTip().endsWith(QStringLiteral("(.)")));
    // Back over the key frame at 10 s and forward again; the bar follows the picture.
    Key(Qt::Key_Comma);
    EXPECT_EQ(ShownStamp(), 249);
    EXPECT_EQ(Position(), 9960);
    Key(Qt::Key_Period);
    Key(Qt::Key_Period);
    EXPECT_EQ(ShownStamp(), 251);
    EXPECT_EQ(Position(), 10040);
    // While playing the keys do nothing.
    Key(Qt::Key_Space);
    Key(Qt::Key_Period);
    EXPECT_EQ(Position(), 10040);
}

TEST_F(FramoraDesktop, OpenAndHelpKeys)
{
    ShowActive();
    TFileDialogScript dialogs({TFileDialogAnswer::Choose(FixturePath(TestMovies::Mpeg4Avi))});
    Key(Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(dialogs.Asked().size(), 1);
    EXPECT_EQ(Form->CurrentMoviePath(), FixturePath(TestMovies::Mpeg4Avi));

    std::vector<std::pair<int, int>> help;
    Form->OnHelp = [&](std::uint16_t command, std::int32_t data, bool&) {
        help.emplace_back(command, data);
        return true;
    };
    Key(Qt::Key_F1);
    EXPECT_EQ(help, (std::vector<std::pair<int, int>>{{1, 6007}}));
}

TEST_F(FramoraDesktop, SceneKeysAndCopy)
{
    OpenPausedAt(2000);
    ShowActive();
    Key(Qt::Key_Insert);
    Key(Qt::Key_C);
    EXPECT_EQ(Form->CurrentSceneCount(), 2);

    // The selected scene (the newest) goes to the clipboard at full size; with none selected,
    // the picture on screen.
    Form->TrackBar1->setValue(6000);
    Key(Qt::Key_C, Qt::ControlModifier);
    const auto copied = [] { return QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32); };
    TPictureEx scene;
    Form->CustomImagePack1->SafeGetImage(scene, 1);
    ASSERT_NE(dynamic_cast<TBitmap*>(scene.Graphic()), nullptr);
    const QImage stored = dynamic_cast<TBitmap*>(scene.Graphic())->Image().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(copied().size(), QSize(TestMovies::Width, TestMovies::Height));
    EXPECT_EQ(copied(), stored);
    // The same picture as PNG, for programs and desktops that take nothing else.
    const QByteArray png = QGuiApplication::clipboard()->mimeData()->data(QStringLiteral("image/png"));
    EXPECT_EQ(QImage::fromData(png, "png").convertToFormat(QImage::Format_RGB32), stored);
    Form->SceneBrowser().SelectImage(-1);
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_NE(copied(), stored);
    EXPECT_EQ(copied(), ShownFrame().Image().convertToFormat(QImage::Format_RGB32));

    Form->SceneBrowser().SelectImage(0);
    {
        TMessageBoxScript boxes({TMsgResult::OK});
        Key(Qt::Key_Delete);
        EXPECT_EQ(boxes.Texts(), QStringList{QStringLiteral("No.1を削除します。よろしいですか？")});
    }
    EXPECT_EQ(Form->CurrentSceneCount(), 1);

    TFileDialogScript dialogs;
    Key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(dialogs.Asked().size(), 1);
}

TEST_F(FramoraDesktop, ShiftCCapturesTheSharpestAndItsRangeIsKept)
{
    OpenPausedAt(2000);
    ShowActive();
    int sharpest = 0;
    QObject::connect(Form->actCaptureSharpest, &QAction::triggered, [&sharpest] { ++sharpest; });
    Key(Qt::Key_C, Qt::ShiftModifier);
    EXPECT_EQ(sharpest, 1);
    EXPECT_EQ(Form->CurrentSceneCount(), 1);
    Form->SharpestRange1->actions().front()->trigger();

    Form = NextRun();
    EXPECT_EQ(Form->SharpestRangeMs(), 200);
}

TEST_F(FramoraDesktop, FoldersStepUnitSaveSizeAndExactnessAreKeptBetweenRuns)
{
    EXPECT_EQ(Form->DeinterlaceChoice(), TDeinterlace::Auto);
    Form->DeinterlaceNever1->trigger();
    EXPECT_FALSE(Form->DeinterlaceAuto1->isChecked());
    EXPECT_TRUE(Form->ToneMapping1->isChecked());
    Form->ToneMapping1->trigger();
    Form->cmbStepUnit->setCurrentIndex(6); // 1 s
    EXPECT_TRUE(Form->SaveDisplaySize1->isChecked());
    Form->SaveDisplaySize1->trigger();
    EXPECT_TRUE(Form->ExactPosition1->isChecked());
    Form->ExactPosition1->trigger();
    EXPECT_FALSE(Form->PositionInFileName1->isChecked());
    Form->PositionInFileName1->trigger();
    ASSERT_TRUE(Open(FixturePath(TestMovies::Mpeg4Avi)).isEmpty());
    Tick(100);
    Idle();
    ASSERT_TRUE(Capture());
    QTemporaryDir saved;
    {
        TMessageBoxScript boxes;
        TFileDialogScript dialogs({TFileDialogAnswer::Choose(saved.filePath("kept_.bmp"))});
        ASSERT_TRUE(Form->actSaveImage->Execute());
        Form->WaitForSave();
    }

    Form = NextRun();
    EXPECT_EQ(Form->cmbStepUnit->currentIndex(), 6);
    EXPECT_FALSE(Form->SaveDisplaySize1->isChecked());
    EXPECT_FALSE(Form->ExactPosition1->isChecked());
    EXPECT_TRUE(Form->PositionInFileName1->isChecked());
    EXPECT_EQ(Form->DeinterlaceChoice(), TDeinterlace::Never);
    EXPECT_FALSE(Form->ToneMapping1->isChecked());
    EXPECT_EQ(Form->OpenDialog1->InitialDir, QFileInfo(FixturePath(TestMovies::Mpeg4Avi)).absolutePath());
    EXPECT_EQ(Form->SavePictureDialog1->Request().StartFolder(), QFileInfo(saved.path()).absoluteFilePath());

    // Settings of another program version (a unit no longer offered) fall back to the default.
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Framora", "Framora").setValue("playback/stepUnitMs", 3);
    Form = NextRun();
    EXPECT_EQ(Form->cmbStepUnit->currentIndex(), 3);
}

// The folder saved into last is where the next save dialog opens, in the same run and the next,
// even when this run started with a folder kept from an earlier one.
TEST_F(FramoraDesktop, SaveDialogOpensInTheFolderSavedIntoLast)
{
    ASSERT_TRUE(Open(FixturePath(TestMovies::Mpeg4Avi)).isEmpty());
    Tick(100);
    Idle();
    QTemporaryDir first, second;
    const auto saveInto = [this](const QTemporaryDir& folder) {
        ASSERT_TRUE(Capture());
        TMessageBoxScript boxes;
        TFileDialogScript dialogs({TFileDialogAnswer::Choose(folder.filePath("scene_.bmp"))});
        ASSERT_TRUE(Form->actSaveImage->Execute());
        Form->WaitForSave();
        ASSERT_EQ(dialogs.Asked().size(), 1);
    };
    const auto nextDialogFolder = [this] {
        TFileDialogScript dialogs({TFileDialogAnswer::Cancel()});
        Form->actSaveImage->Execute();
        return dialogs.Asked().value(0).StartFolder();
    };
    const auto nextRunWithAScene = [this] {
        Form = NextRun();
        ASSERT_TRUE(Open(FixturePath(TestMovies::Mpeg4Avi)).isEmpty());
        Tick(100);
        Idle();
        ASSERT_TRUE(Capture());
    };
    saveInto(first);

    nextRunWithAScene();
    EXPECT_EQ(nextDialogFolder(), QFileInfo(first.path()).absoluteFilePath());
    saveInto(second);
    EXPECT_EQ(nextDialogFolder(), QFileInfo(second.path()).absoluteFilePath());

    nextRunWithAScene();
    EXPECT_EQ(nextDialogFolder(), QFileInfo(second.path()).absoluteFilePath());
}

// The window comes back as large and where it was left; never smaller than its design.
TEST_F(FramoraDesktop, WindowSizeAndPlaceAreKeptBetweenRuns)
{
    const QSize design = Form->minimumSize();
    const auto leaveAt = [this](const QRect& frame) {
        Form->show();
        Form->setGeometry(frame);
        const QRect left = Form->geometry();
        TMessageBoxScript closeQuestion; // answered OK
        EXPECT_TRUE(Form->close());
        return left;
    };
    // Larger than the design, within the offscreen platform's 800 x 600 screen.
    const QRect larger = leaveAt(QRect(3, 2, std::min(design.width() + 4, 797), std::min(design.height() + 12, 596)));
    ASSERT_GT(larger.width(), design.width());
    Form = NextRun();
    EXPECT_EQ(Form->size(), larger.size());
    Form->show();
    EXPECT_EQ(Form->geometry(), larger);

    // A kept size below the design (an older screen, a hand-edited file) gives the design.
    leaveAt(QRect(10, 10, design.width(), design.height()));
    QSettings kept(QSettings::NativeFormat, QSettings::UserScope, "Framora", "Framora");
    kept.setValue("window/geometry", QRect(20, 20, 300, 200));
    kept.sync();
    Form = NextRun();
    EXPECT_EQ(Form->size(), design);
}

} // namespace
