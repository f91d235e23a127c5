// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The language the window speaks. Its texts are written in Japanese; English comes from the
// translation built into the program. Qt's own dialogs follow through Qt's translations, when
// the system has them for the language.
#include <QString>

#include <memory>

class QTranslator;

enum class TUiLanguage { Japanese, English };

// The locale variables that name the user's language, as the process got them.
struct TLanguageEnvironment {
    QString Language;   // LANGUAGE: a list of languages, first preferred, separated by ':'
    QString LcAll;      // LC_ALL
    QString LcMessages; // LC_MESSAGES
    QString Lang;       // LANG

    static TLanguageEnvironment FromProcess();
};

// Japanese when the first language asked for is Japanese, or when nothing names a language
// (the C or POSIX locale, or no locale at all); English otherwise. LANGUAGE goes first, as
// gettext programs read it, then LC_ALL, LC_MESSAGES and LANG.
TUiLanguage ChooseUiLanguage(const TLanguageEnvironment& environment);

// The language code of a language ("ja", "en").
QString UiLanguageCode(TUiLanguage language);

// The translators for one language, installed on the running application for as long as this
// lives. Japanese needs none of the program's own; Qt's are loaded for either language.
class TUiTranslation {
public:
    explicit TUiTranslation(TUiLanguage language);
    ~TUiTranslation();
    TUiTranslation(const TUiTranslation&) = delete;
    TUiTranslation& operator=(const TUiTranslation&) = delete;

    // False when the program's own translation was needed and could not be loaded.
    bool ProgramTranslationLoaded() const { return FProgramLoaded; }

private:
    std::unique_ptr<QTranslator> FProgram;
    std::unique_ptr<QTranslator> FQt;
    bool FProgramLoaded = true;
};
