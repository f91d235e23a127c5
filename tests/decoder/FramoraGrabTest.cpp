// SPDX-License-Identifier: GPL-3.0-or-later
// framora-grab run as a program: its output lines, its files and its exit codes.
#include "StampedMovies.h"
#include "support/GrabRun.h"
#include "support/XmpRead.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <span>

#include <cerrno>
#include <cstring>
#include <sys/resource.h>

using namespace TestMovies;

namespace {

QString Movie(const char* name)
{
    return QString::fromStdString(MoviePath(name));
}

// A written BMP as a 24-bit bitmap; empty when it cannot be read.
TBitmap ReadBmp(const QString& path)
{
    TBitmap bitmap;
    QFile bmp(path);
    if (!bmp.open(QIODevice::ReadOnly))
        return bitmap;
    const QByteArray bytes = bmp.readAll();
    bitmap.LoadFromMemory(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                    static_cast<std::size_t>(bytes.size())));
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    return bitmap;
}

// Under a file-size limit every format fails whole, with the system's reason, and leaves no
// part of a picture under its name or any other.
TEST(FramoraGrab, AWriteBeyondTheFileSizeLimitLeavesNothingAndSaysWhy)
{
    for (const char* format : {"bmp", "png"}) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        QProcess process;
        process.setChildProcessModifier([] {
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 4096; // far less than a 320 x 240 picture
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        process.start(QStringLiteral(FRAMORA_BINARY_DIR "/grab/framora-grab"),
                      {"--format", format, Movie(Mpeg4Avi), dir.path(), "0"});
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << format;
        EXPECT_EQ(process.exitCode(), 3) << format;
        const QString file = dir.filePath(QStringLiteral("0.") + QString::fromLatin1(format));
        EXPECT_TRUE(QString::fromUtf8(process.readAllStandardOutput()).contains("0 failed")) << format;
        EXPECT_EQ(QString::fromUtf8(process.readAllStandardError()).trimmed(),
                  "framora-grab: cannot write " + file + ": " + QString::fromLocal8Bit(std::strerror(EFBIG)));
        EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty()) << format;
    }
}

} // namespace

// Pictures in formats that have room for it say which movie and moment they show, and the
// lossless ones keep the picture as BMP gives it.
TEST(FramoraGrab, PicturesSayWhereTheyCameFrom)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* format : {"webp", "tif", "png", "jpg", "bmp"}) {
        const QString folder = dir.filePath(QString::fromUtf8(format));
        const TGrabRun run = Grab({"--format", format, "--tonemap", "off", Movie(Mpeg4Avi), folder, "4.321s"});
        ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    }
    const QImage bmp = QImage(dir.filePath("bmp/4321.bmp")).convertToFormat(QImage::Format_RGB888);
    ASSERT_FALSE(bmp.isNull());
    for (const char* format : {"webp", "tif", "png", "jpg"}) {
        SCOPED_TRACE(format);
        const QString file = dir.filePath(QStringLiteral("%1/4321.%1").arg(QString::fromUtf8(format)));
        auto xmp = XmpOf(file);
        EXPECT_EQ(xmp["Xmp.framora.Movie"], QFileInfo(Movie(Mpeg4Avi)).fileName());
        EXPECT_EQ(xmp["Xmp.framora.Position"], QStringLiteral("00:00:04.320"));
        EXPECT_EQ(xmp["Xmp.framora.CodedSize"], QStringLiteral("320x240"));
        EXPECT_EQ(xmp["Xmp.framora.ShownSize"], QStringLiteral("320x240"));
        EXPECT_EQ(xmp["Xmp.framora.DisplaySize"], QStringLiteral("on"));
        EXPECT_EQ(xmp["Xmp.framora.Deinterlace"], QStringLiteral("auto"));
        EXPECT_EQ(xmp["Xmp.framora.ToneMapping"], QStringLiteral("off"));
        EXPECT_EQ(xmp["Xmp.xmp.CreatorTool"], QStringLiteral("Framora " FRAMORA_PROJECT_VERSION));
        if (std::string(format) != "jpg") {
            EXPECT_EQ(QImage(file).convertToFormat(QImage::Format_RGB888), bmp);
        }
    }
    EXPECT_TRUE(XmpOf(dir.filePath("bmp/4321.bmp")).empty());
}

TEST(FramoraGrab, FastFollowsThePlaybackPathInOrder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath("shots");
    const TGrabRun run = Grab({"--fast", Movie(Mpeg4Avi), out, "400", "9000", "9600", "9960", "99999", "0", "9500"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const QStringList expected = {
        "size 320x240 display 320x240 duration 10000",
        "400 ok " + out + "/400.bmp at 400",
        "9000 ok " + out + "/9000.bmp at 9000",
        "9600 ok " + out + "/9600.bmp at 9600",
        "9960 ok " + out + "/9960.bmp at 9960",
        "99999 ok " + out + "/99999.bmp at 9960",
        "0 ok " + out + "/0.bmp at 0",
        "9500 ok " + out + "/9500.bmp at 9000",
    };
    EXPECT_EQ(run.Out, expected);

    // One decoder serves the requests in order: rising times read on (10, then 240 and 249 after
    // the seek to 225), past the end shows the last picture again, 0 seeks back to the start, and
    // 9500 seeks into the last second, which has no key frame after it, and shows the key frame
    // before it. The files are BMPs the framework reads back, upright.
    const struct {
        const char* Name;
        int Stamp;
    } files[] = {{"400.bmp", 10},   {"9000.bmp", 225}, {"9600.bmp", 240},
                   {"9960.bmp", 249}, {"99999.bmp", 249}, {"0.bmp", 0}, {"9500.bmp", 225}};
    for (const auto& file : files) {
        const TBitmap bitmap = ReadBmp(out + "/" + file.Name);
        EXPECT_EQ(bitmap.Width(), Width) << file.Name;
        EXPECT_EQ(StampOf(bitmap), file.Stamp) << file.Name;
    }
}

TEST(FramoraGrab, ReadsCodecsLeftToThePlatform)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TGrabRun run = Grab({Movie(CinepakAvi), dir.path(), "1000", "1040"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out.value(0), "size 160x120 display 160x120 duration 1960");
    EXPECT_EQ(StampOf(ReadBmp(dir.filePath("1040.bmp"))), 26);
}

// By default the pictures the window captures (upright, at the display aspect); --coded the
// pictures as coded. The first line gives both sizes either way.
TEST(FramoraGrab, WritesPicturesAsShownOrAsCoded)
{
    const struct {
        const char* Movie;
        bool Coded;
        QString Sizes;
        QSize Written;
        int Stamp; // -1: the picture lies on its side; 0: not read
    } cases[] = {
        {Rotated[0], false, "size 320x240 display 240x320", {Height, Width}, 10},
        {Rotated[0], true, "size 320x240 display 240x320", {Width, Height}, -1},
        {Rotated[2], false, "size 320x240 display 240x320", {Height, Width}, 10},
        {Anamorphic16x9, false, "size 720x480 display 853x480", {853, DvdHeight}, 0},
        {Anamorphic16x9, true, "size 720x480 display 853x480", {DvdWidth, DvdHeight}, 10},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        QStringList arguments{Movie(c.Movie), dir.path(), "400"};
        if (c.Coded)
            arguments.prepend("--coded");
        const TGrabRun run = Grab(arguments);
        const std::string name = arguments.join(' ').toStdString();
        ASSERT_EQ(run.ExitCode, 0) << name << run.Err.toStdString();
        EXPECT_TRUE(run.Out.value(0).startsWith(c.Sizes + " duration ")) << name << run.Out.value(0).toStdString();
        const TBitmap picture = ReadBmp(dir.filePath("400.bmp"));
        EXPECT_EQ(QSize(picture.Width(), picture.Height()), c.Written) << name;
        // Enlarged, the stamp's blocks no longer fall where it is read.
        if (c.Stamp != 0) {
            EXPECT_EQ(StampOf(picture), c.Stamp) << name;
        }
    }
}

// Exact requests (the default; --exact names it for older scripts) land where the seek path
// cannot (9500 ms lies in the last second, after the last key frame) and say when their picture
// is shown. Times in seconds or as a clock reading are named in milliseconds.
TEST(FramoraGrab, ExactPicturesWithTheirOwnTimes)
{
    for (const QStringList& flags : {QStringList{}, QStringList{"--exact"}}) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const TGrabRun run = Grab(flags + QStringList{Movie(Mpeg4Avi), dir.path(), "9500", "4.321s", "0", "01:39.999"});
        ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
        const QStringList expected = {
            "size 320x240 display 320x240 duration 10000",
            "9500 ok " + dir.filePath("9500.bmp") + " at 9480",
            "4321 ok " + dir.filePath("4321.bmp") + " at 4320",
            "0 ok " + dir.filePath("0.bmp") + " at 0",
            "99999 ok " + dir.filePath("99999.bmp") + " at 9960",
        };
        EXPECT_EQ(run.Out, expected) << flags.join(' ').toStdString();
        EXPECT_EQ(StampOf(ReadBmp(dir.filePath("9500.bmp"))), 237);
        EXPECT_EQ(StampOf(ReadBmp(dir.filePath("4321.bmp"))), 108);
    }
}

// A time asked for without flags is that time, however far the key frame before it lies: the
// long GOP's only key frame before 2 s is at 0, where the playback path reads on 20 pictures
// and stops at 0.8 s.
TEST(FramoraGrab, LongGopTimeIsExactByDefault)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TGrabRun run = Grab({Movie(LongGopH264), dir.path(), "2000"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out.value(1).toStdString(), ("2000 ok " + dir.filePath("2000.bmp") + " at 2000").toStdString());
    EXPECT_EQ(StampOf(ReadBmp(dir.filePath("2000.bmp"))), 2000 / (1000 / FrameRate));
}

// A time without a picture does not stop the others, but the run ends with 3 so that a script
// notices.
TEST(FramoraGrab, SomeTimeWithoutAPictureEndsWith3)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir("400.bmp")); // in the way of the second picture
    const TGrabRun run = Grab({Movie(Mpeg4Avi), dir.path(), "0", "400", "800"});
    EXPECT_EQ(run.ExitCode, 3) << run.Err.toStdString();
    EXPECT_EQ(run.Out, (QStringList{"size 320x240 display 320x240 duration 10000",
                                    "0 ok " + dir.filePath("0.bmp") + " at 0", "400 failed",
                                    "800 ok " + dir.filePath("800.bmp") + " at 800"}));
    EXPECT_EQ(run.ErrLines(), QStringList{"framora-grab: cannot write " + dir.filePath("400.bmp") + ": " +
                                          QString::fromLocal8Bit(std::strerror(EISDIR))});
    EXPECT_EQ(StampOf(ReadBmp(dir.filePath("800.bmp"))), 20);
}

TEST(FramoraGrab, ExitCodes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        QStringList Arguments;
        int ExitCode;
    } cases[] = {
        {{}, 2},
        {{Movie(Mpeg4Avi), dir.path()}, 2},
        {{Movie(Mpeg4Avi), dir.path(), "ten"}, 2},
        {{Movie(Mpeg4Avi), dir.path(), "99999999999"}, 2},
        {{Movie(Mpeg4Avi), dir.path(), "0", "-5"}, 2},
        {{"--fast", "--exact", Movie(Mpeg4Avi), dir.path(), "0"}, 2},
        {{Movie("no-such-movie.avi"), dir.path(), "0"}, 1},
        {{Movie(OneFrame), dir.path(), "0"}, 1},
    };
    for (const auto& c : cases) {
        const TGrabRun run = Grab(c.Arguments);
        EXPECT_EQ(run.ExitCode, c.ExitCode) << c.Arguments.join(' ').toStdString();
        EXPECT_TRUE(run.Out.isEmpty()) << c.Arguments.join(' ').toStdString();
        EXPECT_FALSE(run.Err.isEmpty()) << c.Arguments.join(' ').toStdString();
        if (c.ExitCode == 1) {
            EXPECT_EQ(run.Err.count('\n'), 1) << "a one-line reason";
        }
    }
}
