// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UMovieTime.h"

extern "C" {
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <climits>

namespace MovieTime {

namespace {

constexpr std::int64_t MicrosecondsPerSecond = 1000000;

} // namespace

std::int64_t ClampedTargetUs(std::int32_t timeMs, std::int64_t durationUs)
{
    std::int64_t targetUs = av_rescale(timeMs, MicrosecondsPerSecond, 1000);
    if (targetUs < 0)
        targetUs = 0;
    if (targetUs >= durationUs)
        targetUs = durationUs - 1;
    return targetUs;
}

std::int64_t TargetUnits(std::int32_t timeMs, std::int64_t durationUs, int timeBaseNum,
                         int timeBaseDen, std::int64_t startOffset)
{
    const std::int64_t targetUs = ClampedTargetUs(timeMs, durationUs);
    std::int64_t target = targetUs;
    if (timeBaseNum > 0 && timeBaseDen > 0)
        target = av_rescale(targetUs, timeBaseDen, MicrosecondsPerSecond * timeBaseNum);
    if (startOffset >= 0 && timeMs != 0)
        target = SaturatingAdd(target, startOffset);
    return target;
}

bool NeedsSeek(std::int64_t target, std::int64_t current, int timeBaseNum, int timeBaseDen)
{
    if (target < current)
        return true;
    const __int128 ahead = static_cast<__int128>(target) - current;
    return ahead * timeBaseNum > static_cast<__int128>(ForwardWindowSeconds) * timeBaseDen;
}

std::int64_t PresentationLead(std::int64_t lead, std::int64_t pts, std::int64_t dts,
                              int timeBaseNum, int timeBaseDen)
{
    if (pts == AV_NOPTS_VALUE || dts == AV_NOPTS_VALUE || pts <= dts || timeBaseNum <= 0
        || timeBaseDen <= 0)
        return lead;
    const std::int64_t limit = av_rescale(MaxPresentationLeadMs, timeBaseDen, 1000LL * timeBaseNum);
    return std::max(lead, std::min(pts - dts, limit));
}

std::int64_t DecodingTime(std::int64_t target, std::int64_t lead)
{
    return SaturatingAdd(target, -lead);
}

std::int64_t ExactTargetUnits(std::int32_t timeMs, int timeBaseNum, int timeBaseDen,
                              std::int64_t streamStart)
{
    // Rounded down: a picture shown a fraction of a millisecond after the time is not yet shown.
    // Past the end is left as it is: the movie's length may end at its last picture's time.
    if (timeMs <= 0 || timeBaseNum <= 0 || timeBaseDen <= 0)
        return streamStart;
    return SaturatingAdd(av_rescale_rnd(timeMs, timeBaseDen, 1000LL * timeBaseNum, AV_ROUND_DOWN),
                         streamStart);
}

std::int32_t PictureTimeMs(std::int64_t pts, std::int64_t streamStart, int timeBaseNum,
                           int timeBaseDen)
{
    if (timeBaseNum <= 0 || timeBaseDen <= 0 || pts <= streamStart)
        return 0;
    const std::int64_t ms = av_rescale_rnd(SaturatingAdd(pts, -streamStart), 1000LL * timeBaseNum,
                                           timeBaseDen, AV_ROUND_UP);
    // The rescaling answers INT64_MIN when the result does not fit.
    return ms < 0 || ms > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(ms);
}

std::int64_t NextSeekBackoff(std::int64_t backoff, int timeBaseNum, int timeBaseDen)
{
    if (backoff > 0)
        return SaturatingAdd(backoff, backoff);
    if (timeBaseNum <= 0 || timeBaseDen <= 0)
        return 1;
    return std::max<std::int64_t>(1, av_rescale(1, timeBaseDen, timeBaseNum));
}

void CorrectCodecTimeBase(int& num, int& den)
{
    if (num > 1000 && den == 1)
        den = 1000;
}

std::int64_t PictureSpanUs(std::int64_t firstUs, std::int64_t streamEndUs, std::int64_t containerStartUs,
                           std::int64_t containerDurationUs)
{
    if (containerDurationUs == AV_NOPTS_VALUE)
        return containerDurationUs;
    std::int64_t end = streamEndUs;
    if (end == AV_NOPTS_VALUE)
        end = SaturatingAdd(containerStartUs == AV_NOPTS_VALUE ? 0 : containerStartUs, containerDurationUs);
    if (firstUs == AV_NOPTS_VALUE || end <= firstUs)
        return containerDurationUs;
    return SaturatingAdd(end, -firstUs);
}

std::int32_t DurationMs(std::int64_t durationUs)
{
    const std::int64_t ms = av_rescale(durationUs, 1000, MicrosecondsPerSecond);
    if (ms > INT32_MAX)
        return INT32_MAX;
    if (ms < INT32_MIN)
        return INT32_MIN;
    return static_cast<std::int32_t>(ms);
}

int DecodingThreads(int requested, int processors, std::int64_t pixels)
{
    const int wanted = requested > 0 ? requested : pixels > LargestOneThreadPixels ? processors : 1;
    return std::clamp(wanted, 1, MaxDecodingThreads);
}

} // namespace MovieTime
