// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Path helpers over byte strings in a multi-byte code page. A character test looks at whole
// characters: the trail byte of a double-byte character is never taken for a delimiter, even
// when it has the delimiter's code (Shift-JIS "表" is 0x95 0x5C).
//
// This platform's paths are UTF-8 with '/' between names; the Shift-JIS encoding with '\'
// describes paths of the classic form, for data that comes in that form.
#include <QByteArray>
#include <QString>

enum class TCodePage { UTF8, ShiftJIS };

struct TPathEncoding {
    TCodePage CodePage;
    char Delimiter;
};

inline constexpr TPathEncoding SystemPathEncoding{TCodePage::UTF8, '/'};
inline constexpr TPathEncoding ShiftJISPathEncoding{TCodePage::ShiftJIS, '\\'};

// Length in bytes of the last character of text (0 for an empty text).
int LastCharLength(const QByteArray& text, TCodePage codePage);

// True when the last character of text is the single byte c.
bool EndsWithChar(const QByteArray& text, char c, TCodePage codePage = SystemPathEncoding.CodePage);

// text with the encoding's delimiter appended, unless text is empty or already ends with it.
QByteArray IncludeTrailingBackslash(const QByteArray& text, TPathEncoding encoding = SystemPathEncoding);

// IncludeTrailingBackslash(directory) followed by name; an empty directory gives name alone.
QByteArray JoinPath(const QByteArray& directory, const QByteArray& name, TPathEncoding encoding = SystemPathEncoding);

// The same for file names held as QString, in the system's encoding of file names.
QString IncludeTrailingBackslash(const QString& text);
QString JoinPath(const QString& directory, const QString& name);
