// SPDX-License-Identifier: GPL-3.0-or-later
// Saving scenes: the name the save dialog proposes, one file per scene, and writing each file
// whole or not at all. The files are written on a thread of their own from copies of the
// pictures, so the window keeps drawing and answering while a save of large stills runs.
#include "capture/UFramora.h"
#include "capture/UFramoraPrivate.h"

#include "browser/FImageBrowser.h"
#include "components/UWorkProgress.h"
#include "framework/MessageBox.h"
#include "framework/TAction.h"
#include "framework/TOpenDialog.h"
#include "framework/ThreadPriority.h"
#include "imagestore/UCustomImagePack.h"
#include "imagestore/UPictureEX.h"
#include "shell/Pathutil.h"
#include "shell/UNewCommDlg.h"

#include <QDateTime>
#include <QDir>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>
#include <QProgressDialog>

#include <thread>
#include <utility>

namespace {

using capture_detail::PictureImage;

// How many files were written, and into which folder.
const char* const SavedMessage = QT_TRANSLATE_N_NOOP("TfrmFramora", "ファイルを保存しました（%n件）。\n保存先：%1");
const char* const SaveFailedMessage = QT_TRANSLATE_NOOP("TfrmFramora", "%1を保存できませんでした。");
// Said once after a save in which some picture could not take its provenance.
const char* const NoProvenanceMessage = QT_TRANSLATE_NOOP("TfrmFramora", "%1に動画の情報を書き込めませんでした（画像は保存されています）。");
// Asked once before a save that would replace files: the first of them, and how many others.
const char* const OverwriteOneQuestion = QT_TRANSLATE_NOOP("TfrmFramora", "%1 は既にあります。上書きしますか？");
const char* const OverwriteTwoQuestion = QT_TRANSLATE_NOOP("TfrmFramora", "%1 ほか1件は既にあります。上書きしますか？");
const char* const OverwriteManyQuestion = QT_TRANSLATE_NOOP("TfrmFramora", "%1 ほか%2件は既にあります。上書きしますか？");

const char* const SaveProgressTitle = QT_TRANSLATE_NOOP("TfrmFramora", "保存");
const char* const SaveProgressText = QT_TRANSLATE_NOOP("TfrmFramora", "シーンを保存しています... %1 / %2");
const char* const SaveCancelText = QT_TRANSLATE_NOOP("TfrmFramora", "キャンセル");
// A save shorter than this shows no progress window at all.
constexpr int ProgressDelayMs = 500;

const QString SaveStampPattern = QStringLiteral("yyyyMMddHHmmss_");
const QString DefaultSaveExtension = QStringLiteral(".bmp");
const QString SceneNumberFormat = QStringLiteral("%1");
constexpr int SceneNumberDigits = 3;
// Colons are not allowed in file names everywhere a still may be copied to.
const QString PositionSuffix = QStringLiteral("_%1");

// One file of a save: the copies the worker writes from, and where to.
struct TSceneFile {
    QImage Picture;
    TProvenance Origin;
    QString Name;
};

// What became of one file.
struct TSceneFileOutcome {
    QString Name;
    bool Written = false;
    QString Error;
    QString MetadataError;
};

// The picture a scene keeps, shared with the pack rather than copied: a deep copy per 4K scene
// on the window thread is what the save must not cost. Through the shown pack (a copy) only for
// a scene the store lacks.
QImage StoredSceneImage(TCustomImagePack& stored, TCustomImagePack& shown, std::int32_t p)
{
    if (stored.IsCached(p))
        return PictureImage(stored.CachedPicture(p));
    TPictureEx picture;
    shown.SafeGetImage(picture, p);
    return PictureImage(picture);
}

// Runs on the save's thread: writes the files in order until one fails or a stop is asked for
// (between files only, so every file is whole or absent).
template <class Report>
void WriteSceneFiles(const std::vector<TSceneFile>& files, std::stop_token stop, Report report)
{
    for (const TSceneFile& file : files) {
        if (stop.stop_requested())
            return;
        TSceneFileOutcome outcome;
        outcome.Name = file.Name;
        outcome.Written = SaveSceneFile(file.Picture, file.Name, outcome.Error, &file.Origin, &outcome.MetadataError);
        report(outcome);
        if (!outcome.Written)
            return;
    }
}

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

// A save in progress. The worker reads only the copies it was handed and reports each file by a
// call queued to the window thread; every other field belongs to the window thread.
struct TfrmFramora::TSceneSave {
    std::uint64_t Id = 0;
    std::vector<TSceneFile> Files; // moved to the worker when it starts
    std::size_t Total = 0;
    std::size_t Written = 0;
    bool EveryScene = true;        // no scene was left out (nothing was selected)
    bool ListChanged = false;      // a scene came or went while the files were written
    QString FirstName;             // the name the dialog confirmed
    QString Folder;
    QStringList WithoutProvenance;
    std::optional<TSceneFileOutcome> Failure;
    std::unique_ptr<QProgressDialog> Progress;
    QList<QMetaObject::Connection> Watches;
    // Declared last: it stops and joins first, while the rest is still there.
    std::jthread Worker;

    void Take(const TSceneFileOutcome& outcome)
    {
        if (!outcome.Written) {
            Failure = outcome;
            return;
        }
        ++Written;
        if (!outcome.MetadataError.isEmpty())
            WithoutProvenance.append(QFileInfo(outcome.Name).fileName());
        Progress->setLabelText(TfrmFramora::tr(SaveProgressText).arg(Written).arg(Total));
        Progress->setValue(static_cast<int>(Written));
    }
};

void TfrmFramora::TSceneSaveEnd::operator()(TSceneSave* save) const
{
    for (const QMetaObject::Connection& watch : save->Watches)
        QObject::disconnect(watch);
    delete save;
}

void TfrmFramora::actSaveImageUpdate(TAction* sender)
{
    sender->SetEnabled(SceneCount > 0 && !SceneListBusy());
}

void TfrmFramora::actSaveImageExecute(TAction*)
{
    SaveScenes();
}

void TfrmFramora::SaveScenes()
{
    if (SceneListBusy())
        return;
    const auto newDialogs = EnableNewCommDlg();
    SavePictureDialog1->FileName = ProposedSaveName(SavePictureDialog1->FileName, QDateTime::currentDateTime());
    if (!SavePictureDialog1->Execute())
        return;
    const std::int32_t k = Browser->SelectedIndex();
    if (!MayOverwrite(k))
        return;
    StartSave(k);
}

bool TfrmFramora::SaveRunning() const
{
    return SceneSave != nullptr;
}

bool TfrmFramora::SceneListBusy() const
{
    return SceneSave || RestoringScenes;
}

void TfrmFramora::SetRestoringScenes(bool on)
{
    RestoringScenes = on;
    UpdateCommands();
}

// The scenes chosen (selected: the browser's selection, -1 for every scene) are copied as they
// are now and written by a thread of the save's own; the window hears of each file as it lands.
void TfrmFramora::StartSave(std::int32_t selected)
{
    auto save = std::unique_ptr<TSceneSave, TSceneSaveEnd>(new TSceneSave);
    save->Id = ++SceneSaves;
    for (std::int32_t p = 0; p < SceneCount; ++p) {
        if (selected >= 0 && !Browser->ListView1->ItemSelected(p)) {
            save->EveryScene = false;
            continue;
        }
        save->Files.push_back({StoredSceneImage(*cipOrg, *CustomImagePack1, p),
                               SceneOrigins.at(static_cast<std::size_t>(p)), SceneSaveName(p)});
    }
    save->Total = save->Files.size();
    save->FirstName = SavePictureDialog1->FileName;
    save->Folder = QFileInfo(save->FirstName).absolutePath();
    save->Progress = NewSaveProgress(save->Total);
    // Scenes an automatic capture adds meanwhile are not in this save: they stay unsaved.
    const auto changed = [save = save.get()] { save->ListChanged = true; };
    save->Watches = {connect(this, &TfrmFramora::SceneAdded, this, changed),
                     connect(this, &TfrmFramora::SceneDeleted, this, changed),
                     connect(this, &TfrmFramora::AllScenesDeleted, this, changed)};

    const std::uint64_t id = save->Id;
    save->Worker = std::jthread([this, id, files = std::move(save->Files)](std::stop_token stop) {
        LowerThisThreadPriority();
        WriteSceneFiles(files, stop, [this, id](const TSceneFileOutcome& outcome) {
            QMetaObject::invokeMethod(
                this, [this, id, outcome] {
                    if (SceneSave && SceneSave->Id == id)
                        SceneSave->Take(outcome);
                },
                Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(this, [this, id] { SceneSaveEnded(id); }, Qt::QueuedConnection);
    });
    SceneSave = std::move(save);
    UpdateCommands();
}

std::unique_ptr<QProgressDialog> TfrmFramora::NewSaveProgress(std::size_t total)
{
    const int count = static_cast<int>(total);
    auto progress = NewWorkProgress(this,
                                    {QStringLiteral("SaveProgress"), tr(SaveProgressTitle),
                                     tr(SaveProgressText).arg(0).arg(count), tr(SaveCancelText)},
                                    count, ProgressDelayMs);
    connect(progress.get(), &QProgressDialog::canceled, this, &TfrmFramora::CancelSave);
    return progress;
}

void TfrmFramora::SceneSaveEnded(std::uint64_t Save)
{
    if (!SceneSave || SceneSave->Id != Save)
        return;
    const std::unique_ptr<TSceneSave, TSceneSaveEnd> save = std::move(SceneSave);
    save->Worker.join();
    save->Progress.reset();
    UpdateCommands();
    if (save->Written == save->Total) {
        if (save->EveryScene && !save->ListChanged)
            FScenesUnsaved = false;
        emit ScenesSaved(save->FirstName);
        QString saved = tr(SavedMessage, nullptr, static_cast<int>(save->Written)).arg(QDir::toNativeSeparators(save->Folder));
        if (!save->WithoutProvenance.isEmpty())
            saved += QLatin1Char('\n') + tr(NoProvenanceMessage).arg(save->WithoutProvenance.join(QStringLiteral(", ")));
        MessageBox(this, saved, Caption(), TMsgButtons::OK);
    } else if (save->Failure) {
        // The files written so far stay; the scenes stay in the list whatever happens.
        MessageBox(this,
                   tr(SaveFailedMessage).arg(QDir::toNativeSeparators(save->Failure->Name)) + QLatin1Char('\n') +
                       save->Failure->Error,
                   Caption(), TMsgButtons::OK, TMsgIcon::Error);
    }
    // Cancelled: the files written so far stay, and the user who asked needs no message.
}

void TfrmFramora::CancelSave()
{
    if (SceneSave)
        SceneSave->Worker.request_stop();
}

void TfrmFramora::StopSave()
{
    // The file being written is finished (whole) before the thread ends; no message follows.
    SceneSave.reset();
}

void TfrmFramora::WaitForSave()
{
    while (SceneSave)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
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
