// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TDecodedBuffers: the memory the codec decodes pictures into. The codec's own pool clears every
// buffer it makes and takes it from the heap a 4 KiB page at a time; a 4K picture's buffer then
// costs more than decoding it, and the picture cache holds decoded pictures by the dozen. These
// pools lay the pictures out as the codec's own does (its alignment, its widened lines, its
// padding), on mappings of huge pages, and clear nothing the codec writes anyway. What a closed
// codec gives back is kept, within a bound, for the next one to decode into, while codecs are
// open and for SparesKeptIdle after the last one closed.
// Internal to the decoder: it sees FFmpeg types.
extern "C" {
#include <libavcodec/avcodec.h>
}

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

class TDecodedBuffers {
public:
    TDecodedBuffers() = default;
    TDecodedBuffers(const TDecodedBuffers&) = delete;
    TDecodedBuffers& operator=(const TDecodedBuffers&) = delete;
    ~TDecodedBuffers() { Reset(); }

    // Has context's pictures decoded by codec into these pools (before the codec is opened);
    // this object must outlive the codec, the pictures may outlive both.
    void Attach(AVCodecContext& context, const AVCodec& codec);
    // Lets the pools go once their buffers are given back (the codec is closed).
    void Reset();

    // Bytes after each buffer that are filled with a known pattern when it is made and compared
    // when it is freed: a codec writing past its buffer shows in CanaryFaults.
    static constexpr std::size_t CanaryBytes = 64;
    static int CanaryFaults() { return FCanaryFaults.load(); }
    static void CountCanaryFault();

    // How long buffers given back are kept with no codec open, and what is kept now.
    static constexpr std::chrono::milliseconds SparesKeptIdle{1000};
    static std::size_t SpareBytes();

private:
    // Room after a plane for the codec's reads past its end, besides a line's alignment.
    static constexpr std::size_t PlanePadding = 16;
    struct TLayout {
        int Linesizes[4] = {};
        std::size_t Bytes[4] = {}; // 0 past the last plane
    };
    static bool LayoutFor(AVCodecContext& context, const AVFrame& frame, TLayout& layout);
    static int GetBuffer(AVCodecContext* context, AVFrame* frame, int flags);
    AVBufferRef* Take(std::size_t bytes);

    std::mutex FLock; // frame threads ask from threads of their own
    std::vector<std::pair<std::size_t, AVBufferPool*>> FPools;
    bool FAttached = false; // counted among the open codecs
    static std::atomic<int> FCanaryFaults;
};
