// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/QtMessageLog.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>

namespace {

std::string Program;
bool Verbose = false;

void MessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (!Verbose && type != QtCriticalMsg && type != QtFatalMsg)
        return;
    std::fprintf(stderr, "%s: %s\n", Program.c_str(), message.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

void InstallQtMessageLog(const std::string& program, bool verbose)
{
    Program = program;
    Verbose = verbose;
    qInstallMessageHandler(MessageHandler);
}
