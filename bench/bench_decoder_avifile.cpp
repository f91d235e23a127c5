// SPDX-License-Identifier: GPL-3.0-or-later
// Stepping through a Cinepak AVI (320 x 240, 25 pictures per second, a key frame every 25) with
// the decoder's AVIFile backend, beside a reference loop that gets the same pictures with bare
// FFmpeg calls:
//   HalfSecond: requests 500 ms apart over the whole movie (every other one crosses a key frame).
//   Sample:     every picture in turn.
// Both sides give every picture exactly: the reference reads on when the target lies in the
// group of pictures being decoded and otherwise seeks to the key frame at or before it, decodes
// up to the target and converts it to 24-bit BGR, the format the decoder's bitmap holds.
#include "decoder/UMovieDecoder.h"
#include "framework/FFmpegPtr.h"
#include "tests/fixtures/TestMovies.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace TestMovies;

constexpr int PictureMs = 1000 / FrameRate;
constexpr int MovieMs = BenchCinepakFrames * PictureMs;

std::string Movie()
{
    return std::string(FRAMORA_FIXTURE_DIR) + "/" + BenchCinepak;
}

std::vector<int> Times(int stepMs)
{
    std::vector<int> times;
    for (int t = 0; t < MovieMs; t += stepMs)
        times.push_back(t);
    return times;
}

class TBareAVI {
public:
    explicit TBareAVI(const std::string& path)
    {
        AVFormatContext* format = nullptr;
        if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) != 0)
            throw std::runtime_error("cannot open " + path);
        FFormat.reset(format);
        const AVStream* stream = format->streams[0];
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        FCodec.reset(avcodec_alloc_context3(codec));
        avcodec_parameters_to_context(FCodec.get(), stream->codecpar);
        FCodec->thread_count = 1;
        if (avcodec_open2(FCodec.get(), codec, nullptr) < 0)
            throw std::runtime_error("cannot open the codec");
        FFrame.reset(av_frame_alloc());
        FPacket.reset(av_packet_alloc());
        FPitch = (FCodec->width * 3 + 3) & ~3;
        FBGR.resize(static_cast<std::size_t>(FPitch) * FCodec->height);
    }

    void Show(int ms)
    {
        const std::int64_t sample = ms / PictureMs;
        const std::int64_t key = sample / ShortGopSize * ShortGopSize;
        if (FDecoded < key || FDecoded > sample) {
            av_seek_frame(FFormat.get(), 0, key, AVSEEK_FLAG_BACKWARD);
            avcodec_flush_buffers(FCodec.get());
            FDecoded = -1;
        }
        while (FDecoded < sample && av_read_frame(FFormat.get(), FPacket.get()) >= 0) {
            if (FPacket->stream_index == 0) {
                avcodec_send_packet(FCodec.get(), FPacket.get());
                avcodec_receive_frame(FCodec.get(), FFrame.get());
                FDecoded = FPacket->pts;
            }
            av_packet_unref(FPacket.get());
        }
        FConverter.reset(sws_getCachedContext(FConverter.release(), FFrame->width, FFrame->height,
                                              static_cast<AVPixelFormat>(FFrame->format), FFrame->width,
                                              FFrame->height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr,
                                              nullptr));
        std::uint8_t* target[4] = {FBGR.data()};
        const int pitch[4] = {FPitch};
        sws_scale(FConverter.get(), FFrame->data, FFrame->linesize, 0, FFrame->height, target, pitch);
        benchmark::DoNotOptimize(FBGR[0]);
    }

private:
    ffmpeg::InputPtr FFormat;
    ffmpeg::CodecContextPtr FCodec;
    ffmpeg::FramePtr FFrame;
    ffmpeg::PacketPtr FPacket;
    ffmpeg::SwsPtr FConverter;
    std::vector<std::uint8_t> FBGR;
    int FPitch = 0;
    std::int64_t FDecoded = -1;
};

void Step_Decoder(benchmark::State& state)
{
    const std::vector<int> times = Times(static_cast<int>(state.range(0)));
    TMovieDecoder decoder;
    if (!decoder.Open(Movie()) || !decoder.UsesAVIFile()) {
        state.SkipWithError("cannot open the Cinepak benchmark movie");
        return;
    }
    for (auto _ : state)
        for (int t : times)
            benchmark::DoNotOptimize(decoder.DecodeFrame(t));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(times.size()));
}

void Step_Reference(benchmark::State& state)
{
    const std::vector<int> times = Times(static_cast<int>(state.range(0)));
    TBareAVI movie(Movie());
    for (auto _ : state)
        for (int t : times)
            movie.Show(t);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(times.size()));
}

} // namespace

BENCHMARK(Step_Decoder)->Arg(500)->Arg(PictureMs)->Unit(benchmark::kMillisecond);
BENCHMARK(Step_Reference)->Arg(500)->Arg(PictureMs)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
