// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Pathutil.h"

#include <QFile>

namespace {
bool IsShiftJISLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsUTF8ContinuationByte(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}
} // namespace

int LastCharLength(const QByteArray& text, TCodePage codePage)
{
    const auto size = static_cast<int>(text.size());
    if (size == 0)
        return 0;
    const auto byte = [&text](int i) { return static_cast<unsigned char>(text[i]); };
    if (codePage == TCodePage::UTF8) {
        // Step back over continuation bytes to the character's first byte; at most 3 of them.
        int start = size - 1;
        while (start > 0 && size - start < 4 && IsUTF8ContinuationByte(byte(start)))
            --start;
        return size - start;
    }
    // A Shift-JIS trail byte can look like a lead byte or like ASCII, so characters can only be
    // told apart by reading from the start.
    int start = 0;
    for (int i = 0; i < size;) {
        start = i;
        i += IsShiftJISLeadByte(byte(i)) && i + 1 < size ? 2 : 1;
    }
    return size - start;
}

bool EndsWithChar(const QByteArray& text, char c, TCodePage codePage)
{
    return LastCharLength(text, codePage) == 1 && text.back() == c;
}

QByteArray IncludeTrailingBackslash(const QByteArray& text, TPathEncoding encoding)
{
    if (text.isEmpty() || EndsWithChar(text, encoding.Delimiter, encoding.CodePage))
        return text;
    return text + encoding.Delimiter;
}

QByteArray JoinPath(const QByteArray& directory, const QByteArray& name, TPathEncoding encoding)
{
    return IncludeTrailingBackslash(directory, encoding) + name;
}

QString IncludeTrailingBackslash(const QString& text)
{
    return QFile::decodeName(IncludeTrailingBackslash(QFile::encodeName(text)));
}

QString JoinPath(const QString& directory, const QString& name)
{
    return QFile::decodeName(JoinPath(QFile::encodeName(directory), QFile::encodeName(name)));
}
