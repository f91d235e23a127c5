// SPDX-License-Identifier: GPL-3.0-or-later
// The FFmpeg input: opening a movie's video stream and its codec, reading the stream's packets
// and decoding them into pictures. Every call that may read runs within its deadline.
#include "decoder/MovieDecoderState.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

#include <QColor>
#include <QRect>

#include <sched.h>
#include <unistd.h>

#include <algorithm>

using MovieDecoding::Clock;
using MovieDecoding::MetadataText;
using MovieDecoding::TCallDeadline;

namespace {

// Budget that keeps one DecodeFrame short whatever the movie looks like.
constexpr int MaxReadsPerFetch = 250; // av_read_frame calls to find one video packet

constexpr std::int64_t MinimumDurationUs = 40000; // a movie must last longer than one 25 fps picture
const char* const NoVideoStreamError = "no video stream";

// The processors this process may run on (a container or taskset may allow fewer than the
// machine has); at least one.
int AllowedProcessors()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof(allowed), &allowed) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&allowed));
}

std::int64_t PhysicalMemoryBytes()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? std::int64_t{pages} * pageSize : 0;
}

// Codecs whose AVI files are left to the platform's own decoders (the AVIFile backend).
bool IsLeftToPlatform(AVCodecID id)
{
    return id == AV_CODEC_ID_INDEO3 || id == AV_CODEC_ID_CINEPAK || id == AV_CODEC_ID_MSRLE
        || id == AV_CODEC_ID_MSVIDEO1;
}

int InterruptIfLate(void* state)
{
    auto* s = static_cast<TMovieDecoder::TState*>(state);
    if (Clock::now() <= s->CallDeadline && !s->StopAsked())
        return 0;
    s->CallInterrupted = true;
    return 1;
}

// What a movie taught about its pictures; none of it holds for the next one.
void ForgetPictures(TMovieDecoder::TState& s)
{
    s.PacketsRead.clear();
    s.HeldAtEnd = false;
    s.DiscardedKeyPts = AV_NOPTS_VALUE;
    s.LatestPassedOver = AV_NOPTS_VALUE;
    s.FirstPts = AV_NOPTS_VALUE;
    s.RunValid = false;
    s.RunEnded = false;
    s.RunLastPts = AV_NOPTS_VALUE;
    s.CandidatePts = AV_NOPTS_VALUE;
    s.Cache.Clear();
    // The codec goes with the movie, and its pool with it.
    s.Cache.ForgetDecodedReserve();
    s.ShownPts = AV_NOPTS_VALUE;
    s.ShownNextPts = TPictureCache::NextUnknown;
    s.ShownSample = -1;
    s.PicturesDecoded = 0;
}

// From the first picture to the end of the video stream when the container knows where that
// ends (an MP4's length also counts an empty stretch before its first picture), else of the
// container.
std::int64_t PictureSpanUs(const AVFormatContext& format, const AVStream& stream, std::int64_t streamStart)
{
    const auto micro = [&stream](std::int64_t units) { return av_rescale_q(units, stream.time_base, AV_TIME_BASE_Q); };
    const std::int64_t streamEndUs = stream.duration != AV_NOPTS_VALUE && stream.duration > 0
        ? micro(MovieTime::SaturatingAdd(streamStart, stream.duration))
        : AV_NOPTS_VALUE;
    return MovieTime::PictureSpanUs(micro(streamStart), streamEndUs, format.start_time, format.duration);
}

// The picture received becomes the one decoded last; the one before stays at hand for the
// deinterlacer.
void TakeReceivedPicture(TMovieDecoder::TState& s)
{
    av_frame_unref(s.PreviousDecoded.get());
    av_frame_move_ref(s.PreviousDecoded.get(), s.DecodedFrame.get());
    av_frame_move_ref(s.DecodedFrame.get(), s.ReceivedFrame.get());
    ++s.PicturesDecoded;
}

} // namespace

bool TMovieDecoder::OpenFailed(int status)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(status, text, sizeof text);
    FOpenError = text;
    return false;
}

namespace {

// The steps of an opening, in order; each leaves what it made in the state.

// The container, read far enough to know its streams: 0, or FFmpeg's error.
int OpenInput(TMovieDecoder::TState& s, const std::string& fileName)
{
    // The interrupt callback must be in place before the first byte is read.
    AVFormatContext* format = avformat_alloc_context();
    if (!format)
        return AVERROR(ENOMEM);
    format->interrupt_callback = {InterruptIfLate, &s};
    {
        TCallDeadline deadline(s);
        if (const int opened = avformat_open_input(&format, fileName.c_str(), nullptr, nullptr); opened != 0)
            return opened; // it has freed the context
    }
    s.FormatContext.reset(format);
    TCallDeadline deadline(s);
    return std::min(0, avformat_find_stream_info(format, nullptr));
}

bool FindVideoStream(TMovieDecoder::TState& s)
{
    s.VideoStream = -1;
    const AVFormatContext& format = *s.FormatContext;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        if (format.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            s.VideoStream = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

// Frame threads decode several pictures at once and hand each out that many packets late; the
// playback path reads that much further (FrameDelay), the exact path follows pictures, not
// packets. A decoder that only looks (the bar's pictures) takes slice threads and no deblocking.
void ChooseThreads(const TMovieDecoder::TState& s, AVCodecContext& codecContext)
{
    codecContext.thread_count = MovieTime::DecodingThreads(
        s.RequestedThreads, AllowedProcessors(), std::int64_t{codecContext.width} * codecContext.height);
    codecContext.thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (s.LooksOnly) {
        codecContext.thread_count = std::clamp(AllowedProcessors(), 1, MovieTime::MaxDecodingThreads);
        codecContext.thread_type = FF_THREAD_SLICE;
        codecContext.skip_loop_filter = AVDISCARD_ALL;
    }
}

// Codecs whose pictures no other refers to are marked as such in the stream, and that decode the
// same pictures after passing over them as after decoding them (frame threads included).
bool PassesOverCorrectly(AVCodecID codec)
{
    return codec == AV_CODEC_ID_H264 || codec == AV_CODEC_ID_HEVC || codec == AV_CODEC_ID_MPEG2VIDEO
        || codec == AV_CODEC_ID_MPEG1VIDEO;
}

bool OpenCodec(TMovieDecoder::TState& s)
{
    s.CodecContext.reset(avcodec_alloc_context3(nullptr));
    if (!s.CodecContext || avcodec_parameters_to_context(s.CodecContext.get(), s.Stream()->codecpar) < 0)
        return false;
    AVCodecContext& codecContext = *s.CodecContext;
    s.Codec = avcodec_find_decoder(codecContext.codec_id);
    if (!s.Codec || IsLeftToPlatform(s.Codec->id)) {
        s.Codec = nullptr;
        s.CodecContext.reset();
        return false;
    }
    codecContext.workaround_bugs = FF_BUG_AUTODETECT;
    s.FormatContext->flags |= AVFMT_FLAG_GENPTS;
    ChooseThreads(s, codecContext);
    codecContext.pkt_timebase = s.Stream()->time_base;
    // The codec refuses every picture above the limit, also one that grows mid-stream.
    codecContext.max_pixels = s.MaxPicturePixels;
    if (std::int64_t{codecContext.width} * codecContext.height > s.MaxPicturePixels)
        return false;
    s.DecodedBuffers.Attach(codecContext, *s.Codec);
    if (avcodec_open2(&codecContext, s.Codec, nullptr) < 0)
        return false;
    s.FrameDelay = (codecContext.active_thread_type & FF_THREAD_FRAME) != 0
        ? std::max(0, codecContext.thread_count - 1)
        : 0;
    s.CanPassOver = !s.LooksOnly && PassesOverCorrectly(s.Codec->id);
    return true;
}

bool LastsLongEnough(const AVFormatContext& format)
{
    return format.duration != AV_NOPTS_VALUE && format.duration > MinimumDurationUs;
}

// The frames and the packet every read of this movie reuses, and the stream's span.
bool AllocatePictures(TMovieDecoder::TState& s)
{
    for (ffmpeg::FramePtr* frame : {&s.DecodedFrame, &s.ReceivedFrame, &s.Candidate, &s.PreviousCandidate,
                             &s.PreviousDecoded, &s.PendingFrame, &s.PendingPrevious}) {
        frame->reset(av_frame_alloc());
        if (!*frame)
            return false;
    }
    s.StreamStart = s.Stream()->start_time == AV_NOPTS_VALUE ? 0 : s.Stream()->start_time;
    s.DurationUs = PictureSpanUs(*s.FormatContext, *s.Stream(), s.StreamStart);
    // One packet serves every read of this movie; a fresh one has no pts, so the first
    // positioning seeks.
    s.Packet.reset(av_packet_alloc());
    return s.Packet != nullptr;
}

} // namespace

bool TMovieDecoder::OpenWithFFmpeg(const std::string& FileName)
{
    TState& s = *FState;
    try {
        s.StartOffset = -1;
        s.PresentationLead = 0;
        ForgetPictures(s);
        if (const int opened = OpenInput(s, FileName); opened != 0)
            return OpenFailed(opened);
        if (!FindVideoStream(s)) {
            FOpenError = NoVideoStreamError;
            return false;
        }
        if (!OpenCodec(s) || !LastsLongEnough(*s.FormatContext))
            return false;
        AVCodecContext& codecContext = *s.CodecContext;
        MovieTime::CorrectCodecTimeBase(codecContext.time_base.num, codecContext.time_base.den);
        if (!AllocatePictures(s))
            return false;
        // Pictures are converted into Bitmap's rows: a size without rows would leave nowhere to
        // write.
        if (av_image_check_size(codecContext.width, codecContext.height, 0, nullptr) < 0)
            return false;
        TakeOpenedMovie(FileName);
        return true;
    } catch (...) {
        FIsOpen = false;
        FFileName.clear();
        return false;
    }
}

void TMovieDecoder::TakeOpenedMovie(const std::string& FileName)
{
    TState& s = *FState;
    const AVCodecContext& codecContext = *s.CodecContext;
    s.FrameWidth = codecContext.width;
    s.FrameHeight = codecContext.height;
    if (!s.CacheLimitChosen)
        s.Cache.SetLimit(TPictureCache::DefaultLimitFor(s.PictureBytes(), PhysicalMemoryBytes()));
    FFileName = FileName;
    FIsOpen = true;
    FBitmap->SetPixelFormat(TPixelFormat::pf24bit);
    // A first picture converted at full size takes rows of its own: black rows made before
    // it would be a picture's worth of fresh memory filled for nothing. They are made when
    // no picture came, or while the full-size one waits to be converted.
    if (!DecodeFrame(0) || s.BitmapPending) {
        FBitmap->SetSize(codecContext.width, codecContext.height);
        FBitmap->FillRect(QRect(0, 0, codecContext.width + 1, codecContext.height + 1), Qt::black);
    }
}

void TMovieDecoder::ReleaseFFmpeg()
{
    TState& s = *FState;
    s.CodecContext.reset();
    s.DecodedBuffers.Reset();
    s.Codec = nullptr;
    s.FormatContext.reset();
    s.Packet.reset();
    s.Converter.Reset();
    s.ReceivedFrame.reset();
    s.DecodedFrame.reset();
    s.Candidate.reset();
    s.PreviousCandidate.reset();
    s.PreviousDecoded.reset();
    s.BitmapPending = false;
    s.PendingFrame.reset();
    s.PendingPrevious.reset();
    ForgetPictures(s);
}

bool TMovieDecoder::ReadVideoPacket()
{
    TState& s = *FState;
    AVPacket* packet = s.Packet.get();
    if (!packet)
        return false;
    av_packet_unref(packet); // back to a fresh packet without a pts
    s.ReadAtEnd = false;
    // Counted as read whatever comes of it; the stamps are filled in below when it is a video
    // packet.
    s.PacketsRead.push_back({});
    while (s.PacketsRead.size() > static_cast<std::size_t>(s.FrameDelay) + 1)
        s.PacketsRead.pop_front();
    for (int read = 0; read < MaxReadsPerFetch; ++read) {
        // Buffered bytes are read without asking the interrupt callback, so a stop is looked
        // at here too: it takes effect at the next packet whatever the buffer holds.
        if (s.StopAsked()) {
            s.ReadCutOff = true;
            return false;
        }
        TCallDeadline deadline(s);
        const int status = av_read_frame(s.FormatContext.get(), packet);
        if (status == AVERROR_EXIT)
            s.ReadCutOff = true;
        s.ReadAtEnd = status == AVERROR_EOF;
        if (status < 0)
            return false;
        if (packet->stream_index == s.VideoStream) {
            s.PacketsRead.back() = {packet->pts, packet->dts};
            const int preRoll = AV_PKT_FLAG_KEY | AV_PKT_FLAG_DISCARD;
            if ((packet->flags & preRoll) == preRoll && s.DiscardedKeyPts == AV_NOPTS_VALUE)
                s.DiscardedKeyPts = packet->pts;
            s.PresentationLead = MovieTime::PresentationLead(s.PresentationLead, packet->pts,
                                                             packet->dts, s.Stream()->time_base.num,
                                                             s.Stream()->time_base.den);
            return true;
        }
        av_packet_unref(packet);
    }
    return false;
}

bool TMovieDecoder::DecodeVideoPacket()
{
    TState& s = *FState;
    AVPacket* packet = s.Packet.get();
    if (!packet)
        return false;
    // The end of the file asks for the held-back pictures, whatever the video stream's index (an
    // emptied packet names stream 0). A fetch that gave up among other streams' packets is not
    // the end: draining then would end the codec's stream for good.
    const bool drain = s.ReadAtEnd;
    if (!drain && (packet->stream_index != s.VideoStream || packet->size <= 0))
        return false;
    AVCodecContext* codecContext = s.CodecContext.get();
    const int sent = avcodec_send_packet(codecContext, drain ? nullptr : packet);
    if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF)
        return false;
    bool got = false;
    while (avcodec_receive_frame(codecContext, s.ReceivedFrame.get()) >= 0) {
        TakeReceivedPicture(s);
        got = true;
    }
    return got && s.DecodedFrame->data[0] != nullptr;
}

void TMovieDecoder::TakeHeldPictures(int count)
{
    TState& s = *FState;
    AVCodecContext* codecContext = s.CodecContext.get();
    avcodec_send_packet(codecContext, nullptr); // AVERROR_EOF when asked before: nothing to do
    for (int taken = 0; taken < count && avcodec_receive_frame(codecContext, s.ReceivedFrame.get()) >= 0; ++taken)
        TakeReceivedPicture(s);
}

namespace {

// A picture the request in progress does not want need not be decoded when no other picture refers
// to it: with B-frames, most of the way from a key frame to the picture asked for.
void PassOverIfUnwanted(TMovieDecoder::TState& s)
{
    const std::int64_t pts = s.Packet->pts;
    const bool unwanted = s.PassOverBefore != AV_NOPTS_VALUE && pts != AV_NOPTS_VALUE && pts < s.PassOverBefore;
    s.CodecContext->skip_frame = unwanted ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
    if (unwanted)
        s.LatestPassedOver = std::max(s.LatestPassedOver, pts);
}

} // namespace

TMovieDecoder::TNextPicture TMovieDecoder::NextPicture(int& budget)
{
    TState& s = *FState;
    AVCodecContext* codecContext = s.CodecContext.get();
    for (;;) {
        const int received = avcodec_receive_frame(codecContext, s.ReceivedFrame.get());
        if (received >= 0) {
            TakeReceivedPicture(s);
            return TNextPicture::Picture;
        }
        if (received == AVERROR_EOF)
            return TNextPicture::End;
        if (received != AVERROR(EAGAIN) || budget <= 0 || s.ReadCutOff)
            return TNextPicture::Failed;
        --budget;
        // A damaged packet is skipped; at the end of the stream the codec gives up what it holds.
        if (ReadVideoPacket()) {
            PassOverIfUnwanted(s);
            avcodec_send_packet(codecContext, s.Packet.get());
        }
        else if (s.ReadCutOff)
            return TNextPicture::Failed;
        else
            avcodec_send_packet(codecContext, nullptr);
    }
}

double TMovieDecoder::FrameRate() const
{
    const TState& s = *FState;
    if (!FIsOpen)
        return 0;
    if (s.UsesAVIFile) {
        // From the time a thousand samples take: whole samples a second would make 29.97 29.
        const std::int32_t thousandMs = AVIStreamSampleToTime(s.AVIStream.get(), 1000);
        return thousandMs > 0 ? 1e6 / thousandMs : 0;
    }
    if (!s.FormatContext)
        return 0;
    const AVRational rate = av_guess_frame_rate(s.FormatContext.get(), s.Stream(), nullptr);
    return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
}

std::string TMovieDecoder::CodecName() const
{
    const TState& s = *FState;
    if (!FIsOpen)
        return {};
    if (s.UsesAVIFile || !s.FormatContext)
        return s.UsesAVIFile ? "avi" : "";
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(s.Stream()->codecpar->codec_id);
    return descriptor ? descriptor->name : "";
}

// The subtitle streams the container lists, for the index to read on a thread of its own.
std::vector<TSubtitleStreamInfo> TMovieDecoder::SubtitleStreams() const
{
    std::vector<TSubtitleStreamInfo> streams;
    const TState& s = *FState;
    if (!FIsOpen || s.UsesAVIFile || !s.FormatContext)
        return streams;
    for (unsigned i = 0; i < s.FormatContext->nb_streams; ++i) {
        const AVStream* stream = s.FormatContext->streams[i];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        TSubtitleStreamInfo info;
        info.ContainerIndex = static_cast<int>(i);
        info.Language = MetadataText(stream->metadata, "language");
        info.Title = MetadataText(stream->metadata, "title");
        const AVCodecDescriptor* descriptor = avcodec_descriptor_get(stream->codecpar->codec_id);
        info.Codec = descriptor ? descriptor->name : "unknown";
        info.Bitmap = descriptor && (descriptor->props & AV_CODEC_PROP_BITMAP_SUB) != 0;
        info.MovieStartUs = av_rescale_q(s.StreamStart, s.Stream()->time_base, AV_TIME_BASE_Q);
        streams.push_back(std::move(info));
    }
    return streams;
}
