// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UDecodedBuffers.h"
#include "decoder/UPictureRows.h"

#include <cstdint>
#include <cstring>

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

// The codec's own buffers give the layout (plane offsets, padding, alignment for its assembly);
// each is swapped for one of the same size from these pools, the pictures' offsets kept.
int TDecodedBuffers::GetBuffer(AVCodecContext* context, AVFrame* frame, int flags)
{
    const int got = avcodec_default_get_buffer2(context, frame, flags);
    auto* const self = static_cast<TDecodedBuffers*>(context->opaque);
    if (got < 0 || !self || frame->hw_frames_ctx)
        return got;
    for (AVBufferRef*& theirs : frame->buf) {
        if (!theirs)
            break;
        AVBufferRef* const ours = self->Take(theirs->size);
        // Without one of ours the codec's buffer serves as well.
        if (!ours)
            continue;
        const std::uint8_t* const from = theirs->data;
        for (std::uint8_t*& plane : frame->data)
            if (plane >= from && plane < from + theirs->size)
                plane = ours->data + (plane - from);
        av_buffer_unref(&theirs);
        theirs = ours;
    }
    return got;
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
