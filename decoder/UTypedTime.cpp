// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UTypedTime.h"

#include <QRegularExpression>

namespace {

// A fraction of a second typed after the point, one to three digits, in milliseconds.
std::int64_t FractionMs(const QString& digits)
{
    return digits.isEmpty() ? 0 : digits.leftJustified(3, QLatin1Char('0')).toLongLong();
}

// Anchored whole, so that no trailing newline slips through '$'.
QRegularExpression Whole(const char* expression)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QLatin1String(expression)));
}

} // namespace

std::optional<std::int64_t> ParseTypedTimeMs(const QString& text)
{
    // Twelve digits at most per field: past the 32-bit range already, and the sums below stay
    // far inside 64 bits.
    static const QRegularExpression seconds = Whole("([0-9]{1,12})(?:\\.([0-9]{1,3}))?s");
    static const QRegularExpression clock =
        Whole("(?:([0-9]{1,12}):([0-9]{2})|([0-9]{1,12})):([0-9]{2})(?:\\.([0-9]{1,3}))?");
    if (const QRegularExpressionMatch match = seconds.match(text); match.hasMatch())
        return match.captured(1).toLongLong() * 1000 + FractionMs(match.captured(2));
    const QRegularExpressionMatch match = clock.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const bool hasHours = !match.captured(1).isEmpty();
    const std::int64_t hours = hasHours ? match.captured(1).toLongLong() : 0;
    const std::int64_t minutes = match.captured(hasHours ? 2 : 3).toLongLong();
    const std::int64_t secs = match.captured(4).toLongLong();
    // "90:00" is an hour and a half, "1:75" a slip.
    if (secs > 59 || (hasHours && minutes > 59))
        return std::nullopt;
    return ((hours * 60 + minutes) * 60 + secs) * 1000 + FractionMs(match.captured(5));
}
