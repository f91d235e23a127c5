// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writes small movies of any pixel format, colour description and field order from a recipe
// that gives every sample: the picture stage's tests and benchmarks describe their sources so.
#include "framework/FFmpegPtr.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <cstdint>
#include <functional>
#include <string>

struct TMovieRecipe {
    std::string Encoder;
    AVPixelFormat Format = AV_PIX_FMT_YUV420P;
    int Width = 96, Height = 64, Pictures = 8, GopSize = 4;
    AVColorTransferCharacteristic Transfer = AVCOL_TRC_BT709;
    AVColorPrimaries Primaries = AVCOL_PRI_BT709;
    AVColorSpace Matrix = AVCOL_SPC_BT709;
    // 0 progressive, else interlaced with this field first.
    AVFieldOrder Fields = AV_FIELD_PROGRESSIVE;
    std::string Options; // the encoder's private options, "key=value:..."
    std::string Container = "matroska";
    // Fills plane values of picture n: (plane, x, y) -> sample.
    std::function<int(int n, int plane, int x, int y)> Sample;
};

// Writes the movie the recipe describes; false when this FFmpeg lacks the encoder.
inline bool WriteMovie(const std::string& path, const TMovieRecipe& recipe)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(recipe.Encoder.c_str());
    if (!codec)
        return false;
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, recipe.Container.c_str(), path.c_str()) < 0)
        return false;
    ffmpeg::InputPtr output(raw); // closing an output frees it all the same
    ffmpeg::CodecContextPtr encoder(avcodec_alloc_context3(codec));
    encoder->width = recipe.Width;
    encoder->height = recipe.Height;
    encoder->pix_fmt = recipe.Format;
    encoder->time_base = {1, 25};
    encoder->framerate = {25, 1};
    encoder->gop_size = recipe.GopSize;
    encoder->max_b_frames = 0;
    encoder->bit_rate = 4000000;
    encoder->color_trc = recipe.Transfer;
    encoder->color_primaries = recipe.Primaries;
    encoder->colorspace = recipe.Matrix;
    encoder->color_range = AVCOL_RANGE_MPEG;
    encoder->field_order = recipe.Fields;
    if (recipe.Fields != AV_FIELD_PROGRESSIVE)
        encoder->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    // A transport stream carries the parameter sets in band, as broadcasts do.
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_parse_string(&options, recipe.Options.c_str(), "=", ":", 0);
    const int opened = avcodec_open2(encoder.get(), codec, &options);
    av_dict_free(&options);
    if (opened < 0)
        return false;
    AVStream* stream = avformat_new_stream(output.get(), nullptr);
    avcodec_parameters_from_context(stream->codecpar, encoder.get());
    stream->time_base = encoder->time_base;
    if (avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE) < 0
        || avformat_write_header(output.get(), nullptr) < 0)
        return false;
    ffmpeg::PacketPtr packet(av_packet_alloc());
    const auto drain = [&] {
        while (avcodec_receive_packet(encoder.get(), packet.get()) >= 0) {
            av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
            packet->stream_index = 0;
            av_interleaved_write_frame(output.get(), packet.get());
        }
    };
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(recipe.Format);
    for (int n = 0; n < recipe.Pictures; ++n) {
        ffmpeg::FramePtr frame(av_frame_alloc());
        frame->width = recipe.Width;
        frame->height = recipe.Height;
        frame->format = recipe.Format;
        av_frame_get_buffer(frame.get(), 0);
        for (int plane = 0; plane < 3; ++plane)
            for (int y = 0; y < AV_CEIL_RSHIFT(recipe.Height, plane ? desc->log2_chroma_h : 0); ++y)
                for (int x = 0; x < AV_CEIL_RSHIFT(recipe.Width, plane ? desc->log2_chroma_w : 0); ++x) {
                    std::uint8_t* row = frame->data[plane] + y * frame->linesize[plane];
                    const int value = recipe.Sample(n, plane, x, y);
                    if (desc->comp[0].depth > 8)
                        reinterpret_cast<std::uint16_t*>(row)[x] = static_cast<std::uint16_t>(value);
                    else
                        row[x] = static_cast<std::uint8_t>(value);
                }
        frame->pts = n;
        frame->interlaced_frame = recipe.Fields != AV_FIELD_PROGRESSIVE;
        frame->top_field_first = recipe.Fields == AV_FIELD_TT;
        avcodec_send_frame(encoder.get(), frame.get());
        drain();
    }
    avcodec_send_frame(encoder.get(), nullptr);
    drain();
    av_write_trailer(output.get());
    avio_closep(&output->pb);
    return true;
}
