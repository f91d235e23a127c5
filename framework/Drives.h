#pragma once
// The machine's optical drives as the mount table tells them: a drive is a mounted file system
// whose device is an optical drive (/dev/sr*) or whose type is one that discs carry (iso9660,
// udf), so a mounted disc image counts too. The drive's name is its mount point.
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

// The mount points of the optical drives, in mount-table order, each listed once.
QStringList OpticalDrives();

// Replaces where the mount table is read from (tests); an empty reader goes back to
// /proc/self/mountinfo.
void SetMountTableReader(std::function<QByteArray()> reader);

// The entry of folder whose name equals name without regard to case (an exact match first);
// empty when there is none. Disc file systems may report names in either case.
QString FindEntryIgnoringCase(const QString& folder, const QString& name);
