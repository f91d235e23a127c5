// SPDX-License-Identifier: GPL-3.0-or-later
// The positioning arithmetic on its own: which stream time a request means, and when to seek.
#include "decoder/UMovieDecoder.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

namespace {

constexpr std::int64_t TwentySecondsUs = 20000000;

struct TTargetCase {
    std::int32_t TimeMs;
    std::int64_t DurationUs;
    int Num, Den;
    std::int64_t StartOffset;
    std::int64_t Expected;
};

} // namespace

TEST(MovieTime, TargetUnits)
{
    const TTargetCase cases[] = {
        // 1/90000: 1000 ms is 90000 units, plus the start offset once it is known.
        {1000, TwentySecondsUs, 1, 90000, -1, 90000},
        {1000, TwentySecondsUs, 1, 90000, 126000, 216000},
        // Time 0 is never shifted.
        {0, TwentySecondsUs, 1, 90000, 126000, 0},
        // Negative times clamp to 0; not being requests for time 0, they are still shifted.
        {-500, TwentySecondsUs, 1, 25, -1, 0},
        {-500, TwentySecondsUs, 1, 25, 7, 7},
        // At or past the end: the duration less one microsecond, rounded to nearest.
        {20000, TwentySecondsUs, 1, 25, -1, 500},
        {INT32_MAX, TwentySecondsUs, 1, 90000, -1, 1800000},
        {19999, TwentySecondsUs, 1, 1000, -1, 19999},
        // Rounded to nearest: 20 ms at 25 per second is half a picture, which rounds up.
        {20, TwentySecondsUs, 1, 25, -1, 1},
        {19, TwentySecondsUs, 1, 25, -1, 0},
        // A time base with a numerator other than 1 (NTSC ticks).
        {1001, TwentySecondsUs, 1001, 30000, -1, 30},
        // A start offset too large for 64 bits saturates instead of wrapping negative.
        {1000, TwentySecondsUs, 1, 90000, INT64_MAX - 10, INT64_MAX},
        // MPEG-TS clocks run to 2^33 units: offsets beyond 32 bits shift as they are.
        {1000, TwentySecondsUs, 1, 90000, 8589000000LL, 8589090000LL},
    };
    for (const TTargetCase& c : cases)
        EXPECT_EQ(MovieTime::TargetUnits(c.TimeMs, c.DurationUs, c.Num, c.Den, c.StartOffset), c.Expected)
            << c.TimeMs << " ms at " << c.Num << "/" << c.Den << " offset " << c.StartOffset;
}

TEST(MovieTime, DecodingTimeOfAPresentationTime)
{
    struct TCase {
        std::int64_t Lead, Pts, Dts;
        std::int64_t NewLead;
    } const cases[] = {
        {0, 3600, 0, 3600},              // MPEG-2 at 1/90000: one picture of reordering delay
        {3600, 7200, 7200, 3600},        // a packet without delay keeps the largest seen
        {0, 1000, 2000, 0},              // pts behind dts (damaged): no lead
        {0, INT64_MIN, 0, 0},            // no pts (FFmpeg marks it so) tells nothing
        {0, 10000000, 0, 90000},         // a lie is held to a second
    };
    for (const TCase& c : cases) {
        const std::int64_t lead = MovieTime::PresentationLead(c.Lead, c.Pts, c.Dts, 1, 90000);
        EXPECT_EQ(lead, c.NewLead) << c.Pts << "/" << c.Dts;
        EXPECT_EQ(MovieTime::DecodingTime(849600, lead), 849600 - c.NewLead);
    }
}

TEST(MovieTime, SeekOrReadOn)
{
    struct TCase {
        std::int64_t Target, Current;
        int Num, Den;
        bool Seek;
    } const cases[] = {
        {100, 100, 1, 25, false},          // already there: read on
        {99, 100, 1, 25, true},            // any step back seeks
        {175, 0, 1, 25, false},            // exactly 7 s ahead reads on
        {176, 0, 1, 25, true},             // beyond 7 s seeks
        {630000, 0, 1, 90000, false},      // 7 s at 1/90000
        {630001, 0, 1, 90000, true},
        {5 * 90000, 0, 1, 90000, false},   // a 5-second step reads on
        {10 * 90000, 0, 1, 90000, true},   // a 10-second step seeks
        {209, 0, 1001, 30000, false},      // 6.97 s in NTSC ticks
        {210, 0, 1001, 30000, true},       // 7.007 s
        {INT64_MAX, INT64_MIN + 1, 1, 90000, true}, // no overflow on absurd positions
    };
    for (const TCase& c : cases)
        EXPECT_EQ(MovieTime::NeedsSeek(c.Target, c.Current, c.Num, c.Den), c.Seek)
            << c.Target << " from " << c.Current << " at " << c.Num << "/" << c.Den;
}

TEST(MovieTime, CodecTimeBaseCorrection)
{
    struct TCase {
        int Num, Den, ExpectedDen;
    } const cases[] = {
        {90000, 1, 1000}, {1001, 1, 1000}, {1000, 1, 1}, {90000, 2, 2}, {1, 25, 25}, {0, 1, 1},
    };
    for (const TCase& c : cases) {
        int num = c.Num, den = c.Den;
        MovieTime::CorrectCodecTimeBase(num, den);
        EXPECT_EQ(num, c.Num);
        EXPECT_EQ(den, c.ExpectedDen) << c.Num << "/" << c.Den;
    }
}

TEST(MovieTime, DecodingThreads)
{
    constexpr std::int64_t Uhd = 3840 * 2160, FullHd = 1920 * 1080, Qhd = 2560 * 1440;
    struct TCase {
        int Requested, Processors;
        std::int64_t Pixels;
        int Expected;
    } const cases[] = {
        {0, 1, Uhd, 1}, {0, 2, Uhd, 2}, {0, 64, Uhd, MovieTime::MaxDecodingThreads}, {0, 0, Uhd, 1},
        {0, 4, Qhd, 4}, {0, 4, FullHd, 1}, {0, 4, 1920 * 1088, 1}, {0, 4, 0, 1},
        {1, 16, Uhd, 1}, {3, 2, FullHd, 3}, {-4, 4, Uhd, 4}, {100, 2, 320 * 240, MovieTime::MaxDecodingThreads},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(MovieTime::DecodingThreads(c.Requested, c.Processors, c.Pixels), c.Expected)
            << c.Requested << " asked, " << c.Processors << " processors, " << c.Pixels << " pixels";
}

TEST(MovieTime, DurationInMilliseconds)
{
    EXPECT_EQ(MovieTime::DurationMs(7200000000LL), 7200000); // two hours
    EXPECT_EQ(MovieTime::DurationMs(40500), 41);             // rounded to nearest
    EXPECT_EQ(MovieTime::DurationMs(40499), 40);
    // Beyond the 32-bit millisecond range the length saturates rather than wrapping.
    EXPECT_EQ(MovieTime::DurationMs(3000000000000LL), INT32_MAX);
}

TEST(MovieTime, ExactTargetAndPictureTime)
{
    const struct {
        std::int32_t TimeMs;
        int Num, Den;
        std::int64_t Start;
        std::int64_t Target;
    } targets[] = {
        // Rounded down: 39 ms at 25 per second is still picture 0, not the nearest picture 1.
        {39, 1, 25, 0, 0},
        {40, 1, 25, 0, 1},
        {4319, 1, 90000, 900000, 900000 + 388710},
        // Before the start is the start; past the end is left for the stream's end to answer.
        {-500, 1, 90000, 900000, 900000},
        {INT32_MAX, 1, 25, 0, 53687091},
        {1000, 1, 90000, INT64_MAX - 10, INT64_MAX},
    };
    for (const auto& c : targets)
        EXPECT_EQ(MovieTime::ExactTargetUnits(c.TimeMs, c.Num, c.Den, c.Start), c.Target) << c.TimeMs;

    const struct {
        std::int64_t Pts, Start;
        int Num, Den;
        std::int32_t Ms;
    } times[] = {
        {1, 0, 1, 25, 40},
        // A third of a millisecond past 33 ms reads as 34, so a request for 34 ms shows it again.
        {3003, 0, 1, 90000, 34},
        {900000 + 3600, 900000, 1, 90000, 40},
        // Leading pictures shown before the start read as 0.
        {899000, 900000, 1, 90000, 0},
        {INT64_MAX, 0, 1, 1, INT32_MAX},
    };
    for (const auto& c : times) {
        const std::int32_t ms = MovieTime::PictureTimeMs(c.Pts, c.Start, c.Num, c.Den);
        EXPECT_EQ(ms, c.Ms) << c.Pts;
        if (c.Pts >= c.Start && ms < INT32_MAX) {
            EXPECT_GE(MovieTime::ExactTargetUnits(ms, c.Num, c.Den, c.Start), c.Pts) << c.Pts;
        }
    }
}

TEST(MovieTime, PictureSpan)
{
    constexpr std::int64_t Unknown = INT64_MIN;
    const struct {
        std::int64_t FirstUs, StreamEndUs, ContainerStartUs, ContainerDurationUs, Expected;
    } cases[] = {
        // An MP4 whose first picture is 10 s in: its length counts the empty stretch before it.
        {10000000, 13960000, 10000000, 13960000, 3960000},
        // Without a stream end the container's: a start of 1.4 s is no gap before the pictures.
        {1400000, Unknown, 1400000, 10000000, 10000000},
        {0, Unknown, Unknown, 10000000, 10000000},
        // A first picture after the container's start shortens the span.
        {2000000, Unknown, 0, 10000000, 8000000},
        // Ends that lie before the first picture say nothing; the container's duration stands.
        {5000000, 4000000, 0, 10000000, 10000000},
        {Unknown, 4000000, 0, 10000000, 10000000},
        {0, 4000000, 0, Unknown, Unknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MovieTime::PictureSpanUs(c.FirstUs, c.StreamEndUs, c.ContainerStartUs, c.ContainerDurationUs),
                  c.Expected)
            << c.FirstUs << " to " << c.StreamEndUs;
}
