// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The machine's optical drives: every optical drive device the kernel lists (/sys/class/block/sr*),
// named by its mount point while a disc in it is mounted and by its device file otherwise, then
// every other mounted file system of a type that discs carry (iso9660, udf), so that a mounted
// disc image counts too.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

struct TMountEntry {
    QString MountPoint;
    QString FileSystemType;
    QString Device;
};

// The entries of a mount table in /proc/<pid>/mountinfo form, in table order. The escapes the
// kernel writes for blanks and backslashes in names ("\040", "\011", "\012", "\134") are decoded;
// malformed lines are skipped.
QList<TMountEntry> ParseMountInfo(const QByteArray& table);

bool IsOpticalDrive(const TMountEntry& entry);

// The optical drives' device files (/dev/sr0, /dev/sr1 ...) in number order.
QStringList OpticalDevices();

struct TOpticalDrive {
    QString Name;   // the mount point while a disc is mounted, else the device file
    QString Device; // stays the same while discs come and go
    bool operator==(const TOpticalDrive&) const = default;
};

// The optical drives: the drives first, in device order, then the other disc file systems in
// mount-table order; each name listed once. Read anew at each call, so that discs inserted or
// mounted since are seen.
QList<TOpticalDrive> OpticalDrives();

// Replace where the mount table and the optical devices are read from (tests); an empty reader
// goes back to /proc/self/mountinfo and /sys/class/block.
void SetMountTableReader(std::function<QByteArray()> reader);
void SetOpticalDeviceReader(std::function<QStringList()> reader);

// The entry of folder whose name equals name without regard to case (an exact match first);
// empty when there is none. Disc file systems may report names in either case.
QString FindEntryIgnoringCase(const QString& folder, const QString& name);
