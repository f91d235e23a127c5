// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstdint>

// The arithmetic of positioning, apart from any movie so that it can be checked on its own.
// Times in stream units are 64-bit throughout: MPEG transport streams start at up to 2^33 units.
namespace MovieTime {

// Sums and products of stream times that saturate rather than wrap around.
inline std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? INT64_MAX : INT64_MIN;
    return sum;
}

inline std::int64_t SaturatingMultiply(std::int64_t a, std::int64_t b)
{
    std::int64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product))
        return (a < 0) != (b < 0) ? INT64_MIN : INT64_MAX;
    return product;
}

// Microseconds of a request, clamped to [0, durationUs - 1].
std::int64_t ClampedTargetUs(std::int32_t timeMs, std::int64_t durationUs);

// The request in stream time-base units (rounded to nearest); every request but time 0 is
// shifted by the stream's start offset once that is known (startOffset >= 0).
std::int64_t TargetUnits(std::int32_t timeMs, std::int64_t durationUs, int timeBaseNum,
                         int timeBaseDen, std::int64_t startOffset);

// Reading on is only worth it up to this far ahead; further, and anything backwards, seeks.
inline constexpr int ForwardWindowSeconds = 7;
bool NeedsSeek(std::int64_t target, std::int64_t current, int timeBaseNum, int timeBaseDen);

// Reordering: the largest lead of a packet's pts over its dts seen so far, given the next
// packet's stamps. A damaged stream cannot make the lead exceed MaxPresentationLeadMs.
inline constexpr int MaxPresentationLeadMs = 1000;
std::int64_t PresentationLead(std::int64_t lead, std::int64_t pts, std::int64_t dts,
                              int timeBaseNum, int timeBaseDen);
// The decoding time to seek to for the picture presented at target.
std::int64_t DecodingTime(std::int64_t target, std::int64_t lead);

// Some demuxers report a codec time base of ticks/1 (90000/1 for MPEG); read it as ticks/1000.
void CorrectCodecTimeBase(int& num, int& den);

// Exact positioning: the request in stream units from the stream's first time (streamStart),
// rounded down; times before the start are the start.
std::int64_t ExactTargetUnits(std::int32_t timeMs, int timeBaseNum, int timeBaseDen,
                              std::int64_t streamStart);
// A picture's time in milliseconds from streamStart, rounded up (a request for it then lands at
// or after it) and never negative.
std::int32_t PictureTimeMs(std::int64_t pts, std::int64_t streamStart, int timeBaseNum,
                           int timeBaseDen);
// How much further back the next seek starts when a key frame came out after the request: one
// second first, then twice as far each time.
std::int64_t NextSeekBackoff(std::int64_t backoff, int timeBaseNum, int timeBaseDen);

// Threads a codec decodes with: requested when it is above 0; else one per processor allowed
// for pictures larger than LargestOneThreadPixels, and one for those up to it (one processor
// decodes them many times faster than they play, and frame threads would only add their own
// work: a third more at 1080p). Never more than MaxDecodingThreads (each frame thread holds
// pictures of its own, and beyond a handful they add delay more than speed), never fewer than one.
inline constexpr int MaxDecodingThreads = 8;
inline constexpr std::int64_t LargestOneThreadPixels = std::int64_t{1920} * 1088;
int DecodingThreads(int requested, int processors, std::int64_t pixels);

// How long a movie's pictures last, in microseconds: from the first picture (firstUs) to the end
// of its video stream (streamEndUs), else of its container (containerStartUs +
// containerDurationUs); INT64_MIN for what is not known. The container's duration alone when
// neither end lies after the first picture.
std::int64_t PictureSpanUs(std::int64_t firstUs, std::int64_t streamEndUs, std::int64_t containerStartUs,
                           std::int64_t containerDurationUs);

// Container microseconds to the millisecond interface, rounded to nearest; lengths beyond the
// 32-bit range saturate rather than wrap into negative or small values.
std::int32_t DurationMs(std::int64_t durationUs);

} // namespace MovieTime
