// SPDX-License-Identifier: GPL-3.0-or-later
// A written file survives a power cut once the write returns: its folder is synced after the
// rename. fsync is taken over for this binary to see what is synced, and when.
#include "imagestore/UImageFile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct TSyncedFolder {
    QString Path;
    QStringList Entries; // what the folder held when it was synced
};

std::mutex SyncMutex;
std::vector<TSyncedFolder> SyncedFolders; // protected by SyncMutex

} // namespace

// Every fsync of this test binary (the library's included) comes here and goes on to the kernel.
extern "C" int fsync(int fd)
{
    const QFileInfo target(QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd)));
    if (target.isDir()) {
        std::lock_guard lock(SyncMutex);
        SyncedFolders.push_back({target.absoluteFilePath(), QDir(target.absoluteFilePath()).entryList(QDir::Files | QDir::Hidden)});
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

TEST(ImageFileSync, TheFolderIsSyncedOnceTheNewNameIsInIt)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("shot001.png"));
    {
        std::lock_guard lock(SyncMutex);
        SyncedFolders.clear();
    }
    QString error;
    ASSERT_TRUE(WriteWholeFile(path, QByteArrayLiteral("picture bytes"), error)) << error.toStdString();
    std::lock_guard lock(SyncMutex);
    const QString canonical = QFileInfo(folder.path()).canonicalFilePath();
    const auto synced = std::find_if(SyncedFolders.begin(), SyncedFolders.end(),
                                     [&](const TSyncedFolder& f) { return f.Path == canonical; });
    ASSERT_NE(synced, SyncedFolders.end()) << "the folder was never synced";
    EXPECT_EQ(synced->Entries, QStringList{QStringLiteral("shot001.png")});
}
