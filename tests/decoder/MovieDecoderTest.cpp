// SPDX-License-Identifier: GPL-3.0-or-later
// The decoder against the generated movies: which movies open, which picture each request shows,
// and that damaged files fail quietly and quickly.
#include "decoder/UMovieDecoder.h"
#include "StampedMovies.h"
#include "decoder/UDisplayPicture.h"
#include "framework/TBitmap.h"
#include "support/SlowInputs.h"

#include <gtest/gtest.h>

#include <QImage>

#include "framework/FFmpegPtr.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <sched.h>

#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <vector>

using namespace TestMovies;

namespace {

struct TOpenCase {
    const char* Movie;
    bool Opens;
    int Width;
    int Height;
    int DurationMs;
};

void PrintTo(const TOpenCase& c, std::ostream* out)
{
    *out << c.Movie;
}

class OpenTable : public ::testing::TestWithParam<TOpenCase> {};

// Durations may differ by a picture between containers; sizes may not.
constexpr int DurationToleranceMs = 80;

} // namespace

TEST_P(OpenTable, OpensWithSizeDurationAndFirstPicture)
{
    const TOpenCase& c = GetParam();
    TMovieDecoder decoder;
    ASSERT_EQ(decoder.Open(MoviePath(c.Movie)), c.Opens) << c.Movie;
    EXPECT_EQ(decoder.IsOpen(), c.Opens);
    if (!c.Opens) {
        EXPECT_TRUE(decoder.FileName().empty());
        EXPECT_EQ(decoder.Width(), -1);
        EXPECT_EQ(decoder.Height(), -1);
        EXPECT_EQ(decoder.Duration(), -1);
        EXPECT_FALSE(decoder.DecodeFrame(0));
        return;
    }
    EXPECT_EQ(decoder.FileName(), MoviePath(c.Movie));
    EXPECT_EQ(decoder.Width(), c.Width);
    EXPECT_EQ(decoder.Height(), c.Height);
    EXPECT_NEAR(decoder.Duration(), c.DurationMs, DurationToleranceMs);
    // Open ends with the picture at time 0 already rendered, at the movie's size.
    EXPECT_EQ(decoder.Bitmap().PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(decoder.Bitmap().Width(), c.Width);
    EXPECT_EQ(decoder.Bitmap().Height(), c.Height);
    EXPECT_EQ(StampOf(decoder.Bitmap()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Movies, OpenTable,
    ::testing::Values(
        TOpenCase{LongGopH264, true, Width, Height, 20000},
        TOpenCase{Mpeg4Avi, true, Width, Height, 10000},
        TOpenCase{ProgramStream, true, Width, Height, 10000},
        TOpenCase{TransportStream, true, Width, Height, 10000},
        // The video stream is found behind the audio stream.
        TOpenCase{AudioFirst, true, Width, Height, 10000},
        // Only the first of two video streams is used (the second is smaller, stamped from 1000).
        TOpenCase{TwoVideo, true, Width, Height, 5000},
        // The length spans the pictures shown: not the pre-roll before an edit list's start,
        // nor the empty stretch before a first picture 10 s in.
        TOpenCase{EditListPreroll, true, PrerollWidth, PrerollHeight, (EditListFrames - 1) * 40},
        TOpenCase{EditListBFrames, true, EditListWidth, EditListHeight, (EditListBFramesFrames - 1) * 40},
        TOpenCase{LateStart, true, Width, Height, (LateStartFrames - 1) * 40},
        // One picture lasts 40 ms: too short to be a movie.
        TOpenCase{OneFrame, false, 0, 0, 0},
        TOpenCase{"no-such-movie.avi", false, 0, 0, 0}),
    [](const auto& info) { return TestNameOf(info.param.Movie); });

// The refusal is the decoder's rule, not a file FFmpeg cannot read: FFmpeg opens these movies
// and has decoders for their video, yet they reach the AVIFile backend.
TEST(MovieDecoder, LeavesCodecsToThePlatformThatFFmpegCouldDecode)
{
    const struct {
        const char* Movie;
        AVCodecID Codec;
    } cases[] = {{CinepakAvi, AV_CODEC_ID_CINEPAK}, {MsVideo1Avi, AV_CODEC_ID_MSVIDEO1}};
    for (const auto& c : cases) {
        AVFormatContext* format = nullptr;
        ASSERT_EQ(avformat_open_input(&format, MoviePath(c.Movie).c_str(), nullptr, nullptr), 0) << c.Movie;
        const bool probed = avformat_find_stream_info(format, nullptr) >= 0;
        const AVCodecID codec = format->nb_streams > 0 ? format->streams[0]->codecpar->codec_id : AV_CODEC_ID_NONE;
        avformat_close_input(&format);
        ASSERT_TRUE(probed) << c.Movie;
        ASSERT_EQ(codec, c.Codec) << c.Movie;
        ASSERT_NE(avcodec_find_decoder(codec), nullptr) << c.Movie;

        TMovieDecoder decoder;
        EXPECT_TRUE(decoder.Open(MoviePath(c.Movie))) << c.Movie;
        EXPECT_TRUE(decoder.UsesAVIFile()) << c.Movie;
    }
}

TEST(MovieDecoder, FailedOpenLeavesNothingOpenButKeepsTheLastPicture)
{
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(Mpeg4Avi)));
    ASSERT_TRUE(decoder.DecodeFrame(400));
    ASSERT_EQ(StampOf(decoder.Bitmap()), 10);

    EXPECT_FALSE(decoder.Open(MoviePath(OneFrame)));
    EXPECT_FALSE(decoder.IsOpen());
    EXPECT_TRUE(decoder.FileName().empty());
    EXPECT_EQ(decoder.Duration(), -1);
    EXPECT_EQ(decoder.Width(), -1);
    EXPECT_FALSE(decoder.DecodeFrame(400));
    EXPECT_EQ(StampOf(decoder.Bitmap()), 10);

    // The same decoder opens the next movie from scratch.
    ASSERT_TRUE(decoder.Open(MoviePath(LongGopH264)));
    EXPECT_EQ(StampOf(decoder.Bitmap()), 0);
    EXPECT_NEAR(decoder.Duration(), 20000, DurationToleranceMs);
}

TEST(MovieDecoder, CloseReleasesTheMovieAndKeepsTheBitmap)
{
    TMovieDecoder decoder;
    EXPECT_TRUE(decoder.Close()); // nothing open: nothing to do
    ASSERT_TRUE(decoder.Open(MoviePath(AudioFirst)));
    ASSERT_TRUE(decoder.DecodeFrame(800));
    EXPECT_TRUE(decoder.Close());
    EXPECT_FALSE(decoder.IsOpen());
    EXPECT_TRUE(decoder.FileName().empty());
    EXPECT_EQ(decoder.Height(), -1);
    EXPECT_FALSE(decoder.DecodeFrame(0));
    EXPECT_EQ(StampOf(decoder.Bitmap()), 20);
    EXPECT_TRUE(decoder.Close());
}

TEST(MovieDecoder, RendersUprightPicturesInTheirOwnColours)
{
    for (const char* movie : {Mpeg4Avi, LongGopH264, ProgramStream}) {
        TMovieDecoder decoder;
        ASSERT_TRUE(decoder.Open(MoviePath(movie))) << movie;
        const TBitmap& bitmap = decoder.Bitmap();
        // The stamp sits on the top rows: a picture upside down would not read.
        ASSERT_EQ(StampOf(bitmap), 0) << movie;
        const int y = Height - Height / 8;
        for (int bar = 0; bar < 3; ++bar) {
            const std::uint8_t* bgr = bitmap.ScanLine(y) + 3 * (bar * Width / 3 + Width / 6);
            const int blue = bgr[0], green = bgr[1], red = bgr[2];
            const TRGB expected = BarColours[bar];
            EXPECT_NEAR(red, expected.R, 40) << movie << " bar " << bar;
            EXPECT_NEAR(green, expected.G, 40) << movie << " bar " << bar;
            EXPECT_NEAR(blue, expected.B, 40) << movie << " bar " << bar;
        }
    }
}

// The first picture of a movie as bare FFmpeg decodes it and swscale converts it to 32-bit RGB
// (the fourth byte dropped), optionally told the picture's colour matrix and range the way
// FFmpeg's own scaler is: rows of blue, green, red.
std::vector<std::vector<std::uint8_t>> ReferenceFirstPicture(const char* movie, bool describeColours)
{
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, MoviePath(movie).c_str(), nullptr, nullptr) != 0)
        return {};
    ffmpeg::InputPtr format(opened);
    avformat_find_stream_info(opened, nullptr);
    const int stream = av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0)
        return {};
    const AVCodec* codec = avcodec_find_decoder(opened->streams[stream]->codecpar->codec_id);
    ffmpeg::CodecContextPtr context(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(context.get(), opened->streams[stream]->codecpar);
    ffmpeg::FramePtr frame(av_frame_alloc());
    ffmpeg::PacketPtr packet(av_packet_alloc());
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return {};
    bool got = false;
    while (!got && av_read_frame(opened, packet.get()) >= 0) {
        if (packet->stream_index == stream && avcodec_send_packet(context.get(), packet.get()) >= 0)
            got = avcodec_receive_frame(context.get(), frame.get()) >= 0;
        av_packet_unref(packet.get());
    }
    if (!got) {
        avcodec_send_packet(context.get(), nullptr);
        got = avcodec_receive_frame(context.get(), frame.get()) >= 0;
    }
    if (!got)
        return {};
    const int width = frame->width, height = frame->height;
    ffmpeg::SwsPtr converter(sws_getContext(width, height, static_cast<AVPixelFormat>(frame->format), width,
                                            height, AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (describeColours) {
        const int* matrix = sws_getCoefficients(frame->colorspace);
        sws_setColorspaceDetails(converter.get(), matrix, frame->color_range == AVCOL_RANGE_JPEG, matrix, 1, 0,
                                 1 << 16, 1 << 16);
    }
    // Into a picture laid out as FFmpeg lays out its own, as its tools convert: swscale chooses its
    // path by the rows' alignment, and the paths round differently.
    ffmpeg::FramePtr rgb32(av_frame_alloc());
    rgb32->width = width;
    rgb32->height = height;
    rgb32->format = AV_PIX_FMT_RGB32;
    if (av_frame_get_buffer(rgb32.get(), 64) < 0)
        return {};
    sws_scale(converter.get(), frame->data, frame->linesize, 0, height, rgb32->data, rgb32->linesize);
    std::vector<std::vector<std::uint8_t>> rows(height);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = rgb32->data[0] + static_cast<std::ptrdiff_t>(y) * rgb32->linesize[0];
        for (int x = 0; x < width; ++x)
            rows[y].insert(rows[y].end(), row + 4 * x, row + 4 * x + 3);
    }
    return rows;
}

std::vector<std::vector<std::uint8_t>> RowsOf(const TBitmap& bitmap)
{
    std::vector<std::vector<std::uint8_t>> rows;
    for (int y = 0; y < bitmap.Height(); ++y)
        rows.emplace_back(bitmap.ScanLine(y), bitmap.ScanLine(y) + 3 * bitmap.Width());
    return rows;
}

TEST(MovieDecoder, ColoursFollowTheMoviesMatrixAndRange)
{
    for (const char* movie : {Bt709Flat, FullRangeFlat}) {
        const auto expected = ReferenceFirstPicture(movie, true);
        const auto unaware = ReferenceFirstPicture(movie, false);
        ASSERT_FALSE(expected.empty()) << movie;
        // The flat colour reads clearly differently when its tags are ignored.
        const std::uint8_t* centre = &expected[Height / 2][3 * (Width / 2)];
        const std::uint8_t* wrong = &unaware[Height / 2][3 * (Width / 2)];
        ASSERT_GT(std::abs(centre[0] - wrong[0]) + std::abs(centre[1] - wrong[1]) + std::abs(centre[2] - wrong[2]), 12)
            << movie;

        TMovieDecoder decoder;
        ASSERT_TRUE(decoder.Open(MoviePath(movie))) << movie;
        EXPECT_EQ(RowsOf(decoder.Bitmap()), expected) << movie;
    }
}

// Conversion goes straight into the bitmap's rows; the pixels are those of a conversion to 32-bit
// RGB with the fourth byte dropped, at every width (rows padded or not).
TEST(MovieDecoder, RendersTheSamePixelsAsAConversionThroughRGB32)
{
    for (const char* movie : {Mpeg4Avi, LongGopH264, ProgramStream, TestMovies::Sample, TwoVideo, PaddedRows}) {
        TMovieDecoder decoder;
        ASSERT_TRUE(decoder.Open(MoviePath(movie))) << movie;
        const auto expected = ReferenceFirstPicture(movie, true);
        ASSERT_FALSE(expected.empty()) << movie;
        EXPECT_EQ(RowsOf(decoder.Bitmap()), expected) << movie;
    }
}

// One decoder, one request after another: the stamp shows which path each request took.
struct TStep {
    std::int32_t TimeMs;
    int Stamp; // what Bitmap shows afterwards
    const char* Why;
    bool Decoded = true;
};

void ExpectSteps(const char* movie, const std::vector<TStep>& steps)
{
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(movie))) << movie;
    ASSERT_EQ(StampOf(decoder.Bitmap()), 0) << movie;
    for (const TStep& step : steps) {
        EXPECT_EQ(decoder.DecodeFrame(step.TimeMs), step.Decoded) << movie << " at " << step.TimeMs;
        EXPECT_EQ(StampOf(decoder.Bitmap()), step.Stamp) << movie << " at " << step.TimeMs << ": " << step.Why;
    }
}

TEST(MovieDecoder, ReadsOnWithinSevenSecondsAndSeeksBeyond)
{
    // Key frames at 0 and 10 s only: a seek can only show picture 0 or 250, reading on shows
    // the pictures in between, at most 20 of them per request.
    ExpectSteps(LongGopH264, {
        {0, 0, "time 0 just after opening is the picture shown, not the one read next"},
        {400, 10, "reads on to the target"},
        {5400, 30, "a 5-second step reads on but stops after 20 packets"},
        {10000, 250, "a step of more than 7 seconds seeks to the next key frame"},
        {10400, 260, "reads on"},
        {8000, 250, "backwards always seeks and shows a key frame"},
        {0, 0, "back to the start"},
        {7000, 20, "exactly 7 seconds ahead still reads on"},
        {7840, 250, "7.04 seconds ahead of picture 20 seeks"},
        {-5000, 0, "a negative time is time 0"},
    });
}

TEST(MovieDecoder, SeeksToTheKeyFrameAtOrAfterTheTarget)
{
    // A key frame every second.
    ExpectSteps(Mpeg4Avi, {
        {4000, 20, "4 seconds reads on, 20 packets"},
        {9000, 225, "beyond 7 seconds seeks"},
        {2020, 75, "backwards seeks to the next key frame after the target"},
        {1960, 50, "backwards again"},
    });
}

TEST(MovieDecoder, PlaybackOfReorderedPicturesFollowsTheClock)
{
    // The sample has B-frames: packets arrive out of presentation order, so the packet read last
    // can stand several pictures ahead of the picture shown. Playback ticks must still read on
    // and show the picture of each tick, never jump to the next key frame (2 s on) and wait there.
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(TestMovies::Sample)));
    constexpr int TickMs = 97;
    for (int t = TickMs; t <= 3000; t += TickMs) {
        ASSERT_TRUE(decoder.DecodeFrame(t)) << t;
        const int expected = t * TestMovies::FrameRate / 1000;
        EXPECT_NEAR(StampOf(decoder.Bitmap()), expected, 3) << "at " << t << " ms";
    }
}

TEST(MovieDecoder, EndOfFileShowsTheLastPictureAgain)
{
    const int last = ShortGopFrames - 1;
    ExpectSteps(Mpeg4Avi, {
        {9000, 225, "seeks to the last key frame"},
        {9600, 240, "reads on"},
        {9960, last, "reads on to the last picture"},
        {INT32_MAX, last, "reads past the end and renders the last picture again"},
        // After the end no position is known, so the next request seeks; with no key frame
        // after 9.6 s it lands on the one before.
        {9600, 225, "seeks into the last stretch without a key frame"},
        {8000, 200, "seeks"},
    });
}

TEST(MovieDecoder, SkipsOtherStreamsWhileReading)
{
    ExpectSteps(AudioFirst, {{400, 10, "audio packets in between"}, {8000, 200, "seeks in the video stream"}});
    ExpectSteps(TwoVideo, {{400, 10, "the second video stream is never shown"}, {4000, 30, "reads on 20 packets"},
                           {2000, 50, "seeks back"}});
}

// Regression: the end of the file drained the codec only when video was stream 0, so with audio
// first the pictures the codec held back were never shown.
TEST(MovieDecoder, ReachesTheLastPictureWhenVideoIsNotTheFirstStream)
{
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(AudioFirstBFrames)));
    ASSERT_TRUE(decoder.DecodeFrame(9000));
    for (int request = 0; request < 3; ++request)
        decoder.DecodeFrame(INT32_MAX);
    EXPECT_EQ(StampOf(decoder.Bitmap()), ShortGopFrames - 1);
}

TEST(MovieDecoder, ShiftsRequestsByTheStreamStartTime)
{
    // The transport stream counts in 1/90000 s from about 1.4 s; the program stream from 10 s.
    // Without the shift a seek would land seconds early (or at the very start).
    ExpectSteps(TransportStream, {
        {8000, 200, "seeks to the key frame at 8 s of movie time"},
        {8400, 210, "reads on 10 pictures"},
        {0, 0, "time 0 is the start"},
    });
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(ProgramStream)));
    ASSERT_TRUE(decoder.DecodeFrame(9000));
    const int stamp = StampOf(decoder.Bitmap());
    EXPECT_GE(stamp, 9 * FrameRate);
    EXPECT_LT(stamp, 9 * FrameRate + 2 * ProgramGopSize);
    ASSERT_TRUE(decoder.DecodeFrame(0));
    EXPECT_EQ(StampOf(decoder.Bitmap()), 0);
}

TEST(MovieDecoder, DamagedMoviesFailQuietlyWithinTheBudgets)
{
    // FFmpeg reports every damaged block on stderr; the result is what counts here.
    const int logLevel = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    using Clock = std::chrono::steady_clock;
    const std::vector<std::int32_t> times = {0, 400, 3000, 9000, 2000, 15000, 19960, INT32_MAX, 100, -1};
    for (const char* movie : {TruncatedMp4, TruncatedAvi, CorruptedMp4, CorruptedAvi})
    for (const bool exact : {false, true}) {
        TMovieDecoder decoder;
        decoder.SetExact(exact);
        const auto opening = Clock::now();
        const bool opened = decoder.Open(MoviePath(movie));
        EXPECT_LT(Clock::now() - opening, std::chrono::seconds(5)) << movie;
        if (!opened) {
            EXPECT_FALSE(decoder.IsOpen()) << movie;
            continue;
        }
        for (std::int32_t ms : times) {
            const auto started = Clock::now();
            decoder.DecodeFrame(ms);
            EXPECT_LT(Clock::now() - started, std::chrono::seconds(2)) << movie << " at " << ms;
            EXPECT_EQ(decoder.Bitmap().Width(), decoder.Width()) << movie;
            EXPECT_EQ(decoder.Bitmap().Height(), decoder.Height()) << movie;
        }
        // Single steps over the damage, either way.
        decoder.DecodeFrame(3000);
        for (int step = 0; step < 30; ++step) {
            const auto started = Clock::now();
            step % 3 == 2 ? decoder.DecodeNextFrame() : decoder.DecodePreviousFrame();
            EXPECT_LT(Clock::now() - started, std::chrono::seconds(2)) << movie << " step " << step;
        }
        EXPECT_EQ(decoder.Bitmap().Width(), decoder.Width()) << movie;
    }
    av_log_set_level(logLevel);
}

// Inputs the fuzzer once broke the decoder with, kept beside its seeds: each must open or fail
// and then decode or fail, inside its buffers (the sanitizer build watches).
TEST(MovieDecoder, SurvivesTheFuzzerFindings)
{
    const int logLevel = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    const std::filesystem::path seeds = FRAMORA_SOURCE_DIR "/tests/fuzz/seeds/fuzz_decoder_open";
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(seeds)) {
        TMovieDecoder decoder;
        if (decoder.Open(entry.path().string()))
            for (std::int32_t ms : {400, 5000, 1000, 100000, -1, 60}) {
                decoder.DecodeFrame(ms);
                EXPECT_EQ(decoder.Bitmap().Width(), decoder.Width()) << entry.path();
            }
        ++inputs;
    }
    EXPECT_GT(inputs, 0);
    av_log_set_level(logLevel);
}

TEST(MovieDecoder, MovieCutMidGopStaysBlackUntilItsFirstKeyFrame)
{
    const int logLevel = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET); // the decoder complains about every picture without a reference
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(MidGopStart)));
    // The opening decode finds no key frame within its 20 packets: the bitmap stays as Open
    // prepared it, black at the movie's size.
    const TBitmap& bitmap = decoder.Bitmap();
    ASSERT_EQ(bitmap.Width(), Width);
    ASSERT_EQ(bitmap.Height(), Height);
    auto black = [&bitmap] {
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < bitmap.Width() * 3; ++x)
                if (bitmap.ScanLine(y)[x] != 0)
                    return false;
        return true;
    };
    EXPECT_TRUE(black());
    // Backwards: a seek into the undecodable start fails and changes nothing.
    EXPECT_FALSE(decoder.DecodeFrame(400));
    EXPECT_TRUE(black());
    // The opening decode still learnt the stream's start time: 1800 ms after its first picture
    // (number 5) is picture 50, the first key frame, reached by reading on.
    EXPECT_TRUE(decoder.DecodeFrame(1800));
    EXPECT_EQ(StampOf(bitmap), MidGopSize);
    av_log_set_level(logLevel);
}

TEST(MovieDecoder, FarRequestsInTransportStreamsShowThePictureAtTheTarget)
{
    // All pictures are key frames, so a seek must show the first picture at or after the target.
    // Transport streams search by decoding time, which here runs a picture behind presentation.
    for (const char* movie : {IntraTransportStream, IntraM2ts}) {
        TMovieDecoder fresh;
        ASSERT_TRUE(fresh.Open(MoviePath(movie))) << movie;
        ASSERT_TRUE(fresh.DecodeFrame(8000)) << movie;
        EXPECT_EQ(StampOf(fresh.Bitmap()), 200) << movie << " at 8000 right after opening";

        TMovieDecoder decoder;
        ASSERT_TRUE(decoder.Open(MoviePath(movie))) << movie;
        ASSERT_TRUE(decoder.DecodeFrame(9960));
        // Every request is backwards, so every one seeks; steps of 140 ms fall on picture times
        // (multiples of 40 ms) and between them.
        for (int t = 9820; t >= 0; t -= 140) {
            ASSERT_TRUE(decoder.DecodeFrame(t)) << movie << " at " << t;
            EXPECT_EQ(StampOf(decoder.Bitmap()), (t * FrameRate + 999) / 1000) << movie << " at " << t;
        }
    }
}

TEST(MovieDecoder, GivesUpOnALongStretchOfDamageInsteadOfReadingItToTheEnd)
{
    // Half a program stream followed by two gigabytes of zeros (a sparse file, no disk used):
    // probing hunts for the next start code through all of it, which takes most of a minute.
    const std::filesystem::path path = std::filesystem::path(FRAMORA_BINARY_DIR) / "long-damage.vob";
    std::filesystem::copy_file(MoviePath(ProgramStream), path, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
    std::filesystem::resize_file(path, std::uintmax_t{2} << 30);
    const int logLevel = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);

    constexpr int LimitMs = 300;
    TMovieDecoder decoder;
    decoder.SetCallTimeLimit(LimitMs);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(decoder.Open(path.string()));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2 * LimitMs + 2000));

    av_log_set_level(logLevel);
    std::filesystem::remove(path);
}

// A stop raised by another thread ends an opening that would read on to its deadline (here the
// default of ten seconds) at the next packet; the AVIFile service, which hears no stop, is not
// tried after it.
TEST(MovieDecoder, AStopEndsAnOpeningInProgress)
{
    const std::filesystem::path path = std::filesystem::path(FRAMORA_BINARY_DIR) / "long-damage-stopped.vob";
    WriteLongDamage(path);
    const int logLevel = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);

    TMovieDecoder decoder;
    std::atomic<bool> stopFlag{false};
    decoder.SetStopSignal(&stopFlag);
    const auto started = std::chrono::steady_clock::now();
    TStopFromAnotherThread stop([&] { stopFlag = true; },
                                [&] { return std::chrono::steady_clock::now() - started > std::chrono::milliseconds(200); });
    EXPECT_FALSE(decoder.Open(path.string()));
    EXPECT_LT(stop.Returned(), std::chrono::seconds(1));

    av_log_set_level(logLevel);
    std::filesystem::remove(path);
}

TEST(MovieDecoder, FrameThreadsShowPlaybackThePicturesOfOneThread)
{
    // Frame threads hand pictures out a few packets late. Playback at the window's ticks reads
    // on as far as a codec without threads would, then as many packets more as the threads hold
    // back, so each tick shows the same picture; seeks, budgets and the end of the file included.
    const char* const movies[] = {LongGopH264, BFramesLongGop, Sample, TransportStream,
                                  BFramesTransportStream, AudioFirstBFrames};
    constexpr int TickMs = 97;
    // Playback with a jump back, one far ahead and one of five seconds (past the budget).
    constexpr int JumpFromMs = 6000, JumpBackToMs = 2500, JumpAheadToMs = 16000, BudgetJumpMs = 5000;
    for (const int threads : {2, 3, 8}) {
        for (const char* movie : movies) {
            TMovieDecoder single, threaded;
            single.SetDecodingThreads(1);
            threaded.SetDecodingThreads(threads);
            ASSERT_TRUE(single.Open(MoviePath(movie)) && threaded.Open(MoviePath(movie))) << movie;
            ASSERT_EQ(single.DecodingThreads(), 1);
            ASSERT_EQ(threaded.DecodingThreads(), threads);
            std::vector<int> times;
            for (int t = 0; t <= JumpFromMs; t += TickMs)
                times.push_back(t);
            for (int t = JumpBackToMs; t <= JumpBackToMs + 1000; t += TickMs)
                times.push_back(t);
            times.push_back(JumpBackToMs + 1000 + BudgetJumpMs);
            for (int t = JumpAheadToMs; t <= single.Duration() + 2 * TickMs; t += TickMs)
                times.push_back(t);
            for (int t : times) {
                const bool shown = single.DecodeFrame(t);
                ASSERT_EQ(threaded.DecodeFrame(t), shown) << movie << " at " << t << ", " << threads << " threads";
                ASSERT_EQ(StampOf(threaded.Bitmap()), StampOf(single.Bitmap()))
                    << movie << " at " << t << ", " << threads << " threads";
            }
        }
    }
}

TEST(MovieDecoder, DecodesPicturesLargerThan1080pWithEveryProcessor)
{
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(LargeH264)));
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof(allowed), &allowed), 0);
    EXPECT_EQ(decoder.DecodingThreads(), std::min(CPU_COUNT(&allowed), MovieTime::MaxDecodingThreads));
    EXPECT_EQ(StampOf(decoder.Bitmap()), 0);
    ASSERT_TRUE(decoder.Open(MoviePath(LongGopH264)));
    EXPECT_EQ(decoder.DecodingThreads(), 1);
}

namespace {

// The mean difference of two pictures of one size, per channel sample.
double MeanDifference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int i = 0; i < x.width() * 3; ++i)
            sum += std::abs(int(x.constScanLine(row)[i]) - int(y.constScanLine(row)[i]));
    return sum / (double(x.width()) * x.height() * 3);
}

} // namespace

TEST(MovieDecoder, PlaybackPreviewLeavesTheFullPictureAsItWas)
{
    // Playback converts a picture larger than the preview once, at the preview's size; the
    // full-size picture is made when asked, from the picture still held, and must be exactly
    // what playback without a preview renders, whichever pictures were never asked for.
    const QSize previewSize(193, 109);
    constexpr int TickMs = 97;
    for (const char* movie : {Sample, Anamorphic16x9}) {
        TMovieDecoder plain, previewed;
        ASSERT_TRUE(plain.Open(MoviePath(movie)) && previewed.Open(MoviePath(movie))) << movie;
        previewed.SetPreviewSize(previewSize);
        for (int tick = 1; tick < 30; ++tick) {
            ASSERT_TRUE(plain.DecodeFrame(tick * TickMs) && previewed.DecodeFrame(tick * TickMs)) << movie;
            ASSERT_EQ(QSize(previewed.Preview().Width(), previewed.Preview().Height()), previewSize) << movie;
            if (tick % 3 != 0)
                continue;
            EXPECT_EQ(previewed.Bitmap().Image(), plain.Bitmap().Image()) << movie << " tick " << tick;
            const QImage scaled = plain.Bitmap().Image().scaled(previewSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            EXPECT_LT(MeanDifference(previewed.Preview().Image(), scaled), 6.0) << movie << " tick " << tick;
        }
        // A change of settings and closing leave the picture shown.
        ASSERT_TRUE(plain.DecodeFrame(3000) && previewed.DecodeFrame(3000));
        previewed.SetDeinterlace(TDeinterlace::Always);
        previewed.Close();
        EXPECT_EQ(previewed.Bitmap().Image(), plain.Bitmap().Image()) << movie;
        EXPECT_TRUE(previewed.Preview().Empty());
    }
}

TEST(MovieDecoder, PreviewIsMadeOnlyForPlaybackPicturesLargerThanIt)
{
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(Sample)));
    const struct {
        QSize Preview;
        bool Exact;
        bool Made;
    } cases[] = {
        {{320, 180}, false, true},  {{640, 180}, false, true}, {{640, 360}, false, false},
        {{700, 180}, false, false}, {{0, 0}, false, false},    {{320, 180}, true, false},
    };
    for (const auto& c : cases) {
        decoder.SetPreviewSize(c.Preview);
        decoder.SetExact(c.Exact);
        ASSERT_TRUE(decoder.DecodeFrame(5000));
        EXPECT_EQ(!decoder.Preview().Empty(), c.Made) << c.Preview.width() << "x" << c.Preview.height();
        EXPECT_EQ(decoder.Bitmap().Width(), 640);
        // Back to the start, so that every row reads on from the same place.
        decoder.SetExact(false);
        ASSERT_TRUE(decoder.DecodeFrame(0));
    }
    // Opening forgets the preview size: it fits one movie's pictures.
    decoder.SetPreviewSize({320, 180});
    ASSERT_TRUE(decoder.Open(MoviePath(Sample)));
    ASSERT_TRUE(decoder.DecodeFrame(200));
    EXPECT_TRUE(decoder.Preview().Empty());
}

namespace {

// A header asking for more pixels than allowed is refused before a picture is made; one at the
// limit opens.
TEST(MovieDecoder, PicturesAboveThePixelLimitAreNotOpened)
{
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(LongGopH264)));
    const std::int64_t pixels = std::int64_t{decoder.Width()} * decoder.Height();
    decoder.Close();
    decoder.SetMaxPicturePixels(pixels - 1);
    EXPECT_FALSE(decoder.Open(MoviePath(LongGopH264)));
    EXPECT_FALSE(decoder.IsOpen());
    decoder.SetMaxPicturePixels(pixels);
    EXPECT_TRUE(decoder.Open(MoviePath(LongGopH264)));
    EXPECT_TRUE(decoder.DecodeFrame(1000));
}

} // namespace

namespace {

// A damaged H.264 movie the fuzzer found: its pictures, enlarged to the display aspect, made the
// scaler read past the end of the last row. Run under the sanitizers, this reads nothing it
// should not.
TEST(MovieDecoder, DamagedMovieIsShownWithoutReadingPastThePicture)
{
    const std::string movie = FRAMORA_SOURCE_DIR "/tests/fuzz/seeds/fuzz_decoder_open/scale-reads-past-last-row.mp4";
    TMovieDecoder decoder;
    decoder.SetMaxPicturePixels(256 * 256);
    if (!decoder.Open(movie))
        GTEST_SKIP() << "not opened";
    TBitmap shown;
    for (const std::int32_t ms : {400, 5000, 1000, 100000, -1, 60}) {
        decoder.DecodeFrame(ms);
        MakeDisplayedPicture(decoder.Bitmap(), decoder.DisplayTransform(), TAspectScaling::Display, shown);
    }
    decoder.Close();
}

} // namespace
