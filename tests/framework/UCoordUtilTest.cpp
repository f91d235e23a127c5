// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/UCoordUtil.h"

#include <gtest/gtest.h>

namespace {

struct FitCase {
    TRect Source;
    std::int32_t MaxWidth;
    std::int32_t MaxHeight;
    TRect Expected;
};

TEST(UCoordUtil, FitRectKeepsTopLeftAndTouchesTwoSides)
{
    const FitCase cases[] = {
        // width-bound: the scaled width 184 exceeds 148
        {{0, 0, 640, 480}, 148, 138, {0, 0, 148, 111}},
        // enlarged, top-left kept
        {{10, 20, 110, 70}, 300, 300, {10, 20, 310, 170}},
        // the preview: 720 x 480 and 320 x 240 in 386 x 197 (height-bound, rounded to nearest)
        {{0, 0, 720, 480}, 386, 197, {0, 0, 296, 197}},
        {{0, 0, 320, 240}, 386, 197, {0, 0, 263, 197}},
        // a scaled width that fits exactly stays height-bound
        {{0, 0, 200, 100}, 100, 50, {0, 0, 100, 50}},
        // 1080p into the preview: width-bound
        {{0, 0, 1920, 1080}, 386, 197, {0, 0, 350, 197}},
        // no aspect ratio: empty rectangle at the corner
        {{5, 6, 5, 100}, 100, 100, {5, 6, 5, 6}},
        {{5, 6, 50, 6}, 100, 100, {5, 6, 5, 6}},
    };
    for (const FitCase& c : cases) {
        EXPECT_EQ(FitRect(c.Source, c.MaxWidth, c.MaxHeight), c.Expected)
            << c.Source.Right << "x" << c.Source.Bottom << " into " << c.MaxWidth << "x" << c.MaxHeight;
    }
}

TEST(UCoordUtil, CentreTruncatesTowardZero)
{
    EXPECT_EQ(RectCenter({0, 0, 5, 5}), (TPoint{2, 2}));
    EXPECT_EQ(RectCenter({-5, -5, 0, 0}), (TPoint{-2, -2}));
    EXPECT_EQ(RectCenter({INT32_MAX - 1, 0, INT32_MAX, 2}), (TPoint{INT32_MAX - 1, 1}));
    EXPECT_EQ(CenterRectAt({0, 0, 10, 4}, {100, 50}), (TRect{95, 48, 105, 52}));
}

TEST(UCoordUtil, FitRectCenteredInBox)
{
    EXPECT_EQ(FitRectCentered({0, 0, 200, 100}, {0, 0, 100, 100}), (TRect{0, 25, 100, 75}));
    // the preview: horizontally centred, full height
    const TRect fitted = FitRectCentered({0, 0, 720, 480}, {0, 0, 386, 197});
    EXPECT_EQ(fitted, (TRect{45, 0, 341, 197}));
    EXPECT_EQ(RectWidth(fitted), 296);
    EXPECT_EQ(RectHeight(fitted), 197);
    // a box that does not start at the origin
    EXPECT_EQ(FitRectCentered({0, 0, 4, 4}, {10, 10, 30, 20}), (TRect{15, 10, 25, 20}));
}

TEST(UCoordUtil, QRectConversionKeepsExclusiveEdges)
{
    const TRect r{3, 4, 13, 24};
    const QRect q = ToQRect(r);
    EXPECT_EQ(q, QRect(3, 4, 10, 20));
    EXPECT_EQ(q.right(), 12);
    EXPECT_EQ(FromQRect(q), r);
    EXPECT_EQ(FromQRect(QRect()), (TRect{0, 0, 0, 0}));
}

} // namespace
