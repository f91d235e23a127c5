// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Qt's own messages on a command line: critical and fatal ones always, prefixed with the
// program's name; debug, info and warnings (environment notes such as a missing runtime folder)
// only when verbose.
#include <string>

void InstallQtMessageLog(const std::string& program, bool verbose);
