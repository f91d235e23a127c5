// SPDX-License-Identifier: GPL-3.0-or-later
// framora-grab's command line and the contact sheet's arithmetic, apart from any movie.
#include "grab/UGrabOptions.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using ContactSheet::TGrid;

TEST(GrabOptions, Arguments)
{
    const struct {
        QStringList Arguments;
        TCommandLineOutcome Outcome;
        std::vector<std::int32_t> Times;
        std::optional<TGrid> Sheet;
        std::optional<TGrabFormat> Format;
        bool Coded = false;
        bool Fast = false;
        TPictureSettings Pictures = {};
    } cases[] = {
        {{"m.avi", "out", "0", "83.5s", "01:23.5", "9500"}, TCommandLineOutcome::Run, {0, 83500, 83500, 9500}, {}, {}},
        {{"--format", "png", "m.avi", "out", "1"}, TCommandLineOutcome::Run, {1}, {}, TGrabFormat::Png},
        {{"m.avi", "out", "1", "--format=JPEG"}, TCommandLineOutcome::Run, {1}, {}, TGrabFormat::Jpg},
        {{"--format", "webp", "m.avi", "out", "1"}, TCommandLineOutcome::Run, {1}, {}, TGrabFormat::Webp},
        {{"--format=TIFF", "m.avi", "out", "1"}, TCommandLineOutcome::Run, {1}, {}, TGrabFormat::Tiff},
        {{"--format", "gif", "m.avi", "out", "1"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"--sheet", "4x3", "m.avi", "s.png"}, TCommandLineOutcome::Run, {}, TGrid{4, 3}, {}},
        {{"--sheet=20X1", "--format", "bmp", "m.avi", "s"}, TCommandLineOutcome::Run, {}, TGrid{20, 1}, TGrabFormat::Bmp},
        {{"--coded", "m.avi", "out", "1"}, TCommandLineOutcome::Run, {1}, {}, {}, true},
        {{"--sheet", "2x2", "m.avi", "s.png", "--coded"}, TCommandLineOutcome::Run, {}, TGrid{2, 2}, {}, true},
        {{"--version"}, TCommandLineOutcome::ShowVersion, {}, {}, {}},
        {{"--help", "m.avi"}, TCommandLineOutcome::ShowHelp, {}, {}, {}},
        {{}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"m.avi", "out"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"m.avi", "out", "ten"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"m.avi", "out", "2147483648"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"m.avi", "out", "-2147483648"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"m.avi", "out", "1", "-5"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"--fast", "m.avi", "out", "1"}, TCommandLineOutcome::Run, {1}, {}, {}, false, true},
        {{"--exact", "m.avi", "out", "1"}, TCommandLineOutcome::Run, {1}, {}, {}, false, false},
        {{"--exact", "--fast", "m.avi", "out", "1"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"--format", "gif", "m.avi", "out", "1"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"--format"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"--sheet", "0x3", "m.avi", "s.png"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"--sheet", "21x1", "m.avi", "s.png"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"--sheet", "4x", "m.avi", "s.png"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"--sheet", "4x3", "m.avi"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"--sheet", "4x3", "m.avi", "s.png", "100"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"--exactly", "m.avi", "out", "1"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"--deinterlace", "on", "m.avi", "out", "1"}, TCommandLineOutcome::Run, {1}, {}, {}, false, false, {TDeinterlace::Always, true}},
        {{"--deinterlace=off", "--tonemap", "off", "m.avi", "out", "1"}, TCommandLineOutcome::Run, {1}, {}, {}, false, false, {TDeinterlace::Never, false}},
        {{"--deinterlace", "auto", "--tonemap=on", "m.avi", "out", "1"}, TCommandLineOutcome::Run, {1}, {}, {}, false, false, {TDeinterlace::Auto, true}},
        {{"--deinterlace", "yes", "m.avi", "out", "1"}, TCommandLineOutcome::UsageError, {}, {}, {}},
        {{"--tonemap", "auto", "m.avi", "out", "1"}, TCommandLineOutcome::UsageError, {}, {}, {}},
    };
    for (const auto& c : cases) {
        const TGrabOptions options = ParseGrabCommandLine(QStringList{"framora-grab"} + c.Arguments);
        const std::string name = c.Arguments.join(' ').toStdString();
        ASSERT_EQ(options.Outcome, c.Outcome) << name << "\n" << options.Text.toStdString();
        EXPECT_EQ(options.ExitCode(), c.Outcome == TCommandLineOutcome::UsageError ? 2 : 0) << name;
        if (c.Outcome != TCommandLineOutcome::Run)
            continue;
        EXPECT_EQ(options.Movie, "m.avi") << name;
        EXPECT_EQ(options.Times, c.Times) << name;
        EXPECT_EQ(options.Sheet, c.Sheet) << name;
        EXPECT_EQ(options.Format, c.Format) << name;
        EXPECT_EQ(options.Coded, c.Coded) << name;
        EXPECT_EQ(options.Fast, c.Fast) << name;
        EXPECT_EQ(options.Pictures, c.Pictures) << name;
    }
}

TEST(GrabOptions, Times)
{
    const struct {
        const char* Text;
        std::optional<std::int32_t> Ms;
    } cases[] = {
        {"2000", 2000},
        {"2147483647", INT32_MAX},
        {"83.5s", 83500},
        {"83s", 83000},
        {"0.04s", 40},
        {"1.001s", 1001},
        {"2147483.647s", INT32_MAX},
        {"01:23.5", 83500},
        {"1:23", 83000},
        {"90:00", 5400000}, // the leading field may pass 59
        {"1:02:03.250", 3723250},
        {"596:31:23.647", INT32_MAX},
        // Malformed
        {"", {}},
        {"abc", {}},
        {"1:2:3:4", {}},
        {"-5", {}},
        {"+5", {}},
        {"-1:00", {}},
        {"12.5", {}}, // a fraction needs its unit
        {"1:75", {}},
        {"1:60:00", {}},
        {"1:2", {}}, // seconds in two digits
        {"1:02:3", {}},
        {"2147483648", {}},
        {"99999999999999999999", {}},
        {"2147483.648s", {}},
        {"596:31:23.648", {}},
        {"1.2345s", {}}, // finer than a millisecond
        {"5ms", {}},
        {" 5", {}},
        {"5\n", {}},
        {"١٢", {}}, // digits of another script
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf8(c.Text);
        EXPECT_EQ(ParseGrabTime(text), c.Ms) << c.Text;
        if (c.Ms)
            continue;
        // The usage error names the argument, also those the option parser would take for options.
        const TGrabOptions options = ParseGrabCommandLine({"framora-grab", "m.avi", "out", "0", text});
        EXPECT_EQ(options.Outcome, TCommandLineOutcome::UsageError) << c.Text;
        EXPECT_TRUE(options.Text.startsWith("framora-grab: not a time: '" + text + "'")) << options.Text.toStdString();
    }
}

TEST(GrabOptions, SheetFormatFollowsFormatThenFileName)
{
    const auto format = [](QStringList arguments) {
        return ParseGrabCommandLine(QStringList{"framora-grab", "--sheet", "2x2", "m.avi"} + arguments).SheetFormat();
    };
    EXPECT_EQ(format({"s.png"}), TGrabFormat::Png);
    EXPECT_EQ(format({"s.JPG"}), TGrabFormat::Jpg);
    EXPECT_EQ(format({"s.bmp"}), TGrabFormat::Bmp);
    EXPECT_EQ(format({"sheet"}), TGrabFormat::Png);
    EXPECT_EQ(format({"s.png", "--format", "jpg"}), TGrabFormat::Jpg);
}

TEST(ContactSheetArithmetic, TimesAreTheMiddlesOfEqualParts)
{
    EXPECT_EQ(ContactSheet::Times(10000, 4), (std::vector<std::int32_t>{1250, 3750, 6250, 8750}));
    EXPECT_EQ(ContactSheet::Times(40, 1), (std::vector<std::int32_t>{20}));
    // Fewer milliseconds than pictures: times repeat, never leave the movie.
    EXPECT_EQ(ContactSheet::Times(3, 4), (std::vector<std::int32_t>{0, 1, 1, 2}));
    // No 32-bit overflow on the longest length.
    const std::vector<std::int32_t> longest = ContactSheet::Times(INT32_MAX, 400);
    ASSERT_EQ(longest.size(), 400u);
    EXPECT_TRUE(std::is_sorted(longest.begin(), longest.end()));
    EXPECT_GT(longest.front(), 0);
    EXPECT_LT(longest.back(), INT32_MAX);
    EXPECT_TRUE(ContactSheet::Times(0, 4).empty());
    EXPECT_TRUE(ContactSheet::Times(-1, 4).empty());
}

TEST(ContactSheetArithmetic, TileSizeKeepsProportionsAndNeverEnlarges)
{
    const struct {
        int Width, Height;
        QSize Tile;
    } cases[] = {
        {320, 240, {320, 240}},  {160, 120, {160, 120}}, {1920, 1080, {320, 180}}, {720, 480, {320, 213}},
        {1080, 1920, {180, 320}}, {10000, 2, {320, 1}},   {2, 10000, {1, 320}},     {0, 0, {320, 320}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ContactSheet::TileSize(c.Width, c.Height), c.Tile) << c.Width << "x" << c.Height;
}

TEST(ContactSheetArithmetic, LayoutPlacesTilesInRowsInsideTheSheet)
{
    using namespace ContactSheet;
    const TLayout layout = Layout({3, 2}, 1920, 1080);
    EXPECT_EQ(layout.Sheet, QSize(2 * Margin + 3 * 320 + 2 * Gap,
                                  2 * Margin + HeaderHeight + Gap + 2 * (180 + LabelHeight) + Gap));
    EXPECT_EQ(layout.Picture(0).topLeft(), QPoint(Margin, Margin + HeaderHeight + Gap));
    EXPECT_EQ(layout.Picture(2).left(), Margin + 2 * (320 + Gap));
    EXPECT_EQ(layout.Picture(3).left(), Margin);
    EXPECT_EQ(layout.Picture(3).top(), layout.Label(0).bottom() + 1 + Gap);
    const QRect sheet(QPoint(0, 0), layout.Sheet);
    std::set<std::pair<int, int>> corners;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(layout.Picture(i).size(), QSize(320, 180)) << i;
        EXPECT_TRUE(sheet.contains(layout.Label(i))) << i;
        EXPECT_FALSE(layout.Label(i).intersects(layout.Picture(i))) << i;
        EXPECT_FALSE(layout.Header.intersects(layout.Picture(i))) << i;
        corners.insert({layout.Picture(i).left(), layout.Picture(i).top()});
    }
    EXPECT_EQ(corners.size(), 6u);
    EXPECT_EQ(layout.Label(5).bottom(), layout.Sheet.height() - Margin - 1);
}

TEST(ContactSheetArithmetic, GridsAndLabels)
{
    EXPECT_EQ(ContactSheet::ParseGrid("1x1"), (TGrid{1, 1}));
    EXPECT_EQ(ContactSheet::ParseGrid("20x20"), (TGrid{20, 20}));
    for (const char* bad : {"", "x", "4", "4x3x2", " 4x3", "4x-3", "4*3", "1x21", "0x0", "4x3 "})
        EXPECT_FALSE(ContactSheet::ParseGrid(bad)) << bad;
    EXPECT_EQ(ContactSheet::TimeLabel(0), "00:00:00");
    EXPECT_EQ(ContactSheet::TimeLabel(3723999), "01:02:03");
    EXPECT_EQ(ContactSheet::TimeLabel(INT32_MAX), "596:31:23");
}

} // namespace
