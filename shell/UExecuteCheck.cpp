// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/UExecuteCheck.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {
// Plain literals: the guard may be asked while static objects are still being built.
constexpr QLatin1String GlobalPrefix("Global\\");
constexpr QLatin1String LockFileSuffix(".lock");
constexpr int NTFamilyGlobalMajorVersion = 5;
constexpr QLatin1String PrivateFolderPrefix("framora-");
constexpr mode_t PrivateFolderMode = 0700;

// Guards acquired by IsAlreadyRunning, kept until the process ends.
std::vector<std::shared_ptr<TExecuteBlocker>>& HeldGuards()
{
    static std::vector<std::shared_ptr<TExecuteBlocker>> guards;
    return guards;
}

QString LockFileName(const QString& lockName)
{
    QString fileName = lockName;
    fileName.replace(QLatin1Char('/'), QLatin1Char('_')); // a name never reaches into other folders
    return fileName + LockFileSuffix;
}

// The user's own folder for locks inside the shared temp folder, made on first use. A name
// that someone else took, or that is not a private folder of this user, gives no folder: a
// lock file there could be read, replaced or held by another user.
QString PrivateLockFolder()
{
    const QString folder = QDir(QDir::tempPath()).filePath(PrivateFolderPrefix + QString::number(::getuid()));
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), PrivateFolderMode) != 0 && errno != EEXIST)
        return {};
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::getuid()
        || (status.st_mode & 077) != 0)
        return {};
    return folder;
}
} // namespace

QString GuardLockName(const QString& name, TPlatformFamily family, int majorVersion)
{
    if (family == TPlatformFamily::NT && majorVersion == NTFamilyGlobalMajorVersion)
        return GlobalPrefix + name;
    return name;
}

QString GuardLockDirectory()
{
    for (const char* variable : {"FRAMORA_LOCK_DIR", "XDG_RUNTIME_DIR"}) {
        const QString directory = qEnvironmentVariable(variable);
        if (!directory.isEmpty() && QDir(directory).exists())
            return directory;
    }
    return PrivateLockFolder();
}

TExecuteBlocker::TExecuteBlocker(const QString& name)
    : TExecuteBlocker(name, PlatformFamily(), PlatformMajorVersion)
{
}

TExecuteBlocker::TExecuteBlocker(const QString& name, TPlatformFamily family, int majorVersion)
{
    const QString directory = GuardLockDirectory();
    if (directory.isEmpty())
        return; // no folder to lock in: no guard, and no other instance known either
    FLockPath = QDir(directory).filePath(LockFileName(GuardLockName(name, family, majorVersion)));
    // Read-only is enough to lock; never follow a link planted under the lock's name.
    FHandle = ::open(QFile::encodeName(FLockPath).constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (FHandle < 0)
        return;
    if (::flock(FHandle, LOCK_EX | LOCK_NB) != 0) {
        // Only a lock someone holds is another instance; any other failure leaves us unguarded.
        FHeldElsewhere = errno == EWOULDBLOCK;
        CloseGuard();
    }
}

TExecuteBlocker::~TExecuteBlocker()
{
    CloseGuard();
}

void TExecuteBlocker::CloseGuard()
{
    if (FHandle < 0)
        return;
    // The file stays: removing it would let a later start lock a fresh file while an earlier
    // holder still has the old one open.
    ::close(FHandle);
    FHandle = -1;
}

bool IsAlreadyRunning(const QString& name)
{
    auto blocker = std::make_shared<TExecuteBlocker>(name);
    const bool heldElsewhere = blocker->HeldElsewhere();
    if (!blocker->Acquired())
        blocker.reset();
    if (blocker)
        HeldGuards().push_back(blocker);
    // A guard that could not be taken for any other reason must not keep the program from
    // starting: it then runs unguarded.
    return heldElsewhere;
}

int HeldGuardCount()
{
    return static_cast<int>(HeldGuards().size());
}
