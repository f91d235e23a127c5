// SPDX-License-Identifier: GPL-3.0-or-later
// A long film's subtitle index reads first where pictures are wanted, and comes back for what it
// passed over: what it knows of a time is then what reading in order would know, and the whole
// index ends the same, with no event lost or read twice.
#include "decoder/UMovieDecoder.h"
#include "decoder/UMovieSubtitles.h"
#include "decoder/USubtitleCoverage.h"
#include "fixtures/SubtitleMovies.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t LookBack = 20000;
constexpr std::int64_t Ahead = 30000;
constexpr std::int64_t Rewind = 2000;
constexpr auto IndexWait = std::chrono::seconds(60);

TEST(SubtitleCoverage, JumpsWhereWantedAndComesBackForWhatItPassedOver)
{
    TSubtitleCoverage coverage(LookBack, Ahead, Rewind);
    coverage.Start(TSubtitleCoverage::StreamStart);
    coverage.Reached(10000);
    EXPECT_TRUE(coverage.Covers(9000));
    EXPECT_FALSE(coverage.Covers(11000));
    // Near the reading: it reads on.
    EXPECT_EQ(coverage.NextJump(50000, false), std::nullopt);
    // Far ahead: from before the events still shown then.
    const std::optional<std::int64_t> ahead = coverage.NextJump(600000, false);
    ASSERT_TRUE(ahead);
    EXPECT_EQ(*ahead, 600000 - LookBack - Rewind);
    coverage.Start(*ahead - 500 + 1000); // the seek landed a little early; one second of slack
    coverage.Reached(610000);
    EXPECT_TRUE(coverage.Covers(600000));
    EXPECT_FALSE(coverage.Covers(300000)) << "the stretch passed over is not known";
    EXPECT_TRUE(coverage.Covers(5000)) << "nor is what was read before forgotten";
    // At the end, back to the stretch passed over, from where the first reading stopped.
    coverage.ReachedEnd();
    EXPECT_FALSE(coverage.Complete());
    EXPECT_EQ(coverage.NextJump(std::nullopt, true), 10000 - Rewind);
    coverage.Start(10000 - Rewind - 200 + 1000);
    coverage.Reached(100000);
    EXPECT_TRUE(coverage.Covers(50000));
    // Reading into the span read before: it goes on after it, and the stream is whole.
    coverage.Reached(*ahead - 100);
    EXPECT_EQ(coverage.NextJump(std::nullopt, false), std::nullopt) << "the span ahead was read to the end";
    coverage.ReachedEnd();
    EXPECT_TRUE(coverage.Complete());
    EXPECT_EQ(coverage.NextJump(std::nullopt, true), std::nullopt);
}

TEST(SubtitleCoverage, WantedTimesBehindOrNearTheStartAndSeeksThatLandLate)
{
    {
        TSubtitleCoverage coverage(LookBack, Ahead, Rewind);
        coverage.Start(TSubtitleCoverage::StreamStart);
        coverage.Reached(1000);
        const std::optional<std::int64_t> ahead = coverage.NextJump(900000, false);
        ASSERT_TRUE(ahead);
        coverage.Start(*ahead + 1000);
        coverage.Reached(*ahead + 60000);
        // Behind the reading, past its start: it jumps back.
        EXPECT_EQ(coverage.NextJump(400000, false), 400000 - LookBack - Rewind);
        coverage.Start(400000 - LookBack - Rewind + 1000);
        // Near the movie's start: from the stream's start, where the events begin.
        EXPECT_EQ(coverage.NextJump(15000, false), TSubtitleCoverage::StreamStart);
    }
    {
        // Jumping at the first packet leaves next to nothing read from the start: the way back
        // is the start itself, not a seek before it that lands after it.
        TSubtitleCoverage coverage(LookBack, Ahead, Rewind);
        coverage.Start(TSubtitleCoverage::StreamStart);
        coverage.Reached(-1000);
        const std::optional<std::int64_t> ahead = coverage.NextJump(200000, false);
        ASSERT_TRUE(ahead);
        coverage.Start(*ahead + 1000);
        coverage.ReachedEnd();
        EXPECT_EQ(coverage.NextJump(std::nullopt, true), TSubtitleCoverage::StreamStart);
    }
    {
        // A container that seeks only to after the place asked: the same place comes round again,
        // and the stream is read once more in order instead of without end.
        TSubtitleCoverage coverage(LookBack, Ahead, Rewind);
        coverage.Start(TSubtitleCoverage::StreamStart);
        coverage.Reached(1000);
        const std::optional<std::int64_t> ahead = coverage.NextJump(900000, false);
        ASSERT_TRUE(ahead);
        coverage.Start(900000 + 5000);
        coverage.Reached(950000);
        EXPECT_EQ(coverage.NextJump(900000, false), TSubtitleCoverage::StreamStart);
        coverage.Start(TSubtitleCoverage::StreamStart);
        coverage.Reached(2000);
        EXPECT_EQ(coverage.NextJump(1800000, false), std::nullopt) << "in order, no more jumps";
        coverage.ReachedEnd();
        EXPECT_TRUE(coverage.Complete());
    }
}

QImage Drawn(TMovieSubtitles& subtitles, std::int32_t ms)
{
    TBitmap picture;
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    picture.SetSize(SubtitleMovies::JumpsWidth, SubtitleMovies::JumpsHeight);
    picture.Image().fill(Qt::black);
    subtitles.Draw(picture, ms, QSize(SubtitleMovies::JumpsWidth, SubtitleMovies::JumpsHeight));
    return picture.Image();
}

TEST(Subtitles, AnIndexReadWherePicturesAreWantedKnowsWhatAnIndexReadInOrderKnows)
{
    for (const bool dvb : {false, true}) {
        const std::string movie =
            std::string(FRAMORA_FIXTURE_DIR) + "/" + (dvb ? SubtitleMovies::JumpsTs : SubtitleMovies::JumpsMkv);
        TMovieDecoder decoder;
        ASSERT_TRUE(decoder.Open(movie));
        ASSERT_FALSE(decoder.SubtitleStreams().empty());
        const TSubtitleStreamInfo stream = decoder.SubtitleStreams().front();
        TMovieSubtitles inOrder;
        inOrder.OpenStream(movie, stream);
        ASSERT_TRUE(inOrder.WaitForWholeIndex(IndexWait));
        ASSERT_GT(inOrder.EventCount(), 0u);

        TMovieSubtitles jumping;
        jumping.OpenStream(movie, stream);
        // Late in the film, then back, then near the start, as a user moves about.
        for (const std::int32_t wanted : {200500, 100700, 12300}) {
            ASSERT_TRUE(jumping.WaitForIndex(wanted, IndexWait)) << wanted;
            EXPECT_EQ(Drawn(jumping, wanted), Drawn(inOrder, wanted)) << (dvb ? "DVB " : "SubRip ") << wanted;
        }
        ASSERT_TRUE(jumping.WaitForWholeIndex(IndexWait));
        EXPECT_EQ(jumping.EventCount(), inOrder.EventCount()) << "no event lost or read twice";
        for (std::int32_t ms = 0; ms < SubtitleMovies::JumpsMinutes * 60000; ms += 500)
            ASSERT_EQ(Drawn(jumping, ms), Drawn(inOrder, ms)) << (dvb ? "DVB " : "SubRip ") << ms;
    }
}

} // namespace
