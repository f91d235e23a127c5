// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What TMovieDecoder keeps between calls, shared by the units that make up the decoder: the
// FFmpeg input and codec, the AVIFile handles, the call deadlines, the run of pictures exact
// positioning follows and the picture cache. Internal to decoder/: it sees FFmpeg types.
#include "decoder/UMovieDecoder.h"
#include "decoder/UDecodedBuffers.h"
#include "decoder/UPictureCache.h"
#include "decoder/UPictureConverter.h"
#include "framework/AVIFile.h"
#include "framework/FFmpegPtr.h"

#include <QBuffer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

namespace MovieDecoding {

using Clock = std::chrono::steady_clock;

// The time a picture is presented at: the codec's best guess, which also covers streams whose
// packets carry decoding times only.
inline std::int64_t PresentationTimeOf(const AVFrame& picture)
{
    return picture.best_effort_timestamp != AV_NOPTS_VALUE ? picture.best_effort_timestamp
                                                           : picture.pts;
}

// A metadata entry of a stream or file; empty when it has none.
inline std::string MetadataText(AVDictionary* metadata, const char* key)
{
    const AVDictionaryEntry* entry = av_dict_get(metadata, key, nullptr, 0);
    return entry && entry->value ? entry->value : std::string();
}

} // namespace MovieDecoding

struct TMovieDecoder::TState {
    // Index in the container; -1 until an FFmpeg opening found a video stream.
    int VideoStream = -1;
    // Valid while an FFmpeg opening is in progress or its movie is open; null otherwise.
    ffmpeg::InputPtr FormatContext;
    // Declared before the codec, which decodes into it until it is freed.
    TDecodedBuffers DecodedBuffers;
    ffmpeg::CodecContextPtr CodecContext;
    const AVCodec* Codec = nullptr;
    // Holds the last picture the decoder put out; continuity between calls drives reading on.
    ffmpeg::FramePtr DecodedFrame;
    // avcodec_receive_frame clears its target even when nothing comes out, so pictures land
    // here first and move into DecodedFrame only when there is one.
    ffmpeg::FramePtr ReceivedFrame;
    // The picture decoded before DecodedFrame, for deinterlacing the playback path's pictures;
    // empty after a seek.
    ffmpeg::FramePtr PreviousDecoded;
    // Converts decoded pictures into Bitmap's rows and the cache's pictures.
    TPictureConverter Converter;
    // Set while Bitmap waits to be made from PendingFrame (with PendingPrevious, its
    // predecessor for the deinterlacer): the picture a playback request showed as a preview.
    bool BitmapPending = false;
    ffmpeg::FramePtr PendingFrame;
    ffmpeg::FramePtr PendingPrevious;
    // What a preview is made at; empty for none.
    int PreviewWidth = 0;
    int PreviewHeight = 0;
    // The packet read last; its pts stands for the demuxer's position. Null until the first read.
    ffmpeg::PacketPtr Packet;
    // The picture size the codec context announced at opening: Bitmap has it. The
    // decoder rewrites the context's own size when a damaged or changing stream says so.
    int FrameWidth = 0;
    int FrameHeight = 0;

    bool UsesAVIFile = false;
    // The AVIFile service's handles; null while it has nothing open.
    avifile::FilePtr AVIFile;
    avifile::StreamPtr AVIStream;
    // The getter of the last fetch; null when none.
    avifile::GetFramePtr FrameGetter;
    const void* LastFrameDIB = nullptr; // owned by FrameGetter, valid until it is closed
    // The bitmap file image of the picture rendered last. One stream serves every picture: a
    // new one each time would take fresh pages from the system at every step.
    QBuffer FrameImage;
    // FFmpeg: the video stream's start time in its time-base units, -1 until the first
    // positioning for time 0 knows it. AVIFile: the stream's first sample.
    std::int64_t StartOffset = -1;
    // FFmpeg: how far, in stream units, a video packet's presentation time has been seen to run
    // ahead of its decoding time (the decoder's reordering delay); 0 until a packet shows one.
    std::int64_t PresentationLead = 0;
    // Threads asked for the next opening's codec, 0 for one per processor; and how many pictures
    // the open codec's frame threads hand out late, beyond its own reordering (0 without them).
    int RequestedThreads = 0;
    // Looks only (SetLooksOnly): slice threads, no loop filter.
    bool LooksOnly = false;
    int FrameDelay = 0;
    // The stamps of the video packets read last, oldest first, at most FrameDelay + 1 of them
    // (a failed read counts, without stamps). The oldest stands where a codec without threads
    // would stand; the others are the packets the frame threads hold. Emptied by every seek.
    struct TPacketStamp {
        std::int64_t Pts = AV_NOPTS_VALUE;
        std::int64_t Dts = AV_NOPTS_VALUE;
    };
    std::deque<TPacketStamp> PacketsRead;
    // Set when the file ended while frame threads still held pictures of packets read before
    // it: the codec has given up waiting, and the pictures of the packets after the oldest in
    // PacketsRead come out one for each that reading without threads gets to.
    bool HeldAtEnd = false;
    // The first key packet read since the last seek that the demuxer marked as decoded but never
    // shown (the pre-roll before an edit list's start); AV_NOPTS_VALUE when none. The pictures
    // presented from its time on are sound, though the first of them is no key frame.
    std::int64_t DiscardedKeyPts = AV_NOPTS_VALUE;
    std::int32_t LastSample = 0; // AVIFile only
    std::int32_t ShownSample = -1; // AVIFile: the sample on Bitmap, -1 when none
    std::int32_t AVIWidth = 0;   // AVIFile only
    std::int32_t AVIHeight = 0;  // AVIFile only

    // How long one call into FFmpeg that may read (open, probe, seek, read) is given, and when
    // the call in progress must end: FFmpeg asks InterruptIfLate while it reads. Past calls
    // leave it at Clock's maximum.
    std::chrono::milliseconds CallTimeLimit{TMovieDecoder::DefaultCallTimeLimitMs};
    std::int64_t MaxPicturePixels = TMovieDecoder::DefaultMaxPicturePixels;
    MovieDecoding::Clock::time_point CallDeadline = MovieDecoding::Clock::time_point::max();
    // Set when a read was cut off; the positioning in progress then gives up instead of
    // starting call after call into the same dead end.
    bool ReadCutOff = false;
    // Set when the interrupt callback ended the call in progress; valid until the next call.
    // Demuxers that read with generated timestamps report such a call as the end of the file.
    std::atomic<bool> CallInterrupted{false};
    // Raised by another thread when the call in progress must end (SetStopSignal); may be null.
    const std::atomic<bool>* Stop = nullptr;
    bool StopAsked() const { return Stop && Stop->load(std::memory_order_relaxed); }
    TMovieDecoder::TFirstLook FirstLook;
    // Set when the last packet fetch ended at the end of the file: the packet then held is
    // empty, and decoding it asks the codec for the pictures it has held back.
    bool ReadAtEnd = false;

    // Exact positioning. The stream's first time (start_time, else 0) is time 0 of requests.
    std::int64_t StreamStart = 0;
    // From time 0 to the end of the last picture, in microseconds: what Duration answers.
    std::int64_t DurationUs = 0;
    // The first picture's time, once a run from the start of the movie has put it out.
    std::int64_t FirstPts = AV_NOPTS_VALUE;
    // A run: since a seek the codec has put out a key frame and, after it, every picture in
    // presentation order, the latest at RunLastPts (its picture in DecodedFrame). Valid only
    // while RunValid; RunEnded when the run reached the end of the stream.
    bool RunValid = false;
    bool RunEnded = false;
    std::int64_t RunLastPts = AV_NOPTS_VALUE;
    // The run's latest picture at or before the request in progress; empty when none yet.
    ffmpeg::FramePtr Candidate;
    std::int64_t CandidatePts = AV_NOPTS_VALUE;
    // The run's picture before the candidate; empty when the candidate began the run.
    ffmpeg::FramePtr PreviousCandidate;
    TPictureCache Cache;
    bool KeepsPicturesBehind = true; // SetKeepsPicturesBehind
    // Set at opening when the codec can be asked to pass over the pictures no other refers to.
    bool CanPassOver = false;
    // Pictures presented before this time are of no use to the exact request in progress: the
    // codec passes over those no other picture refers to. AV_NOPTS_VALUE outside a request.
    std::int64_t PassOverBefore = AV_NOPTS_VALUE;
    // The latest time of a packet the codec was allowed to pass over since the last seek: the
    // run may lack a picture at or before it, so no answer or successor is taken from there.
    std::int64_t LatestPassedOver = AV_NOPTS_VALUE;
    // Set when a request's answer fell where pictures may have been passed over.
    bool AnswerPassedOver = false;
    // How far before the request in progress the cache centres what it keeps (stream units).
    std::int64_t KeepBehind = 0;
    // Set once a caller chose the cache's bound; until then each opening sizes it to the movie's
    // pictures.
    bool CacheLimitChosen = false;
    // The picture on Bitmap (FFmpeg) and the next picture's time when known.
    std::int64_t ShownPts = AV_NOPTS_VALUE;
    std::int64_t ShownNextPts = TPictureCache::NextUnknown;
    std::int64_t PicturesDecoded = 0;

    AVStream* Stream() const { return FormatContext->streams[VideoStream]; }
    // What one converted picture of the open movie takes: 24-bit rows padded to 4 bytes.
    std::int64_t PictureBytes() const
    {
        return std::int64_t{FrameHeight} * ((std::int64_t{FrameWidth} * 3 + 3) & ~std::int64_t{3});
    }
};

namespace MovieDecoding {

// Whether a picture decoded since the last seek may begin what is shown: a key frame, or a
// picture presented at or after a key frame that was decoded but not shown (an edit list's
// pre-roll, whose only key frame never comes out of the codec).
inline bool BeginsSoundRun(const TMovieDecoder::TState& s, const AVFrame& picture)
{
    if (picture.key_frame)
        return true;
    const std::int64_t pts = PresentationTimeOf(picture);
    return s.DiscardedKeyPts != AV_NOPTS_VALUE && pts != AV_NOPTS_VALUE && pts >= s.DiscardedKeyPts;
}

// Opens the deadline of one call into FFmpeg for the scope it lives in.
class TCallDeadline {
public:
    explicit TCallDeadline(TMovieDecoder::TState& state)
        : FState(state)
    {
        FState.CallDeadline = Clock::now() + FState.CallTimeLimit;
        FState.CallInterrupted = false;
    }
    ~TCallDeadline() { FState.CallDeadline = Clock::time_point::max(); }
    TCallDeadline(const TCallDeadline&) = delete;
    TCallDeadline& operator=(const TCallDeadline&) = delete;

private:
    TMovieDecoder::TState& FState;
};

} // namespace MovieDecoding
