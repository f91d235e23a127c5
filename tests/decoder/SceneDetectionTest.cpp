// SPDX-License-Identifier: GPL-3.0-or-later
// The scene detector's arithmetic, apart from any movie.
#include "decoder/USceneScanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using namespace SceneDetection;

TEST(SceneDetection, RgbToHsv)
{
    const struct {
        std::uint8_t R, G, B;
        int H, S, V;
    } cases[] = {
        {0, 0, 0, 0, 0, 0},         {255, 255, 255, 0, 0, 255}, {128, 128, 128, 0, 0, 128},
        {255, 0, 0, 0, 255, 255},   {255, 255, 0, 43, 255, 255}, {0, 255, 0, 85, 255, 255},
        {0, 255, 255, 128, 255, 255}, {0, 0, 255, 171, 255, 255}, {255, 0, 255, 213, 255, 255},
        {255, 0, 20, 253, 255, 255}, // just short of red again: the circle closes
        {200, 100, 100, 0, 128, 200},
    };
    for (const auto& c : cases) {
        const THsv hsv = RgbToHsv(c.R, c.G, c.B);
        EXPECT_EQ(hsv.H, c.H) << int(c.R) << "," << int(c.G) << "," << int(c.B);
        EXPECT_EQ(hsv.S, c.S) << int(c.R) << "," << int(c.G) << "," << int(c.B);
        EXPECT_EQ(hsv.V, c.V) << int(c.R) << "," << int(c.G) << "," << int(c.B);
    }
}

TEST(SceneDetection, PixelChange)
{
    const struct {
        THsv A, B;
        double Change;
    } cases[] = {
        {{10, 200, 200}, {10, 200, 200}, 0},
        {{0, 0, 0}, {0, 0, 255}, 85},                 // black to white: value only
        {{0, 255, 255}, {128, 255, 255}, 85},         // opposite hues at full colour
        {{0, 255, 255}, {255, 255, 255}, 2.0 / 3},    // neighbours across the circle's seam
        {{0, 0, 200}, {128, 0, 200}, 0},              // the hue of grey is noise
        {{0, 255, 0}, {128, 0, 0}, 0},                // so are hue and saturation of black
        {{0, 255, 51}, {128, 0, 51}, (255 * 0 + 255 * 0.2) / 3}, // dark: saturation counts a fifth
    };
    for (const auto& c : cases)
        EXPECT_NEAR(PixelChange(c.A, c.B), c.Change, 1e-9) << int(c.A.H) << "/" << int(c.B.H);
}

TEST(SceneDetection, MeanChange)
{
    const THsvPicture grey{0, 0, 100, 0, 0, 100};
    const THsvPicture half{0, 0, 100, 0, 0, 250};
    EXPECT_DOUBLE_EQ(MeanChange(grey, half), 25);
    EXPECT_DOUBLE_EQ(MeanChange(grey, grey), 0);
    EXPECT_DOUBLE_EQ(MeanChange(grey, {}), 0);
    EXPECT_DOUBLE_EQ(MeanChange(grey, THsvPicture{0, 0, 100}), 0);
}

// The scan's own arithmetic against its definitions over every colour pair a table cannot list:
// the hue as the rounded sector formula, the mean change as the mean of PixelChange, the cells'
// gradients at the border as if the edge pixels went on.
TEST(SceneDetection, FastArithmeticKeepsItsDefinitions)
{
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 5)
            for (int b = 0; b < 256; b += 7) {
                const int high = std::max({r, g, b}), delta = high - std::min({r, g, b});
                if (delta == 0)
                    continue;
                const double h = high == r ? (g - b) / double(delta)
                    : high == g            ? 2 + (b - r) / double(delta)
                                           : 4 + (r - g) / double(delta);
                const long hue = ((std::lround(h * 256.0 / 6.0) % 256) + 256) % 256;
                ASSERT_EQ(RgbToHsv(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)).H, hue) << r << "," << g << "," << b;
            }
    std::mt19937 random(37);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 20; ++round) {
        THsvPicture a(64 * 36 * 3), b(a.size());
        for (std::size_t i = 0; i < a.size(); ++i) {
            a[i] = std::uint8_t(byte(random));
            b[i] = std::uint8_t(byte(random));
        }
        double sum = 0;
        for (std::size_t i = 0; i < a.size(); i += 3)
            sum += PixelChange({a[i], a[i + 1], a[i + 2]}, {b[i], b[i + 1], b[i + 2]});
        EXPECT_NEAR(MeanChange(a, b), sum / double(a.size() / 3), 1e-9) << round;
    }
    // A picture whose right column alone is bright: only the cells along that edge see edges,
    // and all across the rows (the column beyond the edge reads as the edge itself).
    THsvPicture edge(8 * 8 * 3, 0);
    for (int y = 0; y < 8; ++y)
        edge[(std::size_t(y) * 8 + 7) * 3 + 2] = 200;
    const TSmallPicture small(edge, 8, 8);
    ASSERT_EQ(small.Cells.size(), std::size_t(GridCells * GridCells * CellValues));
    for (int cell = 0; cell < GridCells * GridCells; ++cell) {
        const float* values = &small.Cells[std::size_t(cell) * CellValues];
        const bool right = cell % GridCells == GridCells - 1;
        EXPECT_EQ(values[BrightnessBins] > 0, right) << cell;
        for (int direction = 1; direction < DirectionBins; ++direction)
            EXPECT_EQ(values[BrightnessBins + direction], 0.0f) << cell;
    }
}

// Flat pictures of two pixels, one per letter: A and B look nothing alike, a is A a little
// changed, W is white.
THsvPicture Flat(char name)
{
    switch (name) {
    case 'A': return {0, 200, 200, 0, 200, 200};
    case 'a': return {0, 200, 185, 0, 200, 185};
    case 'B': return {128, 200, 60, 128, 200, 60};
    case 'C': return {64, 250, 250, 64, 250, 250};
    case 'W': return {0, 0, 255, 0, 0, 255};
    }
    return {};
}

TEST(SceneDetection, CutDetector)
{
    // Pictures 40 ms apart; the stills found as (cut picture, still picture).
    const struct {
        const char* Name;
        const char* Pictures;
        TSettings Settings;
        std::vector<std::pair<int, int>> Stills;
    } cases[] = {
        {"still scene", "AAAAAAAAAAAAAAAAAAAA", {}, {}},
        {"hard cut", "AAAAAAAAAAAAAAAAAAAABBBBBBB", {}, {{20, 23}}},
        {"small changes are no cut", "AaAaAaAaAaAaAaAaAaAaAaAa", {}, {}},
        {"single white picture", "AAAAAAAAAAAAAAAAAAAAWAAAAAA", {}, {}},
        {"two cuts", "AAAAAAAAAAAAAAAAAAAABBBBBBBBBBBBBBBBBBBBCCCCC", {}, {{20, 23}, {40, 43}}},
        {"too soon after the start", "AAAAABBBBBBBBBBBBBBBBBBBB", {}, {}},
        {"too soon after a cut", "AAAAAAAAAAAAAAAAAAAABBBBBBCCCCCCCCCCCCCCCCCCCC", {}, {{20, 23}}},
        {"shorter scenes allowed", "AAAAABBBBBB", {30, 200, 3}, {{5, 8}}},
        {"still at the cut", "AAAAAAAAAAAAAAAAAAAABBBB", {30, 600, 0}, {{20, 20}}},
        {"threshold above the jump", "AAAAAAAAAAAAAAAAAAAABBBBBBB", {120, 600, 3}, {}},
        {"cut at the very end", "AAAAAAAAAAAAAAAAAAAABB", {}, {{20, 21}}},
    };
    for (const auto& c : cases) {
        TCutDetector detector(c.Settings);
        std::vector<std::pair<int, int>> stills;
        int n = 0;
        for (const char* p = c.Pictures; *p; ++p, ++n)
            if (const auto still = detector.Feed(n * 40, Flat(*p)))
                stills.emplace_back(still->CutMs / 40, still->StillMs / 40);
        if (const auto still = detector.Finish())
            stills.emplace_back(still->CutMs / 40, still->StillMs / 40);
        EXPECT_EQ(stills, c.Stills) << c.Name;
    }
}

// Grey pictures of 48x24 with a layout: vertical bars on the left, a checker on the right (or
// the mirror image), shifted by dx pixels, brightness scaled by light, between black bars of
// `bars` pixels at each side.
TSmallPicture Textured(bool mirrored, int dx = 0, double light = 1, int bars = 0)
{
    constexpr int Width = 48, Height = 24;
    THsvPicture hsv;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const int u = mirrored ? Width - 1 - x : x;
            const int s = u + dx;
            const bool bright = u < Width / 2 ? (s / 3) % 2 == 0 : ((s / 4) + (y / 4)) % 2 == 0;
            const bool bar = x < bars || x >= Width - bars;
            const auto v = static_cast<std::uint8_t>(bar ? 0 : std::lround((bright ? 170 : 80) * light));
            hsv.insert(hsv.end(), {0, 0, v});
        }
    return {hsv, Width, Height};
}

TEST(SceneDetection, StructureChange)
{
    const struct {
        const char* Name;
        TSmallPicture A, B;
        double Low, High;
    } cases[] = {
        {"the same picture", Textured(false), Textured(false), 0, 0},
        {"a step of a fade", Textured(false), Textured(false, 0, 0.9), 0, 8},
        {"a shift of a pixel", Textured(false), Textured(false, 1), 0, 30},
        {"its mirror image", Textured(false), Textured(true), 40, StructureScale},
        {"its mirror image between bars", Textured(false, 0, 1, 8), Textured(true, 0, 1, 8), 40, StructureScale},
        {"flat pictures", TSmallPicture(THsvPicture{0, 200, 200, 0, 200, 200}),
         TSmallPicture(THsvPicture{128, 200, 60, 128, 200, 60}), 0, 0},
        {"sizes that differ", Textured(false), TSmallPicture(THsvPicture{0, 0, 80}), 0, 0},
        {"an empty picture", Textured(false), TSmallPicture(), 0, 0},
    };
    for (const auto& c : cases) {
        const double change = StructureChange(c.A, c.B);
        EXPECT_GE(change, c.Low) << c.Name;
        EXPECT_LE(change, c.High) << c.Name;
        EXPECT_DOUBLE_EQ(change, StructureChange(c.B, c.A)) << c.Name;
    }
    // A size that does not match the pixels given.
    EXPECT_TRUE(TSmallPicture(THsvPicture{0, 0, 80}, 2, 2).Cells.empty());
}

// A cut must stand out from the changes before it: a shaking camera changes every picture a lot,
// a cut between two shots of like colours changes one picture more.
TEST(SceneDetection, CutsStandOut)
{
    // Pictures 40 ms apart: offsets of the textured picture, or 'M' for its mirror image shaken
    // alike (offset of the previous entry).
    const struct {
        const char* Name;
        std::vector<int> Offsets;
        std::vector<int> Mirrored; // from this picture on
        std::vector<std::pair<int, int>> Stills;
    } cases[] = {
        {"still, then its mirror image", std::vector<int>(40, 0), {20}, {{20, 23}}},
        {"shake", {0, 1, -1, 1, 0, -1, 1, 0, -1, 1, -1, 1, -1, 1, 0, 1, -1, 1, -1, 1, 0, -1, 1, -1, 1, -1, 1, 0}, {}, {}},
        {"shake, then its mirror image still",
         {0, 1, -1, 1, 0, -1, 1, 0, -1, 1, -1, 1, -1, 1, 0, 1, -1, 1, -1, 1, 0, 0, 0, 0, 0, 0, 0, 0},
         {20},
         {{20, 23}}},
    };
    for (const auto& c : cases) {
        TCutDetector detector;
        std::vector<std::pair<int, int>> stills;
        for (int n = 0; n < int(c.Offsets.size()); ++n) {
            const bool mirrored = !c.Mirrored.empty() && n >= c.Mirrored.front();
            if (const auto still = detector.Feed(n * 40, Textured(mirrored, c.Offsets[n])))
                stills.emplace_back(still->CutMs / 40, still->StillMs / 40);
        }
        if (const auto still = detector.Finish())
            stills.emplace_back(still->CutMs / 40, still->StillMs / 40);
        EXPECT_EQ(stills, c.Stills) << c.Name;
    }
}

TEST(SceneDetection, IntervalTimes)
{
    const struct {
        std::int32_t Start, Duration, Every;
        std::vector<std::int32_t> Times;
    } cases[] = {
        {0, 10000, 2000, {0, 2000, 4000, 6000, 8000}},
        {0, 10001, 2000, {0, 2000, 4000, 6000, 8000, 10000}},
        {3500, 10000, 2000, {3500, 5500, 7500, 9500}},
        {0, 1000, 5000, {0}},
        {0, 0, 1000, {}},
        {-20, 100, 50, {0, 50}},
        {0, 1000, 0, {}},
        {0, 1000, -5, {}},
        {2147483000, 2147483647, 500, {2147483000, 2147483500}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IntervalTimes(c.Start, c.Duration, c.Every), c.Times) << c.Start << " " << c.Duration << " " << c.Every;
}

} // namespace
