// SPDX-License-Identifier: GPL-3.0-or-later
// The decoder's AVIFile backend: AVI files whose codecs FFmpeg is told to leave alone open through
// the AVIFile service, choose their stream by priority, and show exactly the picture asked for.
#include "decoder/UMovieDecoder.h"
#include "framework/StretchDIBits.h"
#include "StampedMovies.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <QBuffer>
#include <chrono>
#include <climits>
#include <cstring>
#include <vector>

using namespace TestMovies;

namespace {

struct TAVICase {
    const char* Movie;
    int Width;
    int Height;
    int DurationMs;
    int StampBase; // the stamp of the stream's first picture
};

void PrintTo(const TAVICase& c, std::ostream* out)
{
    *out << c.Movie;
}

class AVIFileBackend : public ::testing::TestWithParam<TAVICase> {};

constexpr int LastPictureMs = (AviFrames - 1) * 1000 / FrameRate;

} // namespace

TEST_P(AVIFileBackend, OpensAndShowsTheSampleOfEachTime)
{
    const TAVICase& c = GetParam();
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(c.Movie))) << c.Movie;
    EXPECT_TRUE(decoder.UsesAVIFile());
    EXPECT_EQ(decoder.Width(), c.Width);
    EXPECT_EQ(decoder.Height(), c.Height);
    EXPECT_EQ(decoder.Duration(), c.DurationMs);
    // Opening decodes nothing into the bitmap: it is black at the movie's size.
    const TBitmap& bitmap = decoder.Bitmap();
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    ASSERT_EQ(bitmap.Width(), c.Width);
    ASSERT_EQ(bitmap.Height(), c.Height);
    EXPECT_EQ(bitmap.ScanLine(c.Height / 2)[3 * (c.Width / 2)], 0);

    const int lastStamp = c.StampBase + c.DurationMs * FrameRate / 1000;
    const struct {
        std::int32_t Ms;
        int Stamp;
    } requests[] = {
        {0, c.StampBase}, {1000, c.StampBase + 25},  {1040, c.StampBase + 26}, {1079, c.StampBase + 26},
        {-5, c.StampBase}, {INT32_MAX, lastStamp}, {c.DurationMs + 40, lastStamp}, {440, c.StampBase + 11},
    };
    for (const auto& r : requests) {
        ASSERT_TRUE(decoder.DecodeFrame(r.Ms)) << c.Movie << " at " << r.Ms;
        EXPECT_EQ(StampOf(bitmap), std::min(r.Stamp, lastStamp)) << c.Movie << " at " << r.Ms;
        EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
        EXPECT_EQ(bitmap.Width(), c.Width);
    }
    decoder.Close();
    EXPECT_EQ(decoder.Duration(), -1);
    EXPECT_FALSE(decoder.DecodeFrame(0));
}

INSTANTIATE_TEST_SUITE_P(
    Movies, AVIFileBackend,
    ::testing::Values(TAVICase{CinepakAvi, AviWidth, AviHeight, LastPictureMs, 0},
                      TAVICase{MsVideo1Avi, AviWidth, AviHeight, LastPictureMs, 0},
                      TAVICase{MsRleAvi, AviWidth, AviHeight, LastPictureMs, 0},
                      // The video stream behind the audio stream is chosen.
                      TAVICase{AviAudioFirst, AviWidth, AviHeight, LastPictureMs, 0},
                      // Priority 0 beats priority 1 although it comes second ...
                      TAVICase{AviTwoVideoPriorities, AviSecondWidth, AviSecondHeight, LastPictureMs,
                               SecondStreamStampBase},
                      // ... and among equal priorities the first stream wins.
                      TAVICase{AviTwoVideoEqual, AviWidth, AviHeight, LastPictureMs, 0},
                      // One picture lasts no time at all.
                      TAVICase{OnePictureAvi, AviWidth, AviHeight, 0, 0}),
    [](const auto& info) { return TestNameOf(info.param.Movie); });

TEST(AVIFileBackend, PalettisedPicturesComeOutIn24BitsWithThePaletteColours)
{
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(MsRleAvi)));
    ASSERT_TRUE(decoder.DecodeFrame(400));
    const TBitmap& bitmap = decoder.Bitmap();
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(StampOf(bitmap), 10);
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < 3 * bitmap.Width(); ++x)
            ASSERT_EQ(bitmap.ScanLine(y)[x] % RleLevelStep, 0) << "a colour outside the palette at " << x / 3 << "," << y;
    // Upright: the red bar is at the bottom left.
    const std::uint8_t* bottomLeft = bitmap.ScanLine(bitmap.Height() - 1);
    EXPECT_GE(bottomLeft[2], 4 * RleLevelStep);
    EXPECT_EQ(bottomLeft[1], 0);
    EXPECT_EQ(bottomLeft[0], 0);
}

TEST(AVIFileBackend, BitmapFileImageSizes)
{
    const struct {
        std::uint16_t Bits;
        std::uint32_t Compression;
        std::int32_t Width, Height;
        std::uint32_t SizeImage, ClrUsed;
        std::uint32_t OffBits, FileSize;
    } cases[] = {
        {8, BI_RGB, 4, 2, 0, 0, 1078, 1078 + 8},       // a full table of 256 colours
        {8, BI_RGB, 4, 2, 0, 16, 118, 118 + 8},        // biClrUsed says how many
        {32, BI_BITFIELDS, 2, 2, 0, 0, 66, 66 + 16},   // three masks
        {32, BI_RGB, 2, 2, 0, 0, 54, 54 + 16},
        {24, BI_RGB, 3, 2, 0, 0, 54, 78},              // rows of 9 bytes padded to 12
        {24, BI_RGB, 3, -2, 0, 0, 54, 78},             // top-down rows count the same
        {24, BI_RGB, 3, 2, 100, 0, 54, 154},           // biSizeImage wins when given
        {1, BI_RGB, 8, 1, 0, 0, 62, 66},
        {4, BI_RGB, 8, 1, 0, 0, 118, 122},
        {16, BI_BITFIELDS, 2, 1, 0, 0, 66, 70},
    };
    for (const auto& c : cases) {
        BITMAPINFOHEADER header{};
        header.biSize = sizeof header;
        header.biWidth = c.Width;
        header.biHeight = c.Height;
        header.biPlanes = 1;
        header.biBitCount = c.Bits;
        header.biCompression = c.Compression;
        header.biSizeImage = c.SizeImage;
        header.biClrUsed = c.ClrUsed;
        std::vector<std::uint8_t> block(c.FileSize - sizeof(BITMAPFILEHEADER), 0x5A);
        std::memcpy(block.data(), &header, sizeof header);

        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        stream.write(QByteArray(1200, 'x')); // left over from before, longer than any image here
        TMovieDecoder::WriteBitmapFileImage(stream, block.data());
        EXPECT_EQ(stream.pos(), 0);
        const QByteArray bytes = stream.data();
        ASSERT_EQ(bytes.size(), static_cast<int>(c.FileSize)) << c.Bits << " bits";
        BITMAPFILEHEADER fileHeader{};
        std::memcpy(&fileHeader, bytes.constData(), sizeof fileHeader);
        EXPECT_EQ(+fileHeader.bfType, kBitmapFileType);
        EXPECT_EQ(+fileHeader.bfSize, c.FileSize) << c.Bits << " bits";
        EXPECT_EQ(+fileHeader.bfOffBits, c.OffBits) << c.Bits << " bits";
        EXPECT_EQ(std::memcmp(bytes.constData() + sizeof fileHeader, block.data(), block.size()), 0);
    }
}

TEST(AVIFileBackend, DamagedFilesOpenOrFailQuickly)
{
    const int logLevel = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    using Clock = std::chrono::steady_clock;
    for (const char* movie : DamagedPlatformAvis) {
        TMovieDecoder decoder;
        const auto started = Clock::now();
        if (decoder.Open(MoviePath(movie))) {
            EXPECT_TRUE(decoder.UsesAVIFile()) << movie;
            for (std::int32_t ms : {0, 400, 1960, 100, INT32_MAX, -1, 440}) {
                decoder.DecodeFrame(ms);
                EXPECT_EQ(decoder.Bitmap().Width(), decoder.Width()) << movie;
                EXPECT_EQ(decoder.Bitmap().Height(), decoder.Height()) << movie;
            }
        } else {
            EXPECT_FALSE(decoder.IsOpen()) << movie;
        }
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(5)) << movie;
    }
    av_log_set_level(logLevel);
}

TEST(AVIFileBackend, NextMovieClosesTheAVIFileOne)
{
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(CinepakAvi)));
    ASSERT_TRUE(decoder.DecodeFrame(1000));
    ASSERT_TRUE(decoder.Open(MoviePath(Mpeg4Avi)));
    EXPECT_FALSE(decoder.UsesAVIFile());
    EXPECT_EQ(decoder.Width(), Width);
    EXPECT_EQ(StampOf(decoder.Bitmap()), 0);
    ASSERT_TRUE(decoder.Open(MoviePath(MsVideo1Avi)));
    EXPECT_TRUE(decoder.UsesAVIFile());
    EXPECT_EQ(decoder.Width(), AviWidth);
}
