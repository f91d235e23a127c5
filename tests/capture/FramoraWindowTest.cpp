// SPDX-License-Identifier: GPL-3.0-or-later
// The capture window driven through its real widgets: opening movies, the playback clock,
// stepping, the end of the movie, and the preview's painting.
#include "FramoraTestSupport.h"

#include "decoder/UMovieDecoder.h"
#include "framework/TOpenDialog.h"
#include "framework/TPaintBox.h"
#include "shell/UExecuteCheck.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QMenu>
#include <QPushButton>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

const QString OpenFailed = QStringLiteral("動画シーンの取得ができませんでした。");

struct TCommandStates {
    bool Play, Pause, Rewind, StepNext, StepPrev, Capture;
    friend bool operator==(const TCommandStates&, const TCommandStates&) = default;
    friend std::ostream& operator<<(std::ostream& out, const TCommandStates& s)
    {
        return out << "play " << s.Play << " pause " << s.Pause << " rewind " << s.Rewind << " next "
                   << s.StepNext << " prev " << s.StepPrev << " capture " << s.Capture;
    }
};

TCommandStates States(const TfrmFramora& form)
{
    return {form.actPlay->Enabled(),     form.actPause->Enabled(),     form.actRewind->Enabled(),
            form.actStepNext->Enabled(), form.actStepPrev->Enabled(), form.actCapture->Enabled()};
}

constexpr TCommandStates AllOff{false, false, false, false, false, false};
constexpr TCommandStates WhilePlaying{false, true, true, false, false, true};
constexpr TCommandStates WhilePaused{true, false, true, true, true, true};

std::int32_t DurationOf(const char* name)
{
    TMovieDecoder decoder;
    return decoder.Open(QFile::encodeName(FixturePath(name)).toStdString()) ? decoder.Duration() : -1;
}

TEST_F(FramoraWindow, StartsEmptyAndIdle)
{
    EXPECT_EQ(Form->Caption(), QStringLiteral("Framora"));
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Idle);
    EXPECT_FALSE(Form->IsFrameShown());
    EXPECT_TRUE(ShownFrame().Empty());
    EXPECT_FALSE(Form->Timer2->isActive());
    EXPECT_EQ(Form->Timer2->interval(), 97);
    EXPECT_EQ(Form->cmbStepUnit->currentText(), QStringLiteral("10秒"));
    EXPECT_EQ(Form->lblPicNum->text(), QStringLiteral("0"));
    for (QLabel* label : {Form->lblPicSize, Form->lblCurPos, Form->lblStopPos})
        EXPECT_TRUE(label->text().isEmpty()) << label->objectName().toStdString();
    EXPECT_EQ(Form->TrackBar1->maximum(), 0);
    EXPECT_TRUE(Form->TrackBar1->isEnabled());
    EXPECT_FALSE(Form->ClosedDuringCreate());
    Idle();
    EXPECT_EQ(States(*Form), AllOff);
    // A tick with nothing open changes nothing.
    Tick(5000);
    EXPECT_EQ(Position(), 0);
}

TEST_F(FramoraWindow, ComponentsCarryTheirCaptionsAndHints)
{
    struct TButtonText {
        QAbstractButton* Button;
        const char* Text;
        const char* Hint;
    };
    const TButtonText buttons[] = {
        {Form->btnSelectFile, "動画を選択", "動画ファイルを変更します (Ctrl+O)"},
        {Form->btnSearchDisc, "DVDを検索", ""},
        {Form->btnStepPrev, "", "前のステップへ (Left)"},
        {Form->btnStepNext, "", "次のステップへ (Right)"},
        {Form->btnPlay, "再生", "動画の再生を開始します (Space)"},
        {Form->btnPause, "一時停止", "動画を一時停止します (Space)"},
        {Form->btnRewind, "先頭へ", "動画の先頭へ戻ります (Home)"},
        {Form->btnCapture, "キャプチャの追加⇒", "シーンリストの最後にキャプチャ画像を追加します。 (Ins, C)"},
        {Form->btnDeleteAll, "全部削除", "キャプチャ画像をすべて削除します"},
        {Form->btnDelete, "1つ削除", "選択しているキャプチャ画像を1つ削除します (Del)"},
        {Form->btnSaveImage, "保存", nullptr}, // no hint: Qt shows the caption
        {Form->btnOK, "OK", ""},
        {Form->btnCancel, "キャンセル", ""},
        {Form->btnHelp, "ヘルプ", "ヘルプを呼び出します (F1)"},
    };
    // Each hint names the keys that reach the same command.
    for (const TButtonText& b : buttons) {
        EXPECT_EQ(b.Button->text(), QString::fromUtf8(b.Text)) << b.Button->objectName().toStdString();
        if (b.Hint) {
            EXPECT_EQ(b.Button->toolTip(), QString::fromUtf8(b.Hint)) << b.Button->objectName().toStdString();
        }
    }
    EXPECT_EQ(Form->actStepNext->Hint(), QStringLiteral("次のコマへ"));
    EXPECT_EQ(Form->actStepPrev->Hint(), QStringLiteral("前のコマへ"));
    EXPECT_EQ(Form->TrackBar1->toolTip(), QStringLiteral("動画の再生位置を変更します"));
    EXPECT_EQ(Form->TrackBar1->singleStep(), 1000);
    EXPECT_EQ(Form->TrackBar1->pageStep(), 10000);
    EXPECT_EQ(Form->TrackBar1->tickInterval(), 10000);
    QStringList units;
    for (int i = 0; i < Form->cmbStepUnit->count(); ++i)
        units << Form->cmbStepUnit->itemText(i);
    EXPECT_EQ(units.join(QLatin1Char(' ')), QStringLiteral("10分 1分 20秒 10秒 5秒 2秒 1秒 0.5秒"));
    EXPECT_FALSE(Form->cmbStepUnit->isEditable());
    EXPECT_TRUE(Form->edFileName->isReadOnly());
    EXPECT_EQ(Form->edFileName->focusPolicy(), Qt::NoFocus);

    // Hidden at design: the VOB button and the help panel. The save button is shown: without it
    // captured scenes could not leave the program.
    Form->show();
    EXPECT_FALSE(Form->btnSelectVob->isVisible());
    EXPECT_TRUE(Form->btnSaveImage->isVisible());
    EXPECT_FALSE(Form->pnlHelp->isVisible());
    EXPECT_TRUE(Form->btnSelectDrive->isVisible());

    // The 800 x 600 minimum is the outer size of the design: inside, the window shrinks to it.
    Form->resize(1, 1);
    EXPECT_EQ(Form->ClientSize(), QSize(792, 554));
    EXPECT_EQ(Form->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
    EXPECT_EQ(Form->font().pixelSize(), 12);
    EXPECT_EQ(Form->lblCurPos->font().pixelSize(), 12);
    EXPECT_EQ(Form->HelpContext(), 6007);
    EXPECT_EQ(Form->Position(), TPosition::poScreenCenter);
    EXPECT_EQ(Form->File1->title(), QStringLiteral("Framoraについて"));
    EXPECT_EQ(Form->AboutA1->text(), QStringLiteral("About(&A)"));
    EXPECT_EQ(Form->Exit1->text(), QStringLiteral("終了(&X)"));
}

TEST_F(FramoraWindow, OpeningWithTheBarAtZeroWaitsForTheFirstTick)
{
    const std::int32_t duration = DurationOf(TestMovies::Sample);
    ASSERT_GT(duration, 19000);
    ASSERT_TRUE(Open(FixturePath(TestMovies::Sample)).isEmpty());

    EXPECT_EQ(Form->lblPicSize->text(), QStringLiteral("640 x 360"));
    EXPECT_EQ(Form->lblCurPos->text(), QStringLiteral("00:00:00.00"));
    EXPECT_EQ(Form->lblStopPos->text(), FormatPlayTime(duration));
    EXPECT_EQ(Form->edFileName->text(), QStringLiteral("sample.mp4"));
    EXPECT_EQ(Form->CurrentMoviePath(), FixturePath(TestMovies::Sample));
    EXPECT_EQ(Form->TrackBar1->minimum(), 0);
    EXPECT_EQ(Form->TrackBar1->maximum(), duration);
    EXPECT_TRUE(Form->TrackBar1->isEnabled());
    EXPECT_TRUE(Form->Timer2->isActive());
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Playing);
    EXPECT_EQ(Form->LastShownPosition(), -1);
    // The bar stood at 0: nothing is shown and every command waits.
    EXPECT_FALSE(Form->IsFrameShown());
    Idle();
    EXPECT_EQ(States(*Form), AllOff);
    EXPECT_FALSE(Form->actPause->Execute());

    // The first tick, across the 32-bit wrap of the clock.
    Tick(4200);
    EXPECT_EQ(Position(), 4200);
    EXPECT_EQ(Form->lblCurPos->text(), QStringLiteral("00:00:04.20"));
    EXPECT_TRUE(Form->IsFrameShown());
    EXPECT_EQ(ShownStamp(), ReferenceStamp(TestMovies::Sample, {4200}));
    Idle();
    EXPECT_EQ(States(*Form), WhilePlaying);
    EXPECT_FALSE(Form->cmbStepUnit->isEnabled());
}

TEST_F(FramoraWindow, OpeningWithTheBarElsewhereShowsTheFirstPictureAtOnce)
{
    // The seek path's pictures, which the reference decoder shows.
    Form->ExactPosition1->setChecked(false);
    ASSERT_TRUE(Open(FixturePath(TestMovies::Sample)).isEmpty());
    Tick(3000);
    ASSERT_EQ(Position(), 3000);

    ASSERT_TRUE(Open(FixturePath(TestMovies::LongGopH264)).isEmpty());
    EXPECT_EQ(Position(), 0);
    EXPECT_EQ(Form->lblPicSize->text(), QStringLiteral("320 x 240"));
    EXPECT_EQ(Form->edFileName->text(), QString::fromUtf8(TestMovies::LongGopH264));
    EXPECT_TRUE(Form->IsFrameShown());
    EXPECT_EQ(ShownFrame().Width(), 320);
    EXPECT_EQ(ShownStamp(), ReferenceStamp(TestMovies::LongGopH264, {0}));
    EXPECT_LE(ShownStamp(), 1);
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Playing);
    Idle();
    EXPECT_EQ(States(*Form), WhilePlaying);
    // The new movie plays from 0 on the clock of its opening.
    Tick(400);
    EXPECT_EQ(Position(), 400);
    EXPECT_EQ(ShownStamp(), ReferenceStamp(TestMovies::LongGopH264, {0, 400}));
}

TEST_F(FramoraWindow, AFailedOpeningKeepsTheLastPictureAndSwitchesEverythingOff)
{
    ASSERT_TRUE(Open(FixturePath(TestMovies::LongGopH264)).isEmpty());
    Tick(2000);
    const QImage lastPicture = ShownFrame().Image().copy();
    ASSERT_EQ(ShownStamp(), ReferenceStamp(TestMovies::LongGopH264, {2000}));

    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("not-a-movie.mp4"));
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();

    TMessageBoxScript boxes;
    Form->OpenMovie(bad);
    Settle();
    ASSERT_EQ(boxes.Asked().size(), 1);
    EXPECT_EQ(boxes.Asked().front().Text.section(QLatin1Char('\n'), 0, 0), OpenFailed);
    EXPECT_EQ(boxes.Asked().front().Caption, QStringLiteral("Framora"));
    EXPECT_EQ(boxes.Asked().front().Buttons, TMsgButtons::OK);

    for (QLabel* label : {Form->lblPicSize, Form->lblCurPos, Form->lblStopPos})
        EXPECT_TRUE(label->text().isEmpty()) << label->objectName().toStdString();
    EXPECT_TRUE(Form->edFileName->text().isEmpty());
    EXPECT_TRUE(Form->CurrentMoviePath().isEmpty());
    EXPECT_FALSE(Form->TrackBar1->isEnabled());
    EXPECT_FALSE(Form->Timer2->isActive());
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Paused);
    EXPECT_FALSE(Form->IsFrameShown());
    EXPECT_EQ(Form->PictureOnScreen().Image(), lastPicture);
    Idle();
    EXPECT_EQ(States(*Form), AllOff);
    EXPECT_FALSE(Form->cmbStepUnit->isEnabled());
    // A stray tick finds no movie.
    Tick(1000);
    EXPECT_EQ(Form->PictureOnScreen().Image(), lastPicture);
}

TEST_F(FramoraWindow, AMissingFileChangesNothing)
{
    ASSERT_TRUE(Open(FixturePath(TestMovies::LongGopH264)).isEmpty());
    Tick(1000);
    EXPECT_TRUE(Open(FixturePath("no-such-movie.mp4")).isEmpty());
    // The timer is stopped, as for every opening; the movie and its labels stay.
    EXPECT_FALSE(Form->Timer2->isActive());
    EXPECT_EQ(Form->CurrentMoviePath(), FixturePath(TestMovies::LongGopH264));
    EXPECT_EQ(Form->edFileName->text(), QString::fromUtf8(TestMovies::LongGopH264));
    EXPECT_EQ(Form->lblPicSize->text(), QStringLiteral("320 x 240"));
    EXPECT_TRUE(Form->TrackBar1->isEnabled());
}

TEST_F(FramoraWindow, TheFileDialogAsksForAMovieAndOpensTheChoice)
{
    TFileDialogScript dialogs({TFileDialogAnswer::Cancel(),
                               TFileDialogAnswer::Choose(FixturePath(TestMovies::LongGopH264))});
    Form->btnSelectFile->click();
    ASSERT_EQ(dialogs.Asked().size(), 1);
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Idle);

    const TFileDialogRequest& asked = dialogs.Asked().front();
    EXPECT_EQ(asked.Kind, TFileDialogKind::Open);
    EXPECT_EQ(asked.Title, QStringLiteral("動画ファイルの選択"));
    EXPECT_EQ(asked.FilterIndex, 1);
    EXPECT_TRUE(asked.Filter.startsWith(QStringLiteral(
        "動画ファイル|*.avi;*.wmv;*.asf;*.m1v;*.m2v;*.mp4;*.m4v;*.mp4v;*.mov;*.mpg;*.mpeg;*.3gp;*.3g2;*.rm;*.rmvb;*.flv;*.vob;*.dv"
        ";*.mkv;*.webm;*.ts;*.m2ts;*.mts;*.ogv;*.ogg|AVI形式(.avi)|*.avi|")));
    EXPECT_TRUE(asked.Filter.endsWith(QStringLiteral("|Digital Video形式(.dv)|*.dv|すべての形式(*.*)|*.*")));
    EXPECT_EQ(asked.Options, TOpenOptions(TOpenOption::ofHideReadOnly) | TOpenOption::ofPathMustExist |
                                 TOpenOption::ofFileMustExist | TOpenOption::ofEnableSizing);

    Form->btnSelectFile->click();
    Settle();
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Playing);
    EXPECT_EQ(Form->edFileName->text(), QString::fromUtf8(TestMovies::LongGopH264));
}

struct TStepCase {
    int From;
    const char* Unit;
    int Direction;
    int Expected; // -1: the movie's length
};

TEST_F(FramoraWindow, StepsByTheChosenUnitClampedToTheMovie)
{
    const TStepCase cases[] = {
        {12300, "10秒", +1, -1},  {12300, "10秒", -1, 2300}, {3000, "5秒", -1, 0},
        {3000, "0.5秒", -1, 2500}, {3000, "1分", +1, -1},    {0, "2秒", +1, 2000},
        {19000, "20秒", -1, 0},   {0, "1秒", -1, 0},
    };
    OpenPausedAt(0);
    const int length = Form->TrackBar1->maximum();
    for (const TStepCase& c : cases) {
        Form->TrackBar1->setValue(c.From);
        Form->cmbStepUnit->setCurrentText(QString::fromUtf8(c.Unit));
        ASSERT_EQ(Form->cmbStepUnit->currentText(), QString::fromUtf8(c.Unit));
        TAction* step = c.Direction > 0 ? Form->actStepNext : Form->actStepPrev;
        ASSERT_TRUE(step->Execute());
        EXPECT_EQ(Position(), c.Expected < 0 ? length : c.Expected) << c.From << " " << c.Unit << " " << c.Direction;
        EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Paused);
    }
}

TEST_F(FramoraWindow, SteppingPastTheEndShowsTheLastPictureOnce)
{
    Form->ExactPosition1->setChecked(false);
    OpenPausedAt(12300);
    const int length = Form->TrackBar1->maximum();
    Form->btnStepNext->click();
    EXPECT_EQ(Position(), length);
    EXPECT_EQ(Form->LastShownPosition(), length);
    EXPECT_EQ(ShownStamp(), ReferenceStamp(TestMovies::LongGopH264, {100, 12300, length - 1}));
    EXPECT_EQ(Form->lblCurPos->text(), FormatPlayTime(length));

    const std::uint32_t origin = Form->PlayOriginTick();
    Now += 50;
    Form->btnStepNext->click();
    EXPECT_EQ(Position(), length);
    EXPECT_EQ(Form->PlayOriginTick(), origin); // no position change reached the handler
    Idle();
    EXPECT_EQ(States(*Form), WhilePaused);
}

TEST_F(FramoraWindow, StepsAndTheUnitAreOnlyOfferedWhilePaused)
{
    ASSERT_TRUE(Open(FixturePath(TestMovies::LongGopH264)).isEmpty());
    Tick(5000);
    Idle();
    EXPECT_FALSE(Form->cmbStepUnit->isEnabled());
    EXPECT_FALSE(Form->btnStepNext->isEnabled());
    EXPECT_FALSE(Form->actStepNext->Execute());
    EXPECT_FALSE(Form->actStepPrev->Execute());
    EXPECT_EQ(Position(), 5000);

    Form->btnPause->click();
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Paused);
    EXPECT_FALSE(Form->Timer2->isActive());
    Idle();
    EXPECT_EQ(States(*Form), WhilePaused);
    EXPECT_TRUE(Form->cmbStepUnit->isEnabled());
    // Paused, the clock moves on but the position does not.
    Tick(3000);
    EXPECT_EQ(Position(), 5000);

    // Play continues from where the bar stands.
    Form->btnPlay->click();
    EXPECT_TRUE(Form->Timer2->isActive());
    Tick(97);
    EXPECT_EQ(Position(), 5097);
}

TEST_F(FramoraWindow, TheEndOfTheMovieRewindsAndPauses)
{
    // Ten seconds with a key frame every second, so every picture below can be reached.
    ASSERT_TRUE(Open(FixturePath(TestMovies::Mpeg4Avi)).isEmpty());
    Tick(7500);
    ASSERT_EQ(ShownStamp(), ReferenceStamp(TestMovies::Mpeg4Avi, {7500}));
    ASSERT_GT(ShownStamp(), 0);
    Tick(3000); // past the length
    EXPECT_EQ(Position(), 0);
    EXPECT_EQ(Form->lblCurPos->text(), QStringLiteral("00:00:00.00"));
    EXPECT_EQ(ShownStamp(), 0);
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Paused);
    EXPECT_FALSE(Form->Timer2->isActive());
    Idle();
    EXPECT_EQ(States(*Form), WhilePaused);
    EXPECT_TRUE(Form->btnPlay->isEnabled());
    EXPECT_FALSE(Form->btnPause->isEnabled());
    // Play starts again from the beginning.
    Form->btnPlay->click();
    Tick(500);
    EXPECT_EQ(Position(), 500);
}

TEST_F(FramoraWindow, AFirstTickThatFindsTheEndStillShowsThePictureAndPauses)
{
    // As with a movie shorter than one tick, or a machine that slept right after the opening:
    // the bar never moved, so nothing has been shown when the end is found.
    ASSERT_TRUE(Open(FixturePath(TestMovies::Mpeg4Avi)).isEmpty());
    Tick(Form->TrackBar1->maximum() + 1000);
    EXPECT_TRUE(Form->IsFrameShown());
    EXPECT_EQ(ShownStamp(), ReferenceStamp(TestMovies::Mpeg4Avi, {0}));
    EXPECT_EQ(Position(), 0);
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Paused);
    EXPECT_FALSE(Form->Timer2->isActive());
    Idle();
    EXPECT_EQ(States(*Form), WhilePaused);
}

TEST_F(FramoraWindow, MovingTheBarDuringPlaybackMovesTheClock)
{
    ASSERT_TRUE(Open(FixturePath(TestMovies::LongGopH264)).isEmpty());
    Form->show();
    Tick(1000);
    // A page key moves the bar by 10 s, a line key by 1 s, as the user would.
    Form->TrackBar1->setFocus();
    QTest::keyClick(Form->TrackBar1, Qt::Key_PageUp);
    EXPECT_EQ(Position(), 11000);
    EXPECT_EQ(ShownStamp(), ReferenceStamp(TestMovies::LongGopH264, {1000, 11000}));
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Playing);
    Tick(97);
    EXPECT_EQ(Position(), 11097);
    QTest::keyClick(Form->TrackBar1, Qt::Key_Left);
    EXPECT_EQ(Position(), 10097);
    Tick(97);
    EXPECT_EQ(Position(), 10194);

    // Dragging the thumb: the position follows it, and playing goes on from the release.
    Form->TrackBar1->setSliderDown(true);
    Form->TrackBar1->setSliderPosition(4000);
    Form->TrackBar1->setSliderDown(false);
    EXPECT_EQ(Position(), 4000);
    Tick(97);
    EXPECT_EQ(Position(), 4097);
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Playing);

    // Rewinding goes on playing from 0.
    Form->btnRewind->click();
    EXPECT_EQ(Position(), 0);
    EXPECT_EQ(ShownStamp(), 0);
    Tick(200);
    EXPECT_EQ(Position(), 200);
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Playing);
}

TEST_F(FramoraWindow, ThePreviewFitsThePictureOnBlack)
{
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    // The window opens at its design size, where the preview is 386 x 197.
    const QSize preview = Form->Panel1->size();
    ASSERT_EQ(preview, QSize(386, 197));
    ASSERT_EQ(Form->PaintBox1->size(), preview);

    ASSERT_TRUE(Open(FixturePath(TestMovies::LongGopH264)).isEmpty());
    Tick(1000);
    ASSERT_TRUE(Form->IsFrameShown());

    const auto check = [&](QSize size) {
        // 320 x 240 fitted: full height, width by the platform's rounding, centred.
        const int width = (320 * size.height() * 2 + 240) / (240 * 2);
        const int left = (size.width() / 2) - (width / 2);
        const QImage shot = Form->Panel1->grab().toImage();
        ASSERT_EQ(shot.size(), size);
        const int y = size.height() * 7 / 8; // the colour bars
        EXPECT_EQ(shot.pixelColor(left - 2, y), QColor(Qt::black));
        EXPECT_EQ(shot.pixelColor(left + width + 1, y), QColor(Qt::black));
        EXPECT_GT(shot.pixelColor(left + 4, y).red(), 150);          // red bar at the left edge
        EXPECT_GT(shot.pixelColor(left + width - 4, y).blue(), 150); // blue bar at the right edge
    };
    check(preview);

    // Growing the window stretches the preview, the file name box and the bar, moves the
    // buttons anchored on the right and bottom, and the picture is fitted again.
    const QRect fileName = Form->edFileName->geometry();
    const QRect bar = Form->TrackBar1->geometry();
    const QRect ok = Form->btnOK->geometry();
    const QRect play = Form->btnPlay->geometry();
    Form->resize(Form->width() + 200, Form->height() + 100);
    const QSize grown = Form->Panel1->size();
    EXPECT_EQ(grown, preview + QSize(200, 100));
    check(grown);
    EXPECT_EQ(Form->edFileName->geometry(), fileName.adjusted(0, 0, 200, 0));
    EXPECT_EQ(Form->TrackBar1->geometry(), bar.adjusted(0, 100, 200, 100));
    EXPECT_EQ(Form->btnOK->geometry(), ok.translated(200, 100));
    EXPECT_EQ(Form->btnPlay->geometry(), play.translated(0, 100));
}

TEST_F(FramoraWindow, ClosingStopsThePlaybackClock)
{
    Form->show();
    ASSERT_TRUE(Open(FixturePath(TestMovies::LongGopH264)).isEmpty());
    ASSERT_TRUE(Form->Timer2->isActive());
    TMessageBoxScript closeQuestion; // answered OK
    EXPECT_TRUE(Form->close());
    EXPECT_FALSE(Form->Timer2->isActive());
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Playing); // the state itself is left alone
}

TEST_F(FramoraWindow, AnotherInstanceClosesTheWindowDuringCreation)
{
    // A lock folder of its own: this test's window already holds the guard in the first one.
    QTemporaryDir otherLocks;
    qputenv("FRAMORA_LOCK_DIR", otherLocks.path().toLocal8Bit());
    TExecuteBlocker first(FramoraGuardName);
    ASSERT_TRUE(first.Acquired());
    TMessageBoxScript boxes;
    TfrmFramora second;
    // The message only: a close question after it could keep the second window open.
    ASSERT_EQ(boxes.Asked().size(), 1);
    EXPECT_EQ(boxes.Asked().front().Text, QStringLiteral("すでに実行中です。"));
    EXPECT_EQ(boxes.Asked().front().Caption, QStringLiteral("Framora"));
    EXPECT_TRUE(second.ClosedDuringCreate());
    EXPECT_FALSE(second.isVisible());
}

// A file that is no movie is named with what the movie libraries said of it; a folder is said
// to be one.
TEST_F(FramoraWindow, AFailedOpeningNamesTheFileAndTheReason)
{
    QTemporaryDir dir;
    const struct {
        const char* Name;
        QByteArray Bytes;
    } files[] = {
        {"notes.mp4", QByteArrayLiteral("These are notes, not a movie.\n")},
        {"empty.mkv", QByteArray()},
    };
    for (const auto& f : files) {
        const QString path = dir.filePath(QString::fromUtf8(f.Name));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(f.Bytes);
        file.close();
        const QStringList texts = Open(path);
        ASSERT_EQ(texts.size(), 1) << f.Name;
        const QStringList lines = texts[0].split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 2) << texts[0].toStdString();
        EXPECT_EQ(lines[0], OpenFailed);
        EXPECT_TRUE(lines[1].startsWith(path + QStringLiteral(": "))) << lines[1].toStdString();
        EXPECT_GT(lines[1].size(), path.size() + 2) << "no reason given";
    }
    EXPECT_EQ(Open(dir.path()), QStringList{dir.path() + QStringLiteral(" はフォルダーです。動画ファイルを指定してください。")});
    EXPECT_TRUE(Form->CurrentMoviePath().isEmpty());
}

} // namespace
