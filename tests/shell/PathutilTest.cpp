// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Pathutil.h"

#include <gtest/gtest.h>

namespace {
// "表" in Shift-JIS is 0x95 0x5C: its trail byte has the code of '\'.
const QByteArray SjisOmote("\x95\x5C", 2);
// "ソ" is 0x83 0x5C, "・" (0x81 0x45) is a plain double-byte character.
const QByteArray SjisSo("\x83\x5C", 2);
} // namespace

TEST(Pathutil, EndsWithCharReadsWholeCharacters)
{
    struct TCase {
        QByteArray Text;
        char C;
        TCodePage CodePage;
        bool Expected;
    };
    const TCase cases[] = {
        {"", '\\', TCodePage::ShiftJIS, false},
        {"", '/', TCodePage::UTF8, false},
        {"C:\\dir\\", '\\', TCodePage::ShiftJIS, true},
        {"C:\\" + SjisOmote, '\\', TCodePage::ShiftJIS, false},
        {SjisSo + SjisOmote, '\\', TCodePage::ShiftJIS, false},
        {SjisOmote + "\\", '\\', TCodePage::ShiftJIS, true},
        // Half-width katakana (0xA1-0xDF) are single bytes, so a backslash after one is real.
        {"\xB1\\", '\\', TCodePage::ShiftJIS, true},
        // A lead byte with nothing after it is a character of its own.
        {"a\x95", '\x95', TCodePage::ShiftJIS, true},
        // The lone 0x5C after a double-byte character pair counts (pairs are read from the start).
        {"\x81\x45\x5C", '\\', TCodePage::ShiftJIS, true},
        {"/tmp/", '/', TCodePage::UTF8, true},
        {"/tmp/表", '/', TCodePage::UTF8, false},
        {"/tmp/表/", '/', TCodePage::UTF8, true},
        {"x", 'x', TCodePage::UTF8, true},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(EndsWithChar(c.Text, c.C, c.CodePage), c.Expected) << c.Text.toHex().constData();
}

TEST(Pathutil, LastCharLengthCountsBytesOfTheLastCharacter)
{
    EXPECT_EQ(LastCharLength("", TCodePage::UTF8), 0);
    EXPECT_EQ(LastCharLength("ab", TCodePage::UTF8), 1);
    EXPECT_EQ(LastCharLength("aé", TCodePage::UTF8), 2);
    EXPECT_EQ(LastCharLength("a表", TCodePage::UTF8), 3);
    EXPECT_EQ(LastCharLength("a😀", TCodePage::UTF8), 4);
    EXPECT_EQ(LastCharLength("a" + SjisOmote, TCodePage::ShiftJIS), 2);
    EXPECT_EQ(LastCharLength(SjisOmote + "a", TCodePage::ShiftJIS), 1);
}

TEST(Pathutil, IncludeTrailingBackslashAndJoinPath)
{
    struct TCase {
        QByteArray Directory;
        QByteArray Name;
        TPathEncoding Encoding;
        QByteArray Included;
        QByteArray Joined;
    };
    const TCase cases[] = {
        {"", "a.bmp", SystemPathEncoding, "", "a.bmp"},
        {"/home/u", "a.bmp", SystemPathEncoding, "/home/u/", "/home/u/a.bmp"},
        {"/home/u/", "a.bmp", SystemPathEncoding, "/home/u/", "/home/u/a.bmp"},
        {"/表", "x", SystemPathEncoding, "/表/", "/表/x"},
        {"", "x.vob", ShiftJISPathEncoding, "", "x.vob"},
        {"D:\\video_ts", "vts_01_1.vob", ShiftJISPathEncoding, "D:\\video_ts\\", "D:\\video_ts\\vts_01_1.vob"},
        {"D:\\", "a", ShiftJISPathEncoding, "D:\\", "D:\\a"},
        {"C:\\" + SjisOmote, "a", ShiftJISPathEncoding, "C:\\" + SjisOmote + "\\", "C:\\" + SjisOmote + "\\a"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(IncludeTrailingBackslash(c.Directory, c.Encoding), c.Included) << c.Directory.toHex().constData();
        EXPECT_EQ(JoinPath(c.Directory, c.Name, c.Encoding), c.Joined) << c.Directory.toHex().constData();
    }
    EXPECT_EQ(JoinPath(QStringLiteral("/mnt/ディスク"), QStringLiteral("シーン001.bmp")),
              QStringLiteral("/mnt/ディスク/シーン001.bmp"));
    EXPECT_EQ(IncludeTrailingBackslash(QString()), QString());
}
