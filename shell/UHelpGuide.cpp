// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/UHelpGuide.h"

#include <QDir>
#include <QFileInfo>

namespace {
const QString InstalledGuideFolder = QStringLiteral("../share/doc/framora/guide");
const QString BuildGuideFolder = QStringLiteral("guide");
const QString GuidePageName = QStringLiteral("index.html");

QString PageIn(const QString& folder, TUiLanguage language)
{
    return QDir::cleanPath(folder + QLatin1Char('/') + UiLanguageCode(language) + QLatin1Char('/') + GuidePageName);
}
} // namespace

QStringList GuideFolders(const QString& programFolder)
{
    const QDir program(programFolder);
    return {QDir::cleanPath(program.absoluteFilePath(InstalledGuideFolder)),
            QDir::cleanPath(program.absoluteFilePath(BuildGuideFolder))};
}

QString GuidePage(const QStringList& folders, TUiLanguage language)
{
    for (const QString& folder : folders) {
        const QString page = PageIn(folder, language);
        if (QFileInfo(page).isFile())
            return page;
    }
    return folders.isEmpty() ? QString() : PageIn(folders.front(), language);
}
