// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The heartbeat scripts read to see the window thread at work: a file renewed at an interval by
// a timer of that thread, holding when it was renewed and how long the thread stayed away at
// most (the longest gap between two beats beyond the interval). A script measures a stretch of
// work by removing the file before it: the absence written after it counts from there.
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

namespace Heartbeat {

inline constexpr int DefaultIntervalMs = 500;
// Shorter beats would measure the file writes more than the thread; longer ones hide a hang.
inline constexpr int MinIntervalMs = 10;
inline constexpr int MaxIntervalMs = 10000;

// The interval a setting names: the default when it is empty or no number, else bounded.
int IntervalMs(const QString& setting);

// What the file holds: "<ms since the epoch> <longest absence since the file was made, ms>".
QByteArray FileText(qint64 nowMs, qint64 longestAbsenceMs);

} // namespace Heartbeat

class THeartbeat : public QObject {
public:
    // Beats into file every intervalMs from now on, on the thread of parent.
    THeartbeat(QString file, int intervalMs, QObject* parent = nullptr);

    // One beat at elapsedMs of the heartbeat's own clock (the timer passes its clock's time).
    void Beat(qint64 elapsedMs);
    // The longest absence since the heartbeat started, and since its file was last made.
    qint64 LongestAbsenceMs() const { return FLongest; }
    qint64 LongestSinceFileMadeMs() const { return FLongestInFile; }

private:
    QString FFile;
    int FIntervalMs;
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FLastBeatMs = 0;
    qint64 FLongest = 0;
    qint64 FLongestInFile = 0;
    // Whether the file was put in place since it was last found missing.
    bool FWritten = false;
};
