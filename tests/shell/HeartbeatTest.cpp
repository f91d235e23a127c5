// SPDX-License-Identifier: GPL-3.0-or-later
// The heartbeat scripts measure the window thread with: its interval setting, and the absences
// it writes, counted afresh once a script removes the file.
#include "shell/UHeartbeat.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(Heartbeat, IntervalSetting)
{
    const struct {
        const char* Setting;
        int Ms;
    } cases[] = {
        {"", Heartbeat::DefaultIntervalMs},
        {"twenty", Heartbeat::DefaultIntervalMs},
        {"20", 20},
        {" 250 ", 250},
        {"0", Heartbeat::MinIntervalMs},
        {"-5", Heartbeat::MinIntervalMs},
        {"999999", Heartbeat::MaxIntervalMs},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Heartbeat::IntervalMs(QString::fromLatin1(c.Setting)), c.Ms) << c.Setting;
}

TEST(Heartbeat, WritesTheLongestAbsenceSinceItsFileWasMade)
{
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("heart"));
    constexpr int Interval = 20;
    THeartbeat heart(file, Interval);
    const auto written = [&] {
        QFile read(file);
        EXPECT_TRUE(read.open(QIODevice::ReadOnly));
        const QList<QByteArray> fields = read.readAll().trimmed().split(' ');
        EXPECT_EQ(fields.size(), 2);
        EXPECT_GT(fields.value(0).toLongLong(), 0); // ms since the epoch
        return fields.value(1).toLongLong();
    };
    // Beats on time, then one 300 ms late, then on time again.
    heart.Beat(20);
    heart.Beat(40);
    EXPECT_EQ(written(), 0);
    heart.Beat(360);
    heart.Beat(380);
    EXPECT_EQ(written(), 300);
    // A script removes the file to measure from here: the gap running then does not count.
    QFile::remove(file);
    heart.Beat(900);
    EXPECT_EQ(written(), 0);
    heart.Beat(1000);
    EXPECT_EQ(written(), 80);
    // The whole run's figure keeps the longest.
    EXPECT_EQ(heart.LongestAbsenceMs(), 500);
    EXPECT_EQ(heart.LongestSinceFileMadeMs(), 80);
}

} // namespace
