// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The benchmarks' reference: the least bare FFmpeg needs to do for the decoder's requests.
#include "framework/FFmpegPtr.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

// Milliseconds on a clock that only goes forward, for benchmarks that time both sides in turn.
inline double WallMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct TBufferFree {
    void operator()(std::uint8_t* p) const { av_free(p); }
};

class TBareMovie {
public:
    // threads: the codec's threads (frame and slice), as the decoder under comparison uses.
    explicit TBareMovie(const std::string& path, int threads = 1)
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
        FCodec->thread_count = threads;
        FCodec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
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

    // Reads and decodes video packets until one whose pts reaches target has gone through;
    // each picture decoded on the way is handed to each, when given.
    void DecodeUntil(std::int64_t target, const std::function<void(const AVFrame&)>& each = {})
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
                if (each)
                    each(*FFrame);
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

    // Seeks back to the key frame at or before target and decodes forward until the picture
    // after target comes out, keeping the last one at or before it: exact seeking as players do
    // it. Then converts that picture once to 24-bit BGR, unless told not to.
    bool SeekExactly(std::int64_t target, bool convert = true)
    {
        if (av_seek_frame(FFormat.get(), FStream, target, AVSEEK_FLAG_BACKWARD) < 0)
            return false;
        avcodec_flush_buffers(FCodec.get());
        FHasPicture = false;
        bool ended = false;
        while (!ended) {
            const bool read = av_read_frame(FFormat.get(), FPacket.get()) >= 0;
            if (read && FPacket->stream_index != FStream) {
                av_packet_unref(FPacket.get());
                continue;
            }
            avcodec_send_packet(FCodec.get(), read ? FPacket.get() : nullptr);
            av_packet_unref(FPacket.get());
            ended = !read;
            while (avcodec_receive_frame(FCodec.get(), FScratch.get()) >= 0) {
                if (FHasPicture && FScratch->best_effort_timestamp > target) {
                    ++FDecoded;
                    ended = true;
                    break;
                }
                ++FDecoded;
                av_frame_unref(FFrame.get());
                av_frame_move_ref(FFrame.get(), FScratch.get());
                FHasPicture = true;
            }
        }
        if (!FHasPicture)
            return false;
        if (convert)
            Convert(AV_PIX_FMT_BGR24);
        return true;
    }

    // The picture decoded last (by DecodeUntil) or found (by SeekExactly).
    const AVFrame& Picture() const { return *FFrame; }

    // Pictures the exact seeks have decoded.
    std::int64_t Decoded() const { return FDecoded; }

    void Convert(AVPixelFormat format = AV_PIX_FMT_RGB32)
    {
        if (!FHasPicture)
            return;
        FConverter.reset(sws_getCachedContext(FConverter.release(), FFrame->width, FFrame->height,
                                              static_cast<AVPixelFormat>(FFrame->format), FCodec->width,
                                              FCodec->height, format, SWS_BILINEAR, nullptr,
                                              nullptr, nullptr));
        sws_scale(FConverter.get(), FFrame->data, FFrame->linesize, 0, FFrame->height, FRGBData, FRGBPitch);
        benchmark::DoNotOptimize(FRGBData[0][0]);
    }

    // Converts the picture decoded last into 24-bit BGR at width x height in one pass, as a
    // player draws it at the size of its window.
    void ConvertScaled(int width, int height)
    {
        if (!FHasPicture)
            return;
        if (!FScaled || FScaledWidth != width || FScaledHeight != height) {
            std::uint8_t* data[4] = {};
            if (av_image_alloc(data, FScaledPitch, width, height, AV_PIX_FMT_BGR24, 4) < 0)
                throw std::runtime_error("no picture buffer");
            FScaled.reset(data[0]);
            FScaledData[0] = data[0];
            FScaledWidth = width;
            FScaledHeight = height;
        }
        FScaler.reset(sws_getCachedContext(FScaler.release(), FFrame->width, FFrame->height,
                                           static_cast<AVPixelFormat>(FFrame->format), width, height,
                                           AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr));
        sws_scale(FScaler.get(), FFrame->data, FFrame->linesize, 0, FFrame->height, FScaledData, FScaledPitch);
        benchmark::DoNotOptimize(FScaledData[0][0]);
    }

    int Width() const { return FCodec->width; }
    int Height() const { return FCodec->height; }

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
    ffmpeg::SwsPtr FScaler;
    std::unique_ptr<std::uint8_t, TBufferFree> FScaled;
    std::uint8_t* FScaledData[4] = {};
    int FScaledPitch[4] = {};
    int FScaledWidth = 0;
    int FScaledHeight = 0;
    int FStream = -1;
    AVRational FTimeBase{1, 1};
    std::int64_t FStart = 0;
    bool FHasPicture = false;
    std::int64_t FDecoded = 0;
};
