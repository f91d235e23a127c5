// SPDX-License-Identifier: GPL-3.0-or-later
// What the go-to entry reads, picture numbers both ways, and the status line of a paused picture.
#include "capture/UMomentEntry.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(MomentEntryTest, ReadsTimesAndPictureNumbersAndNothingElse)
{
    struct TCase {
        const char* Text;
        std::optional<TMomentEntry> Entry;
    };
    const TCase cases[] = {
        {"01:23:45.678", TMomentEntry{false, 5025678}},
        {"1:02:03.25", TMomentEntry{false, 3723250}},
        {"01:23", TMomentEntry{false, 83000}},
        {"01:23.4", TMomentEntry{false, 83400}},
        {"90:00", TMomentEntry{false, 5400000}},
        {"0:00", TMomentEntry{false, 0}},
        {"83.5s", TMomentEntry{false, 83500}},
        {"83s", TMomentEntry{false, 83000}},
        {"  #2087 ", TMomentEntry{true, 2087}},
        {"#0", TMomentEntry{true, 0}},
        {"596:31:23.647", TMomentEntry{false, 2147483647}},
        // Malformed: what a user might slip into.
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"83.5", std::nullopt}, // a bare number: seconds or milliseconds?
        {"2000", std::nullopt},
        {"-5s", std::nullopt},
        {"1:75", std::nullopt},
        {"1:60:00", std::nullopt},
        {"1:2", std::nullopt},
        {"01:23.4567", std::nullopt},
        {"#", std::nullopt},
        {"#-3", std::nullopt},
        {"# 12", std::nullopt},
        {"#12.5", std::nullopt},
        {"12 s", std::nullopt},
        {"01:23\n", TMomentEntry{false, 83000}}, // a pasted line keeps its end: trimmed
        {"01:23\nx", std::nullopt},
        // Past the 32-bit range of the position bar.
        {"596:31:23.648", std::nullopt},
        {"9999999999s", std::nullopt},
        {"#99999999999", std::nullopt},
        {"999999999999999s", std::nullopt},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ParseMomentEntry(QString::fromUtf8(c.Text)), c.Entry) << '"' << c.Text << '"';
}

TEST(MomentEntryTest, APictureNumberGoesToItsOwnPictureAndComesBackFromItsTime)
{
    // The decoder gives a picture's time rounded up to the millisecond: the number read from
    // it is the picture's own, at every common rate and far into a long film.
    const double rates[] = {25, 24000.0 / 1001, 30000.0 / 1001, 50, 60000.0 / 1001, 24, 15, 120};
    for (const double rate : rates) {
        for (std::int64_t number = 0; number < 400000; number += 7) {
            const std::int64_t start = PictureStartMs(number, rate);
            const double exactMs = number * 1000.0 / rate;
            ASSERT_GE(start + 1e-6, exactMs) << number << " at " << rate;
            ASSERT_LT(start, (number + 1) * 1000.0 / rate) << number << " at " << rate;
            ASSERT_EQ(PictureNumberAt(static_cast<std::int32_t>(start), rate), number) << number << " at " << rate;
        }
    }
    EXPECT_EQ(PictureStartMs(2087, 25), 83480);
}

TEST(MomentEntryTest, TheStatusLineNamesThePictureItsTimeAndTheMovie)
{
    struct TCase {
        std::int32_t TimeMs;
        QSize Size;
        double Rate;
        const char* Codec;
        const char* Status;
    };
    const TCase cases[] = {
        {83480, {1920, 1080}, 25, "h264", "#2087  01:23.480  1920×1080  25 fps  H.264"},
        {83480, {1920, 1080}, 24000.0 / 1001, "hevc", "#2002  01:23.480  1920×1080  23.976 fps  HEVC"},
        {3723250, {720, 480}, 30000.0 / 1001, "mpeg2video", "#111586  1:02:03.250  720×480  29.97 fps  MPEG-2"},
        {0, {3840, 2160}, 50, "vp9", "#0  00:00.000  3840×2160  50 fps  VP9"},
        {5, {160, 120}, 0, "cinepak", "00:00.005  160×120  Cinepak"},
        {61000, {320, 240}, 25, "", "#1525  01:01.000  320×240  25 fps"},
        {1000, {320, 240}, 25, "av1", "#25  00:01.000  320×240  25 fps  AV1"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(MomentStatus(c.TimeMs, c.Size, c.Rate, c.Codec), QString::fromUtf8(c.Status)) << c.Status;
}

} // namespace
