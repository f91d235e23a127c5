// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/ULanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

namespace {

const QString JapaneseCode = QStringLiteral("ja");
const QString EnglishCode = QStringLiteral("en");
// Where the build puts the program's compiled translations among its resources.
const QString ProgramTranslationPrefix = QStringLiteral(":/i18n/framora_");
const QString QtTranslationPrefix = QStringLiteral("qt_");

// The language a locale name or LANGUAGE entry asks for, empty when it names none: "ja_JP.UTF-8"
// is "ja", "C", "C.UTF-8" and "POSIX" name no language.
QString LanguageOf(const QString& name)
{
    const QString language = name.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0)
                                 .section(QLatin1Char('_'), 0, 0).trimmed().toLower();
    if (language == QLatin1String("c") || language == QLatin1String("posix"))
        return QString();
    return language;
}

QString FirstLanguageAskedFor(const TLanguageEnvironment& environment)
{
    for (const QString& entry : environment.Language.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString language = LanguageOf(entry);
        if (!language.isEmpty())
            return language;
    }
    // The first locale variable set decides, as it does for the C library.
    for (const QString* variable : {&environment.LcAll, &environment.LcMessages, &environment.Lang}) {
        if (!variable->isEmpty())
            return LanguageOf(*variable);
    }
    return QString();
}

} // namespace

TLanguageEnvironment TLanguageEnvironment::FromProcess()
{
    return {qEnvironmentVariable("LANGUAGE"), qEnvironmentVariable("LC_ALL"),
            qEnvironmentVariable("LC_MESSAGES"), qEnvironmentVariable("LANG")};
}

TUiLanguage ChooseUiLanguage(const TLanguageEnvironment& environment)
{
    const QString language = FirstLanguageAskedFor(environment);
    return language.isEmpty() || language == JapaneseCode ? TUiLanguage::Japanese : TUiLanguage::English;
}

QString UiLanguageCode(TUiLanguage language)
{
    return language == TUiLanguage::Japanese ? JapaneseCode : EnglishCode;
}

TUiTranslation::TUiTranslation(TUiLanguage language)
    : FProgram(std::make_unique<QTranslator>()), FQt(std::make_unique<QTranslator>())
{
    const QString code = UiLanguageCode(language);
    if (language != TUiLanguage::Japanese) {
        FProgramLoaded = FProgram->load(ProgramTranslationPrefix + code);
        if (FProgramLoaded)
            QCoreApplication::installTranslator(FProgram.get());
    }
    // Qt's dialogs speak English untranslated; a missing qt_ja.qm leaves them so.
    if (FQt->load(QtTranslationPrefix + code, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(FQt.get());
}

TUiTranslation::~TUiTranslation()
{
    QCoreApplication::removeTranslator(FQt.get());
    QCoreApplication::removeTranslator(FProgram.get());
}
