// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic capture's scans over generated movies whose cuts and pictures are known.
#include "StampedMovies.h"
#include "decoder/UMovieDecoder.h"
#include "decoder/USceneScanner.h"
#include "fixtures/SceneMovies.h"
#include "support/SlowInputs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

using namespace TestMovies;

namespace {

constexpr int PictureMs = 1000 / FrameRate;

struct TTaken {
    std::int32_t MarkMs;
    std::int32_t TimeMs;
    int Stamp;
};

std::string Describe(const std::vector<TTaken>& taken)
{
    std::string text;
    for (const TTaken& t : taken)
        text += std::to_string(t.MarkMs) + "/" + std::to_string(t.Stamp) + " ";
    return text;
}

std::vector<TTaken> ScanScenes(const char* movie, std::int32_t startMs, int stopAfter = 0)
{
    TMovieDecoder decoder;
    EXPECT_TRUE(decoder.Open(MoviePath(movie))) << movie;
    TSceneScanner scanner(decoder);
    std::vector<TTaken> taken;
    EXPECT_TRUE(scanner.ScanScenes(startMs, {}, {}, [&](const TSceneScanner::TFound& found) {
        taken.push_back({found.MarkMs, found.TimeMs, StampOf(found.Picture)});
        return stopAfter == 0 || int(taken.size()) < stopAfter;
    }));
    return taken;
}

std::vector<TTaken> ScanIntervals(const char* movie, std::int32_t startMs, std::int32_t everyMs)
{
    TMovieDecoder decoder;
    EXPECT_TRUE(decoder.Open(MoviePath(movie))) << movie;
    TSceneScanner scanner(decoder);
    std::vector<TTaken> taken;
    EXPECT_TRUE(scanner.ScanIntervals(startMs, everyMs, {}, [&](const TSceneScanner::TFound& found) {
        taken.push_back({found.MarkMs, found.TimeMs, StampOf(found.Picture)});
        return true;
    }));
    return taken;
}

// Each shot of the joined movie once: no scene inside the pan, the fade or the flash, each cut
// within a picture of the truth, each still a few pictures into its scene.
TEST(SceneScanner, FindsTheCutsOfJoinedShots)
{
    const std::vector<TTaken> taken = ScanScenes(SceneMovies::Joined, 0);
    ASSERT_EQ(taken.size(), std::size(SceneMovies::Cuts) + 1) << Describe(taken);
    EXPECT_EQ(taken[0].MarkMs, 0);
    EXPECT_EQ(taken[0].Stamp, 0);
    for (std::size_t i = 0; i < std::size(SceneMovies::Cuts); ++i) {
        const int cut = SceneMovies::Cuts[i];
        const TTaken& scene = taken[i + 1];
        EXPECT_LE(std::abs(scene.MarkMs - cut * PictureMs), PictureMs) << "cut " << cut;
        EXPECT_EQ(scene.Stamp, scene.MarkMs / PictureMs + SceneDetection::DefaultStillOffset) << "cut " << cut;
        EXPECT_EQ(scene.TimeMs, scene.Stamp * PictureMs) << "cut " << cut;
    }
}

// Shots of the same mean colours told apart by their layout, whole or between black bars; a
// handheld camera's shake is no cut, the cut in the middle of it is.
TEST(SceneScanner, FindsCutsBetweenShotsOfLikeColours)
{
    struct TCase {
        const char* Movie;
        std::vector<int> Cuts;
    };
    std::vector<TCase> cases;
    for (const SceneMovies::TAlikeMovie& movie : SceneMovies::AlikeMovies) {
        std::vector<int> cuts;
        for (int shot = 1; shot < SceneMovies::AlikeShots; ++shot)
            cuts.push_back(shot * SceneMovies::AlikeShotFrames);
        cases.push_back({movie.Name, cuts});
    }
    cases.push_back({SceneMovies::Shake, {SceneMovies::ShakeCut}});
    for (const TCase& c : cases) {
        const std::vector<TTaken> taken = ScanScenes(c.Movie, 0);
        ASSERT_EQ(taken.size(), c.Cuts.size() + 1) << c.Movie << ": " << Describe(taken);
        for (std::size_t i = 0; i < c.Cuts.size(); ++i)
            EXPECT_LE(std::abs(taken[i + 1].MarkMs - c.Cuts[i] * PictureMs), PictureMs) << c.Movie << " cut " << c.Cuts[i];
    }
}

TEST(SceneScanner, StartsAtThePositionGiven)
{
    // Inside the pan: the first scene is the picture there, then the cuts after it.
    const std::vector<TTaken> taken = ScanScenes(SceneMovies::Joined, 3000);
    ASSERT_EQ(taken.size(), 4u) << Describe(taken);
    EXPECT_EQ(taken[0].Stamp, 3000 / PictureMs);
    EXPECT_EQ(taken[1].Stamp, SceneMovies::Cuts[1] + SceneDetection::DefaultStillOffset);
    EXPECT_EQ(taken[3].Stamp, SceneMovies::Cuts[3] + SceneDetection::DefaultStillOffset);
}

TEST(SceneScanner, StopsWhenTold)
{
    EXPECT_EQ(ScanScenes(SceneMovies::Many, 0, 3).size(), 3u);
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(SceneMovies::Many)));
    TSceneScanner scanner(decoder);
    std::stop_source stop;
    int found = 0;
    scanner.ScanScenes(0, {}, stop.get_token(), [&](const TSceneScanner::TFound&) {
        if (++found == 2)
            stop.request_stop();
        return true;
    });
    EXPECT_EQ(found, 2);
    EXPECT_LT(scanner.ReachedMs(), 3 * SceneMovies::ManyShotFrames * PictureMs);
}

// A stop raised by another thread, through the scan's token or through the decoder's own signal,
// ends a scan in the middle of the movie at once: told neither as a read cut short nor as times
// missed. Each progress report takes a while here, so the scan is still far from the end.
TEST(SceneScanner, AStopFromAnotherThreadEndsTheScanAtOnce)
{
    for (const bool intervals : {false, true}) {
        for (const bool throughDecoder : {false, true}) {
            const std::string name = std::string(intervals ? "intervals" : "scenes")
                + (throughDecoder ? ", the decoder's signal" : ", the token");
            TMovieDecoder decoder;
            ASSERT_TRUE(decoder.Open(MoviePath(LongGopH264)));
            std::atomic<bool> decoderStop{false};
            if (throughDecoder)
                decoder.SetStopSignal(&decoderStop);
            std::stop_source token;
            std::atomic<std::int32_t> reached{-1};
            const auto progress = [&](std::int32_t ms) {
                reached = ms;
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            };
            TSceneScanner scanner(decoder);
            TStopFromAnotherThread stop([&] { throughDecoder ? decoderStop.store(true) : (void)token.request_stop(); },
                                        [&] { return reached >= 2000; });
            const auto none = [](const TSceneScanner::TFound&) { return true; };
            if (intervals)
                scanner.ScanIntervals(0, 250, token.get_token(), none, progress);
            else
                scanner.ScanScenes(0, {}, token.get_token(), none, progress);
            EXPECT_LT(stop.Returned(), std::chrono::seconds(1)) << name;
            EXPECT_LT(scanner.ReachedMs(), decoder.Duration() / 2) << name;
            EXPECT_FALSE(scanner.CutShort()) << name;
            EXPECT_TRUE(scanner.MissedMs().empty()) << name;
        }
    }
}

TEST(SceneScanner, EveryShotOfALongRun)
{
    const std::vector<TTaken> taken = ScanScenes(SceneMovies::Many, 0);
    ASSERT_EQ(taken.size(), std::size_t(SceneMovies::ManyScenes));
    for (int shot = 1; shot < SceneMovies::ManyScenes; ++shot)
        EXPECT_EQ(taken[shot].Stamp, shot * SceneMovies::ManyShotFrames + SceneDetection::DefaultStillOffset);
}

TEST(SceneScanner, IntervalsTakeThePictureShownAtEachTime)
{
    const struct {
        const char* Movie;
        std::int32_t Start, Every;
        std::vector<int> Stamps;
    } cases[] = {
        {Mpeg4Avi, 0, 2000, {0, 50, 100, 150, 200}},
        {Mpeg4Avi, 4100, 2000, {102, 152, 202}},
        // B-frames, and a clock that starts late.
        {BFramesProgramStream, 0, 2500, {0, 62, 125, 187}},
        {BFramesLongGop, 0, 5000, {0, 125, 250, 375}},
    };
    for (const auto& c : cases) {
        std::vector<int> stamps;
        for (const TTaken& t : ScanIntervals(c.Movie, c.Start, c.Every)) {
            stamps.push_back(t.Stamp);
            EXPECT_EQ(t.TimeMs, t.Stamp * PictureMs) << c.Movie;
        }
        EXPECT_EQ(stamps, c.Stamps) << c.Movie;
    }
}

TEST(SceneScanner, IntervalsAtAVariableRate)
{
    for (const TTaken& t : ScanIntervals(VariableRate, 0, 1000)) {
        ASSERT_GE(t.Stamp, 0);
        // The last picture shown at or before the time.
        EXPECT_LE(VariableRateTimeMs(t.Stamp), t.MarkMs);
        if (t.Stamp + 1 < VariableRateFrames) {
            EXPECT_GT(VariableRateTimeMs(t.Stamp + 1), t.MarkMs);
        }
        EXPECT_EQ(t.TimeMs, VariableRateTimeMs(t.Stamp));
    }
}

TEST(SceneScanner, GoesOnOverDamage)
{
    for (const char* movie : {CorruptedMp4, CorruptedAvi}) {
        TMovieDecoder decoder;
        ASSERT_TRUE(decoder.Open(MoviePath(movie))) << movie;
        TSceneScanner scanner(decoder);
        int found = 0;
        EXPECT_TRUE(scanner.ScanScenes(0, {}, {}, [&](const TSceneScanner::TFound&) { return ++found > 0; }));
        EXPECT_GE(found, 1) << movie;
        // Past the damage in the middle of the file.
        EXPECT_GT(scanner.ReachedMs(), decoder.Duration() * 4 / 5) << movie;
    }
}

// A scan whose reads fail (here: every read past its deadline from the first picture on) says
// so: the times it missed, and that it stopped short of the end; a scan to the end does not.
TEST(SceneScanner, ReadsThatFailAreToldApartFromTheEnd)
{
    // Each scan on a decoder of its own, opened with the default deadline.
    const auto scan = [](bool starved, bool intervals, std::vector<std::int32_t>* marks = nullptr) {
        auto decoder = std::make_unique<TMovieDecoder>();
        EXPECT_TRUE(decoder->Open(MoviePath(LongGopH264)));
        auto scanner = std::make_unique<TSceneScanner>(*decoder);
        const auto found = [&](const TSceneScanner::TFound& f) {
            if (marks)
                marks->push_back(f.MarkMs);
            if (starved)
                decoder->SetCallTimeLimit(0);
            return true;
        };
        EXPECT_TRUE(intervals ? scanner->ScanIntervals(0, 5000, {}, found) : scanner->ScanScenes(0, {}, {}, found));
        return std::make_pair(std::move(decoder), std::move(scanner));
    };
    {
        const auto [decoder, scanner] = scan(false, false);
        EXPECT_FALSE(scanner->CutShort());
        EXPECT_TRUE(scanner->MissedMs().empty());
        EXPECT_GT(scanner->ReachedMs(), decoder->Duration() - 1000);
    }
    {
        const auto [decoder, scanner] = scan(true, false);
        EXPECT_TRUE(scanner->CutShort());
        EXPECT_LT(scanner->ReachedMs(), decoder->Duration() / 2);
    }
    std::vector<std::int32_t> marks;
    const auto [decoder, scanner] = scan(true, true, &marks);
    // Every interval time is either found or missed, the last ones missed.
    std::vector<std::int32_t> told = marks;
    told.insert(told.end(), scanner->MissedMs().begin(), scanner->MissedMs().end());
    std::sort(told.begin(), told.end());
    EXPECT_EQ(told, (std::vector<std::int32_t>{0, 5000, 10000, 15000}));
    ASSERT_FALSE(scanner->MissedMs().empty());
    EXPECT_EQ(scanner->MissedMs().back(), 15000);
}

} // namespace
