// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UDecodedBuffers.h"
#include "decoder/UPictureRows.h"

#include <cstdint>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

std::atomic<int> TDecodedBuffers::FCanaryFaults{0};

namespace {

constexpr std::uint8_t CanaryByte = 0xA5;

// The buffer's size travels as its opaque value: the canary after it is found at free.
void FreeMapped(void* opaque, std::uint8_t* data)
{
    const auto bytes = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(opaque));
    for (std::size_t i = 0; i < TDecodedBuffers::CanaryBytes; ++i)
        if (data[bytes + i] != CanaryByte) {
            TDecodedBuffers::CountCanaryFault();
            break;
        }
    PictureRows::Release(data);
}

AVBufferRef* AllocateMapped(void*, std::size_t bytes)
{
    std::uint8_t* const data = PictureRows::Map(bytes + TDecodedBuffers::CanaryBytes);
    if (!data)
        return nullptr;
    std::memset(data + bytes, CanaryByte, TDecodedBuffers::CanaryBytes);
    AVBufferRef* const buffer = av_buffer_create(data, bytes, FreeMapped,
                                                 reinterpret_cast<void*>(static_cast<std::uintptr_t>(bytes)), 0);
    if (!buffer)
        PictureRows::Release(data);
    return buffer;
}

} // namespace

void TDecodedBuffers::Attach(AVCodecContext& context, const AVCodec& codec)
{
    Reset();
    // A codec that cannot decode into buffers it is given copies its pictures anyway.
    if (!(codec.capabilities & AV_CODEC_CAP_DR1))
        return;
    context.opaque = this;
    context.get_buffer2 = GetBuffer;
#if FF_API_THREAD_SAFE_CALLBACKS
    // Older libavcodec asks to be told what GetBuffer is: safe from any thread.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    context.thread_safe_callbacks = 1;
#pragma GCC diagnostic pop
#endif
}

void TDecodedBuffers::Reset()
{
    const std::lock_guard<std::mutex> lock(FLock);
    for (auto& [bytes, pool] : FPools)
        av_buffer_pool_uninit(&pool);
    FPools.clear();
}

void TDecodedBuffers::CountCanaryFault()
{
    ++FCanaryFaults;
}

// The codec's layout: the lines of each plane as wide as its assembly wants them and aligned for
// it, each plane in a buffer of its own with room for the reads past its end.
bool TDecodedBuffers::LayoutFor(AVCodecContext& context, const AVFrame& frame, TLayout& layout)
{
    const auto format = static_cast<AVPixelFormat>(frame.format);
    int width = frame.width, height = frame.height;
    int lineAlign[AV_NUM_DATA_POINTERS] = {};
    avcodec_align_dimensions2(&context, &width, &height, lineAlign);
    // Widened until every plane's lines fit the alignment, never aligned plane by plane: some
    // codecs count on one plane's lines being a multiple of another's.
    for (bool unaligned = true; unaligned;) {
        if (width <= 0 || av_image_fill_linesizes(layout.Linesizes, format, width) < 0)
            return false;
        width += width & ~(width - 1);
        unaligned = false;
        for (int i = 0; i < 4; ++i)
            unaligned |= lineAlign[i] > 0 && layout.Linesizes[i] % lineAlign[i] != 0;
    }
    const ptrdiff_t linesizes[4] = {layout.Linesizes[0], layout.Linesizes[1], layout.Linesizes[2], layout.Linesizes[3]};
    std::size_t sizes[4] = {};
    if (av_image_fill_plane_sizes(sizes, format, height, linesizes) < 0)
        return false;
    for (int i = 0; i < 4; ++i)
        layout.Bytes[i] = sizes[i] > 0 ? sizes[i] + PlanePadding + static_cast<std::size_t>(lineAlign[0]) : 0;
    return true;
}

// Formats with a palette, hardware pictures and anything the layout cannot be worked out for are
// left to the codec's own buffers.
int TDecodedBuffers::GetBuffer(AVCodecContext* context, AVFrame* frame, int flags)
{
    auto* const self = static_cast<TDecodedBuffers*>(context->opaque);
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    TLayout layout;
    if (!self || !format || (format->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM))
        || context->hw_frames_ctx || !LayoutFor(*context, *frame, layout))
        return avcodec_default_get_buffer2(context, frame, flags);
    for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) {
        frame->data[i] = nullptr;
        frame->linesize[i] = 0;
    }
    for (int i = 0; i < 4 && layout.Bytes[i] > 0; ++i) {
        frame->buf[i] = self->Take(layout.Bytes[i]);
        if (!frame->buf[i]) {
            for (AVBufferRef*& buffer : frame->buf)
                av_buffer_unref(&buffer);
            return AVERROR(ENOMEM);
        }
        frame->data[i] = frame->buf[i]->data;
        frame->linesize[i] = layout.Linesizes[i];
    }
    frame->extended_data = frame->data;
    return 0;
}

AVBufferRef* TDecodedBuffers::Take(std::size_t bytes)
{
    AVBufferPool* pool = nullptr;
    {
        const std::lock_guard<std::mutex> lock(FLock);
        for (const auto& [size, held] : FPools)
            if (size == bytes)
                pool = held;
        if (!pool) {
            pool = av_buffer_pool_init2(bytes, nullptr, AllocateMapped, nullptr);
            if (!pool)
                return nullptr;
            FPools.emplace_back(bytes, pool);
        }
    }
    return av_buffer_pool_get(pool);
}
