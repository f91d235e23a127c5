// Positioning for playback and plain requests: a seek to the key frame at or after the time, or,
// when the time lies a little ahead, reading on to it; then the picture decoded last is shown.
#include "decoder/MovieDecoderState.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>

using MovieDecoding::PresentationTimeOf;
using MovieDecoding::TCallDeadline;

namespace {

// Budget that keeps one DecodeFrame short whatever the movie looks like.
constexpr int PacketBudget = 20; // video packets per positioning, either path

// Where the demuxer stands, judged by the packet read last. Packets come in decoding order: with
// reordered pictures (B-frames) a packet's pts can lie several pictures ahead of everything
// decoded so far, and taking it as the position would turn the next small step forward into a
// seek, which lands on the following key frame: playback would show key frames only. The decoding
// timestamp grows with the demuxer's position, so it is the one to compare with.
std::int64_t DemuxerPosition(const AVPacket& packet)
{
    return packet.dts != AV_NOPTS_VALUE ? std::min(packet.dts, packet.pts) : packet.pts;
}

} // namespace

bool TMovieDecoder::SeekWithFFmpeg(std::int32_t TimeMs)
{
    TState& s = *FState;
    AVFormatContext* format = s.FormatContext.get();
    AVCodecContext* codecContext = s.CodecContext.get();
    AVFrame* decoded = s.DecodedFrame.get();
    const AVRational timeBase = s.Stream()->time_base;

    const std::int64_t target = MovieTime::TargetUnits(TimeMs, format->duration, timeBase.num,
                                                       timeBase.den, s.StartOffset);
    const bool positionKnown = s.Packet && s.Packet->pts != AV_NOPTS_VALUE;
    const bool seek = !positionKnown
        || MovieTime::NeedsSeek(target, DemuxerPosition(*s.Packet), timeBase.num, timeBase.den);

    bool result = false;
    s.ReadCutOff = false;
    // This path reads without following the pictures one by one.
    s.RunValid = false;
    try {
        if (seek) {
            // Demuxers search by decoding time; the picture shown at the target was decoded
            // one reordering delay earlier, and asking for the target itself lands a picture
            // (with B-frames a few) late.
            const std::int64_t seekTarget = MovieTime::DecodingTime(target, s.PresentationLead);
            {
                TCallDeadline deadline(s);
                if (av_seek_frame(format, s.VideoStream, seekTarget, 0) < 0)
                    return false;
            }
            avcodec_flush_buffers(codecContext);
            av_frame_unref(decoded);
            av_frame_unref(s.PreviousDecoded.get());
            int n = 0;
            do {
                bool got = false;
                while (!got && n < PacketBudget && !s.ReadCutOff) {
                    ReadVideoPacket();
                    got = DecodeVideoPacket();
                    ++n;
                }
                ++n;
            } while (!decoded->key_frame && n < PacketBudget && !s.ReadCutOff);
            result = decoded->key_frame && decoded->data[0];
        } else {
            for (int n = 0;;) {
                ReadVideoPacket();
                DecodeVideoPacket();
                if (s.Packet->pts != AV_NOPTS_VALUE && s.Packet->pts >= target)
                    break;
                if (++n >= PacketBudget || s.ReadCutOff)
                    break;
            }
            result = decoded->data[0] != nullptr;
        }
    } catch (...) {
        result = false;
    }

    if (s.StartOffset < 0 && TimeMs == 0 && s.Packet && s.Packet->pts != AV_NOPTS_VALUE) {
        const std::int64_t startTime = s.Stream()->start_time;
        s.StartOffset = startTime == AV_NOPTS_VALUE ? 0 : startTime;
    }
    return result;
}

bool TMovieDecoder::RenderWithFFmpeg()
{
    TState& s = *FState;
    try {
        // Playback shows the picture decoded last, before its successor is known: the
        // deinterlacer takes it as its own next, as at the end of a stream.
        const AVFrame* previous = s.PreviousDecoded->data[0] ? s.PreviousDecoded.get() : nullptr;
        if (!s.Converter.ConvertInto(*s.DecodedFrame, s.FrameWidth, s.FrameHeight, *FBitmap,
                                     {previous, nullptr}))
            return false;
        s.ShownPts = PresentationTimeOf(*s.DecodedFrame);
        s.ShownNextPts = TPictureCache::NextUnknown;
        return true;
    } catch (...) {
        return false;
    }
}
