// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/UHeartbeat.h"

#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <cstdio>

namespace Heartbeat {

int IntervalMs(const QString& setting)
{
    bool valid = false;
    const int ms = setting.trimmed().toInt(&valid);
    return valid ? std::clamp(ms, MinIntervalMs, MaxIntervalMs) : DefaultIntervalMs;
}

QByteArray FileText(qint64 nowMs, qint64 longestAbsenceMs)
{
    return QByteArray::number(nowMs) + ' ' + QByteArray::number(longestAbsenceMs) + '\n';
}

} // namespace Heartbeat

THeartbeat::THeartbeat(QString file, int intervalMs, QObject* parent)
    : QObject(parent)
    , FFile(std::move(file))
    , FIntervalMs(intervalMs)
{
    // A coarse timer may fire up to 5 % late on its own, which would read as absence.
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, [this] { Beat(FClock.elapsed()); });
    FClock.start();
    FTimer.start(FIntervalMs);
}

void THeartbeat::Beat(qint64 elapsedMs)
{
    const qint64 absence = std::max<qint64>(0, elapsedMs - FLastBeatMs - FIntervalMs);
    FLastBeatMs = elapsedMs;
    FLongest = std::max(FLongest, absence);
    // Written whole under another name and renamed over the file, so a reader never sees half a
    // line; not synced to disk, which would cost the thread more than the beat measures.
    const QString written = FFile + QStringLiteral(".beat");
    QFile heart(written);
    if (!heart.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    // A script removed the file to measure from here (this beat's gap began before that). Looked
    // at just before the rename, so that a removal is hardly ever lost to this beat's write.
    if (FWritten && !QFile::exists(FFile))
        FLongestInFile = 0;
    else
        FLongestInFile = std::max(FLongestInFile, absence);
    heart.write(Heartbeat::FileText(QDateTime::currentMSecsSinceEpoch(), FLongestInFile));
    heart.close();
    FWritten = std::rename(QFile::encodeName(written).constData(), QFile::encodeName(FFile).constData()) == 0;
}
