// SPDX-License-Identifier: GPL-3.0-or-later
// The mount table as the drive list reads it, and names found on a disc without regard to case.
#include "framework/Drives.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QByteArray Table = QByteArrayLiteral(
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "40 22 11:0 / /media/user/MY\\040DISC ro,nosuid shared:20 - udf /dev/sr0 ro,utf8\n"
    "41 22 7:3 / /mnt/image ro - iso9660 /dev/loop3 ro\n"
    "42 22 11:1 / /media/cd\\134two ro - auto /dev/sr1 ro\n"
    "43 22 0:50 / /tmp rw - tmpfs tmpfs rw\n"
    "garbage line without a separator\n"
    "44 22 11:1 / - iso9660\n");

TEST(Drives, MountInfoFieldsAreDecodedAndMalformedLinesSkipped)
{
    const QList<TMountEntry> entries = ParseMountInfo(Table);
    ASSERT_EQ(entries.size(), 5);
    EXPECT_EQ(entries[1].MountPoint, QStringLiteral("/media/user/MY DISC"));
    EXPECT_EQ(entries[1].FileSystemType, QStringLiteral("udf"));
    EXPECT_EQ(entries[1].Device, QStringLiteral("/dev/sr0"));
    EXPECT_EQ(entries[3].MountPoint, QStringLiteral("/media/cd\\two"));
    // A backslash not followed by three octal digits stands as it is.
    EXPECT_EQ(ParseMountInfo("1 2 3:4 / /a\\08x rw - ext4 /dev/x rw").value(0).MountPoint, QStringLiteral("/a\\08x"));
}

TEST(Drives, OpticalDrivesAreDiscDevicesAndDiscFileSystemsInTableOrder)
{
    SetOpticalDeviceReader([] { return QStringList(); });
    SetMountTableReader([] { return Table + Table; });
    const auto names = [] {
        QStringList names;
        for (const TOpticalDrive& drive : OpticalDrives())
            names.append(drive.Name);
        return names;
    };
    EXPECT_EQ(names(), (QStringList{QStringLiteral("/media/user/MY DISC"), QStringLiteral("/mnt/image"),
                                    QStringLiteral("/media/cd\\two")}));

    // Every drive the kernel lists comes first, by its mount point while its disc is mounted and
    // by its device file while it holds none, so an empty drive can be chosen and searched.
    SetOpticalDeviceReader([] { return QStringList{"/dev/sr0", "/dev/sr1", "/dev/sr2"}; });
    EXPECT_EQ(names(), (QStringList{QStringLiteral("/media/user/MY DISC"), QStringLiteral("/media/cd\\two"),
                                    QStringLiteral("/dev/sr2"), QStringLiteral("/mnt/image")}));
    EXPECT_EQ(OpticalDrives().value(2).Device, QStringLiteral("/dev/sr2"));
    EXPECT_EQ(OpticalDrives().value(3).Device, QStringLiteral("/dev/loop3"));
    SetMountTableReader({});
    SetOpticalDeviceReader({});
}

TEST(Drives, EntriesAreFoundWithoutRegardToCase)
{
    QTemporaryDir disc;
    ASSERT_TRUE(QDir(disc.path()).mkdir(QStringLiteral("VIDEO_TS")));
    EXPECT_EQ(FindEntryIgnoringCase(disc.path(), QStringLiteral("video_ts")), QStringLiteral("VIDEO_TS"));
    EXPECT_EQ(FindEntryIgnoringCase(disc.path(), QStringLiteral("VIDEO_TS")), QStringLiteral("VIDEO_TS"));
    EXPECT_TRUE(FindEntryIgnoringCase(disc.path(), QStringLiteral("audio_ts")).isEmpty());
    EXPECT_TRUE(FindEntryIgnoringCase(disc.path() + QStringLiteral("/missing"), QStringLiteral("video_ts")).isEmpty());
}

} // namespace
