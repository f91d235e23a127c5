// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the capture window does as a desktop application: keyboard shortcuts (shown in the
// buttons' hints), a movie dropped on the window opens, and the folders last used and the step
// unit are kept between runs, and so are whether captures are saved at the display size and
// whether positions are exact, and the window's size and place. Nothing else is remembered.
#include "capture/UFramora.h"

#include <QObject>
#include <QRect>
#include <QSettings>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QAction;
class QMimeData;
class QProgressDialog;
class TOrphanedScenes;
class TSceneRecovery;
struct TRecoveredScene;

// The capture window as the program shows it: the form with its desktop layer attached.
std::unique_ptr<TfrmFramora> NewFramoraWindow();

// Scenes kept by earlier runs that ended without saving them (a crash, a kill): asks whether to
// put them back into form's scene list (yes) or delete them (no). Scenes that no longer fit into
// the list stay kept for a later start. They are read on a thread of their own and appear one
// by one; the old files go once this run keeps the scenes itself.
void OfferRecoveredScenes(TfrmFramora& form);

// The movie a drop offers: the first of its URLs when that names an existing local file. Several
// files open the first; a web address, a folder or text offer nothing.
std::optional<QString> DroppedMovie(const QMimeData* data);

// The settings kept between runs, in the user's configuration folder.
class TFramoraSettings {
public:
    TFramoraSettings();

    QString OpenFolder() const;
    void SetOpenFolder(const QString& folder);
    QString SaveFolder() const;
    void SetSaveFolder(const QString& folder);
    // The step in milliseconds; none when nothing was kept.
    std::optional<std::int32_t> StepUnitMs() const;
    void SetStepUnitMs(std::int32_t ms);
    // How far either way the sharpest still is looked for; none when nothing was kept.
    std::optional<std::int32_t> SharpestRangeMs() const;
    void SetSharpestRangeMs(std::int32_t ms);
    // A setting that is on or off, kept under key; byDefault when nothing was kept.
    bool Checked(const QString& key, bool byDefault) const;
    void SetChecked(const QString& key, bool on);
    // The picture settings: deinterlacing (自動 when nothing was kept) and tone mapping (on).
    TDeinterlace Deinterlace() const;
    void SetDeinterlace(TDeinterlace mode);
    bool ToneMapping() const;
    void SetToneMapping(bool on);
    // The window's place and size (its inside, as QWidget::geometry gives it; when maximized,
    // what it comes back to), and whether it was maximized; an empty rectangle when none was kept.
    QRect WindowGeometry() const;
    bool WindowMaximized() const;
    void SetWindowGeometry(const QRect& geometry, bool maximized);

private:
    QSettings FSettings;
};

class TFramoraDesktop : public QObject {
    Q_OBJECT
public:
    // Sets up form, whose creation has finished, and follows its openings and saves; owned by it.
    explicit TFramoraDesktop(TfrmFramora& form);
    ~TFramoraDesktop() override;

    // The form opened the movie at path (by dialog, drop or command line).
    void MovieOpened(const QString& path);
    // The form saved scenes as file (the first of them); the next run proposes its folder.
    void ScenesSaved(const QString& file);
    void OfferRecoveredScenes();
    // Whether kept scenes are still being put back; a stop between scenes (those not yet read
    // stay on disk as they were); a wait for the end that keeps the event loop running (tests).
    bool RestoreRunning() const { return FRestore != nullptr; }
    void CancelRestore();
    void WaitForRestore();
    // Where this run keeps its scenes until they are saved.
    TSceneRecovery& Recovery() { return *FRecovery; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateShortcuts();
    void RestoreSettings();
    void RestoreWindowGeometry();
    // How many scenes orphans hold and when they were captured, for the question that offers them.
    static QString RestoreDetails(const TOrphanedScenes& orphans);
    void CopyToClipboard();
    void PutOnClipboard(const QImage& image);
    // The window's check item follows the setting kept under key, and keeps its changes.
    void KeepChecked(QAction* item, const QString& key, bool byDefault);
    void FollowSceneList();
    struct TRestore;
    void StartRestore(std::shared_ptr<TOrphanedScenes> orphans);
    void SceneRead(std::size_t planned, const QString& file, const std::optional<TRecoveredScene>& scene);
    std::unique_ptr<QProgressDialog> NewRestoreProgress(int total);
    void RestoreEnded();

    TfrmFramora& FForm;
    TFramoraSettings FSettings;
    QAction* FOpen = nullptr;
    QAction* FCopy = nullptr;
    std::unique_ptr<TSceneRecovery> FRecovery;
    std::unique_ptr<TRestore> FRestore; // the restore in progress; null when none
};
