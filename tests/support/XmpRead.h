// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The XMP of a picture file as exiv2's own command-line reader prints it, by key: what a person
// who runs `exiv2 -px FILE` sees.
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <map>

inline std::map<QString, QString> XmpOf(const QString& file)
{
    QProcess reader;
    reader.start(QStringLiteral("exiv2"), {QStringLiteral("-px"), file});
    reader.waitForFinished();
    // Key, type, count, value.
    static const QRegularExpression line(QStringLiteral("^(\\S+)\\s+\\S+\\s+\\d+\\s+(.*)$"));
    std::map<QString, QString> values;
    for (const QString& text : QString::fromUtf8(reader.readAllStandardOutput()).split('\n'))
        if (const QRegularExpressionMatch match = line.match(text); match.hasMatch())
            values[match.captured(1)] = match.captured(2);
    return values;
}
