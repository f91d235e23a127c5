// SPDX-License-Identifier: GPL-3.0-or-later
// The preview and the position: painting the picture on screen, the playback commands, the
// wall-clock tick and the one position-change handler that decodes.
#include "capture/UFramora.h"

#include "framework/TAction.h"
#include "framework/TBitmap.h"
#include "framework/TPaintBox.h"
#include "framework/UCoordUtil.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QScopeGuard>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <array>

namespace {

constexpr std::array<std::int32_t, 8> StepUnits{600000, 60000, 20000, 10000, 5000, 2000, 1000, 500};
const QString NegativePlayTime = QStringLiteral("--:--:--.--");

} // namespace

QString FormatPlayTime(std::int32_t Ms)
{
    if (Ms < 0)
        return NegativePlayTime;
    const auto two = [](std::int32_t value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); };
    const std::int32_t hundredths = (Ms / 10) % 100;
    const std::int32_t seconds = (Ms / 1000) % 60;
    const std::int32_t minutes = (Ms / 60000) % 60;
    const std::int32_t hours = (Ms / 3600000) % 100;
    return two(hours) + QLatin1Char(':') + two(minutes) + QLatin1Char(':') + two(seconds) + QLatin1Char('.') +
           two(hundredths);
}

std::int32_t StepUnitMs(int Index)
{
    if (Index < 0 || Index >= static_cast<int>(StepUnits.size()))
        return 0;
    return StepUnits[static_cast<std::size_t>(Index)];
}

QRectF TfrmFramora::FittedFrameRect(QSize coded, const TDisplayTransform& display) const
{
    const QSize shown = DisplayGeometry::DisplayedSize(coded, display, TAspectScaling::Display);
    const TRect target{0, 0, Panel1->width(), Panel1->height()};
    const TRect source{0, 0, shown.width(), shown.height()};
    return ToQRect(FitRectCentered(source, target));
}

QSize TfrmFramora::DrawnCodedSize(QSize coded, const TDisplayTransform& display) const
{
    const QSize drawn = FittedFrameRect(coded, display).size().toSize();
    return display.Rotation == 90 || display.Rotation == 270 ? drawn.transposed() : drawn;
}

void TfrmFramora::PaintBox1Paint(QPainter& canvas)
{
    if (FrameSize.isEmpty())
        return;
    const QRectF fitted = FittedFrameRect(FrameSize, FrameDisplay);
    // A preview made at the size drawn goes on as it is; after the panel changed size, the
    // picture at hand is scaled here until the next picture comes.
    const QSize drawn = DrawnCodedSize(FrameSize, FrameDisplay);
    const bool previewFits = FramePreview && FramePreview->Image().size() == drawn;
    const QImage& picture = previewFits ? FramePreview->Image() : FramePicture().Image();
    // A paused picture scaled from a preview of another size is made again at the new size.
    if (!previewFits && !FrameBitmap && PlayState == TPlayState::Paused && RequestsInFlight == 0
        && PreviewRemadeFor != drawn) {
        PreviewRemadeFor = drawn;
        QTimer::singleShot(0, this, &TfrmFramora::ShowFrameAtPosition);
    }
    canvas.setRenderHint(QPainter::SmoothPixmapTransform);
    if (FrameDisplay.Rotation == 0 && !FrameDisplay.Mirrored) {
        canvas.drawImage(fitted, picture);
        return;
    }
    // The coded picture is drawn turned (and mirrored) into its place: playback makes no upright
    // copy of each picture. The painter applies the last transform named first: the turn, then
    // the mirror.
    const QSizeF coded = FrameDisplay.Rotation % 180 == 0 ? fitted.size() : fitted.size().transposed();
    canvas.translate(fitted.center());
    if (FrameDisplay.Mirrored)
        canvas.scale(-1, 1);
    canvas.rotate(FrameDisplay.Rotation);
    canvas.drawImage(QRectF(QPointF(-coded.width() / 2, -coded.height() / 2), coded), picture);
}

void TfrmFramora::actPlayExecute(TAction*)
{
    PlayState = TPlayState::Playing;
    Timer2->start();
    PlayOrigin = GetTickCount() - static_cast<std::uint32_t>(TrackBar1->value());
    RefreshMomentStatus();
}

void TfrmFramora::actPlayUpdate(TAction* sender)
{
    sender->SetEnabled(FrameShown && TrackBar1->value() <= TrackBar1->maximum() && PlayState == TPlayState::Paused);
}

void TfrmFramora::actPauseExecute(TAction*)
{
    PlayState = TPlayState::Paused;
    Timer2->stop();
    RefreshMomentStatus();
}

void TfrmFramora::actPauseUpdate(TAction* sender)
{
    sender->SetEnabled(FrameShown && PlayState == TPlayState::Playing);
}

void TfrmFramora::actRewindExecute(TAction*)
{
    TrackBar1->setValue(0);
    lblCurPos->setText(FormatPlayTime(0));
    PlayOrigin = GetTickCount();
}

void TfrmFramora::actRewindUpdate(TAction* sender)
{
    sender->SetEnabled(FrameShown && (PlayState == TPlayState::Paused || PlayState == TPlayState::Playing));
}

bool TfrmFramora::StepEnabled() const
{
    return FrameShown && PlayState == TPlayState::Paused;
}

void TfrmFramora::actStepNextExecute(TAction*)
{
    StepPosition(+1);
}

void TfrmFramora::actStepNextUpdate(TAction* sender)
{
    sender->SetEnabled(StepEnabled());
    cmbStepUnit->setEnabled(actStepNext->Enabled());
}

void TfrmFramora::actStepPrevExecute(TAction*)
{
    StepPosition(-1);
}

void TfrmFramora::actStepPrevUpdate(TAction* sender)
{
    sender->SetEnabled(StepEnabled());
    cmbStepUnit->setEnabled(actStepNext->Enabled());
}

void TfrmFramora::actFrameNextExecute(TAction*)
{
    StepPicture(+1);
}

void TfrmFramora::actFramePrevExecute(TAction*)
{
    StepPicture(-1);
}

void TfrmFramora::actFrameStepUpdate(TAction* sender)
{
    sender->SetEnabled(StepEnabled());
}

void TfrmFramora::StepPosition(int Direction)
{
    const std::int64_t unit = StepUnitMs(cmbStepUnit->currentIndex());
    // In 64 bits: a step near the end of the 32-bit range must clamp, not wrap.
    const std::int64_t target = Direction * unit + TrackBar1->value();
    const std::int64_t clamped = std::clamp<std::int64_t>(target, 0, std::max(0, TrackBar1->maximum()));
    TrackBar1->setValue(static_cast<int>(clamped));
}

void TfrmFramora::StepPicture(int Direction)
{
    if (Movie.FileName.empty() || OpeningSerial)
        return;
    ShownSerial = Post(PictureRequest(Direction > 0 ? TDecodingKind::NextPicture : TDecodingKind::PreviousPicture));
}

void TfrmFramora::Timer2Timer()
{
    if (TimerBusy)
        return;
    TimerBusy = true;
    const auto done = qScopeGuard([this] { TimerBusy = false; });
    if (Movie.FileName.empty())
        return;
    std::int32_t elapsed = static_cast<std::int32_t>(TickDiff(PlayOrigin, GetTickCount()));
    bool atEnd = false;
    if (elapsed >= TrackBar1->maximum()) {
        elapsed = TrackBar1->maximum();
        atEnd = true;
    } else if (elapsed < 0) {
        elapsed = 0;
    }
    if (PlayState != TPlayState::Playing)
        return;
    // As players drop a picture: the tick's picture still being made, this tick shows none.
    if (PlaybackSerial)
        return;
    if (atEnd) {
        // A movie shorter than one tick ends before a tick could move the bar, so nothing of it
        // has been shown and Rewind and Pause would stay disabled: show its picture first.
        if (LastShownPos < 0)
            ShowOpeningPicture();
        actRewind->Execute();
        actPause->Execute();
    } else {
        TrackBar1->setValue(elapsed);
    }
}

void TfrmFramora::TrackBar1Change()
{
    if (PositionChanging)
        return;
    PositionChanging = true;
    const auto done = qScopeGuard([this] { PositionChanging = false; });
    if (Movie.FileName.empty())
        return;
    const std::int32_t pos = TrackBar1->value();
    PlayOrigin = GetTickCount() - static_cast<std::uint32_t>(pos);
    // An exact picture's own time comes with it; until then the label names the picture shown.
    if (!PositionsExact())
        lblCurPos->setText(FormatPlayTime(pos));
    if (pos != LastShownPos) {
        LastShownPos = pos;
        ShowFrameAtPosition();
        FrameShown = true;
    }
}

void TfrmFramora::ShowOpeningPicture()
{
    LastShownPos = TrackBar1->value();
    ShowFrameAtPosition();
    FrameShown = true;
}

const TBitmap& TfrmFramora::FramePicture() const
{
    static const TBitmap none;
    return FrameBitmap ? *FrameBitmap : FramePreview ? *FramePreview : none;
}

bool TfrmFramora::PositionsExact() const
{
    // Exact while paused; playback keeps reading forward, and so does a drag of the bar, whose
    // pictures follow the pointer until the exact picture comes on release.
    return ExactPosition1->isChecked() && PlayState != TPlayState::Playing && !TrackBar1->isSliderDown();
}

TDecodingRequest TfrmFramora::PictureRequest(TDecodingKind kind) const
{
    TDecodingRequest request;
    request.Kind = kind;
    request.Exact = PositionsExact();
    request.Settings = {DeinterlaceChoice(), ToneMapping1->isChecked()};
    request.PreviewSize = DrawnCodedSize(Movie.CodedSize, FrameDisplay);
    return request;
}

std::uint64_t TfrmFramora::Post(TDecodingRequest request)
{
    ++RequestsInFlight;
    return Decoding->Post(std::move(request));
}

void TfrmFramora::ShowFrameAtPosition()
{
    if (Movie.FileName.empty() || OpeningSerial)
        return;
    TDecodingRequest request = PictureRequest(TDecodingKind::Position);
    // The decoder is never asked for the very end.
    request.TimeMs = std::min(TrackBar1->value(), Movie.Duration - 1);
    ShownSerial = Post(request);
    if (PlayState == TPlayState::Playing)
        PlaybackSerial = ShownSerial;
    // Until its picture comes, the picture on screen is not the one the bar names.
    if (request.Exact)
        lblCurPos->setEnabled(false);
}

void TfrmFramora::TakeAnswer(const std::shared_ptr<TDecodingAnswer>& answer)
{
    if (answer->Outcome != TDecodingAnswer::TOutcome::FirstLook)
        --RequestsInFlight;
    if (answer->Serial == PlaybackSerial && answer->Outcome != TDecodingAnswer::TOutcome::FirstLook)
        PlaybackSerial = 0;
    switch (answer->Kind) {
    case TDecodingKind::Open:
        MovieOpenAnswered(*answer);
        break;
    case TDecodingKind::ShownPicture:
        for (TPictureUse& use : PictureUses)
            if (use.Serial == answer->Serial) {
                use.Serial = 0;
                use.Frame.Share(answer->Picture); // a 4K copy here would hold the window
                use.Display = answer->Display;
                use.TimeMs = answer->FrameTimeMs >= 0 ? answer->FrameTimeMs : std::max(LastShownPos, 0);
            }
        FinishPictureUses();
        break;
    case TDecodingKind::SharpestPicture:
        SharpestAnswered(answer);
        break;
    default:
        PictureAnswered(*answer);
    }
}

void TfrmFramora::PictureAnswered(const TDecodingAnswer& answer)
{
    // A newer request is on its way: its picture is the one to show.
    if (answer.Serial != ShownSerial)
        return;
    using TOutcome = TDecodingAnswer::TOutcome;
    if (answer.Outcome != TOutcome::Shown && answer.Outcome != TOutcome::FirstLook) {
        lblCurPos->setEnabled(true);
        return;
    }
    ShowPicture(answer);
    const bool step = answer.Kind != TDecodingKind::Position;
    if (step && answer.Outcome == TOutcome::Shown) {
        // The bar follows the picture's own time; the picture is on screen already, so the
        // bar's change decodes nothing.
        LastShownPos = std::clamp(answer.FrameTimeMs, 0, std::max(0, TrackBar1->maximum()));
        TrackBar1->setValue(LastShownPos);
    }
    if (step || !lblCurPos->isEnabled() || answer.Outcome == TOutcome::FirstLook)
        ShowPictureTime(answer.FrameTimeMs, answer.Outcome == TOutcome::FirstLook);
}

void TfrmFramora::ShowPictureTime(std::int32_t timeMs, bool approximate)
{
    lblCurPos->setText(FormatPlayTime(timeMs));
    lblCurPos->setEnabled(!approximate);
}

void TfrmFramora::ShowPicture(const TDecodingAnswer& answer)
{
    auto picture = std::make_unique<TBitmap>(answer.Picture);
    if (answer.Preview) {
        // A picture larger than the panel: the decoding thread made it at the size drawn and
        // keeps what the full picture is made from, until a capture or a copy asks.
        FramePreview = std::move(picture);
        FrameBitmap.reset();
    } else {
        FrameBitmap = std::move(picture);
        FramePreview.reset();
    }
    FrameSize = answer.CodedSize;
    FrameDisplay = answer.Display;
    FrameSettings = answer.Settings;
    FrameApproximate = answer.Outcome == TDecodingAnswer::TOutcome::FirstLook;
    FrameShown = true;
    FrameMovieMs = answer.FrameTimeMs >= 0 ? answer.FrameTimeMs : std::max(LastShownPos, 0);
    RefreshSubtitleOverlay();
    RefreshMomentStatus();
}

bool TfrmFramora::PicturesSettled() const
{
    return RequestsInFlight == 0 && PictureUses.empty();
}

TDeinterlace TfrmFramora::DeinterlaceChoice() const
{
    if (DeinterlaceAlways1->isChecked())
        return TDeinterlace::Always;
    if (DeinterlaceNever1->isChecked())
        return TDeinterlace::Never;
    return TDeinterlace::Auto;
}

void TfrmFramora::SetDeinterlaceChoice(TDeinterlace mode)
{
    QAction* item = mode == TDeinterlace::Always ? DeinterlaceAlways1
        : mode == TDeinterlace::Never            ? DeinterlaceNever1
                                                 : DeinterlaceAuto1;
    item->setChecked(true);
}
