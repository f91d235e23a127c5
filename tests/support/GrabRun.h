// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// framora-grab run as a program, for the tests of the decoder and of the tools.
#include <QProcess>
#include <QString>
#include <QStringList>

struct TGrabRun {
    int ExitCode = -1; // -1: it crashed or did not end within a minute
    QStringList Out;   // the lines of stdout
    QString Err;       // stderr as written

    QStringList ErrLines() const { return Err.split('\n', Qt::SkipEmptyParts); }
};

inline TGrabRun Grab(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(FRAMORA_BINARY_DIR "/grab/framora-grab"), arguments);
    TGrabRun run;
    if (!process.waitForFinished(60000))
        return run;
    run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    run.Err = QString::fromUtf8(process.readAllStandardError());
    return run;
}
