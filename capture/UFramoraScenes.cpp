// SPDX-License-Identifier: GPL-3.0-or-later
// The scene list: the browser that shows it, the two image packs behind it, capturing and
// deleting scenes, and the picture a copy puts on the clipboard.
#include "capture/UFramora.h"
#include "capture/UFramoraPrivate.h"

#include "browser/FImageBrowser.h"
#include "components/UFormPanel.h"
#include "framework/MessageBox.h"
#include "framework/TAction.h"
#include "framework/TBitmap.h"
#include "imagestore/UCustomImagePack.h"
#include "imagestore/UPictureEX.h"
#include "shell/UCommandLine.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QStringList>
#include <QTimer>

#include <algorithm>

namespace {

using capture_detail::MaxSceneCount;
using capture_detail::PictureImage;

constexpr unsigned SceneThumbnailSize = 100;
const QString SceneCaption = QStringLiteral("No.%1");
const char* const DeleteOneQuestion = QT_TRANSLATE_NOOP("TfrmFramora", "No.%1を削除します。よろしいですか？");
const char* const DeleteAllQuestion = QT_TRANSLATE_NOOP("TfrmFramora", "すべて削除します。よろしいですか？");

} // namespace

namespace capture_detail {

QImage PictureImage(const TPicture& picture)
{
    const TGraphic* graphic = picture.Graphic();
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(graphic))
        return bitmap->Image();
    if (!graphic || graphic->Empty())
        return {};
    TBitmap drawn;
    drawn.Assign(*graphic);
    return drawn.Image();
}

} // namespace capture_detail

void TfrmFramora::CreateSceneBrowser()
{
    Browser = std::make_unique<TfrmImageBrowser>(this);
    Browser->SetUseLoaderThread(false);
    Browser->ListView1->SetMultiSelect(true);
    FormPanel1->SetForm(Browser.get());
    Browser->HintOf = [this](std::int32_t index) {
        return index >= 0 && index < static_cast<std::int32_t>(SceneOrigins.size())
                   ? SceneHint(index, SceneOrigins[static_cast<std::size_t>(index)])
                   : QString();
    };
    Browser->SetImageSource(CustomImagePack1);
    Browser->SetThumbnailSize(SceneThumbnailSize);
}

void TfrmFramora::cipOrgGetCount(TObject*, std::int32_t& Count)
{
    Count = SceneCount;
}

void TfrmFramora::CustomImagePack1GetCount(TObject*, std::int32_t& Count)
{
    Count = cipOrg->GetCount();
}

void TfrmFramora::CustomImagePack1GetImage(TObject*, TPictureEx& Picture, std::int32_t No)
{
    cipOrg->SafeGetImage(Picture, No);
}

void TfrmFramora::CustomImagePack1Change(TObject*)
{
    RefreshSceneList();
}

void TfrmFramora::RefreshSceneList()
{
    lblPicNum->setText(QString::number(SceneCount));
    QStringList captions;
    for (int n = 1; n <= SceneCount; ++n)
        captions.append(SceneCaption.arg(n));
    if (Browser)
        Browser->SetCaptions(captions);
}

void TfrmFramora::UpdateCommands()
{
    ActionList1->UpdateAll();
}

void TfrmFramora::StoreScene(const TPicture& picture, std::int32_t index)
{
    cipOrg->StoreImage(picture, index);
}

void TfrmFramora::actCaptureUpdate(TAction* sender)
{
    sender->SetEnabled(SceneCount + static_cast<std::int32_t>(PictureUses.size()) < MaxSceneCount && FrameShown
                       && !SceneListBusy());
}

void TfrmFramora::actCaptureExecute(TAction*)
{
    // Captures still on their way take their places in the list already.
    if (SceneCount + static_cast<std::int32_t>(PictureUses.size()) >= MaxSceneCount)
        return;
    // Made upright on the decoding thread: a 4K picture's turn and scaling cost the window
    // nothing.
    AskShownPicture([this](const TBitmap& stored, const TDisplayTransform&, std::int32_t timeMs) {
        AddStoredScene(stored, timeMs);
    }, true);
}

void TfrmFramora::UseShownPicture(TShownPictureUse use)
{
    AskShownPicture(std::move(use), false);
}

void TfrmFramora::AskShownPicture(TShownPictureUse use, bool stored)
{
    if (!FrameShown)
        return;
    TDecodingRequest request;
    request.Kind = TDecodingKind::ShownPicture;
    request.Upright = stored;
    request.Scaling = SaveDisplaySize1->isChecked() ? TAspectScaling::Display : TAspectScaling::Coded;
    TPictureUse waiting;
    waiting.Serial = Post(std::move(request));
    waiting.Use = std::move(use);
    UsePicture(std::move(waiting));
}

void TfrmFramora::UsePicture(TPictureUse use)
{
    PictureUses.push_back(std::move(use));
    FinishPictureUses();
}

bool TfrmFramora::SubtitlesReachedTime(std::int32_t timeMs) const
{
    // A stream that cannot be read has no subtitles to wait for.
    if (!SubtitlesShown() || Subtitles->IndexComplete() || Subtitles->Failed() || Subtitles->IndexCovers(timeMs))
        return true;
    Subtitles->ReadNear(timeMs);
    return false;
}

// A still is never stored without the subtitles chosen: a use whose time the index has not
// reached waits for it (the timer looks again), and the uses after it wait their turn.
void TfrmFramora::FinishPictureUses()
{
    while (!PictureUses.empty() && PictureUses.front().Serial == 0) {
        if (!SubtitlesReachedTime(PictureUses.front().TimeMs)) {
            PictureUseTimer->start();
            return;
        }
        const TPictureUse use = std::move(PictureUses.front());
        PictureUses.pop_front();
        // A picture that could not be made (a damaged movie) is nothing to use.
        if (!use.Frame.Empty())
            use.Use(use.Frame, use.Display, use.TimeMs);
    }
    PictureUseTimer->stop();
    UpdateCommands();
}

bool TfrmFramora::AddScene(const TBitmap& Frame, const TDisplayTransform& Display, std::int32_t TimeMs)
{
    if (SceneCount >= MaxSceneCount)
        return false;
    // The stored picture holds its own copy: playback replacing FrameBitmap leaves it alone.
    TBitmap stored;
    MakeStoredPicture(Frame, Display, stored);
    return AddStoredScene(std::move(stored), TimeMs);
}

bool TfrmFramora::AddStoredScene(TBitmap Stored, std::int32_t TimeMs)
{
    if (SceneCount >= MaxSceneCount)
        return false;
    DrawSubtitles(Stored, TimeMs);
    return AppendScene(Stored, FrameOrigin(Stored, TimeMs));
}

bool TfrmFramora::RestoreScene(const QImage& Picture, const TProvenance& Origin)
{
    if (Picture.isNull())
        return false;
    TBitmap stored;
    stored.Image() = Picture.convertToFormat(TBitmap::QtFormatFor(TPixelFormat::pf24bit));
    return AppendScene(stored, Origin);
}

std::int32_t TfrmFramora::FreeSceneCount() const
{
    return MaxSceneCount - SceneCount;
}

bool TfrmFramora::AppendScene(const TBitmap& Stored, const TProvenance& Origin)
{
    if (SceneCount >= MaxSceneCount)
        return false;
    ++SceneCount;
    // The pack shares Stored's rows, which are the scene's own: no 4K copy on this thread.
    cipOrg->StoreImage(std::make_unique<TBitmap>(Stored), SceneCount - 1);
    SceneOrigins.push_back(Origin);
    FScenesUnsaved = true;
    emit SceneAdded(Stored.Image(), Origin);
    // The scenes before keep their places, and the list its thumbnails of them: a reset would
    // have every visible 4K scene scaled down again on this thread.
    RefreshSceneList();
    Browser->SelectImage(SceneCount - 1);
    UpdateCommands();
    return true;
}

void TfrmFramora::MakeStoredPicture(const TBitmap& Frame, const TDisplayTransform& Display, TBitmap& Stored) const
{
    MakeDisplayedPicture(Frame, Display,
                         SaveDisplaySize1->isChecked() ? TAspectScaling::Display : TAspectScaling::Coded, Stored);
}

TBitmap TfrmFramora::StoredPicture(const TBitmap& Frame, const TDisplayTransform& Display) const
{
    TBitmap stored;
    MakeStoredPicture(Frame, Display, stored);
    return stored;
}

TProvenance TfrmFramora::FrameOrigin(const TBitmap& stored, std::int32_t timeMs) const
{
    TProvenance origin;
    origin.Movie = QFileInfo(MoviePath).fileName();
    origin.PositionMs = timeMs;
    origin.CodedSize = Movie.CodedSize;
    origin.ShownSize = QSize(stored.Width(), stored.Height());
    origin.Settings = {{QStringLiteral("DisplaySize"), SaveDisplaySize1->isChecked() ? QStringLiteral("on") : QStringLiteral("off")}};
    for (const auto& [name, word] : SettingWords(FrameSettings))
        origin.Settings.append({QString::fromStdString(name), QString::fromStdString(word)});
    origin.Creator = FramoraNameAndVersion();
    return origin;
}

void TfrmFramora::actDelete1Update(TAction* sender)
{
    sender->SetEnabled(SceneCount > 0 && Browser->SelectedIndex() >= 0 && !SceneListBusy());
}

void TfrmFramora::actDelete1Execute(TAction*)
{
    const std::int32_t k = Browser->SelectedIndex();
    if (k < 0)
        return;
    if (MessageBox(this, tr(DeleteOneQuestion).arg(k + 1), Caption(), TMsgButtons::OKCancel) != TMsgResult::OK)
        return;
    for (std::int32_t j = k + 1; j < SceneCount; ++j) {
        TPictureEx picture;
        cipOrg->SafeGetImage(picture, j);
        StoreScene(picture, j - 1);
    }
    StoreScene(TPictureEx(), SceneCount - 1);
    SceneOrigins.erase(SceneOrigins.begin() + k);
    --SceneCount;
    emit SceneDeleted(k);
    CustomImagePack1->Reset();
    RefreshSceneList();
    UpdateCommands();
}

void TfrmFramora::actDeleteAllUpdate(TAction* sender)
{
    sender->SetEnabled(SceneCount > 0 && !SceneListBusy());
}

void TfrmFramora::actDeleteAllExecute(TAction*)
{
    if (MessageBox(this, tr(DeleteAllQuestion), Caption(), TMsgButtons::OKCancel) == TMsgResult::OK) {
        for (std::int32_t i = 0; i < SceneCount; ++i)
            StoreScene(TPictureEx(), i);
        SceneCount = 0;
        SceneOrigins.clear();
        emit AllScenesDeleted();
        CustomImagePack1->Reset();
        RefreshSceneList();
    }
    UpdateCommands();
}

void TfrmFramora::UseClipboardImage(std::function<void(const QImage&)> use)
{
    if (const std::int32_t k = Browser->SelectedIndex(); k >= 0 && k < SceneCount) {
        TPictureEx picture;
        CustomImagePack1->SafeGetImage(picture, k);
        use(PictureImage(picture));
        return;
    }
    // What a capture would store.
    AskShownPicture([this, use](const TBitmap& frame, const TDisplayTransform&, std::int32_t timeMs) {
        TBitmap stored = frame;
        DrawSubtitles(stored, timeMs);
        use(stored.Image());
    }, true);
}
