// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Scenes kept on disk until they are saved, so that a crash, a kill or a power cut loses none.
// Each running program keeps its scenes in a folder of its own under the recovery root
// ($XDG_STATE_HOME/framora, private to the user) and holds a lock on that folder while it runs;
// the kernel drops the lock however the program ends. A folder whose lock nobody holds belongs
// to a program that is gone, and its scenes can be taken back.
#include "imagestore/UImageFile.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

struct TRecoveredScene {
    QImage Picture; // 24-bit, as the scene was stored
    TProvenance Origin;
};

// Largest picture a kept scene may hold (an 8K picture); a file that claims more is damaged.
inline constexpr std::int64_t MaxRecoveredScenePixels = 7680LL * 4320LL;

// The bytes of one kept scene: a header of named values, then the picture as PNG (lossless).
QByteArray EncodeRecoveredScene(const QImage& picture, const TProvenance& origin);
// The scene those bytes hold; none, with the reason in error, when they are not a whole scene.
std::optional<TRecoveredScene> DecodeRecoveredScene(const QByteArray& bytes, QString& error);

// $XDG_STATE_HOME/framora, else ~/.local/state/framora.
QString RecoveryRoot();

// The folders under root left by programs that are gone, oldest first, each locked while this
// object lives so that no other starting program takes the same scenes. Such folders without a
// scene file are removed on the way. The const members may be called from any thread.
class TOrphanedScenes {
public:
    explicit TOrphanedScenes(const QString& root);
    ~TOrphanedScenes();
    TOrphanedScenes(const TOrphanedScenes&) = delete;
    TOrphanedScenes& operator=(const TOrphanedScenes&) = delete;

    std::size_t FolderCount() const { return FFolders.size(); }
    // How many scene files folder i holds, damaged ones included.
    std::size_t SceneFileCount(std::size_t i) const;
    // When the scenes of folder i were kept (each file's time), in the order of capture.
    QList<QDateTime> SceneFileTimes(std::size_t i) const;
    // The scenes of folder i in the order they were captured; a damaged file is skipped with
    // one line in the log.
    std::vector<TRecoveredScene> Read(std::size_t i) const;
    // The names of folder i's scene files in the order they were captured, and the scene one
    // of them holds (none, with one line in the log, when it is damaged): a restore that reads
    // them one at a time can stop between any two.
    QStringList SceneFileNames(std::size_t i) const;
    std::optional<TRecoveredScene> ReadScene(std::size_t i, const QString& file) const;
    // Deletes folder i with everything in it.
    void Remove(std::size_t i);
    // Deletes those scene files of folder i; the others stay for a later start.
    void RemoveScenes(std::size_t i, const QStringList& files);

private:
    struct TFolder;
    std::vector<std::unique_ptr<TFolder>> FFolders;
};

// The scene list of this program as files: every change is handed to a thread of its own, so
// the window never waits for the disk. The folder is made with the first scene; it goes when
// this object goes (the program ended normally), unless Abandon was called.
class TSceneRecovery {
public:
    explicit TSceneRecovery(QString root = RecoveryRoot());
    ~TSceneRecovery();
    TSceneRecovery(const TSceneRecovery&) = delete;
    TSceneRecovery& operator=(const TSceneRecovery&) = delete;

    // A scene appended at the end of the list.
    void Added(const QImage& picture, const TProvenance& origin);
    // The scene at index left the list; the later ones move down.
    void Removed(int index);
    // Every scene left the list.
    void Cleared();
    // Every scene of the list is safely saved: no file is needed for any of them any more.
    void Saved();
    // Waits until everything handed over so far is on disk.
    void Flush();
    // Waits as Flush, then tells whether every scene of the list not yet saved has its file: a
    // full or unwritable state folder leaves some without one.
    bool KeepsEveryScene();
    // The same answer without waiting: then is called on the writing thread once everything
    // handed over so far is on disk, at the latest as this object goes or is abandoned.
    void WhenKept(std::function<void(bool everyScene)> then);
    // This program's folder; empty before the first scene was written.
    QString Folder() const;
    // Stops writing and leaves the folder behind as a crash would (tests stand for one with it).
    void Abandon();

private:
    struct TWorker;
    std::unique_ptr<TWorker> FWorker;
    static constexpr std::uint64_t NoFile = 0;
    std::vector<std::uint64_t> FIds; // file number of each scene (NoFile: saved), in list order; owner's thread only
    std::uint64_t FNextId = 0;
};
