// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The single-instance guard: a system-wide exclusive lock under a name. Here it is an exclusive
// flock on a file named after the guard; the kernel frees it when the process ends however it
// ends, so a crashed instance never blocks the next start.
#include "framework/Platform.h"

#include <QCoreApplication>
#include <QString>

#include <memory>

// The instance name the capture window asks about.
inline const QString FramoraGuardName = QStringLiteral("5C1E0A47-93B2-4D6F-8A1E-2B7C9D0E4F36");

// What the second instance tells the user before it ends.
inline constexpr const char* AlreadyRunningContext = "TExecuteBlocker";
inline constexpr const char* AlreadyRunningMessage = QT_TRANSLATE_NOOP("TExecuteBlocker", "すでに実行中です。");

// The name the lock is taken under: "Global\" + name on NT major version 5 exactly (so the guard
// spans all sessions there), the bare name on every other version and family.
QString GuardLockName(const QString& name, TPlatformFamily family, int majorVersion);

// The platform version the guard name follows. This platform is not the NT 5 generation.
inline constexpr int PlatformMajorVersion = 6;

// Where the lock files live: $FRAMORA_LOCK_DIR when set (tests use their own), else
// $XDG_RUNTIME_DIR, else a folder of the user's own (mode 0700) in the temp folder, so the
// guard never spans users. Empty when that folder cannot be made or is not private.
QString GuardLockDirectory();

class TExecuteBlocker {
public:
    // Tries to become the first owner of the guard; Acquired() tells whether it did.
    explicit TExecuteBlocker(const QString& name);
    TExecuteBlocker(const QString& name, TPlatformFamily family, int majorVersion);
    ~TExecuteBlocker();
    TExecuteBlocker(const TExecuteBlocker&) = delete;
    TExecuteBlocker& operator=(const TExecuteBlocker&) = delete;

    bool Acquired() const { return FHandle >= 0; }
    // True when another holder has the lock; false when the lock file could not be opened or
    // locked for any other reason (then there is no guard at all).
    bool HeldElsewhere() const { return FHeldElsewhere; }
    // Releases the guard if held; harmless when called again.
    void CloseGuard();

    // The lock file's path (kept for diagnostics and tests); empty when there is no lock folder.
    const QString& LockPath() const { return FLockPath; }

private:
    QString FLockPath;
    int FHandle = -1; // the open, locked lock file; -1 when nothing is held
    bool FHeldElsewhere = false;
};

// True when another holder has the guard. When false, this process now holds it until it ends,
// unless the guard could not be taken at all.
bool IsAlreadyRunning(const QString& name);

// How many guards this process holds (the held-guards list).
int HeldGuardCount();
