// SPDX-License-Identifier: GPL-3.0-or-later
// The sharpest still: a capture of the sharpest picture within a range of the one on screen,
// in the same scene, found on the decoding thread and stored through the same uses as a capture.
#include "capture/UFramora.h"
#include "capture/UFramoraPrivate.h"

#include "decoder/USharpestPicture.h"
#include "framework/TAction.h"

#include <QActionGroup>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>

#include <cstdlib>

namespace {

using capture_detail::MaxSceneCount;

const char* const CaptureMenuTitle = QT_TRANSLATE_NOOP("TfrmFramora", "キャプチャ(&C)");
const char* const RangeMenuTitle = QT_TRANSLATE_NOOP("TfrmFramora", "範囲");
const char* const RangeItemText = QT_TRANSLATE_NOOP("TfrmFramora", "±%1 秒");
// The ranges offered, either way of the picture on screen.
constexpr std::int32_t RangeChoicesMs[] = {200, 500, 1000, 2000};
// What the provenance of a scene chosen as the sharpest says.
const QString ChoiceName = QStringLiteral("Choice");
const QString ChoiceSharpest = QStringLiteral("sharpest");
const QString ScoreName = QStringLiteral("Sharpness");
constexpr int ScoreDecimals = 1;

} // namespace

void TfrmFramora::CreateSharpestCommand()
{
    actCaptureSharpest = ActionList1->Find(QStringLiteral("actCaptureSharpest"));
    Capture1 = new QMenu(tr(CaptureMenuTitle), MainMenu1);
    Capture1->setObjectName(QStringLiteral("Capture1"));
    MainMenu1->insertMenu(AutoCapture1->menuAction(), Capture1);
    Capture1->addAction(actCaptureSharpest);
    SharpestRange1 = Capture1->addMenu(tr(RangeMenuTitle));
    SharpestRange1->setObjectName(QStringLiteral("SharpestRange1"));
    auto* group = new QActionGroup(SharpestRange1);
    group->setExclusive(true);
    for (const std::int32_t ms : RangeChoicesMs) {
        QAction* item = SharpestRange1->addAction(tr(RangeItemText).arg(QLocale().toString(ms / 1000.0)));
        item->setCheckable(true);
        item->setData(ms);
        item->setChecked(ms == SharpestPicture::DefaultRangeMs);
        group->addAction(item);
    }
    connect(group, &QActionGroup::triggered, this, [this](QAction* item) { emit SharpestRangeChanged(item->data().toInt()); });
}

std::int32_t TfrmFramora::SharpestRangeMs() const
{
    for (const QAction* item : SharpestRange1->actions())
        if (item->isChecked())
            return item->data().toInt();
    return SharpestPicture::DefaultRangeMs;
}

void TfrmFramora::SetSharpestRangeMs(std::int32_t ms)
{
    // A kept range that is no longer offered falls back to the nearest offered.
    QAction* nearest = nullptr;
    for (QAction* item : SharpestRange1->actions())
        if (!nearest || std::abs(item->data().toInt() - ms) < std::abs(nearest->data().toInt() - ms))
            nearest = item;
    if (nearest)
        nearest->setChecked(true);
}

void TfrmFramora::actCaptureSharpestUpdate(TAction* sender)
{
    actCaptureUpdate(sender);
}

void TfrmFramora::actCaptureSharpestExecute(TAction*)
{
    if (!FrameShown || SceneCount + static_cast<std::int32_t>(PictureUses.size()) >= MaxSceneCount)
        return;
    // The picture found is shown; playback would take its place at the next tick.
    if (PlayState == TPlayState::Playing)
        actPauseExecute(nullptr);
    TDecodingRequest request = PictureRequest(TDecodingKind::SharpestPicture);
    request.TimeMs = FrameMovieMs;
    request.RangeMs = SharpestRangeMs();
    request.Upright = true;
    request.Scaling = SaveDisplaySize1->isChecked() ? TAspectScaling::Display : TAspectScaling::Coded;
    TPictureUse waiting;
    waiting.Serial = ShownSerial = Post(std::move(request));
    UsePicture(std::move(waiting));
}

void TfrmFramora::SharpestAnswered(const std::shared_ptr<TDecodingAnswer>& answer)
{
    const TSharpestPicture sharpest = answer->Sharpest;
    for (TPictureUse& use : PictureUses)
        if (use.Serial == answer->Serial) {
            use.Serial = 0;
            use.Frame.Share(answer->Stored);
            use.Display = answer->Display;
            use.TimeMs = answer->FrameTimeMs;
            use.Use = [this, sharpest](const TBitmap& stored, const TDisplayTransform&, std::int32_t timeMs) {
                AddSharpestScene(stored, timeMs, sharpest);
            };
        }
    // Shown like a step's picture: the bar and the time follow it.
    PictureAnswered(*answer);
    FinishPictureUses();
}

bool TfrmFramora::AddSharpestScene(TBitmap Stored, std::int32_t TimeMs, const TSharpestPicture& Sharpest)
{
    if (SceneCount >= MaxSceneCount)
        return false;
    DrawSubtitles(Stored, TimeMs);
    TProvenance origin = FrameOrigin(Stored, TimeMs);
    origin.Settings.append({ChoiceName, ChoiceSharpest});
    origin.Settings.append({ScoreName, QString::number(Sharpest.Score, 'f', ScoreDecimals)});
    return AppendScene(Stored, origin);
}
