// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Scenarios that must run in a process of their own (an application object of a different
// class, a lock held by another process, processor pinning) are played by the test binary itself:
// the test starts it again with FRAMORA_CHILD_SCENARIO naming the scenario, and that scenario's
// registration, made while static objects are built, runs it before main() and exits with its
// result. A scenario only uses function-local statics and headers included before it.
#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <cstdlib>
#include <cstring>
#include <functional>

inline constexpr const char* ChildScenarioVariable = "FRAMORA_CHILD_SCENARIO";

struct TChildScenario {
    TChildScenario(const char* name, int (*scenario)())
    {
        const char* wanted = std::getenv(ChildScenarioVariable);
        if (wanted && std::strcmp(wanted, name) == 0)
            std::exit(scenario());
    }
};

#define FRAMORA_CHILD_SCENARIO(name)                                  \
    static int ChildScenario_##name();                                \
    static const TChildScenario ChildScenarioRegistration_##name{#name, &ChildScenario_##name}; \
    static int ChildScenario_##name()

// Starts this binary again to play scenario; the caller waits, reads and kills as it needs.
inline void StartChildScenario(QProcess& process, const char* scenario,
                               const QProcessEnvironment& base = QProcessEnvironment::systemEnvironment())
{
    QProcessEnvironment environment = base;
    environment.insert(QString::fromLatin1(ChildScenarioVariable), QString::fromLatin1(scenario));
    process.setProcessEnvironment(environment);
    process.setProgram(QCoreApplication::applicationFilePath());
    process.start();
}

struct TChildResult {
    int ExitCode = -1;
    bool Crashed = true;
    QByteArray Output;
};

// Plays scenario to its end (at most 30 s) and answers how it ended and what it printed.
inline TChildResult RunChildScenario(const char* scenario,
                                     const QProcessEnvironment& base = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    StartChildScenario(process, scenario, base);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitCode(), process.exitStatus() != QProcess::NormalExit, process.readAll()};
}
