// SPDX-License-Identifier: GPL-3.0-or-later
// Positioning for playback and plain requests: a seek to the key frame at or after the time, or,
// when the time lies a little ahead, reading on to it; then the picture decoded last is shown.
#include "decoder/MovieDecoderState.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <climits>

using MovieDecoding::PresentationTimeOf;
using MovieDecoding::TCallDeadline;

namespace {

// Budget that keeps one DecodeFrame short whatever the movie looks like.
constexpr int PacketBudget = 20; // video packets per positioning, either path
// Seeks back from a time in the last stretch: at the time, then one, two and four seconds before.
constexpr int MaxPlaybackSeeksBack = 4;

// Where the demuxer stands, judged by the packet read last. Packets come in decoding order: with
// reordered pictures (B-frames) a packet's pts can lie several pictures ahead of everything
// decoded so far, and taking it as the position would turn the next small step forward into a
// seek, which lands on the following key frame: playback would show key frames only. The decoding
// timestamp grows with the demuxer's position, so it is the one to compare with.
std::int64_t DemuxerPosition(const TMovieDecoder::TState::TPacketStamp& packet)
{
    return packet.Dts != AV_NOPTS_VALUE ? std::min(packet.Dts, packet.Pts) : packet.Pts;
}

// Whether a codec without threads stops reading on after this packet: it reached the target,
// or the budget is spent.
bool StopsAt(const TMovieDecoder::TState::TPacketStamp& packet, std::int64_t target, int read)
{
    return (packet.Pts != AV_NOPTS_VALUE && packet.Pts >= target) || read >= PacketBudget;
}

} // namespace

bool TMovieDecoder::SeekWithFFmpeg(std::int32_t TimeMs)
{
    TState& s = *FState;
    const AVFrame* decoded = s.DecodedFrame.get();
    const AVRational timeBase = s.Stream()->time_base;

    const std::int64_t target = MovieTime::TargetUnits(TimeMs, s.DurationUs, timeBase.num,
                                                       timeBase.den, s.StartOffset);
    // Frame threads hand each picture out FrameDelay packets after it went in. This path
    // follows a codec without threads: it stands at the oldest packet read that the threads
    // no longer hold, judges the way to the target from there, counts its budget from there,
    // and then reads FrameDelay packets further so that the picture it would show comes out.
    const bool positionKnown = !s.PacketsRead.empty() && s.PacketsRead.front().Pts != AV_NOPTS_VALUE;
    const bool seek = !positionKnown
        || MovieTime::NeedsSeek(target, DemuxerPosition(s.PacketsRead.front()), timeBase.num, timeBase.den);
    // Reading on only brings later pictures: the picture on hand stays when it is already at or
    // past the target (time 0 just after opening), or when the file ended behind it.
    const std::int64_t onHand = decoded->data[0] ? PresentationTimeOf(*decoded) : AV_NOPTS_VALUE;
    if (onHand != AV_NOPTS_VALUE
        && ((!seek && onHand >= target) || (!positionKnown && s.ReadAtEnd && target >= onHand)))
        return true;

    // After a seek the frame threads fill before the first picture comes out: those packets
    // come on top of the budget. Reading on, the threads are full already and each packet
    // brings out a picture, as without threads.
    const int seekBudget = PacketBudget + s.FrameDelay;
    bool result = false;
    s.ReadCutOff = false;
    // This path reads without following the pictures one by one.
    s.RunValid = false;
    try {
        if (seek) {
            // Demuxers search by decoding time; the picture shown at the target was decoded
            // one reordering delay earlier, and asking for the target itself lands a picture
            // (with B-frames a few) late.
            const std::int64_t decodingTime = MovieTime::DecodingTime(target, s.PresentationLead);
            const TPlaybackSeek where = TimeMs <= 0 ? TPlaybackSeek::FromStart : TPlaybackSeek::AtOrAfter;
            if (!SeekForPlayback(decodingTime, where))
                return false;
            result = DecodeFirstSoundPicture(seekBudget)
                || (where == TPlaybackSeek::AtOrAfter && SeekBackForPlayback(decodingTime, seekBudget));
        } else {
            ReadOn(target);
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

bool TMovieDecoder::DecodeKeyFrame(std::int32_t TimeMs)
{
    if (!FIsOpen)
        return false;
    if (FState->UsesAVIFile)
        return DecodeFrame(TimeMs);
    TState& s = *FState;
    const AVRational timeBase = s.Stream()->time_base;
    const std::int64_t target = MovieTime::TargetUnits(std::max(TimeMs, 0), s.DurationUs, timeBase.num,
                                                       timeBase.den, s.StartOffset);
    s.ReadCutOff = false;
    s.RunValid = false;
    try {
        const std::int64_t decodingTime = MovieTime::DecodingTime(target, s.PresentationLead);
        const TPlaybackSeek where = TimeMs <= 0 ? TPlaybackSeek::FromStart : TPlaybackSeek::Before;
        if (!SeekForPlayback(decodingTime, where) || !DecodeFirstSoundPicture(PacketBudget + s.FrameDelay))
            return false;
    } catch (...) {
        return false;
    }
    return RenderWithFFmpeg();
}

// In the movie's last stretch there is no key frame after the time: an index finds none and the
// one before it serves. From the start, the first key frame in the file: an edit list may begin
// after it, and the first key frame after its start would pass over the first pictures.
bool TMovieDecoder::SeekForPlayback(std::int64_t decodingTime, TPlaybackSeek where)
{
    TState& s = *FState;
    {
        TCallDeadline deadline(s);
        AVFormatContext* format = s.FormatContext.get();
        const auto seek = [&](std::int64_t time, int flags) {
            return av_seek_frame(format, s.VideoStream, time, flags) >= 0;
        };
        // A time before anything in the file finds its beginning, also where demuxers search by
        // reading timestamps.
        const bool sought = where == TPlaybackSeek::FromStart
            ? seek(std::min<std::int64_t>(decodingTime, 0), AVSEEK_FLAG_BACKWARD)
            : (where == TPlaybackSeek::AtOrAfter && seek(decodingTime, 0)) || seek(decodingTime, AVSEEK_FLAG_BACKWARD);
        if (!sought)
            return false;
    }
    avcodec_flush_buffers(s.CodecContext.get());
    s.PacketsRead.clear();
    s.HeldAtEnd = false;
    s.DiscardedKeyPts = AV_NOPTS_VALUE;
    s.LatestPassedOver = AV_NOPTS_VALUE;
    av_frame_unref(s.DecodedFrame.get());
    av_frame_unref(s.PreviousDecoded.get());
    return true;
}

// Demuxers that search by reading timestamps (MPEG program and transport streams) land for a time
// in the last stretch after its key frame, and the file ends before a picture can be shown: the
// search starts before the time, and further back while the file still ends first.
bool TMovieDecoder::SeekBackForPlayback(std::int64_t decodingTime, int budget)
{
    TState& s = *FState;
    const AVRational timeBase = s.Stream()->time_base;
    std::int64_t backoff = 0;
    for (int seek = 0; seek < MaxPlaybackSeeksBack && s.ReadAtEnd && !s.ReadCutOff; ++seek) {
        if (!SeekForPlayback(MovieTime::DecodingTime(decodingTime, backoff), TPlaybackSeek::Before))
            return false;
        if (DecodeFirstSoundPicture(budget))
            return true;
        backoff = MovieTime::NextSeekBackoff(backoff, timeBase.num, timeBase.den);
    }
    return false;
}

// Decodes after a seek until the first picture that can be shown comes out, within budget
// packets. Pictures that come out together (the file ends while frame threads hold several) are
// taken one by one, so that the later ones do not pass over it.
bool TMovieDecoder::DecodeFirstSoundPicture(int budget)
{
    TState& s = *FState;
    const AVFrame& decoded = *s.DecodedFrame;
    for (int read = 0; read < budget && !s.ReadCutOff; ++read) {
        ReadVideoPacket();
        if (s.ReadAtEnd)
            return TakeFirstSoundHeldPicture();
        if (DecodeVideoPacket() && MovieDecoding::BeginsSoundRun(s, decoded))
            return true;
    }
    return false;
}

bool TMovieDecoder::TakeFirstSoundHeldPicture()
{
    TState& s = *FState;
    const AVFrame& decoded = *s.DecodedFrame;
    do {
        const std::int64_t taken = s.PicturesDecoded;
        TakeHeldPictures(1);
        if (s.PicturesDecoded == taken)
            return false;
    } while (!decoded.data[0] || !MovieDecoding::BeginsSoundRun(s, decoded));
    // The codec still holds the pictures of the packets after this one; they come out one for
    // each packet reading on gets to, as when the file ends while reading on.
    const std::int64_t pts = PresentationTimeOf(decoded);
    std::erase_if(s.PacketsRead, [](const TState::TPacketStamp& packet) { return packet.Pts == AV_NOPTS_VALUE; });
    const auto shown = std::find_if(s.PacketsRead.begin(), s.PacketsRead.end(),
                                    [pts](const TState::TPacketStamp& packet) { return packet.Pts == pts; });
    if (shown == s.PacketsRead.end())
        s.PacketsRead.assign(1, {pts, pts});
    else
        s.PacketsRead.erase(s.PacketsRead.begin(), shown);
    s.HeldAtEnd = true;
    s.Packet->pts = s.PacketsRead.front().Pts;
    s.Packet->dts = s.PacketsRead.front().Dts;
    return true;
}

// Reads on as a codec without threads would, up to the packet that reaches target (the packets
// the frame threads hold come first), then as many packets more as the threads hold back.
void TMovieDecoder::ReadOn(std::int64_t target)
{
    TState& s = *FState;
    int read = 0;     // packets counted against the budget, as without threads
    int beyond = -1;  // packets read past the one where that reading stops; -1 before it
    std::size_t stopAt = 0;
    for (std::size_t i = 1; i < s.PacketsRead.size(); ++i) {
        if (beyond >= 0) {
            ++beyond;
        } else if (StopsAt(s.PacketsRead[i], target, ++read)) {
            beyond = 0;
            stopAt = i;
        }
    }
    if (s.HeldAtEnd) {
        // The threads are drained: one picture for each packet reading without threads gets to,
        // and all of them when it gets to the end.
        if (beyond < 0) {
            TakeHeldPictures(INT_MAX);
            s.PacketsRead.assign(1, {});
            s.HeldAtEnd = false;
        } else {
            TakeHeldPictures(read);
            s.PacketsRead.erase(s.PacketsRead.begin(), s.PacketsRead.begin() + static_cast<std::ptrdiff_t>(stopAt));
        }
        s.Packet->pts = s.PacketsRead.front().Pts;
        s.Packet->dts = s.PacketsRead.front().Dts;
        return;
    }
    while (beyond < s.FrameDelay) {
        const bool gotPacket = ReadVideoPacket();
        if (beyond >= 0 && !gotPacket && s.ReadAtEnd) {
            // The file ends before the threads gave out the picture wanted: each packet missing
            // would have brought out one of those they hold. Reading without threads stopped
            // before the end: the position stays there, with the packets after it still to
            // come out.
            TakeHeldPictures(s.FrameDelay - beyond);
            s.PacketsRead.pop_back();
            s.PacketsRead.erase(s.PacketsRead.begin(), s.PacketsRead.end() - (beyond + 1));
            s.HeldAtEnd = true;
            s.Packet->pts = s.PacketsRead.front().Pts;
            s.Packet->dts = s.PacketsRead.front().Dts;
            return;
        }
        DecodeVideoPacket();
        if (s.ReadCutOff)
            return;
        if (beyond < 0) {
            if (StopsAt(s.PacketsRead.back(), target, ++read))
                beyond = 0;
        } else {
            ++beyond;
        }
    }
}

bool TMovieDecoder::RenderWithFFmpeg()
{
    TState& s = *FState;
    try {
        // Playback shows the picture decoded last, before its successor is known: the
        // deinterlacer takes it as its own next, as at the end of a stream.
        const AVFrame* previous = s.PreviousDecoded->data[0] ? s.PreviousDecoded.get() : nullptr;
        if (PreviewWanted()) {
            // Converted and scaled in one pass to the size it is drawn at; the full-size
            // picture is made from the same decoded pictures only if a capture asks for it.
            if (!s.Converter.ConvertInto(*s.DecodedFrame, s.PreviewWidth, s.PreviewHeight, *FPreview,
                                         {previous, nullptr}))
                return false;
            av_frame_unref(s.PendingFrame.get());
            av_frame_unref(s.PendingPrevious.get());
            if (av_frame_ref(s.PendingFrame.get(), s.DecodedFrame.get()) < 0
                || (previous && av_frame_ref(s.PendingPrevious.get(), previous) < 0)) {
                FPreview->SetSize(0, 0);
                return false;
            }
            s.BitmapPending = true;
        } else {
            if (!s.Converter.ConvertInto(*s.DecodedFrame, s.FrameWidth, s.FrameHeight, *FBitmap,
                                         {previous, nullptr}))
                return false;
            ShownFullSize(true);
        }
        s.ShownPts = PresentationTimeOf(*s.DecodedFrame);
        s.ShownNextPts = TPictureCache::NextUnknown;
        return true;
    } catch (...) {
        return false;
    }
}
