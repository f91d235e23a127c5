// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/USubtitleArithmetic.h"

extern "C" {
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <limits>

// A stream time in milliseconds. FFmpeg answers INT64_MIN for a result that does not fit (and
// for a missing time); the answer saturates instead, as the decoder's own arithmetic does, so
// that the sums made with it cannot wrap round.
std::int64_t SubtitleTime::ToMs(std::int64_t value, int timeBaseNum, int timeBaseDen)
{
    if (value == AV_NOPTS_VALUE || timeBaseNum <= 0 || timeBaseDen <= 0)
        return std::numeric_limits<std::int64_t>::min();
    const std::int64_t ms = av_rescale_q(value, AVRational{timeBaseNum, timeBaseDen}, AVRational{1, 1000});
    if (ms != std::numeric_limits<std::int64_t>::min())
        return ms;
    return value > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

SubtitleGeometry::TBitmapPlacement SubtitleGeometry::PlaceBitmap(QRect place, QSize canvas, QSize size)
{
    const QRect visible = place.intersected(QRect(QPoint(0, 0), canvas));
    if (visible.isEmpty() || size.isEmpty())
        return {};
    const double sx = static_cast<double>(size.width()) / canvas.width();
    const double sy = static_cast<double>(size.height()) / canvas.height();
    const QRect target(qRound(visible.x() * sx), qRound(visible.y() * sy), std::max(1, qRound(visible.width() * sx)),
                       std::max(1, qRound(visible.height() * sy)));
    return {visible.translated(-place.topLeft()), target};
}

std::int64_t SubtitleTime::Difference(std::int64_t a, std::int64_t b)
{
    std::int64_t difference = 0;
    if (__builtin_sub_overflow(a, b, &difference))
        return b < 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    return difference;
}
