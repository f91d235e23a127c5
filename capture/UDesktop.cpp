// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/UDesktop.h"

#include "browser/FImageBrowser.h"
#include "components/UFormPanel.h"
#include "components/UWorkProgress.h"
#include "framework/MessageBox.h"
#include "framework/TAction.h"
#include "framework/TListView.h"
#include "framework/TOpenDialog.h"
#include "framework/ThreadPriority.h"
#include "imagestore/UImageFile.h"
#include "imagestore/USceneRecovery.h"
#include "shell/Pathutil.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QScreen>
#include <QComboBox>
#include <QDropEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QMimeData>
#include <QPointer>
#include <QProgressDialog>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

const QString SettingsOrganization = QStringLiteral("Framora");
const QString SettingsApplication = QStringLiteral("Framora");
const QString OpenFolderKey = QStringLiteral("folders/open");
const QString SaveFolderKey = QStringLiteral("folders/save");
const QString StepUnitKey = QStringLiteral("playback/stepUnitMs");
const QString SharpestRangeKey = QStringLiteral("capture/sharpestRangeMs");
const QString SaveDisplaySizeKey = QStringLiteral("capture/saveDisplaySize");
const QString ExactPositionKey = QStringLiteral("playback/exactPosition");
const QString PositionInFileNameKey = QStringLiteral("capture/positionInFileName");
const QString PngMimeType = QStringLiteral("image/png");
const QString DeinterlaceKey = QStringLiteral("pictures/deinterlace");
const QString ToneMappingKey = QStringLiteral("pictures/toneMapping");
const QString WindowGeometryKey = QStringLiteral("window/geometry");
const QString WindowMaximizedKey = QStringLiteral("window/maximized");
const char* const RestoreQuestion = QT_TRANSLATE_NOOP("TFramoraDesktop", "前回保存されなかったシーンがあります。復元しますか？");
// The details under the question: how many scenes, and when they were captured.
const char* const RestoreDetailsOne = QT_TRANSLATE_NOOP("TFramoraDesktop", "1件のシーン（%1にキャプチャ）");
const char* const RestoreDetailsAt = QT_TRANSLATE_NOOP("TFramoraDesktop", "%1件のシーン（%2にキャプチャ）");
const char* const RestoreDetailsBetween = QT_TRANSLATE_NOOP("TFramoraDesktop", "%1件のシーン（%2〜%3にキャプチャ）");
const QString CaptureTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm");
const char* const RestoreProgressTitle = QT_TRANSLATE_NOOP("TFramoraDesktop", "復元");
const char* const RestoreProgressText = QT_TRANSLATE_NOOP("TFramoraDesktop", "シーンを復元しています... %1 / %2");
const char* const RestoreCancelText = QT_TRANSLATE_NOOP("TFramoraDesktop", "キャンセル");
// A restore shorter than this shows no progress window at all.
constexpr int RestoreProgressDelayMs = 500;
const char* const CopyHint = QT_TRANSLATE_NOOP("TFramoraDesktop", "選択したシーン（選択がなければ表示中の画像）をクリップボードにコピーします。");

} // namespace

std::optional<QString> DroppedMovie(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return std::nullopt;
    const QUrl first = data->urls().constFirst();
    if (!first.isLocalFile())
        return std::nullopt;
    const QString path = first.toLocalFile();
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    return path;
}

TFramoraSettings::TFramoraSettings()
    : FSettings(QSettings::NativeFormat, QSettings::UserScope, SettingsOrganization, SettingsApplication)
{
}

QString TFramoraSettings::OpenFolder() const
{
    return FSettings.value(OpenFolderKey).toString();
}

void TFramoraSettings::SetOpenFolder(const QString& folder)
{
    FSettings.setValue(OpenFolderKey, folder);
}

QString TFramoraSettings::SaveFolder() const
{
    return FSettings.value(SaveFolderKey).toString();
}

void TFramoraSettings::SetSaveFolder(const QString& folder)
{
    FSettings.setValue(SaveFolderKey, folder);
}

std::optional<std::int32_t> TFramoraSettings::StepUnitMs() const
{
    bool ok = false;
    const int ms = FSettings.value(StepUnitKey).toInt(&ok);
    if (!ok)
        return std::nullopt;
    return ms;
}

void TFramoraSettings::SetStepUnitMs(std::int32_t ms)
{
    FSettings.setValue(StepUnitKey, ms);
}

std::optional<std::int32_t> TFramoraSettings::SharpestRangeMs() const
{
    bool ok = false;
    const int ms = FSettings.value(SharpestRangeKey).toInt(&ok);
    if (!ok)
        return std::nullopt;
    return ms;
}

void TFramoraSettings::SetSharpestRangeMs(std::int32_t ms)
{
    FSettings.setValue(SharpestRangeKey, ms);
}

bool TFramoraSettings::Checked(const QString& key, bool byDefault) const
{
    return FSettings.value(key, byDefault).toBool();
}

void TFramoraSettings::SetChecked(const QString& key, bool on)
{
    FSettings.setValue(key, on);
}

TDeinterlace TFramoraSettings::Deinterlace() const
{
    const QString word = FSettings.value(DeinterlaceKey).toString();
    return DeinterlaceFromWord(word.toStdString()).value_or(TDeinterlace::Auto);
}

void TFramoraSettings::SetDeinterlace(TDeinterlace mode)
{
    FSettings.setValue(DeinterlaceKey, QString::fromLatin1(DeinterlaceWord(mode).data(),
                                                           static_cast<int>(DeinterlaceWord(mode).size())));
}

bool TFramoraSettings::ToneMapping() const
{
    return FSettings.value(ToneMappingKey, true).toBool();
}

void TFramoraSettings::SetToneMapping(bool on)
{
    FSettings.setValue(ToneMappingKey, on);
}

QRect TFramoraSettings::WindowGeometry() const
{
    return FSettings.value(WindowGeometryKey).toRect();
}

bool TFramoraSettings::WindowMaximized() const
{
    return FSettings.value(WindowMaximizedKey, false).toBool();
}

void TFramoraSettings::SetWindowGeometry(const QRect& geometry, bool maximized)
{
    FSettings.setValue(WindowGeometryKey, geometry);
    FSettings.setValue(WindowMaximizedKey, maximized);
}

std::unique_ptr<TfrmFramora> NewFramoraWindow()
{
    auto form = std::make_unique<TfrmFramora>();
    new TFramoraDesktop(*form);
    return form;
}

TFramoraDesktop::TFramoraDesktop(TfrmFramora& form)
    : QObject(&form), FForm(form), FRecovery(std::make_unique<TSceneRecovery>())
{
    CreateShortcuts();
    FollowSceneList();
    RestoreSettings();
    FForm.setAcceptDrops(true);
    FForm.installEventFilter(this);
    connect(&FForm, &TfrmFramora::MovieOpened, this, &TFramoraDesktop::MovieOpened);
    connect(&FForm, &TfrmFramora::ScenesSaved, this, &TFramoraDesktop::ScenesSaved);
}

void TFramoraDesktop::CreateShortcuts()
{
    const auto keys = [this](TAction* action, QList<QKeySequence> sequences) {
        action->setShortcuts(sequences);
        FForm.addAction(action);
    };
    // Play and Pause are never enabled together, so one key toggles between them.
    keys(FForm.actPlay, {Qt::Key_Space});
    keys(FForm.actPause, {Qt::Key_Space});
    keys(FForm.actRewind, {Qt::Key_Home});
    keys(FForm.actStepPrev, {Qt::Key_Left});
    keys(FForm.actStepNext, {Qt::Key_Right});
    keys(FForm.actFramePrev, {Qt::Key_Comma});
    keys(FForm.actFrameNext, {Qt::Key_Period});
    keys(FForm.actCapture, {Qt::Key_Insert, Qt::Key_C});
    keys(FForm.actCaptureSharpest, {QKeySequence(Qt::SHIFT | Qt::Key_C)});
    keys(FForm.actDelete1, {Qt::Key_Delete});
    keys(FForm.actSaveImage, {QKeySequence(Qt::CTRL | Qt::Key_S)});
    FForm.GoToTime1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    FForm.addAction(FForm.GoToTime1);

    FOpen = new QAction(this);
    FOpen->setObjectName(QStringLiteral("actOpenShortcut"));
    FOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(FOpen, &QAction::triggered, &FForm, &TfrmFramora::btnSelectFileClick);
    FForm.addAction(FOpen);
    FForm.btnSelectFile->setToolTip(HintWithShortcuts(FForm.btnSelectFile->toolTip(), FOpen->shortcuts()));
    FCopy = new QAction(this);
    FCopy->setObjectName(QStringLiteral("actCopyShortcut"));
    FCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    connect(FCopy, &QAction::triggered, this, &TFramoraDesktop::CopyToClipboard);
    FForm.addAction(FCopy);
    FForm.FormPanel1->setToolTip(HintWithShortcuts(tr(CopyHint), FCopy->shortcuts()));
    // The form answers F1 itself (its help context).
    FForm.btnHelp->setToolTip(HintWithShortcuts(FForm.btnHelp->toolTip(), {Qt::Key_F1}));
}

void TFramoraDesktop::RestoreSettings()
{
    const QString openFolder = FSettings.OpenFolder();
    if (!openFolder.isEmpty())
        FForm.OpenDialog1->InitialDir = openFolder;
    // The kept folder seeds the proposed name rather than InitialDir: an InitialDir would win
    // over the folder of every later proposal, so saves after the first of this run would land
    // in the folder of an earlier run.
    const QString saveFolder = FSettings.SaveFolder();
    if (!saveFolder.isEmpty())
        FForm.SavePictureDialog1->FileName = IncludeTrailingBackslash(saveFolder);
    if (const std::optional<std::int32_t> unit = FSettings.StepUnitMs()) {
        for (int i = 0; StepUnitMs(i) > 0; ++i)
            if (StepUnitMs(i) == *unit)
                FForm.cmbStepUnit->setCurrentIndex(i);
    }
    connect(FForm.cmbStepUnit, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (StepUnitMs(index) > 0)
            FSettings.SetStepUnitMs(StepUnitMs(index));
    });
    if (const std::optional<std::int32_t> range = FSettings.SharpestRangeMs())
        FForm.SetSharpestRangeMs(*range);
    connect(&FForm, &TfrmFramora::SharpestRangeChanged, this, [this](int ms) { FSettings.SetSharpestRangeMs(ms); });
    KeepChecked(FForm.SaveDisplaySize1, SaveDisplaySizeKey, true);
    KeepChecked(FForm.ExactPosition1, ExactPositionKey, true);
    KeepChecked(FForm.PositionInFileName1, PositionInFileNameKey, false);
    FForm.SetDeinterlaceChoice(FSettings.Deinterlace());
    for (QAction* item : {FForm.DeinterlaceAuto1, FForm.DeinterlaceAlways1, FForm.DeinterlaceNever1})
        connect(item, &QAction::toggled, this, [this](bool on) {
            if (on)
                FSettings.SetDeinterlace(FForm.DeinterlaceChoice());
        });
    FForm.ToneMapping1->setChecked(FSettings.ToneMapping());
    connect(FForm.ToneMapping1, &QAction::toggled, this, [this](bool on) { FSettings.SetToneMapping(on); });
    RestoreWindowGeometry();
}

// The window comes back where and as large as it was left; the form's minimum (its design size)
// still holds, and a place no screen shows any more (a screen unplugged) is left to the form's
// own centring.
void TFramoraDesktop::RestoreWindowGeometry()
{
    const QRect kept = FSettings.WindowGeometry();
    if (kept.isEmpty())
        return;
    const QSize size = kept.size().expandedTo(FForm.minimumSize());
    if (QGuiApplication::screenAt(kept.center())) {
        FForm.setGeometry(QRect(kept.topLeft(), size));
        FForm.SetPosition(TPosition::poDesigned);
    } else {
        FForm.resize(size);
    }
    if (FSettings.WindowMaximized())
        FForm.setWindowState(FForm.windowState() | Qt::WindowMaximized);
}

void TFramoraDesktop::MovieOpened(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    FForm.OpenDialog1->InitialDir = folder;
    FSettings.SetOpenFolder(folder);
}

void TFramoraDesktop::KeepChecked(QAction* item, const QString& key, bool byDefault)
{
    item->setChecked(FSettings.Checked(key, byDefault));
    connect(item, &QAction::toggled, this, [this, key](bool on) { FSettings.SetChecked(key, on); });
}

// The image, and the same picture as PNG bytes: some desktops (Wayland among them) and programs
// take only the PNG.
void TFramoraDesktop::CopyToClipboard()
{
    // The picture on screen may still be on its way from the decoding thread.
    FForm.UseClipboardImage([desktop = QPointer<TFramoraDesktop>(this)](const QImage& image) {
        if (desktop)
            desktop->PutOnClipboard(image);
    });
}

void TFramoraDesktop::PutOnClipboard(const QImage& image)
{
    if (image.isNull())
        return;
    auto data = std::make_unique<QMimeData>();
    data->setImageData(image);
    QString error, metadataError;
    const QByteArray png = EncodeImage(image, QByteArrayLiteral("png"), nullptr, error, metadataError);
    if (!png.isEmpty())
        data->setData(PngMimeType, png);
    QGuiApplication::clipboard()->setMimeData(data.release());
}

void TFramoraDesktop::ScenesSaved(const QString& file)
{
    FSettings.SetSaveFolder(QFileInfo(file).absolutePath());
    if (!FForm.HasUnsavedScenes())
        FRecovery->Saved();
}

void TFramoraDesktop::FollowSceneList()
{
    connect(&FForm, &TfrmFramora::SceneAdded, this,
            [this](const QImage& picture, const TProvenance& origin) { FRecovery->Added(picture, origin); });
    connect(&FForm, &TfrmFramora::SceneDeleted, this, [this](int index) { FRecovery->Removed(index); });
    connect(&FForm, &TfrmFramora::AllScenesDeleted, this, [this] { FRecovery->Cleared(); });
}

QString TFramoraDesktop::RestoreDetails(const TOrphanedScenes& orphans)
{
    QList<QDateTime> times;
    for (std::size_t i = 0; i < orphans.FolderCount(); ++i)
        times += orphans.SceneFileTimes(i);
    if (times.isEmpty())
        return {};
    const auto [first, last] = std::minmax_element(times.begin(), times.end());
    const QString from = first->toString(CaptureTimeFormat), to = last->toString(CaptureTimeFormat);
    const qsizetype count = times.size();
    if (from == to)
        return count == 1 ? tr(RestoreDetailsOne).arg(from) : tr(RestoreDetailsAt).arg(count).arg(from);
    return tr(RestoreDetailsBetween).arg(count).arg(from, to);
}

// The restore in progress. The worker reads the planned files in order and hands each scene to
// the window thread by a queued call, reading the next while the window takes it but never
// sending it before: scenes queued together would be taken in one go, and the window would be
// away for all of them at once. Everything but the worker and the hand-over count belongs to
// the window thread.
struct TFramoraDesktop::TRestore {
    struct TFolder {
        std::size_t Index;    // in Orphans
        QStringList Files;    // its scene files, in the order of capture
        QStringList Handled;  // those put back or found damaged: nothing of them is left to keep
    };
    std::shared_ptr<TOrphanedScenes> Orphans;
    std::vector<TFolder> Folders;
    int Total = 0;
    int Read = 0;
    std::unique_ptr<QProgressDialog> Progress;
    std::mutex Lock;
    std::condition_variable_any Taken;
    int InFlight = 0; // under Lock: scenes sent and not yet taken
    // Declared last: it stops and joins first, while the rest is still there.
    std::jthread Worker;

    // On the worker: waits until the window has taken the scene sent before; false on a stop.
    bool WaitForTurn(std::stop_token stop)
    {
        std::unique_lock lock(Lock);
        if (!Taken.wait(lock, stop, [this] { return InFlight == 0; }))
            return false;
        ++InFlight;
        return true;
    }

    void TookScene()
    {
        {
            std::lock_guard lock(Lock);
            --InFlight;
        }
        Taken.notify_all();
    }
};

TFramoraDesktop::~TFramoraDesktop()
{
    // Stopped between scenes before anything it reports to goes; what it did not read stays on
    // disk for a later start.
    FRestore.reset();
}

void TFramoraDesktop::OfferRecoveredScenes()
{
    if (FRestore)
        return;
    auto orphans = std::make_shared<TOrphanedScenes>(RecoveryRoot());
    if (orphans->FolderCount() == 0)
        return;
    const bool restore = MessageBox(&FForm, tr(RestoreQuestion), FForm.Caption(), TMsgButtons::YesNo,
                                    TMsgIcon::Question, RestoreDetails(*orphans)) == TMsgResult::Yes;
    if (restore) {
        StartRestore(std::move(orphans));
        return;
    }
    for (std::size_t i = 0; i < orphans->FolderCount(); ++i)
        orphans->Remove(i);
    FForm.UpdateCommands();
}

void TFramoraDesktop::StartRestore(std::shared_ptr<TOrphanedScenes> orphans)
{
    auto restore = std::make_unique<TRestore>();
    restore->Orphans = orphans;
    qsizetype room = FForm.FreeSceneCount();
    for (std::size_t i = 0; i < orphans->FolderCount(); ++i) {
        QStringList files = orphans->SceneFileNames(i);
        if (files.size() > room)
            continue; // kept whole for a later start rather than split
        room -= files.size();
        restore->Total += static_cast<int>(files.size());
        restore->Folders.push_back({i, std::move(files), {}});
    }
    restore->Progress = NewRestoreProgress(restore->Total);
    std::vector<std::pair<std::size_t, QStringList>> plan;
    for (const TRestore::TFolder& folder : restore->Folders)
        plan.emplace_back(folder.Index, folder.Files);
    TRestore* shared = restore.get();
    restore->Worker = std::jthread([this, shared, orphans, plan = std::move(plan)](std::stop_token stop) {
        LowerThisThreadPriority();
        for (std::size_t planned = 0; planned < plan.size(); ++planned)
            for (const QString& file : plan[planned].second) {
                if (stop.stop_requested())
                    break;
                std::optional<TRecoveredScene> scene = orphans->ReadScene(plan[planned].first, file);
                if (!shared->WaitForTurn(stop))
                    break;
                QMetaObject::invokeMethod(
                    this, [this, planned, file, scene = std::move(scene)] { SceneRead(planned, file, scene); },
                    Qt::QueuedConnection);
            }
        QMetaObject::invokeMethod(this, [this] { RestoreEnded(); }, Qt::QueuedConnection);
    });
    FRestore = std::move(restore);
    FForm.SetRestoringScenes(true);
}

std::unique_ptr<QProgressDialog> TFramoraDesktop::NewRestoreProgress(int total)
{
    auto progress = NewWorkProgress(&FForm,
                                    {QStringLiteral("RestoreProgress"), tr(RestoreProgressTitle),
                                     tr(RestoreProgressText).arg(0).arg(total), tr(RestoreCancelText)},
                                    total, RestoreProgressDelayMs);
    connect(progress.get(), &QProgressDialog::canceled, this, &TFramoraDesktop::CancelRestore);
    return progress;
}

void TFramoraDesktop::SceneRead(std::size_t planned, const QString& file, const std::optional<TRecoveredScene>& scene)
{
    if (!FRestore)
        return;
    TRestore& restore = *FRestore;
    // A damaged file is passed over (it was logged) and goes with the rest; a scene the list
    // did not take stays on disk.
    if (!scene || FForm.RestoreScene(scene->Picture, scene->Origin))
        restore.Folders.at(planned).Handled.append(file);
    ++restore.Read;
    restore.TookScene();
    restore.Progress->setLabelText(tr(RestoreProgressText).arg(restore.Read).arg(restore.Total));
    restore.Progress->setValue(restore.Read);
}

void TFramoraDesktop::RestoreEnded()
{
    if (!FRestore)
        return;
    const std::unique_ptr<TRestore> restore = std::move(FRestore);
    restore->Worker.join();
    restore->Progress.reset();
    // The old files go only once this run's folder holds every scene: when the state folder is
    // full or unwritable they are the only copy on disk. Files not read (a cancel) stay.
    std::vector<TRestore::TFolder> done;
    for (TRestore::TFolder& folder : restore->Folders)
        if (!folder.Handled.isEmpty())
            done.push_back(std::move(folder));
    FRecovery->WhenKept([orphans = restore->Orphans, done = std::move(done)](bool everyScene) {
        if (!everyScene)
            return;
        for (const TRestore::TFolder& folder : done) {
            if (folder.Handled.size() == folder.Files.size())
                orphans->Remove(folder.Index);
            else
                orphans->RemoveScenes(folder.Index, folder.Handled);
        }
    });
    // Put back, nothing is chosen: saving then writes every scene, as after captures of one's own
    // that were never picked.
    FForm.SceneBrowser().ListView1->ClearSelection();
    FForm.SetRestoringScenes(false);
}

void TFramoraDesktop::CancelRestore()
{
    if (FRestore)
        FRestore->Worker.request_stop();
}

void TFramoraDesktop::WaitForRestore()
{
    while (FRestore)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void OfferRecoveredScenes(TfrmFramora& form)
{
    if (auto* desktop = form.findChild<TFramoraDesktop*>(QString(), Qt::FindDirectChildrenOnly))
        desktop->OfferRecoveredScenes();
}

bool TFramoraDesktop::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &FForm)
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (DroppedMovie(drag->mimeData()))
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const std::optional<QString> movie = DroppedMovie(drop->mimeData());
        if (!movie) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        // Opened once the drop has ended: the opening may ask a question, and the program the
        // file was dragged from waits for the drop to finish.
        QMetaObject::invokeMethod(
            &FForm, [form = &FForm, path = *movie] { form->OpenMovie(path); }, Qt::QueuedConnection);
        return true;
    }
    case QEvent::Hide:
        // Hidden is how a window that closes ends; a minimized one keeps its normal geometry.
        FSettings.SetWindowGeometry(FForm.isMaximized() ? FForm.normalGeometry() : FForm.geometry(), FForm.isMaximized());
        return false;
    default:
        return false;
    }
}
