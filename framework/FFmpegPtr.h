// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Owners for FFmpeg objects: each deleter calls the pointer-nulling free function FFmpeg gives
// for that object, so every failure path and Close is one reset(). Only the decoder, the AVIFile
// stand-in, the decoder's benchmark and the test-movie writer see FFmpeg types: include this from
// their .cpp files, never from a header that the rest of the program sees.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace ffmpeg {

struct TInputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct TCodecContextFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct TFrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct TPacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct TSwsFree {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

struct TFilterGraphFree {
    void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
};
struct TFilterInOutFree {
    void operator()(AVFilterInOut* list) const { avfilter_inout_free(&list); }
};
struct TDictionaryFree {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

using InputPtr = std::unique_ptr<AVFormatContext, TInputCloser>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, TFrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, TPacketFree>;
using SwsPtr = std::unique_ptr<SwsContext, TSwsFree>;
// A graph owns its filters: their contexts are pointers into it, freed with it.
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, TFilterGraphFree>;
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, TFilterInOutFree>;
using DictionaryPtr = std::unique_ptr<AVDictionary, TDictionaryFree>;

} // namespace ffmpeg
