// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/UExecuteCheck.h"

#include "framework/TestChildProcess.h"
#include "shell/LockFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString ChildGuardName = QStringLiteral("child-guard-test");
constexpr int ChildSaysRunning = 3;
constexpr int ChildSaysFirst = 4;
} // namespace

// Takes the guard, says so on stdout, and keeps it until killed.
FRAMORA_CHILD_SCENARIO(HoldGuard)
{
    if (IsAlreadyRunning(ChildGuardName))
        return 1;
    std::printf("held\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}

// Asks the guard once, as a starting instance would, and answers through the exit code.
FRAMORA_CHILD_SCENARIO(AskGuard)
{
    return IsAlreadyRunning(ChildGuardName) ? ChildSaysRunning : ChildSaysFirst;
}

TEST(GuardLockName, GlobalPrefixOnlyOnNTMajorVersionFive)
{
    struct TCase {
        TPlatformFamily Family;
        int Major;
        QString Expected;
    };
    const TCase cases[] = {
        {TPlatformFamily::NT, 5, QStringLiteral("Global\\5C1E0A47-93B2-4D6F-8A1E-2B7C9D0E4F36")},
        {TPlatformFamily::NT, 4, QStringLiteral("5C1E0A47-93B2-4D6F-8A1E-2B7C9D0E4F36")},
        {TPlatformFamily::NT, 6, QStringLiteral("5C1E0A47-93B2-4D6F-8A1E-2B7C9D0E4F36")},
        {TPlatformFamily::NT, 10, QStringLiteral("5C1E0A47-93B2-4D6F-8A1E-2B7C9D0E4F36")},
        {TPlatformFamily::Win9x, 5, QStringLiteral("5C1E0A47-93B2-4D6F-8A1E-2B7C9D0E4F36")},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(GuardLockName(FramoraGuardName, c.Family, c.Major), c.Expected) << c.Major;
}

TEST_F(TLockFolder, LockDirectoryPrefersTheOverrideThenTheRuntimeFolderThenAPrivateOne)
{
    EXPECT_EQ(GuardLockDirectory(), folder.path());
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray temp = qgetenv("TMPDIR");
    QTemporaryDir runtimeFolder;
    qunsetenv("FRAMORA_LOCK_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeFolder.path()));
    EXPECT_EQ(GuardLockDirectory(), runtimeFolder.path());

    // Without a runtime folder: the user's own folder in the shared one, never the shared one.
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(runtimeFolder.path()));
    const QString own = runtimeFolder.filePath(QStringLiteral("framora-%1").arg(::getuid()));
    EXPECT_EQ(GuardLockDirectory(), own);
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(own).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_TRUE(TExecuteBlocker(QStringLiteral("private")).Acquired());
    // A folder under that name that others may enter is not used, and starting is not refused.
    ASSERT_EQ(::chmod(QFile::encodeName(own).constData(), 0755), 0);
    EXPECT_EQ(GuardLockDirectory(), QString());
    const TExecuteBlocker unguarded(QStringLiteral("private"));
    EXPECT_FALSE(unguarded.Acquired());
    EXPECT_FALSE(unguarded.HeldElsewhere());
    EXPECT_FALSE(IsAlreadyRunning(QStringLiteral("private")));

    qputenv("TMPDIR", temp);
    if (temp.isEmpty())
        qunsetenv("TMPDIR");
    if (!runtime.isEmpty())
        qputenv("XDG_RUNTIME_DIR", runtime);

    qputenv("FRAMORA_LOCK_DIR", QFile::encodeName(folder.path()));
    const TExecuteBlocker global(QStringLiteral("g"), TPlatformFamily::NT, 5);
    EXPECT_EQ(global.LockPath(), QDir(folder.path()).filePath(QStringLiteral("Global\\g.lock")));
    const TExecuteBlocker slashed(QStringLiteral("a/b"));
    EXPECT_EQ(slashed.LockPath(), QDir(folder.path()).filePath(QStringLiteral("a_b.lock")));
}

TEST_F(TLockFolder, OneOwnerAtATimeAndCloseGuardReleases)
{
    TExecuteBlocker first(QStringLiteral("owner"));
    ASSERT_TRUE(first.Acquired());
    {
        TExecuteBlocker second(QStringLiteral("owner"));
        EXPECT_FALSE(second.Acquired());
        EXPECT_TRUE(second.HeldElsewhere());
        TExecuteBlocker otherName(QStringLiteral("other"));
        EXPECT_TRUE(otherName.Acquired());
    }
    first.CloseGuard();
    first.CloseGuard();
    EXPECT_FALSE(first.Acquired());
    {
        TExecuteBlocker third(QStringLiteral("owner"));
        EXPECT_TRUE(third.Acquired());
    } // released by the destructor
    EXPECT_TRUE(TExecuteBlocker(QStringLiteral("owner")).Acquired());
}

TEST_F(TLockFolder, ALockFileThatCannotBeOpenedIsNotAnotherInstance)
{
    // A link planted under the lock's name is never followed.
    ASSERT_TRUE(QFile::link(folder.filePath(QStringLiteral("elsewhere")), folder.filePath(QStringLiteral("planted.lock"))));
    const TExecuteBlocker planted(QStringLiteral("planted"));
    EXPECT_FALSE(planted.Acquired());
    EXPECT_FALSE(planted.HeldElsewhere());
    EXPECT_FALSE(QFile::exists(folder.filePath(QStringLiteral("elsewhere"))));
    EXPECT_FALSE(IsAlreadyRunning(QStringLiteral("planted")));
}

TEST_F(TLockFolder, IsAlreadyRunningKeepsTheGuardForTheProcess)
{
    const QString name = QStringLiteral("kept-guard");
    const int held = HeldGuardCount();
    EXPECT_FALSE(IsAlreadyRunning(name));
    EXPECT_EQ(HeldGuardCount(), held + 1);
    EXPECT_FALSE(TExecuteBlocker(name).Acquired()) << "the guard is still held";
    EXPECT_TRUE(IsAlreadyRunning(name)) << "asking again is a second holder";
    EXPECT_EQ(HeldGuardCount(), held + 1);
}

TEST_F(TLockFolder, SecondProcessSeesTheGuardUntilTheFirstIsKilled)
{
    QProcess holder;
    StartChildScenario(holder, "HoldGuard");
    ASSERT_TRUE(holder.waitForReadyRead(30000)) << holder.readAllStandardError().constData();
    ASSERT_EQ(holder.readLine().trimmed(), QByteArray("held"));

    EXPECT_FALSE(TExecuteBlocker(ChildGuardName).Acquired());
    const TChildResult second = RunChildScenario("AskGuard");
    EXPECT_EQ(second.ExitCode, ChildSaysRunning) << second.Output.constData();

    holder.kill(); // SIGKILL: no clean-up code runs in the holder
    ASSERT_TRUE(holder.waitForFinished(30000));
    EXPECT_EQ(holder.exitStatus(), QProcess::CrashExit);

    const TChildResult next = RunChildScenario("AskGuard");
    EXPECT_EQ(next.ExitCode, ChildSaysFirst) << next.Output.constData();
    EXPECT_TRUE(TExecuteBlocker(ChildGuardName).Acquired());
}
