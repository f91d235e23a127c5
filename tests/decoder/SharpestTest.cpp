// SPDX-License-Identifier: GPL-3.0-or-later
// The sharpest still: the measure on synthetic pictures, the choice as a table, and the search on
// generated movies whose sharp pictures, cut and flat stretches are known.
#include "decoder/UMovieDecoder.h"
#include "decoder/USharpestPicture.h"
#include "decoder/USharpness.h"
#include "fixtures/SceneMovies.h"
#include "fixtures/SharpMovies.h"
#include "StampedMovies.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QColor>

#include <atomic>
#include <cmath>

namespace {

using Sharpness::TScoredPicture;

constexpr int PictureMs = 1000 / TestMovies::FrameRate;

// Squares of side pixels in black and white: all edges.
QImage Checker(int width, int height, int side, QImage::Format format = QImage::Format_BGR888)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, ((x / side + y / side) % 2) ? qRgb(230, 200, 40) : qRgb(20, 30, 90));
    return image.convertToFormat(format);
}

// The same picture softened: down to a quarter and back up, smoothly.
QImage Softened(const QImage& image)
{
    return image.scaled(image.width() / 4, image.height() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .scaled(image.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(image.format());
}

TEST(SharpnessMeasure, ReductionKeepsBothSidesWithinTheMeasureSide)
{
    struct Row {
        int Width, Height, Factor;
    } const rows[] = {
        {640, 360, 1}, {641, 360, 2}, {854, 480, 2}, {1920, 1080, 3}, {1080, 1920, 3}, {3840, 2160, 6},
        {7680, 4320, 12}, {1, 1, 1}, {0, 0, 1},
    };
    for (const Row& row : rows) {
        const int factor = Sharpness::ReductionFactor(row.Width, row.Height);
        EXPECT_EQ(factor, row.Factor) << row.Width << "x" << row.Height;
        EXPECT_LE(row.Width / factor, Sharpness::MeasureSide);
        EXPECT_LE(row.Height / factor, Sharpness::MeasureSide);
    }
}

TEST(SharpnessMeasure, TheReducedCopyKeepsColoursAndMeansBlocks)
{
    struct Row {
        QImage::Format Format;
        int Width, Height;
        QSize Reduced;
    } const rows[] = {
        {QImage::Format_BGR888, 1920, 1080, {640, 360}},
        {QImage::Format_RGB888, 1921, 1081, {480, 270}},
        {QImage::Format_RGB32, 854, 480, {427, 240}},
        {QImage::Format_BGR888, 320, 240, {320, 240}},
    };
    for (const Row& row : rows) {
        QImage picture(row.Width, row.Height, row.Format);
        picture.fill(QColor(200, 100, 30));
        const QImage reduced = Sharpness::Reduced(picture);
        EXPECT_EQ(reduced.size(), row.Reduced) << row.Format;
        EXPECT_EQ(reduced.pixel(reduced.width() - 1, reduced.height() - 1), qRgb(200, 100, 30)) << row.Format;
    }
    // Pixels alternating within a block average towards the mean of their two colours.
    const QImage reduced = Sharpness::Reduced(Checker(1920, 1080, 1));
    EXPECT_NEAR(qRed(reduced.pixel(100, 100)), (230 + 20) / 2, 15);
    EXPECT_TRUE(Sharpness::Reduced(QImage()).isNull());
}

TEST(SharpnessMeasure, EdgesScoreAndBlurAndFlatnessDoNot)
{
    const QImage sharp = Checker(854, 480, 8);
    const double sharpScore = Sharpness::Score(sharp);
    EXPECT_GT(sharpScore, 10 * Sharpness::Score(Softened(sharp)));
    EXPECT_GT(Sharpness::Score(Softened(sharp)), Sharpness::FlatScore);
    QImage flat(854, 480, QImage::Format_BGR888);
    flat.fill(qRgb(90, 110, 140));
    EXPECT_EQ(Sharpness::Score(flat), 0.0);
    // Too small to have an inside, or nothing at all.
    EXPECT_EQ(Sharpness::Score(Checker(2, 2, 1)), 0.0);
    EXPECT_EQ(Sharpness::Score(QImage()), 0.0);
    // The same picture in another layout, the channels swapped included, scores the same.
    for (const QImage::Format format : {QImage::Format_RGB888, QImage::Format_RGB32, QImage::Format_ARGB32})
        EXPECT_NEAR(Sharpness::Score(sharp.convertToFormat(format)), sharpScore, sharpScore * 1e-4) << format;
}

TEST(SharpnessMeasure, NoiseRaisesTheScore)
{
    // A known limit: grain looks like detail.
    QImage noisy = Softened(Checker(640, 360, 8));
    std::uint32_t seed = 7;
    for (int y = 0; y < noisy.height(); ++y) {
        std::uint8_t* row = noisy.scanLine(y);
        for (int x = 0; x < noisy.width() * 3; ++x) {
            seed = seed * 1664525u + 1013904223u;
            row[x] = static_cast<std::uint8_t>(std::clamp(int(row[x]) + int(seed >> 28) - 8, 0, 255));
        }
    }
    EXPECT_GT(Sharpness::Score(noisy), Sharpness::Score(Softened(Checker(640, 360, 8))));
}

TEST(SharpnessChoice, Table)
{
    struct Row {
        const char* What;
        std::vector<TScoredPicture> Pictures;
        std::vector<std::int32_t> Cuts;
        std::int32_t AnchorMs;
        std::size_t Expected;
    } const rows[] = {
        {"the sharpest", {{0, 50}, {40, 300}, {80, 100}, {120, 90}}, {}, 120, 1},
        {"ties go to the nearest", {{0, 300}, {40, 20}, {80, 299}, {120, 20}, {160, 301}}, {}, 120, 2},
        {"the nearest before on an even tie", {{0, 20}, {40, 300}, {80, 20}, {120, 300}}, {}, 80, 1},
        {"the anchor itself when it ties", {{0, 300}, {40, 298}, {80, 301}}, {}, 40, 1},
        {"a time between pictures is the one shown", {{0, 20}, {40, 300}, {80, 20}, {120, 300}}, {}, 79, 1},
        {"not across a cut after", {{0, 200}, {40, 20}, {80, 900}}, {80}, 40, 0},
        {"not across a cut before", {{0, 900}, {40, 20}, {80, 200}}, {40}, 40, 2},
        {"a cut at the anchor begins its scene", {{0, 900}, {40, 100}, {80, 20}}, {40}, 40, 1},
        {"between two cuts", {{0, 900}, {40, 10}, {80, 50}, {120, 900}}, {40, 120}, 40, 2},
        {"flat: the anchor", {{0, 1}, {40, 3}, {80, 0.5}}, {}, 40, 1},
        {"flat scene, detail across the cut", {{0, 1}, {40, 1}, {80, 900}}, {80}, 0, 0},
        {"before the first picture: the first", {{100, 1}, {140, 2}}, {}, 0, 0},
        {"after the last: the last", {{0, 1}, {40, 2}}, {}, 5000, 1},
        {"one picture", {{0, 500}}, {}, 0, 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Sharpness::Choose(row.Pictures, row.Cuts, row.AnchorMs), row.Expected) << row.What;
}

TEST(SharpestRange, IsBroughtWithinItsBounds)
{
    struct Row {
        std::int32_t Asked, Used;
    } const rows[] = {{0, 200}, {-500, 200}, {199, 200}, {500, 500}, {2000, 2000}, {2001, 2000}, {INT32_MAX, 2000}};
    for (const Row& row : rows)
        EXPECT_EQ(SharpestPicture::ClampRange(row.Asked), row.Used) << row.Asked;
}

class SharpestSearch : public ::testing::Test {
protected:
    void Open(const char* movie) { ASSERT_TRUE(Decoder.Open(MoviePath(movie))) << movie; }
    TMovieDecoder Decoder;
};

TEST_F(SharpestSearch, TakesTheNearestSharpPictureAndNeverCrossesTheCut)
{
    using namespace SharpMovies;
    Open(Alternating);
    // Every picture near the cut, and some further away, each side; ranges from the least to more.
    for (const std::int32_t rangeMs : {200, 500}) {
        for (const int anchor : {0, 1, 2, 9, 21, 33, 44, 46, 47, 48, 49, 50, 51, 52, 53, 70, 96, 97}) {
            const auto found = SharpestPicture::Around(Decoder, anchor * PictureMs, rangeMs);
            ASSERT_TRUE(found) << anchor;
            const int chosen = StampOf(Decoder.Bitmap());
            SCOPED_TRACE(testing::Message() << "anchor " << anchor << " range " << rangeMs << " chose " << chosen);
            EXPECT_EQ(chosen * PictureMs, found->TimeMs);
            EXPECT_EQ(chosen % 2, 0);
            EXPECT_LE(std::abs(chosen - anchor), 1);
            EXPECT_EQ(chosen < Cut, anchor < Cut);
            EXPECT_EQ(found->AnchorMs, anchor * PictureMs);
            EXPECT_GE(found->Score, found->AnchorScore);
            EXPECT_GE(found->Pictures, 2 * rangeMs / PictureMs / 2);
        }
    }
}

TEST_F(SharpestSearch, AFlatMovieKeepsThePictureOnScreen)
{
    Open(SharpMovies::Flat);
    for (const int anchor : {0, 7, 25, 48}) {
        const auto found = SharpestPicture::Around(Decoder, anchor * PictureMs, 500);
        ASSERT_TRUE(found) << anchor;
        EXPECT_EQ(found->TimeMs, anchor * PictureMs) << anchor;
        EXPECT_EQ(Decoder.FrameTimeMs(), anchor * PictureMs) << anchor;
    }
}

TEST_F(SharpestSearch, OnAPanOrAShakeTheChoiceIsNeverWorseThanThePictureOnScreen)
{
    struct Row {
        const char* Movie;
        int From, To;
    } const rows[] = {{SceneMovies::Joined, SceneMovies::Cuts[0], SceneMovies::Cuts[1]},
                      {SceneMovies::Shake, 0, SceneMovies::ShakeFrames}};
    for (const Row& row : rows) {
        Open(row.Movie);
        for (int anchor = row.From; anchor < row.To; anchor += 11) {
            const auto found = SharpestPicture::Around(Decoder, anchor * PictureMs, 500);
            ASSERT_TRUE(found) << row.Movie << " " << anchor;
            EXPECT_GE(found->Score, found->AnchorScore) << row.Movie << " " << anchor;
            EXPECT_EQ(StampOf(Decoder.Bitmap()) * PictureMs, found->TimeMs) << row.Movie << " " << anchor;
        }
    }
}

TEST_F(SharpestSearch, AStopEndsItWithoutAChoice)
{
    Open(SharpMovies::Alternating);
    std::atomic<bool> stop{true};
    Decoder.SetStopSignal(&stop);
    EXPECT_FALSE(SharpestPicture::Around(Decoder, 1000, 500));
    Decoder.SetStopSignal(nullptr);
    // The decoder is whole after the stop.
    EXPECT_TRUE(SharpestPicture::Around(Decoder, 1000, 500));
}

// Deep in a long GOP, under a bound that holds the stretch's pictures converted but not also the
// decoded pictures an exact request keeps behind it: the way back to the choice is a copy, and
// the decoder keeps pictures behind its requests again afterwards.
TEST_F(SharpestSearch, ComesBackToItsChoiceWithoutDecodingTheGopAgain)
{
    Open(TestMovies::LongGopH264);
    Decoder.SetExact(true);
    ASSERT_TRUE(Decoder.DecodeFrame(0));
    Decoder.SetCacheLimit(30 * Decoder.Bitmap().Image().sizeInBytes());
    const std::int64_t before = Decoder.DecodedPictures();
    constexpr std::int32_t AnchorMs = 7000, RangeMs = 500;
    const auto found = SharpestPicture::Around(Decoder, AnchorMs, RangeMs);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Pictures, 2 * RangeMs / PictureMs + 1);
    // Once from the key frame to the picture after the stretch, and a codec's delay.
    constexpr int Delay = 10;
    EXPECT_LE(Decoder.DecodedPictures() - before, (AnchorMs + RangeMs) / PictureMs + Delay);
    EXPECT_TRUE(Decoder.KeepsPicturesBehind());
}

TEST_F(SharpestSearch, StretchesAtTheEndsOfTheMovie)
{
    Open(SharpMovies::Alternating);
    // The movie's last picture as the decoder shows it (the writer's last B-picture may be lost).
    Decoder.SetExact(true);
    ASSERT_TRUE(Decoder.DecodeFrame(Decoder.Duration()));
    const std::int32_t lastMs = Decoder.FrameTimeMs();
    const int last = lastMs / PictureMs;
    struct Row {
        std::int32_t From, To, Anchor;
        int Expected;
    } const rows[] = {
        {-2000, 100, 0, 0},
        {lastMs - 100, lastMs + 5000, lastMs, last - last % 2},
        // Past the end only the last picture is shown, blurred or not.
        {lastMs + 1000, lastMs + 3000, lastMs + 2000, last},
    };
    for (const Row& row : rows) {
        const auto found = SharpestPicture::Find(Decoder, row.From, row.To, row.Anchor);
        ASSERT_TRUE(found) << row.From;
        EXPECT_EQ(StampOf(Decoder.Bitmap()), row.Expected) << row.From;
        EXPECT_EQ(row.Expected * PictureMs, found->TimeMs) << row.From;
    }
    // Times at either end of the millisecond range stay in it.
    const auto farEnd = SharpestPicture::Around(Decoder, INT32_MAX, SharpestPicture::MaxRangeMs);
    ASSERT_TRUE(farEnd);
    EXPECT_EQ(farEnd->TimeMs, lastMs);
    const auto farStart = SharpestPicture::Around(Decoder, INT32_MIN, SharpestPicture::MaxRangeMs);
    ASSERT_TRUE(farStart);
    EXPECT_EQ(farStart->TimeMs, 0);
    TMovieDecoder closed;
    EXPECT_FALSE(SharpestPicture::Around(closed, 0, 500));
}

} // namespace
