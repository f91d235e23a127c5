// SPDX-License-Identifier: GPL-3.0-or-later
// Contact sheets against the pictures decoded at their times, and framora-grab run as a program:
// its sheet, its picture formats, its command-line answers and its quiet stderr.
#include "decoder/UMovieDecoder.h"
#include "fixtures/FrameStamp.h"
#include "fixtures/TestMovies.h"
#include "support/GrabRun.h"
#include "grab/UContactSheet.h"

#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

std::string Movie(const char* name)
{
    return std::string(FRAMORA_FIXTURE_DIR) + "/" + name;
}

int StampOf(const QImage& image)
{
    return FrameStamp::Read(image.width(), image.height(), [&](int x, int y) { return qGray(image.pixel(x, y)); });
}

// A long group of pictures: reading on within the packet budget would leave most tiles on
// pictures far from their labels.
TEST(ContactSheetMovie, EachTileIsThePictureAtItsTime)
{
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(Movie(TestMovies::LongGopH264)));
    const ContactSheet::TGrid grid{3, 2};
    std::vector<int> told;
    const ContactSheet::TSheet sheet = ContactSheet::Make(decoder, "h264-long-gop.mp4", grid, [&](int number, int count, std::int32_t) {
        EXPECT_EQ(count, 6);
        told.push_back(number);
    });
    EXPECT_EQ(told, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(sheet.Missing.empty());
    EXPECT_FALSE(decoder.Exact()) << "the decoder is left as it was";
    const ContactSheet::TLayout layout = ContactSheet::Layout(grid, TestMovies::Width, TestMovies::Height);
    ASSERT_EQ(sheet.Image.size(), layout.Sheet);

    const std::vector<std::int32_t> times = ContactSheet::Times(decoder.Duration(), grid.Count());
    for (int i = 0; i < grid.Count(); ++i)
        EXPECT_EQ(StampOf(sheet.Image.copy(layout.Picture(i))), times[i] * TestMovies::FrameRate / 1000) << "tile " << i;
}

// A phone movie's tiles stand upright unless the sheet is asked for as coded.
TEST(ContactSheetMovie, TilesAreShownAsMeant)
{
    for (const bool shown : {true, false}) {
        TMovieDecoder decoder;
        ASSERT_TRUE(decoder.Open(Movie(TestMovies::Rotated[0])));
        const ContactSheet::TSheet sheet = ContactSheet::Make(decoder, "rotated.mp4", {1, 1}, {}, shown);
        const QSize picture = shown ? QSize(TestMovies::Height, TestMovies::Width) : QSize(TestMovies::Width, TestMovies::Height);
        const ContactSheet::TLayout layout = ContactSheet::Layout({1, 1}, picture.width(), picture.height());
        ASSERT_EQ(sheet.Image.size(), layout.Sheet) << shown;
        const int stamp = StampOf(sheet.Image.copy(layout.Picture(0)));
        EXPECT_EQ(stamp >= 0, shown) << "reads upright only, stamp " << stamp;
    }
}

TEST(ContactSheetMovie, GrabWritesASheetWithProgressOnStderr)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath("sheet.jpg");
    const TGrabRun run = Grab({"--sheet", "2x2", QString::fromStdString(Movie(TestMovies::Mpeg4Avi)), out});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out, (QStringList{"size 320x240 display 320x240 duration 10000", "sheet ok " + out}));
    EXPECT_EQ(run.ErrLines(), (QStringList{"framora-grab: picture 1 of 4 at 00:00:01", "framora-grab: picture 2 of 4 at 00:00:03",
                                    "framora-grab: picture 3 of 4 at 00:00:06", "framora-grab: picture 4 of 4 at 00:00:08"}));
    QImage sheet;
    ASSERT_TRUE(sheet.load(out, "JPG")) << "written in the format its name ends with";
    EXPECT_EQ(sheet.size(), ContactSheet::Layout({2, 2}, 320, 240).Sheet);
}

TEST(ContactSheetMovie, GrabFormatsAndAnswers)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString movie = QString::fromStdString(Movie(TestMovies::Mpeg4Avi));
    const TGrabRun png = Grab({"--format", "png", movie, dir.path(), "400"});
    ASSERT_EQ(png.ExitCode, 0);
    QImage picture;
    ASSERT_TRUE(picture.load(dir.filePath("400.png"), "PNG"));
    EXPECT_EQ(StampOf(picture), 10);
    EXPECT_TRUE(png.ErrLines().isEmpty()) << "nothing but errors on stderr: " << png.Err.toStdString();

    const TGrabRun help = Grab({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_TRUE(help.Out.value(0).startsWith("Usage: framora-grab [options]"));
    const TGrabRun version = Grab({"--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out.value(0).section(' ', 0, 0), "framora-grab");
    const TGrabRun unknown = Grab({"--sheets", "2x2", movie, dir.filePath("s.png")});
    EXPECT_EQ(unknown.ExitCode, 2);
    EXPECT_TRUE(unknown.Out.isEmpty());
    EXPECT_EQ(unknown.ErrLines().value(1), help.Out.value(0)) << "the usage follows the reason";
}

TEST(ContactSheetMovie, LibraryErrorsAreOneLineEachUnderTheProgramName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TGrabRun run = Grab({"--sheet", "4x4", QString::fromStdString(Movie(TestMovies::CorruptedMp4)), dir.filePath("s.png")});
    EXPECT_EQ(run.ExitCode, 0);
    bool libraryError = false;
    for (const QString& line : run.ErrLines()) {
        EXPECT_TRUE(line.startsWith("framora-grab: ")) << line.toStdString();
        libraryError = libraryError || line.startsWith("framora-grab: [");
    }
    EXPECT_TRUE(libraryError) << "the damaged pictures are reported";
}

} // namespace
