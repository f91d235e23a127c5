// SPDX-License-Identifier: GPL-3.0-or-later
// Which language the window speaks, and the English translation it speaks then.
#include "shell/ULanguage.h"

#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(Language, ChosenFromTheEnvironment)
{
    const struct {
        TLanguageEnvironment Environment;
        TUiLanguage Expected;
    } cases[] = {
        {{}, TUiLanguage::Japanese},
        {{"", "C", "", ""}, TUiLanguage::Japanese},
        {{"", "", "", "POSIX"}, TUiLanguage::Japanese},
        {{"", "C.UTF-8", "", "en_US.UTF-8"}, TUiLanguage::Japanese},
        {{"", "", "", "ja_JP.UTF-8"}, TUiLanguage::Japanese},
        {{"", "", "", "en_GB.UTF-8"}, TUiLanguage::English},
        {{"", "", "fr_FR.UTF-8", "ja_JP.UTF-8"}, TUiLanguage::English},
        {{"", "ja_JP.UTF-8", "fr_FR.UTF-8", ""}, TUiLanguage::Japanese},
        // LANGUAGE goes first, also over a C locale, and its first language decides.
        {{"en", "C", "", ""}, TUiLanguage::English},
        {{"ja:en", "", "", "en_US.UTF-8"}, TUiLanguage::Japanese},
        {{"en_US:ja", "", "", "ja_JP.UTF-8"}, TUiLanguage::English},
        {{"JA_jp", "", "", ""}, TUiLanguage::Japanese},
        // An entry naming no language is passed over; a list of none leaves it to the locale.
        {{"C:en", "", "", "ja_JP.UTF-8"}, TUiLanguage::English},
        {{"::", "", "", "ja_JP.UTF-8"}, TUiLanguage::Japanese},
        {{"C", "", "", "en_US.UTF-8"}, TUiLanguage::English},
    };
    for (const auto& c : cases) {
        const TLanguageEnvironment& e = c.Environment;
        EXPECT_EQ(ChooseUiLanguage(e), c.Expected)
            << "LANGUAGE=" << e.Language.toStdString() << " LC_ALL=" << e.LcAll.toStdString()
            << " LC_MESSAGES=" << e.LcMessages.toStdString() << " LANG=" << e.Lang.toStdString();
    }
}

struct TTranslatedText {
    QString Context;
    QString Source;
    QString Translation;
};

// A text that counts has a translation for each plural form, each keeping what the source has:
// the first stands for them all.
QString TranslationText(QXmlStreamReader& xml)
{
    QString whole, firstForm;
    int forms = 0;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1String("translation"))
            break;
        if (token == QXmlStreamReader::StartElement && xml.name() == QLatin1String("numerusform"))
            ++forms;
        if (token == QXmlStreamReader::Characters) {
            whole += xml.text();
            if (forms == 1)
                firstForm += xml.text();
        }
    }
    return forms > 0 ? firstForm : whole;
}

std::vector<TTranslatedText> TranslatedTexts()
{
    QFile file(QStringLiteral(FRAMORA_SOURCE_DIR "/translations/framora_en.ts"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::vector<TTranslatedText> texts;
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        // A carriage return is written as a <byte/> element inside the text.
        const auto text = [&xml] { return xml.readElementText(QXmlStreamReader::IncludeChildElements); };
        if (xml.name() == QLatin1String("name"))
            context = text();
        else if (xml.name() == QLatin1String("source"))
            texts.push_back({context, text(), {}});
        else if (xml.name() == QLatin1String("translation") && !texts.empty())
            texts.back().Translation = TranslationText(xml);
    }
    return texts;
}

QStringList Matches(const QString& text, const QRegularExpression& pattern)
{
    QStringList found;
    for (auto it = pattern.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    found.sort();
    return found;
}

// A translation that loses a %1, a menu's shortcut letter or a field of a file-dialog filter
// breaks the window while reading well: the message loses its file name, Alt+S stops working,
// the dialog offers the wrong files.
TEST(Language, TranslationsKeepWhatTheProgramReads)
{
    static const QRegularExpression placeholder(QStringLiteral("%[0-9]"));
    static const QRegularExpression shortcut(QStringLiteral("&[^&]"));
    static const QRegularExpression wildcard(QStringLiteral("\\*\\.[^;|)]+"));
    const std::vector<TTranslatedText> texts = TranslatedTexts();
    ASSERT_GT(texts.size(), 50u);
    for (const TTranslatedText& t : texts) {
        const std::string name = (t.Context + QStringLiteral(": ") + t.Source).toStdString();
        EXPECT_FALSE(t.Translation.isEmpty()) << name;
        EXPECT_EQ(Matches(t.Translation, placeholder), Matches(t.Source, placeholder)) << name;
        EXPECT_EQ(Matches(t.Translation, shortcut).size(), Matches(t.Source, shortcut).size()) << name;
        EXPECT_EQ(t.Translation.count(QLatin1Char('|')), t.Source.count(QLatin1Char('|'))) << name;
        EXPECT_EQ(Matches(t.Translation, wildcard), Matches(t.Source, wildcard)) << name;
    }
}

} // namespace
