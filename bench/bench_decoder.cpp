// The decoder on the 1080p benchmark movie (25 pictures per second, a key frame every 250),
// each measurement beside a reference loop that does the same job with bare FFmpeg calls:
//   Playback: requests 97 ms apart, the forward path; the reference reads and decodes the same
//             packets and converts the picture of each request once to RGB32.
//   Seek:     far, random, repeatable times, the seek path; the reference seeks, flushes and
//             decodes up to the first key frame (and, in a second variant, converts it too).
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

#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int PlaybackTickMs = 97;
constexpr int PlaybackSteps = 50; // about 5 s of playback per iteration
constexpr int SeekTimes = 64;
constexpr int SeekRangeMs = 50000; // the last key frame is at 50 s; beyond it a seek finds none
constexpr int KeyFrameMs = TestMovies::BenchGopSize * 1000 / TestMovies::FrameRate;

std::string BenchMovie()
{
    return std::string(FRAMORA_FIXTURE_DIR) + "/" + TestMovies::Bench1080p;
}

// Far times: each one either before the key frame the previous seek landed on or more than
// 8 s after it, so every request takes the seek path.
const std::vector<int>& FarTimes()
{
    static const std::vector<int> times = [] {
        std::mt19937 random(2026);
        std::uniform_int_distribution<int> pick(0, SeekRangeMs);
        std::vector<int> result;
        int landed = -1;
        while (static_cast<int>(result.size()) < SeekTimes) {
            const int t = pick(random);
            if (landed >= 0 && t >= landed && t <= landed + 8000)
                continue;
            result.push_back(t);
            landed = (t + KeyFrameMs - 1) / KeyFrameMs * KeyFrameMs;
        }
        return result;
    }();
    return times;
}

struct TBufferFree {
    void operator()(std::uint8_t* p) const { av_free(p); }
};

// The reference: the least FFmpeg needs to do for the same requests.
class TBareMovie {
public:
    explicit TBareMovie(const std::string& path)
    {
        AVFormatContext* format = nullptr;
        if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) != 0)
            throw std::runtime_error("cannot open " + path);
        FFormat.reset(format);
        if (avformat_find_stream_info(format, nullptr) < 0)
            throw std::runtime_error("no stream info");
        FStream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (FStream < 0)
            throw std::runtime_error("no video");
        const AVStream* stream = format->streams[FStream];
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        FCodec.reset(avcodec_alloc_context3(codec));
        avcodec_parameters_to_context(FCodec.get(), stream->codecpar);
        FCodec->thread_count = 1;
        if (avcodec_open2(FCodec.get(), codec, nullptr) < 0)
            throw std::runtime_error("cannot open the codec");
        FTimeBase = stream->time_base;
        FStart = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
        FFrame.reset(av_frame_alloc());
        FScratch.reset(av_frame_alloc());
        FPacket.reset(av_packet_alloc());
        if (!FFrame || !FScratch || !FPacket)
            throw std::runtime_error("out of memory");
        std::uint8_t* data[4] = {};
        if (av_image_alloc(data, FRGBPitch, FCodec->width, FCodec->height, AV_PIX_FMT_RGB32, 1) < 0)
            throw std::runtime_error("no picture buffer");
        FRGB.reset(data[0]);
        FRGBData[0] = data[0];
    }

    std::int64_t Units(int ms) const { return av_rescale_q(ms, {1, 1000}, FTimeBase) + FStart; }

    // Reads and decodes video packets until one whose pts reaches target has gone through.
    void DecodeUntil(std::int64_t target)
    {
        while (av_read_frame(FFormat.get(), FPacket.get()) >= 0) {
            if (FPacket->stream_index != FStream) {
                av_packet_unref(FPacket.get());
                continue;
            }
            const std::int64_t pts = FPacket->pts;
            avcodec_send_packet(FCodec.get(), FPacket.get());
            av_packet_unref(FPacket.get());
            while (Receive())
                ;
            if (pts != AV_NOPTS_VALUE && pts >= target)
                return;
        }
    }

    // Seeks as the decoder does (flags 0) and decodes up to the first key frame.
    bool SeekToKeyFrame(std::int64_t target)
    {
        if (av_seek_frame(FFormat.get(), FStream, target, 0) < 0)
            return false;
        avcodec_flush_buffers(FCodec.get());
        while (av_read_frame(FFormat.get(), FPacket.get()) >= 0) {
            if (FPacket->stream_index != FStream) {
                av_packet_unref(FPacket.get());
                continue;
            }
            avcodec_send_packet(FCodec.get(), FPacket.get());
            av_packet_unref(FPacket.get());
            while (Receive()) {
                if (FFrame->key_frame)
                    return true;
            }
        }
        return false;
    }

    void Convert()
    {
        if (!FHasPicture)
            return;
        FConverter.reset(sws_getCachedContext(FConverter.release(), FFrame->width, FFrame->height,
                                              static_cast<AVPixelFormat>(FFrame->format), FCodec->width,
                                              FCodec->height, AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr,
                                              nullptr, nullptr));
        sws_scale(FConverter.get(), FFrame->data, FFrame->linesize, 0, FFrame->height, FRGBData, FRGBPitch);
        benchmark::DoNotOptimize(FRGBData[0][0]);
    }

private:
    // A failed receive clears its target, so pictures land in a scratch frame first.
    bool Receive()
    {
        if (avcodec_receive_frame(FCodec.get(), FScratch.get()) < 0)
            return false;
        av_frame_unref(FFrame.get());
        av_frame_move_ref(FFrame.get(), FScratch.get());
        FHasPicture = true;
        return true;
    }

    ffmpeg::InputPtr FFormat;
    ffmpeg::CodecContextPtr FCodec;
    ffmpeg::FramePtr FFrame;
    ffmpeg::FramePtr FScratch;
    ffmpeg::PacketPtr FPacket;
    ffmpeg::SwsPtr FConverter;
    std::unique_ptr<std::uint8_t, TBufferFree> FRGB;
    std::uint8_t* FRGBData[4] = {};
    int FRGBPitch[4] = {};
    int FStream = -1;
    AVRational FTimeBase{1, 1};
    std::int64_t FStart = 0;
    bool FHasPicture = false;
};

void Playback_Decoder(benchmark::State& state)
{
    TMovieDecoder decoder;
    if (!decoder.Open(BenchMovie())) {
        state.SkipWithError("cannot open the benchmark movie");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        decoder.DecodeFrame(0); // back to the key frame at the start
        state.ResumeTiming();
        for (int step = 1; step <= PlaybackSteps; ++step)
            benchmark::DoNotOptimize(decoder.DecodeFrame(step * PlaybackTickMs));
    }
    state.SetItemsProcessed(state.iterations() * PlaybackSteps);
}

void Playback_Reference(benchmark::State& state)
{
    TBareMovie movie(BenchMovie());
    for (auto _ : state) {
        state.PauseTiming();
        movie.SeekToKeyFrame(movie.Units(0));
        movie.Convert();
        state.ResumeTiming();
        for (int step = 1; step <= PlaybackSteps; ++step) {
            movie.DecodeUntil(movie.Units(step * PlaybackTickMs));
            movie.Convert();
        }
    }
    state.SetItemsProcessed(state.iterations() * PlaybackSteps);
}

void Seek_Decoder(benchmark::State& state)
{
    TMovieDecoder decoder;
    if (!decoder.Open(BenchMovie())) {
        state.SkipWithError("cannot open the benchmark movie");
        return;
    }
    std::size_t next = 0;
    for (auto _ : state) {
        if (!decoder.DecodeFrame(FarTimes()[next++ % FarTimes().size()])) {
            state.SkipWithError("a far request failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void Seek_Reference(benchmark::State& state)
{
    TBareMovie movie(BenchMovie());
    const bool convert = state.range(0) != 0;
    std::size_t next = 0;
    for (auto _ : state) {
        if (!movie.SeekToKeyFrame(movie.Units(FarTimes()[next++ % FarTimes().size()]))) {
            state.SkipWithError("a far seek failed");
            return;
        }
        if (convert)
            movie.Convert();
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(Playback_Decoder)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(Playback_Reference)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(Seek_Decoder)->Unit(benchmark::kMillisecond)->Repetitions(5);
// Arg 0: seek + flush + decode up to the key frame; arg 1: the same plus its RGB32 conversion.
BENCHMARK(Seek_Reference)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(5);

BENCHMARK_MAIN();
