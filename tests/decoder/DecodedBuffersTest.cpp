// SPDX-License-Identifier: GPL-3.0-or-later
// The codec's pictures decoded into our pools are those it decodes into its own, on movies of
// real shapes (frame threads, odd and tiny sides), and nothing is written past a buffer: the
// sanitizer does not see the codec's assembly, the canaries after each buffer do.
#include "decoder/UDecodedBuffers.h"
#include "framework/FFmpegPtr.h"
#include "StampedMovies.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int PicturesCompared = 12;

// The first pictures of movie, each copied out whole; pools, when given, are what it decodes into.
std::vector<std::vector<std::uint8_t>> DecodePictures(const std::string& movie, TDecodedBuffers* pools)
{
    std::vector<std::vector<std::uint8_t>> pictures;
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, movie.c_str(), nullptr, nullptr) < 0)
        return pictures;
    ffmpeg::InputPtr format(opened);
    const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0)
        return pictures;
    const AVCodec* codec = avcodec_find_decoder(format->streams[stream]->codecpar->codec_id);
    ffmpeg::CodecContextPtr context(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(context.get(), format->streams[stream]->codecpar);
    context->thread_count = 2;
    context->thread_type = FF_THREAD_FRAME;
    if (pools)
        pools->Attach(*context, *codec);
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return pictures;
    ffmpeg::PacketPtr packet(av_packet_alloc());
    ffmpeg::FramePtr frame(av_frame_alloc());
    const auto receive = [&] {
        while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
            const int bytes = av_image_get_buffer_size(static_cast<AVPixelFormat>(frame->format), frame->width,
                                                       frame->height, 1);
            std::vector<std::uint8_t>& copy = pictures.emplace_back(static_cast<std::size_t>(bytes));
            av_image_copy_to_buffer(copy.data(), bytes, frame->data, frame->linesize,
                                    static_cast<AVPixelFormat>(frame->format), frame->width, frame->height, 1);
            av_frame_unref(frame.get());
        }
    };
    while (pictures.size() < PicturesCompared && av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream)
            avcodec_send_packet(context.get(), packet.get());
        av_packet_unref(packet.get());
        receive();
    }
    avcodec_send_packet(context.get(), nullptr);
    receive();
    return pictures;
}

class DecodedBuffersShapes : public ::testing::TestWithParam<TestMovies::TShapeMovie> {};

TEST_P(DecodedBuffersShapes, PicturesAreTheCodecsOwnAndNothingIsWrittenPast)
{
    const std::string movie = MoviePath(GetParam().Name);
    const int faultsBefore = TDecodedBuffers::CanaryFaults();
    const auto theirs = DecodePictures(movie, nullptr);
    ASSERT_GE(theirs.size(), 1u);
    // The second time the codec decodes into the buffers the first gave back, still holding
    // their pictures (and those of the shape before).
    for (const char* time : {"fresh buffers", "buffers given back"}) {
        std::vector<std::vector<std::uint8_t>> ours;
        {
            TDecodedBuffers pools;
            ours = DecodePictures(movie, &pools);
        } // the pools free their buffers here, and look at the canaries
        ASSERT_EQ(ours.size(), theirs.size()) << time;
        for (std::size_t i = 0; i < ours.size(); ++i)
            ASSERT_TRUE(ours[i] == theirs[i]) << time << ", picture " << i;
    }
    EXPECT_EQ(TDecodedBuffers::CanaryFaults(), faultsBefore);
}

INSTANTIATE_TEST_SUITE_P(RealShapes, DecodedBuffersShapes, ::testing::ValuesIn(TestMovies::ShapeMovies),
                         [](const auto& info) { return TestNameOf(info.param.Name); });

// Buffers a closed codec gave back wait for the next codec while another one is open, however
// long, and go back to the system once none has been open for a while.
TEST(DecodedBuffers, BuffersGivenBackGoOnceNoCodecIsOpen)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    ASSERT_TRUE(codec);
    ffmpeg::CodecContextPtr open(avcodec_alloc_context3(codec));
    TDecodedBuffers openPools;
    openPools.Attach(*open, *codec);
    ASSERT_EQ(avcodec_open2(open.get(), codec, nullptr), 0);
    {
        TDecodedBuffers pools;
        ASSERT_FALSE(DecodePictures(MoviePath(TestMovies::LongGopH264), &pools).empty());
    }
    ASSERT_GT(TDecodedBuffers::SpareBytes(), 0u);
    std::this_thread::sleep_for(2 * TDecodedBuffers::SparesKeptIdle);
    EXPECT_GT(TDecodedBuffers::SpareBytes(), 0u) << "let go while a codec was open";

    open.reset();
    openPools.Reset();
    const auto giveUp = std::chrono::steady_clock::now() + 10 * TDecodedBuffers::SparesKeptIdle;
    while (TDecodedBuffers::SpareBytes() > 0 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(TDecodedBuffers::SparesKeptIdle / 10);
    EXPECT_EQ(TDecodedBuffers::SpareBytes(), 0u);
}

} // namespace
