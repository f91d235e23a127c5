// Saving scenes: the name the save dialog proposes, one file per scene, and writing each file
// whole or not at all.
#include "capture/UFramora.h"
#include "capture/UFramoraPrivate.h"

#include "browser/FImageBrowser.h"
#include "framework/MessageBox.h"
#include "framework/TAction.h"
#include "framework/TOpenDialog.h"
#include "imagestore/UCustomImagePack.h"
#include "imagestore/UPictureEX.h"
#include "shell/Pathutil.h"
#include "shell/UNewCommDlg.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

using capture_detail::PictureImage;

const char* const SavedMessage = QT_TRANSLATE_NOOP("TfrmFramora", "ファイルを保存しました");
const char* const SaveFailedMessage = QT_TRANSLATE_NOOP("TfrmFramora", "%1を保存できませんでした。");
// Said once after a save in which some picture could not take its provenance.
const char* const NoProvenanceMessage = QT_TRANSLATE_NOOP("TfrmFramora", "%1に動画の情報を書き込めませんでした（画像は保存されています）。");
// Asked once before a save that would replace files: the first of them, and how many others.
const char* const OverwriteOneQuestion = QT_TRANSLATE_NOOP("TfrmFramora", "%1 は既にあります。上書きしますか？");
const char* const OverwriteTwoQuestion = QT_TRANSLATE_NOOP("TfrmFramora", "%1 ほか1件は既にあります。上書きしますか？");
const char* const OverwriteManyQuestion = QT_TRANSLATE_NOOP("TfrmFramora", "%1 ほか%2件は既にあります。上書きしますか？");

const QString SaveStampPattern = QStringLiteral("yyyyMMddHHmmss_");
const QString DefaultSaveExtension = QStringLiteral(".bmp");
const QString SceneNumberFormat = QStringLiteral("%1");
constexpr int SceneNumberDigits = 3;
// Colons are not allowed in file names everywhere a still may be copied to.
const QString PositionSuffix = QStringLiteral("_%1");

} // namespace

QString SaveStamp(const QDateTime& now)
{
    return now.toString(SaveStampPattern);
}

QString ProposedSaveName(const QString& lastFileName, const QDateTime& now)
{
    const QString folder = lastFileName.left(lastFileName.lastIndexOf(QLatin1Char('/')) + 1);
    return IncludeTrailingBackslash(folder) + SaveStamp(now) + DefaultSaveExtension;
}

QString SceneFileName(const QString& confirmedName, int p, std::optional<std::int32_t> positionMs)
{
    // The extension is what follows the last '.' of the file-name part, dot included.
    const qsizetype nameStart = confirmedName.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = confirmedName.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot >= nameStart;
    const QString base = hasExtension ? confirmedName.left(dot) : confirmedName;
    const QString extension = hasExtension ? confirmedName.mid(dot) : QString();
    const QString position =
        positionMs ? PositionSuffix.arg(FormatPosition(*positionMs).replace(QLatin1Char(':'), QLatin1Char('-'))) : QString();
    return base + SceneNumberFormat.arg(p + 1, SceneNumberDigits, 10, QLatin1Char('0')) + position +
           (extension.isEmpty() || extension == QStringLiteral(".") ? DefaultSaveExtension : extension);
}

bool SaveSceneFile(const QImage& picture, const QString& fileName, QString& error, const TProvenance* provenance,
                   QString* metadataError)
{
    QString metadataFailure;
    const bool written = WriteImageFile(picture, fileName, provenance, error, metadataFailure);
    if (metadataError)
        *metadataError = metadataFailure;
    return written;
}

QString SceneHint(int p, const TProvenance& origin)
{
    return QStringLiteral("No.%1  %2  %3").arg(p + 1).arg(FormatPosition(origin.PositionMs), origin.Movie);
}

void TfrmFramora::actSaveImageUpdate(TAction* sender)
{
    sender->SetEnabled(SceneCount > 0);
}

void TfrmFramora::actSaveImageExecute(TAction*)
{
    SaveScenes();
}

void TfrmFramora::SaveScenes()
{
    const auto newDialogs = EnableNewCommDlg();
    SavePictureDialog1->FileName = ProposedSaveName(SavePictureDialog1->FileName, QDateTime::currentDateTime());
    if (!SavePictureDialog1->Execute())
        return;
    const std::int32_t k = Browser->SelectedIndex();
    if (!MayOverwrite(k))
        return;
    bool everyScene = true;
    QStringList withoutProvenance;
    for (std::int32_t p = 0; p < SceneCount; ++p) {
        if (k >= 0 && !Browser->ListView1->ItemSelected(p)) {
            everyScene = false;
            continue;
        }
        // The files written so far stay; the scenes stay in the list whatever happens.
        if (!SaveScene(p, withoutProvenance))
            return;
    }
    if (everyScene)
        FScenesUnsaved = false;
    emit ScenesSaved(SavePictureDialog1->FileName);
    QString saved = tr(SavedMessage);
    if (!withoutProvenance.isEmpty())
        saved += QLatin1Char('\n') + tr(NoProvenanceMessage).arg(withoutProvenance.join(QStringLiteral(", ")));
    MessageBox(this, saved, Caption(), TMsgButtons::OK);
}

QString TfrmFramora::SceneSaveName(std::int32_t p) const
{
    const TProvenance& origin = SceneOrigins.at(static_cast<std::size_t>(p));
    return SceneFileName(SavePictureDialog1->FileName, p,
                         PositionInFileName1->isChecked() ? std::optional(origin.PositionMs) : std::nullopt);
}

// The dialog confirms replacing only the name typed, never the numbered names written: those
// are asked about here, all at once.
bool TfrmFramora::MayOverwrite(std::int32_t selected)
{
    QStringList existing;
    for (std::int32_t p = 0; p < SceneCount; ++p) {
        const QFileInfo file(SceneSaveName(p));
        // A folder under the name is nothing to replace; writing there fails and says so.
        if ((selected < 0 || Browser->ListView1->ItemSelected(p)) && file.exists() && !file.isDir())
            existing.append(file.fileName());
    }
    if (existing.isEmpty())
        return true;
    const qsizetype others = existing.size() - 1;
    const QString question = others == 0   ? tr(OverwriteOneQuestion).arg(existing.front())
                             : others == 1 ? tr(OverwriteTwoQuestion).arg(existing.front())
                                           : tr(OverwriteManyQuestion).arg(existing.front()).arg(others);
    return MessageBox(this, question, Caption(), TMsgButtons::YesNo, TMsgIcon::Question) == TMsgResult::Yes;
}

bool TfrmFramora::SaveScene(std::int32_t p, QStringList& withoutProvenance)
{
    TPictureEx picture;
    CustomImagePack1->SafeGetImage(picture, p);
    const TProvenance& origin = SceneOrigins.at(static_cast<std::size_t>(p));
    const QString name = SceneSaveName(p);
    QString error, metadataError;
    if (SaveSceneFile(PictureImage(picture), name, error, &origin, &metadataError)) {
        if (!metadataError.isEmpty())
            withoutProvenance.append(QFileInfo(name).fileName());
        return true;
    }
    MessageBox(this, tr(SaveFailedMessage).arg(QDir::toNativeSeparators(name)) + QLatin1Char('\n') + error, Caption(),
               TMsgButtons::OK, TMsgIcon::Error);
    return false;
}
