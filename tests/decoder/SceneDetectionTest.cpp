// The scene detector's arithmetic, apart from any movie.
#include "decoder/USceneScanner.h"

#include <gtest/gtest.h>

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
