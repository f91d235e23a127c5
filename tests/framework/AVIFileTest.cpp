// SPDX-License-Identifier: GPL-3.0-or-later
// The AVIFile stand-in against the generated AVI files: stream listing and priorities, sample
// arithmetic, and that every fetch gives exactly the sample asked for, in any order.
#include "framework/AVIFile.h"
#include "framework/StretchDIBits.h"
#include "fixtures/FrameStamp.h"
#include "fixtures/TestMovies.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace TestMovies;

namespace {

std::string MoviePath(const char* name)
{
    return std::string(FRAMORA_FIXTURE_DIR) + "/" + name;
}

avifile::FilePtr OpenFile(const char* name)
{
    PAVIFILE file = nullptr;
    EXPECT_EQ(AVIFileOpenA(&file, MoviePath(name).c_str(), OF_SHARE_DENY_WRITE), AVIERR_OK) << name;
    return avifile::FilePtr(file);
}

avifile::StreamPtr VideoStream(PAVIFILE file, int index = 0)
{
    PAVISTREAM stream = nullptr;
    EXPECT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, index), AVIERR_OK);
    return avifile::StreamPtr(stream);
}

BITMAPINFOHEADER HeaderOf(const void* dib)
{
    BITMAPINFOHEADER header{};
    std::memcpy(&header, dib, sizeof header);
    return header;
}

// Reads the frame stamp of a packed 8- or 24-bit DIB.
int StampOf(const void* dib)
{
    const BITMAPINFOHEADER header = HeaderOf(dib);
    const auto* table = static_cast<const std::uint8_t*>(dib) + sizeof header;
    const std::uint8_t* pixels = table + (header.biBitCount == 8 ? 1024 : 0);
    const std::int64_t stride = DIBRowStride(header.biWidth, header.biBitCount);
    const int height = std::abs(header.biHeight);
    return FrameStamp::Read(header.biWidth, height, [&](int x, int y) {
        const std::uint8_t* row = pixels + (header.biHeight > 0 ? height - 1 - y : y) * stride;
        const std::uint8_t* bgr = header.biBitCount == 8 ? table + 4 * row[x] : row + 3 * x;
        return (bgr[2] * 299 + bgr[1] * 587 + bgr[0] * 114) / 1000;
    });
}

// The stamp of the sample, fetched through a getter of its own as the decoder does.
int FetchStamp(PAVISTREAM stream, std::int32_t sample)
{
    avifile::GetFramePtr getter(AVIStreamGetFrameOpen(stream, nullptr));
    if (!getter)
        return -2;
    const void* dib = AVIStreamGetFrame(getter.get(), sample);
    return dib ? StampOf(dib) : -2;
}

class AVIFileQuiet : public ::testing::Test {
protected:
    void SetUp() override { av_log_set_level(AV_LOG_QUIET); }
    void TearDown() override { av_log_set_level(FLogLevel); }
    int FLogLevel = av_log_get_level();
};

} // namespace

TEST(AVIFile, ListsStreamsWithTypeAndPriority)
{
    const struct {
        const char* Movie;
        std::vector<FOURCC> Types;
        std::vector<int> Priorities;
    } cases[] = {
        {CinepakAvi, {streamtypeVIDEO}, {0}},
        {AviAudioFirst, {streamtypeAUDIO, streamtypeVIDEO}, {0, 0}},
        {AviTwoVideoPriorities, {streamtypeVIDEO, streamtypeVIDEO}, {1, 0}},
        {AviTwoVideoEqual, {streamtypeVIDEO, streamtypeVIDEO}, {0, 0}},
    };
    for (const auto& c : cases) {
        const avifile::FilePtr file = OpenFile(c.Movie);
        ASSERT_TRUE(file);
        AVIFILEINFOA info{};
        ASSERT_EQ(AVIFileInfoA(file.get(), &info, sizeof info), AVIERR_OK);
        ASSERT_EQ(info.dwStreams, c.Types.size()) << c.Movie;
        for (std::size_t i = 0; i < c.Types.size(); ++i) {
            PAVISTREAM raw = nullptr;
            ASSERT_EQ(AVIFileGetStream(file.get(), &raw, 0, static_cast<std::int32_t>(i)), AVIERR_OK);
            const avifile::StreamPtr stream(raw);
            AVISTREAMINFOA streamInfo{};
            ASSERT_EQ(AVIStreamInfoA(stream.get(), &streamInfo, sizeof streamInfo), AVIERR_OK);
            EXPECT_EQ(streamInfo.fccType, c.Types[i]) << c.Movie << " stream " << i;
            EXPECT_EQ(streamInfo.wPriority, c.Priorities[i]) << c.Movie << " stream " << i;
        }
        PAVISTREAM none = nullptr;
        EXPECT_NE(AVIFileGetStream(file.get(), &none, 0, static_cast<std::int32_t>(c.Types.size())), AVIERR_OK);
        EXPECT_EQ(none, nullptr);
    }
}

TEST(AVIFile, RefusesWhatIsNotAnAVIFile)
{
    for (const char* movie : {LongGopH264, "no-such-file.avi"}) {
        PAVIFILE file = nullptr;
        EXPECT_NE(AVIFileOpenA(&file, MoviePath(movie).c_str(), OF_SHARE_DENY_WRITE), AVIERR_OK);
        EXPECT_EQ(file, nullptr);
    }
}

TEST(AVIFile, SamplesAndTimes)
{
    const avifile::FilePtr file = OpenFile(CinepakAvi);
    const avifile::StreamPtr stream = VideoStream(file.get());
    EXPECT_EQ(AVIStreamStart(stream.get()), 0);
    EXPECT_EQ(AVIStreamLength(stream.get()), AviFrames);
    // 25 pictures per second: a sample lasts 40 ms, from its first millisecond to the next one's.
    const struct {
        std::int32_t Ms, Sample;
    } toSample[] = {{0, 0}, {39, 0}, {40, 1}, {1999, 49}, {-1, -1}, {-40, -1}, {-41, -2}, {INT32_MAX, 53687091}};
    for (const auto& c : toSample)
        EXPECT_EQ(AVIStreamTimeToSample(stream.get(), c.Ms), c.Sample) << c.Ms << " ms";
    const struct {
        std::int32_t Sample, Ms;
    } toTime[] = {{0, 0}, {1, 40}, {49, 1960}, {INT32_MAX, INT32_MAX}};
    for (const auto& c : toTime)
        EXPECT_EQ(AVIStreamSampleToTime(stream.get(), c.Sample), c.Ms) << "sample " << c.Sample;
}

TEST(AVIFile, EveryFetchGivesTheSampleAskedFor)
{
    // Forward by one (reading on), forward across a key frame, backward, a repeat, the ends.
    const std::vector<std::int32_t> order = {0, 1, 2, 3, 24, 25, 26, 37, 12, 12, 49, 48, 0, 30, 31};
    for (const char* movie : {CinepakAvi, MsVideo1Avi, MsRleAvi, AviAudioFirst}) {
        const avifile::FilePtr file = OpenFile(movie);
        const avifile::StreamPtr stream = VideoStream(file.get());
        for (std::int32_t sample : order)
            EXPECT_EQ(FetchStamp(stream.get(), sample), sample) << movie;
        avifile::GetFramePtr getter(AVIStreamGetFrameOpen(stream.get(), nullptr));
        EXPECT_EQ(AVIStreamGetFrame(getter.get(), -1), nullptr) << movie;
        EXPECT_EQ(AVIStreamGetFrame(getter.get(), AviFrames), nullptr) << movie;
    }
}

TEST(AVIFile, PicturesComeAsPackedBitmapsThatOutliveLaterGetters)
{
    const avifile::FilePtr file = OpenFile(MsRleAvi);
    const avifile::StreamPtr stream = VideoStream(file.get());
    const avifile::GetFramePtr first(AVIStreamGetFrameOpen(stream.get(), nullptr));
    const void* dib = AVIStreamGetFrame(first.get(), 5);
    ASSERT_NE(dib, nullptr);
    // A second getter moving the same stream on leaves the first getter's picture alone.
    EXPECT_EQ(FetchStamp(stream.get(), 6), 6);
    EXPECT_EQ(StampOf(dib), 5);

    // Palettised pictures keep their palette: 8 bits, a full table, rows bottom-up.
    const BITMAPINFOHEADER header = HeaderOf(dib);
    EXPECT_EQ(+header.biSize, sizeof header);
    EXPECT_EQ(+header.biWidth, AviWidth);
    EXPECT_EQ(+header.biHeight, AviHeight);
    EXPECT_EQ(+header.biBitCount, 8);
    EXPECT_EQ(+header.biCompression, BI_RGB);
    EXPECT_EQ(+header.biClrUsed, 0u);
    EXPECT_EQ(+header.biSizeImage, DIBRowStride(AviWidth, 8) * AviHeight);
    const auto* table = static_cast<const RGBQUAD*>(static_cast<const void*>(static_cast<const std::uint8_t*>(dib) + 40));
    EXPECT_EQ(table[215].rgbRed, 255);
    EXPECT_EQ(table[215].rgbGreen, 255);
    EXPECT_EQ(table[215].rgbBlue, 255);
    EXPECT_EQ(table[1].rgbBlue, RleLevelStep);

    // Other codecs come out as 24-bit pictures, top-down.
    const avifile::FilePtr cinepak = OpenFile(CinepakAvi);
    const avifile::StreamPtr cinepakStream = VideoStream(cinepak.get());
    const avifile::GetFramePtr getter(AVIStreamGetFrameOpen(cinepakStream.get(), nullptr));
    const void* picture = AVIStreamGetFrame(getter.get(), 0);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(+HeaderOf(picture).biBitCount, 24);
    EXPECT_EQ(+HeaderOf(picture).biHeight, -AviHeight);
    EXPECT_EQ(+HeaderOf(picture).biSizeImage, DIBRowStride(AviWidth, 24) * AviHeight);

    // A getter asked for another output format than its own is refused, as are null handles.
    const BITMAPINFOHEADER wanted{};
    EXPECT_EQ(AVIStreamGetFrameOpen(cinepakStream.get(), &wanted), nullptr);
    EXPECT_EQ(AVIStreamGetFrame(nullptr, 0), nullptr);
    EXPECT_EQ(AVIStreamLength(nullptr), -1);
}

TEST_F(AVIFileQuiet, DamagedFilesFailOrDecodeWithoutHanging)
{
    using Clock = std::chrono::steady_clock;
    for (const char* movie : DamagedPlatformAvis) {
        const auto started = Clock::now();
        PAVIFILE raw = nullptr;
        if (AVIFileOpenA(&raw, MoviePath(movie).c_str(), OF_SHARE_DENY_WRITE) != AVIERR_OK)
            continue;
        const avifile::FilePtr file(raw);
        PAVISTREAM rawStream = nullptr;
        if (AVIFileGetStream(file.get(), &rawStream, streamtypeVIDEO, 0) != AVIERR_OK)
            continue;
        const avifile::StreamPtr stream(rawStream);
        const std::int32_t length = AVIStreamLength(stream.get());
        EXPECT_LE(length, AviFrames) << movie;
        std::vector<int> stamps;
        for (std::int32_t sample : {0, 1, length / 2, length - 1, 0, length - 1, length - 2})
            stamps.push_back(FetchStamp(stream.get(), sample));
        // What is left of a cut file reads as it was, but for the picture the cut goes through.
        if (std::string(movie).starts_with("truncated")) {
            EXPECT_EQ(stamps[0], 0) << movie;
            EXPECT_EQ(stamps[1], 1) << movie;
            EXPECT_EQ(stamps[2], length / 2) << movie;
            EXPECT_EQ(stamps[6], length - 2) << movie;
        }
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(5)) << movie;
    }
}
