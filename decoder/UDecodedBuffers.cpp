// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UDecodedBuffers.h"
#include "decoder/UPictureRows.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <thread>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

std::atomic<int> TDecodedBuffers::FCanaryFaults{0};

namespace {

constexpr std::uint8_t CanaryByte = 0xA5;

// Buffers a closed codec gave back, kept for the next codec to decode into. The heap does this
// for the codec's own pool: a movie scanned or opened again, or the second decoder of the same
// movie, finds its pages already there, where a fresh mapping is cleared page by page. A buffer
// taken again holds an earlier picture, as a pool's buffer does when it is used again. Once no
// codec has been open for a while they all go back to the system: nothing is kept for a movie
// that is not coming. Never destroyed: a codec closed during exit may still give its buffers back,
// and the thread that lets them go waits on it until the process ends.
class TSpareBuffers {
public:
    static TSpareBuffers& Instance()
    {
        struct TNeverDestroyed {
            union {
                TSpareBuffers Spares;
            };
            TNeverDestroyed()
                : Spares()
            {
            }
            ~TNeverDestroyed() {}
        };
        static TNeverDestroyed held;
        return held.Spares;
    }

    // The thread that lets spares go is woken only when it has something to wait out: a codec
    // opening and closing, or a buffer given back, is not worth a context switch. It finds a codec
    // opened meanwhile when its wait ends.
    void CodecOpened()
    {
        const std::lock_guard<std::mutex> lock(FLock);
        ++FOpenCodecs;
    }
    void CodecClosed()
    {
        const std::lock_guard<std::mutex> lock(FLock);
        if (--FOpenCodecs > 0)
            return;
        FLastClosed = TClock::now();
        WakeToWaitOut();
    }
    std::size_t Bytes()
    {
        const std::lock_guard<std::mutex> lock(FLock);
        return FBytes;
    }

    // A spare buffer of bytes (its canary room after them), or null when none is kept.
    std::uint8_t* Take(std::size_t bytes)
    {
        const std::lock_guard<std::mutex> lock(FLock);
        for (std::size_t i = FCount; i-- > 0;)
            if (FSpares[i].Bytes == bytes) {
                std::uint8_t* const data = FSpares[i].Data;
                Remove(i);
                return data;
            }
        return nullptr;
    }

    // Keeps data for another codec, or lets it go when the spares are full.
    void Give(std::uint8_t* data, std::size_t bytes)
    {
        std::unique_lock<std::mutex> lock(FLock);
        if (bytes > MaxSpareBytes || FCount == MaxSpares) {
            lock.unlock();
            PictureRows::Release(data);
            return;
        }
        FSpares[FCount++] = {data, bytes};
        FBytes += bytes;
        TrimTo(MaxSpareBytes);
        // Pictures that outlived every codec are kept from the last closing on as well.
        WakeToWaitOut();
    }

    // A fresh buffer of bytes is about to be made: as many kept buffers of other sizes go first,
    // most likely another movie's, so that spares never add to what a new movie takes.
    void MakeRoomFor(std::size_t bytes)
    {
        const std::lock_guard<std::mutex> lock(FLock);
        TrimTo(FBytes > bytes ? FBytes - bytes : 0);
    }

private:
    // What the heap would keep of freed pictures: a few pictures at 4K, a pool's worth at 1080p.
    static constexpr std::size_t MaxSpareBytes = std::size_t{128} << 20;
    static constexpr std::size_t MaxSpares = 64;
    using TClock = std::chrono::steady_clock;
    struct TSpare {
        std::uint8_t* Data = nullptr;
        std::size_t Bytes = 0;
    };

    TSpareBuffers()
    {
        std::thread([this] { LetGoWhenIdle(); }).detach();
    }

    // Waits for spares kept with no codec open, and lets them go when none opens within the
    // time a scan or the next movie takes to come after the last one closed.
    [[noreturn]] void LetGoWhenIdle()
    {
        std::unique_lock<std::mutex> lock(FLock);
        for (;;) {
            FChanged.wait(lock, [this] { return FOpenCodecs == 0 && FCount > 0; });
            FWaitingOut = true;
            while (FOpenCodecs == 0 && FCount > 0 && TClock::now() < FLastClosed + TDecodedBuffers::SparesKeptIdle)
                FChanged.wait_until(lock, FLastClosed + TDecodedBuffers::SparesKeptIdle);
            FWaitingOut = false;
            if (FOpenCodecs == 0)
                TrimTo(0);
        }
    }

    void WakeToWaitOut()
    {
        if (FOpenCodecs == 0 && FCount > 0 && !FWaitingOut)
            FChanged.notify_all();
    }

    // The oldest go first.
    void TrimTo(std::size_t bytes)
    {
        while (FBytes > bytes && FCount > 0) {
            PictureRows::Release(FSpares[0].Data);
            Remove(0);
        }
    }
    void Remove(std::size_t i)
    {
        FBytes -= FSpares[i].Bytes;
        std::copy(FSpares + i + 1, FSpares + FCount, FSpares + i);
        --FCount;
    }

    std::mutex FLock;
    std::condition_variable FChanged;
    TSpare FSpares[MaxSpares];
    std::size_t FCount = 0;
    std::size_t FBytes = 0;
    int FOpenCodecs = 0;
    TClock::time_point FLastClosed;
    bool FWaitingOut = false; // the thread waits until the last closing is SparesKeptIdle old
};

// The buffer's size travels as its opaque value: the canary after it is found at free.
void FreeMapped(void* opaque, std::uint8_t* data)
{
    const auto bytes = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(opaque));
    for (std::size_t i = 0; i < TDecodedBuffers::CanaryBytes; ++i)
        if (data[bytes + i] != CanaryByte) {
            TDecodedBuffers::CountCanaryFault();
            break;
        }
    TSpareBuffers::Instance().Give(data, bytes);
}

AVBufferRef* AllocateMapped(void*, std::size_t bytes)
{
    TSpareBuffers& spares = TSpareBuffers::Instance();
    std::uint8_t* data = spares.Take(bytes);
    if (!data) {
        spares.MakeRoomFor(bytes);
        data = PictureRows::Map(bytes + TDecodedBuffers::CanaryBytes);
    }
    if (!data)
        return nullptr;
    std::memset(data + bytes, CanaryByte, TDecodedBuffers::CanaryBytes);
    AVBufferRef* const buffer = av_buffer_create(data, bytes, FreeMapped,
                                                 reinterpret_cast<void*>(static_cast<std::uintptr_t>(bytes)), 0);
    if (!buffer)
        spares.Give(data, bytes);
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
    TSpareBuffers::Instance().CodecOpened();
    FAttached = true;
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
    if (FAttached)
        TSpareBuffers::Instance().CodecClosed();
    FAttached = false;
}

std::size_t TDecodedBuffers::SpareBytes()
{
    return TSpareBuffers::Instance().Bytes();
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
