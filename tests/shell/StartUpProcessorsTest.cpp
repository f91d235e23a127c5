// SPDX-License-Identifier: GPL-3.0-or-later
// The program's start-up leaves every thread free to run on each processor the process was
// allowed: decoding spreads over all of them, so nothing may pin the process to one.
#include "fixtures/TestMovies.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <sched.h>

namespace {

constexpr int ProgramTimeoutMs = 30000;
// Written once the window is up and the movie named on the command line has been opened.
const QByteArray LayoutReportedLine = QByteArrayLiteral("framora: layout reported");

bool SameProcessors(const cpu_set_t& a, const cpu_set_t& b)
{
    return CPU_EQUAL(&a, &b);
}

// The threads of process pid whose processors differ from allowed, as "tid (count)" texts.
QStringList ThreadsNotAllowedEverywhere(qint64 pid, const cpu_set_t& allowed)
{
    QStringList differing;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& entry : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        cpu_set_t set;
        CPU_ZERO(&set);
        if (sched_getaffinity(entry.toInt(), sizeof(set), &set) != 0)
            continue; // the thread has ended since the folder was read
        if (!SameProcessors(set, allowed))
            differing << QStringLiteral("%1 (%2 processors)").arg(entry).arg(CPU_COUNT(&set));
    }
    return differing;
}

} // namespace

TEST(StartUp, EveryThreadMayRunOnEveryProcessorTheProcessWasAllowed)
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof(allowed), &allowed), 0);
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("FRAMORA_LOCK_DIR"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    environment.insert(QStringLiteral("FRAMORA_ANSWER_BOXES"), QStringLiteral("1"));
    environment.insert(QStringLiteral("FRAMORA_REPORT_LAYOUT"), QStringLiteral("1"));
    environment.remove(QStringLiteral("FRAMORA_GRAB"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setReadChannel(QProcess::StandardError);
    program.start(QStringLiteral(FRAMORA_BINARY_DIR "/framora"),
                  {QStringLiteral(FRAMORA_FIXTURE_DIR "/") + QString::fromUtf8(TestMovies::Sample)});
    QByteArray output;
    while (!output.contains(LayoutReportedLine) && program.waitForReadyRead(ProgramTimeoutMs))
        output += program.readAllStandardError();
    ASSERT_TRUE(output.contains(LayoutReportedLine)) << output.constData();

    // The window, Qt's own threads and the decoder's threads are all running by now.
    EXPECT_EQ(ThreadsNotAllowedEverywhere(program.processId(), allowed).join(QStringLiteral(", ")),
              QString());

    program.kill();
    program.waitForFinished(ProgramTimeoutMs);
}
