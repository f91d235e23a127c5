// The preview and the position: painting the picture on screen, the playback commands, the
// wall-clock tick and the one position-change handler that decodes.
#include "capture/UFramora.h"

#include "decoder/UMovieDecoder.h"
#include "framework/TAction.h"
#include "framework/TBitmap.h"
#include "framework/TPaintBox.h"
#include "imagestore/UCoordUtil.h"

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
    if (Rendering || FrameSize.isEmpty())
        return;
    const QRectF fitted = FittedFrameRect(FrameSize, FrameDisplay);
    // A preview made at the size drawn goes on as it is; after the panel changed size, the
    // full picture is scaled here until the next picture comes.
    const bool previewFits = FramePreview && FramePreview->Image().size() == DrawnCodedSize(FrameSize, FrameDisplay);
    const QImage& picture = previewFits ? FramePreview->Image() : FullFrame().Image();
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
}

void TfrmFramora::actPlayUpdate(TAction* sender)
{
    sender->SetEnabled(FrameShown && TrackBar1->value() <= TrackBar1->maximum() && PlayState == TPlayState::Paused);
}

void TfrmFramora::actPauseExecute(TAction*)
{
    PlayState = TPlayState::Paused;
    Timer2->stop();
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

// The bar follows the picture's own time; the picture is on screen already, so the bar's change
// decodes nothing.
void TfrmFramora::StepPicture(int Direction)
{
    if (Rendering || !Decoder->IsOpen())
        return;
    {
        Rendering = true;
        const auto done = qScopeGuard([this] { Rendering = false; });
        if (!(Direction > 0 ? Decoder->DecodeNextFrame() : Decoder->DecodePreviousFrame()))
            return;
        TakeDecodedPicture();
    }
    LastShownPos = std::clamp(Decoder->FrameTimeMs(), 0, std::max(0, TrackBar1->maximum()));
    TrackBar1->setValue(LastShownPos);
    lblCurPos->setText(FormatPlayTime(Decoder->FrameTimeMs()));
    PaintBox1->update();
}

void TfrmFramora::Timer2Timer()
{
    if (TimerBusy)
        return;
    TimerBusy = true;
    const auto done = qScopeGuard([this] { TimerBusy = false; });
    if (!Decoder->IsOpen())
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
    if (!Decoder || !Decoder->IsOpen())
        return;
    const std::int32_t pos = TrackBar1->value();
    PlayOrigin = GetTickCount() - static_cast<std::uint32_t>(pos);
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

void TfrmFramora::TakeDecodedPicture()
{
    auto picture = std::make_unique<TBitmap>();
    if (Decoder->Preview().Empty()) {
        picture->Assign(Decoder->Bitmap());
        FrameBitmap = std::move(picture);
        FramePreview.reset();
    } else {
        // A playback picture larger than the panel: the decoder made it at the size drawn and
        // keeps what the full picture is made from, until a capture or a copy asks.
        picture->Assign(Decoder->Preview());
        FramePreview = std::move(picture);
        FrameBitmap.reset();
    }
    FrameSize = QSize(Decoder->Width(), Decoder->Height());
    FrameDisplay = Decoder->DisplayTransform();
    FrameShown = true;
    const std::int32_t pictureTime = Decoder->FrameTimeMs();
    FrameMovieMs = pictureTime >= 0 ? pictureTime : std::max(LastShownPos, 0);
    RefreshSubtitleOverlay();
}

const TBitmap& TfrmFramora::FullFrame() const
{
    if (!FrameBitmap) {
        auto picture = std::make_unique<TBitmap>();
        if (Decoder)
            picture->Assign(Decoder->Bitmap());
        FrameBitmap = std::move(picture);
    }
    return *FrameBitmap;
}

void TfrmFramora::ShowFrameAtPosition()
{
    if (Rendering || !Decoder->IsOpen())
        return;
    Rendering = true;
    const auto done = qScopeGuard([this] { Rendering = false; });
    try {
        std::int32_t pos = TrackBar1->value();
        FrameShown = false;
        // The decoder is never asked for the very end.
        if (pos >= Decoder->Duration())
            pos = Decoder->Duration() - 1;
        // Exact while paused; playback keeps reading forward.
        Decoder->SetExact(ExactPosition1->isChecked() && PlayState != TPlayState::Playing);
        Decoder->SetDeinterlace(DeinterlaceChoice());
        Decoder->SetToneMapping(ToneMapping1->isChecked());
        Decoder->SetPreviewSize(DrawnCodedSize(QSize(Decoder->Width(), Decoder->Height()), Decoder->DisplayTransform()));
        if (Decoder->DecodeFrame(pos)) {
            TakeDecodedPicture();
            if (Decoder->Exact())
                lblCurPos->setText(FormatPlayTime(Decoder->FrameTimeMs()));
        }
        PaintBox1->update();
    } catch (...) {
        // A picture that cannot be made leaves the previous one on screen.
    }
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
