// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/UMomentEntry.h"

#include "decoder/UTypedTime.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr std::int64_t MaxEntryMs = std::numeric_limits<std::int32_t>::max();
const QString StatusSeparator = QStringLiteral("  ");
const QString SizeFormat = QStringLiteral("%1×%2");
const QString RateFormat = QStringLiteral("%1 fps");

// The names whose common spelling is not just their upper case.
constexpr std::array<std::pair<const char*, const char*>, 12> CodecLabels{{
    {"h264", "H.264"},
    {"hevc", "HEVC"},
    {"h263", "H.263"},
    {"h261", "H.261"},
    {"mpeg1video", "MPEG-1"},
    {"mpeg2video", "MPEG-2"},
    {"mpeg4", "MPEG-4"},
    {"msmpeg4v3", "MS MPEG-4 v3"},
    {"prores", "ProRes"},
    {"theora", "Theora"},
    {"cinepak", "Cinepak"},
    {"rawvideo", "Raw"},
}};

std::optional<TMomentEntry> Within(bool picture, std::int64_t value)
{
    if (value > MaxEntryMs)
        return std::nullopt;
    return TMomentEntry{picture, value};
}

QRegularExpression Whole(const char* expression)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QLatin1String(expression)));
}

} // namespace

std::optional<TMomentEntry> ParseMomentEntry(const QString& text)
{
    // Twelve digits at most: past the 32-bit range already.
    static const QRegularExpression picture = Whole("#([0-9]{1,12})");
    const QString typed = text.trimmed();
    if (const QRegularExpressionMatch match = picture.match(typed); match.hasMatch())
        return Within(true, match.captured(1).toLongLong());
    if (const std::optional<std::int64_t> ms = ParseTypedTimeMs(typed))
        return Within(false, *ms);
    return std::nullopt;
}

std::int64_t PictureStartMs(std::int64_t number, double rate)
{
    // Rounded up, as the decoder rounds pictures' times, so that the request is not a hair
    // before the picture; the tolerance keeps 2087 at 25 from landing a millisecond late.
    return static_cast<std::int64_t>(std::ceil(static_cast<double>(number) * 1000.0 / rate - 1e-6));
}

std::int64_t PictureNumberAt(std::int32_t timeMs, double rate)
{
    return static_cast<std::int64_t>(std::floor(timeMs * rate / 1000.0 + 0.5));
}

QString MomentTime(std::int32_t timeMs)
{
    const std::int32_t ms = std::max(timeMs, 0);
    const auto two = [](std::int32_t value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); };
    const QString clock = two((ms / 1000) % 60) + QLatin1Char('.') + QStringLiteral("%1").arg(ms % 1000, 3, 10, QLatin1Char('0'));
    const std::int32_t hours = ms / 3600000;
    if (hours == 0)
        return two(ms / 60000) + QLatin1Char(':') + clock;
    return QString::number(hours) + QLatin1Char(':') + two((ms / 60000) % 60) + QLatin1Char(':') + clock;
}

QString CodecLabel(const std::string& name)
{
    for (const auto& [ffmpeg, label] : CodecLabels)
        if (name == ffmpeg)
            return QString::fromUtf8(label);
    return QString::fromStdString(name).toUpper();
}

QString FrameRateLabel(double rate)
{
    QString text = QString::number(rate, 'f', 3);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

QString MomentStatus(std::int32_t timeMs, QSize size, double rate, const std::string& codec)
{
    QStringList parts;
    if (rate > 0)
        parts << QStringLiteral("#%1").arg(PictureNumberAt(timeMs, rate));
    parts << MomentTime(timeMs) << SizeFormat.arg(size.width()).arg(size.height());
    if (rate > 0)
        parts << RateFormat.arg(FrameRateLabel(rate));
    if (!codec.empty())
        parts << CodecLabel(codec);
    return parts.join(StatusSeparator);
}
