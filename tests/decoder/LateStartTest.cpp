// SPDX-License-Identifier: GPL-3.0-or-later
// Movies whose first shown picture is not the first in the file (an edit list's pre-roll, a first
// picture seconds in): time 0 is the first picture shown, the length spans the pictures, and both
// paths reach every picture FFmpeg shows. The exact table (ExactPositioningTest) steps through
// them too.
#include "decoder/UMovieDecoder.h"
#include "StampedMovies.h"
#include "support/GrabRun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <span>

using namespace TestMovies;

namespace {

constexpr int PictureMs = 1000 / FrameRate;
// More frame threads than the movie's last GOP has pictures.
constexpr int ManyThreads = 6;

// One request on a freshly opened decoder.
struct TRequest {
    const char* Movie;
    std::int32_t TimeMs;
    int Exact;   // the picture an exact request shows
    int Fast;    // the picture the playback path shows
};

void PrintTo(const TRequest& r, std::ostream* out)
{
    *out << r.Movie << " at " << r.TimeMs;
}

int ShownFresh(const TRequest& r, bool exact, int threads)
{
    TMovieDecoder decoder;
    decoder.SetExact(exact);
    decoder.SetDecodingThreads(threads);
    if (!decoder.Open(MoviePath(r.Movie)) || !decoder.DecodeFrame(r.TimeMs))
        return -1;
    return StampOf(decoder.Bitmap());
}

class LateStartTable : public ::testing::TestWithParam<TRequest> {};

// The B-frames movie's key frames are shown at 15, 40, ... 290: its edit list starts ten pictures
// into its first GOP.
constexpr int LastKey = EditListBFramesFrames - EditListLastGop;
constexpr int BFramesLast = EditListBFramesFrames - 2; // the writer's MP4s leave their last picture out

} // namespace

TEST_P(LateStartTable, FreshRequestShowsThePictureOfItsTime)
{
    const TRequest& r = GetParam();
    for (int threads : {1, ManyThreads}) {
        EXPECT_EQ(ShownFresh(r, true, threads), r.Exact) << "exact, " << threads << " threads";
        EXPECT_EQ(ShownFresh(r, false, threads), r.Fast) << "fast, " << threads << " threads";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Movies, LateStartTable,
    ::testing::Values(
        // The only key frame is never shown: every picture comes from the pictures after it.
        // Reading on stops at the first picture at or after the time.
        TRequest{EditListPreroll, 0, 0, 0}, TRequest{EditListPreroll, 39, 0, 1},
        TRequest{EditListPreroll, 40, 1, 1}, TRequest{EditListPreroll, 400, 10, 10},
        TRequest{EditListPreroll, 560, 14, 14}, TRequest{EditListPreroll, 10000, 14, 14},
        // Reading on from the opening's picture within seven seconds (it stops at the packet
        // that reaches the time: with B-frames a picture or two before the time's own comes
        // out), a seek beyond to the key frame after the time, and in the last GOP (no key
        // frame after it) the one before.
        TRequest{EditListBFrames, 0, 0, 0}, TRequest{EditListBFrames, 599, 14, 13},
        TRequest{EditListBFrames, 600, 15, 13}, TRequest{EditListBFrames, 9000, 225, 240},
        TRequest{EditListBFrames, 10000, 250, 265}, TRequest{EditListBFrames, 11599, 289, LastKey},
        TRequest{EditListBFrames, 11600, LastKey, LastKey}, TRequest{EditListBFrames, 11640, BFramesLast, LastKey},
        TRequest{EditListBFrames, 12400, BFramesLast, LastKey},
        // Clocks that start 1.4 s and 10 s late, searched by reading timestamps: in the last
        // stretch, which has no key frame after it, a key frame before the time (the search
        // steps back a second from where the file ended first).
        TRequest{TransportStream, 9500, 237, 225}, TRequest{ProgramStream, 9900, 247, 228},
        TRequest{BFramesProgramStream, 9999, 249, 228},
        // Times count from the first picture, 10 s into the file.
        TRequest{LateStart, 0, 0, 0}, TRequest{LateStart, 800, 20, 20}, TRequest{LateStart, 3000, 75, 20},
        TRequest{LateStart, 3960, LateStartFrames - 2, 20}),
    [](const auto& info) {
        return TestNameOf(info.param.Movie) + "_" + std::to_string(info.param.TimeMs);
    });

// The size line's length, and pictures every second that cover the movie and nothing past it.
TEST(LateStart, GrabEveryCoversThePictures)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TGrabRun run = Grab({"--every", "1", QString::fromStdString(MoviePath(LateStart)), dir.path()});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const int length = (LateStartFrames - 1) * PictureMs;
    EXPECT_EQ(run.Out.value(0), QStringLiteral("size %1x%2 display %1x%2 duration %3").arg(Width).arg(Height).arg(length));
    QStringList written = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(written, QStringList({"0.bmp", "1000.bmp", "2000.bmp", "3000.bmp"}));
    for (int second = 0; second < 4; ++second) {
        TBitmap bitmap;
        QFile file(dir.filePath(QStringLiteral("%1.bmp").arg(second * 1000)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        bitmap.LoadFromMemory(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                        static_cast<std::size_t>(bytes.size())));
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        EXPECT_EQ(StampOf(bitmap), second * FrameRate) << second;
    }
}
