// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the user's guide is: one HTML page per interface language, installed under
// share/doc/framora/guide/ beside the program's bin/ folder, or copied into the build folder
// beside the program when it runs from there.
#include "shell/ULanguage.h"

#include <QString>
#include <QStringList>

// The guide's folders to look in for a program in `programFolder`, the installed one first.
QStringList GuideFolders(const QString& programFolder);

// The page in `language` of the first folder that has it; the installed folder's page when none
// does, so that a request for help can still say where the guide belongs.
QString GuidePage(const QStringList& folders, TUiLanguage language);
