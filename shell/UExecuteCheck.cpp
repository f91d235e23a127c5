#include "shell/UExecuteCheck.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <vector>

namespace {
// Plain literals: the guard may be asked while static objects are still being built.
constexpr QLatin1String GlobalPrefix("Global\\");
constexpr QLatin1String LockFileSuffix(".lock");
constexpr int NTFamilyGlobalMajorVersion = 5;

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
    return QDir::tempPath();
}

TExecuteBlocker::TExecuteBlocker(const QString& name)
    : TExecuteBlocker(name, PlatformFamily(), PlatformMajorVersion)
{
}

TExecuteBlocker::TExecuteBlocker(const QString& name, TPlatformFamily family, int majorVersion)
    : FLockPath(QDir(GuardLockDirectory()).filePath(LockFileName(GuardLockName(name, family, majorVersion))))
{
    // Read-only is enough to lock, and lets another user's lock file in a shared temp folder
    // still count; never follow a link planted under the lock's name.
    FHandle = ::open(QFile::encodeName(FLockPath).constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (FHandle < 0)
        return;
    if (::flock(FHandle, LOCK_EX | LOCK_NB) != 0)
        CloseGuard(); // held elsewhere, or the lock failed: either way not ours
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
    if (!blocker->Acquired())
        blocker.reset();
    if (blocker)
        HeldGuards().push_back(blocker);
    return !blocker;
}

int HeldGuardCount()
{
    return static_cast<int>(HeldGuards().size());
}
