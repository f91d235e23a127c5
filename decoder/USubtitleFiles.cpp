// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/USubtitleFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

namespace {

// The IFO file of title set NN is VTS_NN_0.IFO; its VOB files are VTS_NN_1.VOB and on.
constexpr int TitleSetPrefixLength = 7; // "VTS_NN_"

} // namespace

namespace SubtitleFiles {

std::string FileBeside(const std::string& movie)
{
    const QFileInfo file(QString::fromStdString(movie));
    const QString stem = file.dir().filePath(file.completeBaseName());
    for (const char* extension : BesideExtensions) {
        const QFileInfo candidate(stem + QString::fromLatin1(extension));
        if (candidate.isFile())
            return candidate.filePath().toStdString();
    }
    return {};
}

std::string IfoBeside(const std::string& vob)
{
    const QFileInfo file(QString::fromStdString(vob));
    const QString name = file.fileName();
    if (!name.startsWith(QLatin1String("VTS_"), Qt::CaseInsensitive) || name.size() < TitleSetPrefixLength
        || !name.endsWith(QLatin1String(".VOB"), Qt::CaseInsensitive))
        return {};
    const QString prefix = name.left(TitleSetPrefixLength);
    for (const QString& candidate : {prefix.toUpper() + QStringLiteral("0.IFO"), prefix.toLower() + QStringLiteral("0.ifo"),
                                     prefix + QStringLiteral("0.IFO"), prefix + QStringLiteral("0.ifo")}) {
        const QFileInfo ifo(file.dir().filePath(candidate));
        if (ifo.isFile())
            return ifo.filePath().toStdString();
    }
    return {};
}

} // namespace SubtitleFiles
