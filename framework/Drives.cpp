// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/Drives.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

const QString MountInfoPath = QStringLiteral("/proc/self/mountinfo");
const QString BlockDeviceClass = QStringLiteral("/sys/class/block");
const QString OpticalDeviceName = QStringLiteral("sr");
const QString DeviceFolder = QStringLiteral("/dev/");
const QString OpticalDevicePrefix = DeviceFolder + OpticalDeviceName;
const QStringList DiscFileSystems{QStringLiteral("iso9660"), QStringLiteral("udf")};
// Fields of a mountinfo line before the " - " separator: id, parent, major:minor, root, mount
// point, options, then optional fields.
constexpr int MountPointField = 4;

std::function<QByteArray()>& MountTableReader()
{
    static std::function<QByteArray()> reader;
    return reader;
}

std::function<QStringList()>& OpticalDeviceReader()
{
    static std::function<QStringList()> reader;
    return reader;
}

QByteArray ReadMountTable()
{
    if (MountTableReader())
        return MountTableReader()();
    QFile file(MountInfoPath);
    // A proc file reports size 0, so it is read to its end rather than by its size.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool IsOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

// The kernel writes blanks, tabs, new lines and backslashes in names as a backslash and three
// octal digits; anything else stands as it is.
QString DecodeMountField(const QByteArray& field)
{
    QByteArray decoded;
    decoded.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctalDigit(field[i + 1]) && IsOctalDigit(field[i + 2]) &&
            IsOctalDigit(field[i + 3])) {
            decoded.append(static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                             (field[i + 3] - '0')));
            i += 3;
        } else {
            decoded.append(field[i]);
        }
    }
    return QFile::decodeName(decoded);
}

} // namespace

QList<TMountEntry> ParseMountInfo(const QByteArray& table)
{
    QList<TMountEntry> entries;
    for (const QByteArray& line : table.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf(QByteArrayLiteral("-"));
        // After the separator: file system type, mount source, super options.
        if (separator <= MountPointField || separator + 2 >= fields.size())
            continue;
        entries.append({DecodeMountField(fields[MountPointField]), DecodeMountField(fields[separator + 1]),
                        DecodeMountField(fields[separator + 2])});
    }
    return entries;
}

bool IsOpticalDrive(const TMountEntry& entry)
{
    return entry.Device.startsWith(OpticalDevicePrefix) || DiscFileSystems.contains(entry.FileSystemType);
}

QStringList OpticalDevices()
{
    if (OpticalDeviceReader())
        return OpticalDeviceReader()();
    QStringList names = QDir(BlockDeviceClass).entryList({OpticalDeviceName + QLatin1Char('*')}, QDir::AllEntries | QDir::System);
    // sr10 comes after sr9: the shorter number is the smaller one.
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    QStringList devices;
    for (const QString& name : names)
        devices.append(DeviceFolder + name);
    return devices;
}

QList<TOpticalDrive> OpticalDrives()
{
    const QList<TMountEntry> mounted = ParseMountInfo(ReadMountTable());
    QList<TOpticalDrive> drives;
    const auto add = [&drives](const QString& name, const QString& device) {
        if (std::none_of(drives.begin(), drives.end(), [&name](const TOpticalDrive& d) { return d.Name == name; }))
            drives.append({name, device});
    };
    for (const QString& device : OpticalDevices()) {
        const auto disc = std::find_if(mounted.begin(), mounted.end(),
                                       [&device](const TMountEntry& entry) { return entry.Device == device; });
        add(disc != mounted.end() ? disc->MountPoint : device, device);
    }
    for (const TMountEntry& entry : mounted)
        if (IsOpticalDrive(entry))
            add(entry.MountPoint, entry.Device);
    return drives;
}

void SetMountTableReader(std::function<QByteArray()> reader)
{
    MountTableReader() = std::move(reader);
}

void SetOpticalDeviceReader(std::function<QStringList()> reader)
{
    OpticalDeviceReader() = std::move(reader);
}

QString FindEntryIgnoringCase(const QString& folder, const QString& name)
{
    const QDir dir(folder);
    if (dir.exists(name))
        return name;
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries)
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    return {};
}
