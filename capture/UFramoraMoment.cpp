// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the moment: pictures above the position bar, going to a typed time or picture number,
// and the paused picture's number and facts on the status line.
#include "capture/UFramora.h"

#include "capture/UMomentEntry.h"
#include "capture/USeekBarPictures.h"
#include "decoder/UMovieDecoder.h"
#include "framework/InputBox.h"
#include "framework/MessageBox.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

namespace {

const char* const MoveMenuTitle = QT_TRANSLATE_NOOP("TfrmFramora", "移動(&M)");
const char* const GoToTimeCaption = QT_TRANSLATE_NOOP("TfrmFramora", "指定した時刻へ移動...(&G)");
const char* const GoToTimePrompt = QT_TRANSLATE_NOOP("TfrmFramora",
    "移動先の時刻またはフレーム番号:\n01:23:45.678（時:分:秒）、01:23（分:秒）、83.5s（秒）、#2087（フレーム番号）");
const char* const GoToTimeMalformed = QT_TRANSLATE_NOOP("TfrmFramora",
    "「%1」は時刻としても、フレーム番号としても読めません。\n"
    "次のどれかの形で入力してください: 01:23:45.678（時:分:秒.ミリ秒）、01:23（分:秒）、83.5s（秒）、#2087（フレーム番号）。");
const char* const GoToTimeNoRate = QT_TRANSLATE_NOOP("TfrmFramora",
    "この動画はフレームレートが分からないため、フレーム番号では移動できません。時刻で入力してください。");

} // namespace

void TfrmFramora::CreateMomentParts()
{
    Move1 = new QMenu(tr(MoveMenuTitle), this);
    Move1->setObjectName(QStringLiteral("Move1"));
    GoToTime1 = Move1->addAction(tr(GoToTimeCaption));
    GoToTime1->setObjectName(QStringLiteral("GoToTime1"));
    MainMenu1->insertMenu(AutoCapture1->menuAction(), Move1);
    connect(GoToTime1, &QAction::triggered, this, &TfrmFramora::GoToTime1Click);
    GoToTime1->setEnabled(false);

    lblMoment = new QLabel(StatusBar1);
    lblMoment->setObjectName(QStringLiteral("lblMoment"));
    StatusBar1->addWidget(lblMoment, 1);

    BarPictures = std::make_unique<TSeekBarPictures>(
        *TrackBar1, [this] { return TPictureSettings{DeinterlaceChoice(), ToneMapping1->isChecked()}; });
}

void TfrmFramora::OpenBarPictures()
{
    GoToTime1->setEnabled(!Movie.FileName.empty());
    if (Movie.FileName.empty())
        BarPictures->Close();
    else
        BarPictures->Open(Movie.FileName, Movie.Duration, Movie.CodedSize, FrameDisplay);
}

void TfrmFramora::GoToTime1Click()
{
    if (Movie.FileName.empty() || OpeningSerial)
        return;
    QString typed;
    for (;;) {
        const std::optional<QString> answer = InputBox(this, Caption(), tr(GoToTimePrompt), typed);
        if (!answer)
            return;
        typed = *answer;
        const std::optional<TMomentEntry> entry = ParseMomentEntry(typed);
        if (!entry) {
            MessageBox(this, tr(GoToTimeMalformed).arg(typed.trimmed()), Caption(), TMsgButtons::OK, TMsgIcon::Warning);
            continue;
        }
        if (entry->Picture && Movie.FrameRate <= 0) {
            MessageBox(this, tr(GoToTimeNoRate), Caption(), TMsgButtons::OK, TMsgIcon::Warning);
            continue;
        }
        GoToTime(entry->Picture ? PictureStartMs(entry->Value, Movie.FrameRate) : entry->Value);
        return;
    }
}

void TfrmFramora::GoToTime(std::int64_t timeMs)
{
    if (Movie.FileName.empty() || OpeningSerial)
        return;
    if (PlayState == TPlayState::Playing)
        actPauseExecute(actPause);
    const int pos = static_cast<int>(std::clamp<std::int64_t>(timeMs, 0, std::max(0, TrackBar1->maximum())));
    // The bar names the place without asking for it (its change sees the position shown): the
    // request below asks for it exactly, whatever 正確な位置に移動 says.
    LastShownPos = pos;
    TrackBar1->setValue(pos);
    PlayOrigin = GetTickCount() - static_cast<std::uint32_t>(pos);
    TDecodingRequest request = PictureRequest(TDecodingKind::Position);
    request.Exact = true;
    request.TimeMs = std::min(pos, std::max(Movie.Duration - 1, 0));
    ShownSerial = Post(request);
    FrameShown = true;
    lblCurPos->setEnabled(false);
}

void TfrmFramora::RefreshMomentStatus()
{
    if (PlayState != TPlayState::Paused || !FrameShown || Movie.FileName.empty()) {
        lblMoment->clear();
        return;
    }
    lblMoment->setText(MomentStatus(FrameMovieMs, Movie.CodedSize, Movie.FrameRate, Movie.Codec));
}
