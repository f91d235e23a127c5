#include "framework/Drives.h"

#include <QDir>
#include <QFile>

namespace {

const QString MountInfoPath = QStringLiteral("/proc/self/mountinfo");
const QString OpticalDevicePrefix = QStringLiteral("/dev/sr");
const QStringList DiscFileSystems{QStringLiteral("iso9660"), QStringLiteral("udf")};
// Fields of a mountinfo line before the " - " separator: id, parent, major:minor, root, mount
// point, options, then optional fields.
constexpr int MountPointField = 4;

std::function<QByteArray()>& MountTableReader()
{
    static std::function<QByteArray()> reader;
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

QStringList OpticalDrives()
{
    QStringList drives;
    for (const TMountEntry& entry : ParseMountInfo(ReadMountTable()))
        if (IsOpticalDrive(entry) && !drives.contains(entry.MountPoint))
            drives.append(entry.MountPoint);
    return drives;
}

void SetMountTableReader(std::function<QByteArray()> reader)
{
    MountTableReader() = std::move(reader);
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
