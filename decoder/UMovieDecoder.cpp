#include "decoder/UMovieDecoder.h"
#include "decoder/UPictureCache.h"
#include "decoder/UPictureConverter.h"
#include "framework/AVIFile.h"
#include "framework/FFmpegPtr.h"
#include "framework/StretchDIBits.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

#include <QBuffer>
#include <QColor>
#include <QFileDevice>
#include <QRect>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

namespace {

// Budgets that keep one DecodeFrame short whatever the movie looks like.
constexpr int MaxReadsPerFetch = 250;       // av_read_frame calls to find one video packet
constexpr int PacketBudget = 20;            // video packets per positioning, either path
constexpr std::int64_t MinimumDurationUs = 40000; // a movie must last longer than one 25 fps picture
// Video packets one exact request may read: a long GOP of a high frame rate, a few times over
// for the seeks that start further back.
constexpr int ExactPacketBudget = 5000;
constexpr int AssumedFrameRate = 25; // when a stream gives no usable rate

using Clock = std::chrono::steady_clock;

// Codecs whose AVI files are left to the platform's own decoders (the AVIFile backend).
bool IsLeftToPlatform(AVCodecID id)
{
    return id == AV_CODEC_ID_INDEO3 || id == AV_CODEC_ID_CINEPAK || id == AV_CODEC_ID_MSRLE
        || id == AV_CODEC_ID_MSVIDEO1;
}

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

struct TMovieDecoder::TState {
    // Index in the container; -1 until an FFmpeg opening found a video stream.
    int VideoStream = -1;
    // Valid while an FFmpeg opening is in progress or its movie is open; null otherwise.
    ffmpeg::InputPtr FormatContext;
    ffmpeg::CodecContextPtr CodecContext;
    const AVCodec* Codec = nullptr;
    // Holds the last picture the decoder put out; continuity between calls drives reading on.
    ffmpeg::FramePtr DecodedFrame;
    // avcodec_receive_frame clears its target even when nothing comes out, so pictures land
    // here first and move into DecodedFrame only when there is one.
    ffmpeg::FramePtr ReceivedFrame;
    // Converts decoded pictures into Bitmap's rows and the cache's pictures.
    TPictureConverter Converter;
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
    std::int32_t LastSample = 0; // AVIFile only
    std::int32_t ShownSample = -1; // AVIFile: the sample on Bitmap, -1 when none
    std::int32_t AVIWidth = 0;   // AVIFile only
    std::int32_t AVIHeight = 0;  // AVIFile only

    // How long one call into FFmpeg that may read (open, probe, seek, read) is given, and when
    // the call in progress must end: FFmpeg asks InterruptIfLate while it reads. Past calls
    // leave it at Clock's maximum.
    std::chrono::milliseconds CallTimeLimit{TMovieDecoder::DefaultCallTimeLimitMs};
    Clock::time_point CallDeadline = Clock::time_point::max();
    // Set when a read was cut off; the positioning in progress then gives up instead of
    // starting call after call into the same dead end.
    bool ReadCutOff = false;
    // Set when the last packet fetch ended at the end of the file: the packet then held is
    // empty, and decoding it asks the codec for the pictures it has held back.
    bool ReadAtEnd = false;

    // Exact positioning. The stream's first time (start_time, else 0) is time 0 of requests.
    std::int64_t StreamStart = 0;
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
    TPictureCache Cache;
    // The picture on Bitmap (FFmpeg) and the next picture's time when known.
    std::int64_t ShownPts = AV_NOPTS_VALUE;
    std::int64_t ShownNextPts = TPictureCache::NextUnknown;
    std::int64_t PicturesDecoded = 0;

    AVStream* Stream() const { return FormatContext->streams[VideoStream]; }
};

namespace {

int InterruptIfLate(void* state)
{
    return Clock::now() > static_cast<const TMovieDecoder::TState*>(state)->CallDeadline ? 1 : 0;
}

// Opens the deadline of one call into FFmpeg for the scope it lives in.
class TCallDeadline {
public:
    explicit TCallDeadline(TMovieDecoder::TState& state)
        : FState(state)
    {
        FState.CallDeadline = Clock::now() + FState.CallTimeLimit;
    }
    ~TCallDeadline() { FState.CallDeadline = Clock::time_point::max(); }
    TCallDeadline(const TCallDeadline&) = delete;
    TCallDeadline& operator=(const TCallDeadline&) = delete;

private:
    TMovieDecoder::TState& FState;
};

// What a movie taught about its pictures; none of it holds for the next one.
void ForgetPictures(TMovieDecoder::TState& s)
{
    s.FirstPts = AV_NOPTS_VALUE;
    s.RunValid = false;
    s.RunEnded = false;
    s.RunLastPts = AV_NOPTS_VALUE;
    s.CandidatePts = AV_NOPTS_VALUE;
    s.Cache.Clear();
    s.ShownPts = AV_NOPTS_VALUE;
    s.ShownNextPts = TPictureCache::NextUnknown;
    s.ShownSample = -1;
    s.PicturesDecoded = 0;
}

// The time a picture is presented at: the codec's best guess, which also covers streams whose
// packets carry decoding times only.
std::int64_t PresentationTimeOf(const AVFrame& picture)
{
    return picture.best_effort_timestamp != AV_NOPTS_VALUE ? picture.best_effort_timestamp
                                                           : picture.pts;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Lifetime, opening and closing

TMovieDecoder::TMovieDecoder()
    : FBitmap(std::make_unique<TBitmap>())
    , FState(std::make_unique<TState>())
{
    // FFmpeg 5 registers its formats and codecs itself; nothing to call before the first use.
}

TMovieDecoder::~TMovieDecoder()
{
    if (FIsOpen)
        Close();
}

bool TMovieDecoder::Open(const std::string& FileName)
{
    if (FIsOpen)
        Close();
    FState->UsesAVIFile = false;
    if (OpenWithFFmpeg(FileName))
        return true;
    ReleaseFFmpeg();
    return OpenWithAVIFile(FileName);
}

bool TMovieDecoder::OpenWithFFmpeg(const std::string& FileName)
{
    TState& s = *FState;
    try {
        s.StartOffset = -1;
        s.PresentationLead = 0;
        ForgetPictures(s);

        // The interrupt callback must be in place before the first byte is read.
        AVFormatContext* format = avformat_alloc_context();
        if (!format)
            return false;
        format->interrupt_callback = {InterruptIfLate, &s};
        {
            TCallDeadline deadline(s);
            if (avformat_open_input(&format, FileName.c_str(), nullptr, nullptr) != 0)
                return false; // it has freed the context
        }
        s.FormatContext.reset(format);
        {
            TCallDeadline deadline(s);
            if (avformat_find_stream_info(format, nullptr) < 0)
                return false;
        }

        s.VideoStream = -1;
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
                s.VideoStream = static_cast<int>(i);
                break;
            }
        }
        if (s.VideoStream < 0)
            return false;

        s.CodecContext.reset(avcodec_alloc_context3(nullptr));
        if (!s.CodecContext
            || avcodec_parameters_to_context(s.CodecContext.get(), s.Stream()->codecpar) < 0)
            return false;
        AVCodecContext& codecContext = *s.CodecContext;

        s.Codec = avcodec_find_decoder(codecContext.codec_id);
        if (!s.Codec || IsLeftToPlatform(s.Codec->id)) {
            s.Codec = nullptr;
            s.CodecContext.reset();
            return false;
        }

        codecContext.workaround_bugs = FF_BUG_AUTODETECT;
        format->flags |= AVFMT_FLAG_GENPTS;
        // Frame threading would hold pictures back and eat the packet budgets.
        codecContext.thread_count = 1;
        codecContext.pkt_timebase = s.Stream()->time_base;
        if (avcodec_open2(&codecContext, s.Codec, nullptr) < 0)
            return false;

        if (format->duration == AV_NOPTS_VALUE || format->duration <= MinimumDurationUs)
            return false;

        MovieTime::CorrectCodecTimeBase(codecContext.time_base.num, codecContext.time_base.den);

        s.DecodedFrame.reset(av_frame_alloc());
        if (!s.DecodedFrame)
            return false;
        s.ReceivedFrame.reset(av_frame_alloc());
        if (!s.ReceivedFrame)
            return false;
        s.Candidate.reset(av_frame_alloc());
        if (!s.Candidate)
            return false;
        s.StreamStart = s.Stream()->start_time == AV_NOPTS_VALUE ? 0 : s.Stream()->start_time;
        // One packet serves every read of this movie; a fresh one has no pts, so the first
        // positioning seeks.
        s.Packet.reset(av_packet_alloc());
        if (!s.Packet)
            return false;

        // Pictures are converted into Bitmap's rows: a size without rows would leave nowhere to
        // write.
        if (av_image_check_size(codecContext.width, codecContext.height, 0, nullptr) < 0)
            return false;

        s.FrameWidth = codecContext.width;
        s.FrameHeight = codecContext.height;
        FFileName = FileName;
        FIsOpen = true;
        FBitmap->SetPixelFormat(TPixelFormat::pf24bit);
        FBitmap->SetSize(codecContext.width, codecContext.height);
        FBitmap->FillRect(QRect(0, 0, codecContext.width + 1, codecContext.height + 1), Qt::black);

        DecodeFrame(0);
        return true;
    } catch (...) {
        FIsOpen = false;
        FFileName.clear();
        return false;
    }
}

struct TMovieDecoder::TAVIHandles {
    avifile::FilePtr File;
    avifile::StreamPtr Stream;
};

bool TMovieDecoder::OpenWithAVIFile(const std::string& FileName)
{
    TState& s = *FState;
    s.AVIStream.reset();
    s.AVIFile.reset();
    TAVIHandles handles;
    try {
        if (!OpenAVIFileSteps(FileName, handles))
            return false; // the local handles release the stream and the file
    } catch (...) {
        return false;
    }
    s.AVIFile = std::move(handles.File);
    s.AVIStream = std::move(handles.Stream);
    return true;
}

bool TMovieDecoder::OpenAVIFileSteps(const std::string& FileName, TAVIHandles& Handles)
{
    TState& s = *FState;
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, FileName.c_str(), OF_SHARE_DENY_WRITE) != AVIERR_OK)
        return false;
    Handles.File.reset(file);
    AVIFILEINFOA info{};
    if (AVIFileInfoA(file, &info, sizeof info) != AVIERR_OK)
        return false;

    // The video stream with the lowest priority wins; among equals the first.
    std::uint16_t chosenPriority = 0;
    for (std::uint32_t i = 0; i < info.dwStreams; ++i) {
        PAVISTREAM candidate = nullptr;
        if (AVIFileGetStream(file, &candidate, 0, static_cast<std::int32_t>(i)) != AVIERR_OK)
            return false;
        avifile::StreamPtr stream(candidate);
        AVISTREAMINFOA streamInfo{};
        if (AVIStreamInfoA(candidate, &streamInfo, sizeof streamInfo) != AVIERR_OK)
            return false;
        if (streamInfo.fccType == streamtypeVIDEO && (!Handles.Stream || streamInfo.wPriority < chosenPriority)) {
            Handles.Stream = std::move(stream);
            chosenPriority = streamInfo.wPriority;
        }
    }
    if (!Handles.Stream)
        return false;
    PAVISTREAM stream = Handles.Stream.get();

    s.StartOffset = AVIStreamStart(stream);
    s.LastSample = static_cast<std::int32_t>(s.StartOffset + AVIStreamLength(stream) - 1);

    // The first picture must decompress.
    {
        const avifile::GetFramePtr getter(AVIStreamGetFrameOpen(stream, nullptr));
        if (!getter || !AVIStreamGetFrame(getter.get(), static_cast<std::int32_t>(s.StartOffset)))
            return false;
    }
    // The size comes from the last picture, as the bitmap class reads it.
    {
        const avifile::GetFramePtr getter(AVIStreamGetFrameOpen(stream, nullptr));
        if (!getter)
            return false;
        const void* last = AVIStreamGetFrame(getter.get(), s.LastSample);
        if (!last)
            return false;
        QBuffer image;
        image.open(QIODevice::ReadWrite);
        WriteBitmapFileImage(image, last);
        TBitmap picture;
        picture.LoadFromStream(image);
        picture.SetPixelFormat(TPixelFormat::pf24bit);
        s.AVIWidth = picture.Width();
        s.AVIHeight = picture.Height();
    }

    FFileName = FileName;
    FIsOpen = true;
    s.UsesAVIFile = true;
    FBitmap->SetPixelFormat(TPixelFormat::pf24bit);
    FBitmap->SetSize(s.AVIWidth, s.AVIHeight);
    FBitmap->FillRect(QRect(0, 0, s.AVIWidth + 1, s.AVIHeight + 1), Qt::black);
    return true;
}

void TMovieDecoder::WriteBitmapFileImage(TStream& Stream, const void* Block)
{
    BITMAPINFOHEADER header{};
    std::memcpy(&header, Block, sizeof header);
    std::int64_t colourBytes = 0;
    if (header.biClrUsed != 0)
        colourBytes = std::int64_t{header.biClrUsed} * 4;
    else if (header.biBitCount <= 8 && header.biBitCount > 0)
        colourBytes = (std::int64_t{1} << header.biBitCount) * 4;
    else if ((header.biBitCount == 16 || header.biBitCount == 32) && header.biCompression != BI_RGB)
        colourBytes = 3 * 4; // the bit-field masks
    const std::int64_t imageBytes = header.biSizeImage != 0
        ? std::int64_t{header.biSizeImage}
        : std::abs(std::int64_t{header.biHeight}) * DIBRowStride(header.biWidth, header.biBitCount);
    // The 40-byte info header is counted whatever size the block's header claims.
    const std::int64_t offBits = std::int64_t{sizeof(BITMAPFILEHEADER)} + std::int64_t{sizeof(BITMAPINFOHEADER)} + colourBytes;
    const std::int64_t fileSize = offBits + imageBytes;

    Stream.seek(0);
    // A buffer is sized once and overwritten in place: emptying it first would let it give its
    // memory back, and every picture would be copied into freshly faulted pages.
    if (auto* buffer = qobject_cast<QBuffer*>(&Stream))
        buffer->buffer().resize(fileSize);
    else if (auto* file = qobject_cast<QFileDevice*>(&Stream))
        file->resize(0);
    const BITMAPFILEHEADER fileHeader{kBitmapFileType, static_cast<std::uint32_t>(fileSize), 0, 0,
                                      static_cast<std::uint32_t>(offBits)};
    WriteBuffer(Stream, &fileHeader, sizeof fileHeader);
    WriteBuffer(Stream, Block, fileSize - std::int64_t{sizeof fileHeader});
    Stream.seek(0);
}

void TMovieDecoder::ReleaseFFmpeg()
{
    TState& s = *FState;
    s.CodecContext.reset();
    s.Codec = nullptr;
    s.FormatContext.reset();
    s.Packet.reset();
    s.Converter.Reset();
    s.ReceivedFrame.reset();
    s.DecodedFrame.reset();
    s.Candidate.reset();
    ForgetPictures(s);
}

void TMovieDecoder::ReleaseAVIFile()
{
    TState& s = *FState;
    if (s.AVIFile) {
        s.AVIStream.reset();
        s.AVIFile.reset();
    }
    s.FrameGetter.reset();
    s.LastFrameDIB = nullptr;
}

bool TMovieDecoder::Close()
{
    if (!FIsOpen)
        return true;
    bool released = true;
    try {
        ReleaseFFmpeg();
        ReleaseAVIFile();
    } catch (...) {
        released = false;
    }
    // Owners that a throwing release skipped still let go here, so nothing leaks.
    ReleaseFFmpeg();
    FFileName.clear();
    FIsOpen = false;
    return released;
}

std::int32_t TMovieDecoder::Duration() const
{
    if (!FIsOpen)
        return -1;
    if (FState->UsesAVIFile)
        return AVIStreamSampleToTime(FState->AVIStream.get(),
                                     static_cast<std::int32_t>(FState->LastSample - FState->StartOffset));
    if (!FState->FormatContext)
        return -1;
    return MovieTime::DurationMs(FState->FormatContext->duration);
}

TDisplayTransform TMovieDecoder::DisplayTransform() const
{
    const TState& s = *FState;
    if (!FIsOpen || s.UsesAVIFile || !s.FormatContext)
        return {};
    AVStream* stream = s.Stream();
    std::size_t matrixSize = 0;
    const std::uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize);
    int rotation = 0;
    if (matrix && matrixSize >= 9 * sizeof(std::int32_t)) {
        std::int32_t values[9];
        std::memcpy(values, matrix, sizeof values);
        rotation = DisplayGeometry::RotationOfDisplayMatrix(values);
    }
    AVFrame* shown = s.DecodedFrame && s.DecodedFrame->data[0] ? s.DecodedFrame.get() : nullptr;
    const AVRational aspect = av_guess_sample_aspect_ratio(s.FormatContext.get(), stream, shown);
    return DisplayGeometry::MakeTransform(rotation, aspect.num, aspect.den);
}

bool TMovieDecoder::UsesAVIFile() const
{
    return FState->UsesAVIFile;
}

std::int32_t TMovieDecoder::Width() const
{
    if (!FIsOpen)
        return -1;
    if (FState->UsesAVIFile)
        return FState->AVIWidth;
    return FState->CodecContext ? FState->FrameWidth : -1;
}

std::int32_t TMovieDecoder::Height() const
{
    if (!FIsOpen)
        return -1;
    if (FState->UsesAVIFile)
        return FState->AVIHeight;
    return FState->CodecContext ? FState->FrameHeight : -1;
}

// ---------------------------------------------------------------------------------------------
// Seeking and decoding

bool TMovieDecoder::DecodeFrame(std::int32_t TimeMs)
{
    if (!FIsOpen)
        return false;
    // AVIFile requests are exact by nature: every sample is a picture of its own.
    if (FExact && !FState->UsesAVIFile) {
        const TState& s = *FState;
        const AVRational timeBase = s.Stream()->time_base;
        return DecodeExactly(MovieTime::ExactTargetUnits(TimeMs, timeBase.num, timeBase.den, s.StreamStart));
    }
    if (!SeekTo(TimeMs))
        return false;
    return RenderFrame();
}

bool TMovieDecoder::SeekTo(std::int32_t TimeMs)
{
    if (FState->UsesAVIFile)
        return SeekAVIFile(TimeMs);
    return SeekWithFFmpeg(TimeMs);
}

bool TMovieDecoder::RenderFrame()
{
    if (FState->UsesAVIFile)
        return RenderAVIFileFrame();
    return RenderWithFFmpeg();
}

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

bool TMovieDecoder::ReadVideoPacket()
{
    TState& s = *FState;
    AVPacket* packet = s.Packet.get();
    if (!packet)
        return false;
    av_packet_unref(packet); // back to a fresh packet without a pts
    s.ReadAtEnd = false;
    for (int read = 0; read < MaxReadsPerFetch; ++read) {
        TCallDeadline deadline(s);
        const int status = av_read_frame(s.FormatContext.get(), packet);
        if (status == AVERROR_EXIT)
            s.ReadCutOff = true;
        s.ReadAtEnd = status == AVERROR_EOF;
        if (status < 0)
            return false;
        if (packet->stream_index == s.VideoStream) {
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
        av_frame_unref(s.DecodedFrame.get());
        av_frame_move_ref(s.DecodedFrame.get(), s.ReceivedFrame.get());
        ++s.PicturesDecoded;
        got = true;
    }
    return got && s.DecodedFrame->data[0] != nullptr;
}

bool TMovieDecoder::RenderWithFFmpeg()
{
    TState& s = *FState;
    try {
        if (!s.Converter.ConvertInto(*s.DecodedFrame, s.FrameWidth, s.FrameHeight, *FBitmap))
            return false;
        s.ShownPts = PresentationTimeOf(*s.DecodedFrame);
        s.ShownNextPts = TPictureCache::NextUnknown;
        return true;
    } catch (...) {
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Exact positioning

bool TMovieDecoder::DecodeExactly(std::int64_t target)
{
    TState& s = *FState;
    if (s.FirstPts != AV_NOPTS_VALUE)
        target = std::max(target, s.FirstPts);
    s.ReadCutOff = false;
    try {
        if (const std::optional<std::int64_t> held = s.Cache.Find(target)) {
            FBitmap->Image() = *s.Cache.At(*held);
            s.ShownPts = *held;
            s.ShownNextPts = s.Cache.NextOf(*held);
            return true;
        }
        // Near the picture on screen the user is stepping: the pictures decoded on the way are
        // kept, so that the steps back that follow are copies.
        const __int128 distance = static_cast<__int128>(target) - s.ShownPts;
        const bool keepBefore = s.ShownPts != AV_NOPTS_VALUE
            && (distance < 0 ? -distance : distance) <= ConversionSpan();
        int budget = ExactPacketBudget;
        const bool shown = CanReadOn(target) ? ReadOnExactly(target, keepBefore, budget)
                                             : SeekExactly(target, keepBefore);
        if (shown && s.StartOffset < 0)
            s.StartOffset = s.StreamStart;
        return shown;
    } catch (...) {
        s.RunValid = false;
        return false;
    }
}

bool TMovieDecoder::CanReadOn(std::int64_t target) const
{
    const TState& s = *FState;
    if (!s.RunValid || target < s.RunLastPts)
        return false;
    if (s.RunEnded)
        return true;
    const AVStream* stream = s.Stream();
    if (MovieTime::NeedsSeek(target, s.RunLastPts, stream->time_base.num, stream->time_base.den))
        return false;
    // A key frame between the run and the request is a shorter way there.
    const int key = av_index_search_timestamp(const_cast<AVStream*>(stream),
                                              MovieTime::DecodingTime(target, s.PresentationLead),
                                              AVSEEK_FLAG_BACKWARD);
    const AVIndexEntry* entry = key >= 0 ? avformat_index_get_entry(const_cast<AVStream*>(stream), key) : nullptr;
    return !entry || entry->timestamp + s.PresentationLead <= s.RunLastPts;
}

bool TMovieDecoder::SeekExactly(std::int64_t target, bool keepBefore)
{
    TState& s = *FState;
    const AVRational timeBase = s.Stream()->time_base;
    int budget = ExactPacketBudget;
    for (std::int64_t backoff = 0;; backoff = MovieTime::NextSeekBackoff(backoff, timeBase.num, timeBase.den)) {
        const std::int64_t decodingTime = MovieTime::DecodingTime(MovieTime::DecodingTime(target, s.PresentationLead), backoff);
        // From here back there is nothing earlier to find: the first key frame is the movie's
        // first picture, even when it comes after the request.
        const bool fromStart = decodingTime <= s.StreamStart;
        s.RunValid = false;
        s.RunEnded = false;
        // Demuxers that search by reading timestamps may land past the first key frame when asked
        // for the start's own time; a time before anything in the file finds the beginning.
        if (!SeekBackTo(fromStart ? std::min<std::int64_t>(decodingTime, 0) : decodingTime)) {
            if (fromStart)
                return false;
            continue;
        }
        // Pictures before the first key frame cannot be trusted. Nor can the leading pictures of
        // an open GOP, which come after its key frame but are shown before it (they refer to the
        // GOP before): reading on passes them over as pictures that go back in time.
        std::int64_t keyPts = AV_NOPTS_VALUE;
        TNextPicture next;
        while ((next = NextPicture(budget)) == TNextPicture::Picture) {
            keyPts = PresentationTimeOf(*s.DecodedFrame);
            if (keyPts != AV_NOPTS_VALUE && s.DecodedFrame->key_frame)
                break;
        }
        if (next != TNextPicture::Picture) {
            if (fromStart || budget <= 0 || s.ReadCutOff)
                return false;
            continue;
        }
        if (keyPts > target && !fromStart)
            continue;
        if (fromStart)
            s.FirstPts = keyPts;
        s.RunValid = true;
        s.RunLastPts = keyPts;
        av_frame_unref(s.Candidate.get());
        if (av_frame_ref(s.Candidate.get(), s.DecodedFrame.get()) < 0)
            return false;
        s.CandidatePts = keyPts;
        if (keepBefore && keyPts >= target - ConversionSpan())
            KeepPicture(keyPts, target);
        return ReadOnExactly(std::max(target, keyPts), keepBefore, budget);
    }
}

bool TMovieDecoder::SeekBackTo(std::int64_t decodingTime)
{
    TState& s = *FState;
    {
        TCallDeadline deadline(s);
        // Some demuxers find no key frame at or before a time, only one after it; the caller
        // then starts further back.
        if (av_seek_frame(s.FormatContext.get(), s.VideoStream, decodingTime, AVSEEK_FLAG_BACKWARD) < 0
            && av_seek_frame(s.FormatContext.get(), s.VideoStream, decodingTime, 0) < 0)
            return false;
    }
    avcodec_flush_buffers(s.CodecContext.get());
    av_packet_unref(s.Packet.get());
    return true;
}

// Decodes on from the run's latest picture (at or before target) until the picture after target
// comes out or the stream ends, and shows the last one at or before target.
bool TMovieDecoder::ReadOnExactly(std::int64_t target, bool keepBefore, int& budget)
{
    TState& s = *FState;
    if (s.CandidatePts != s.RunLastPts) {
        av_frame_unref(s.Candidate.get());
        if (av_frame_ref(s.Candidate.get(), s.DecodedFrame.get()) < 0)
            return false;
        s.CandidatePts = s.RunLastPts;
    }
    const std::int64_t span = ConversionSpan();
    while (!s.RunEnded) {
        const TNextPicture next = NextPicture(budget);
        if (next == TNextPicture::End) {
            s.RunEnded = true;
            s.Cache.SetNext(s.RunLastPts, TPictureCache::EndOfMovie);
            break;
        }
        if (next == TNextPicture::Failed) {
            // Out of budget or cut off: the best picture found is still the right kind of
            // answer for what was read, but the run cannot be trusted to go on.
            s.RunValid = false;
            return ShowCandidate(TPictureCache::NextUnknown);
        }
        std::int64_t pts = PresentationTimeOf(*s.DecodedFrame);
        // Pictures the codec gives up at the end may come without a time: the next one's.
        if (pts == AV_NOPTS_VALUE)
            pts = MovieTime::SaturatingAdd(s.RunLastPts, FrameDuration());
        // A damaged stream may repeat or go back in time; such pictures are passed over.
        if (pts <= s.RunLastPts)
            continue;
        s.Cache.SetNext(s.RunLastPts, pts);
        s.RunLastPts = pts;
        if (pts > target)
            return ShowCandidate(pts);
        av_frame_unref(s.Candidate.get());
        if (av_frame_ref(s.Candidate.get(), s.DecodedFrame.get()) < 0)
            return false;
        s.CandidatePts = pts;
        if (keepBefore && pts >= target - span)
            KeepPicture(pts, target);
    }
    return ShowCandidate(TPictureCache::EndOfMovie);
}

TMovieDecoder::TNextPicture TMovieDecoder::NextPicture(int& budget)
{
    TState& s = *FState;
    AVCodecContext* codecContext = s.CodecContext.get();
    for (;;) {
        const int received = avcodec_receive_frame(codecContext, s.ReceivedFrame.get());
        if (received >= 0) {
            av_frame_unref(s.DecodedFrame.get());
            av_frame_move_ref(s.DecodedFrame.get(), s.ReceivedFrame.get());
            ++s.PicturesDecoded;
            return TNextPicture::Picture;
        }
        if (received == AVERROR_EOF)
            return TNextPicture::End;
        if (received != AVERROR(EAGAIN) || budget <= 0 || s.ReadCutOff)
            return TNextPicture::Failed;
        --budget;
        // A damaged packet is skipped; at the end of the stream the codec gives up what it holds.
        if (ReadVideoPacket())
            avcodec_send_packet(codecContext, s.Packet.get());
        else if (s.ReadCutOff)
            return TNextPicture::Failed;
        else
            avcodec_send_packet(codecContext, nullptr);
    }
}

// Converts the candidate into the cache, the position being at position.
void TMovieDecoder::KeepPicture(std::int64_t pts, std::int64_t position)
{
    TState& s = *FState;
    if (s.Cache.At(pts))
        return;
    QImage picture(s.FrameWidth, s.FrameHeight, TBitmap::QtFormatFor(TPixelFormat::pf24bit));
    if (!picture.isNull()
        && s.Converter.Convert(*s.Candidate, s.FrameWidth, s.FrameHeight, picture.bits(),
                               static_cast<int>(picture.bytesPerLine())))
        s.Cache.Insert(pts, picture, position);
}

bool TMovieDecoder::ShowCandidate(std::int64_t nextPts)
{
    TState& s = *FState;
    if (s.CandidatePts == AV_NOPTS_VALUE || !s.Candidate->data[0])
        return false;
    const std::int64_t pts = s.CandidatePts;
    KeepPicture(pts, pts);
    s.Cache.SetNext(pts, nextPts);
    if (const QImage* kept = s.Cache.At(pts)) {
        FBitmap->Image() = *kept;
    } else {
        // A limit below one picture keeps none; the bitmap gets it all the same.
        if (!s.Converter.ConvertInto(*s.Candidate, s.FrameWidth, s.FrameHeight, *FBitmap))
            return false;
    }
    s.ShownPts = pts;
    s.ShownNextPts = nextPts;
    return true;
}

// How far before the request decoded pictures are worth converting: as far as the cache holds
// pictures of this size, at the stream's frame rate.
std::int64_t TMovieDecoder::ConversionSpan() const
{
    const TState& s = *FState;
    const std::int64_t pictureBytes = std::int64_t{s.FrameHeight} * ((s.FrameWidth * 3 + 3) & ~3);
    if (pictureBytes <= 0)
        return 0;
    return MovieTime::SaturatingMultiply(s.Cache.Limit() / pictureBytes, FrameDuration());
}

// One picture's length in stream units at the stream's frame rate; at least one unit.
std::int64_t TMovieDecoder::FrameDuration() const
{
    const TState& s = *FState;
    AVRational rate = av_guess_frame_rate(s.FormatContext.get(), s.Stream(), nullptr);
    if (rate.num <= 0 || rate.den <= 0)
        rate = {AssumedFrameRate, 1};
    return std::max<std::int64_t>(1, av_rescale_q(1, av_inv_q(rate), s.Stream()->time_base));
}

// With no picture shown yet, a step either way shows the first.
bool TMovieDecoder::DecodeNextFrame()
{
    if (!FIsOpen)
        return false;
    TState& s = *FState;
    if (s.UsesAVIFile)
        return StepAVIFile(+1);
    if (s.ShownPts == AV_NOPTS_VALUE)
        return DecodeExactly(s.StreamStart);
    // Showing the picture again exactly reads as far as its successor.
    if (s.ShownNextPts == TPictureCache::NextUnknown && !DecodeExactly(s.ShownPts))
        return false;
    if (s.ShownNextPts == TPictureCache::EndOfMovie)
        return true;
    return DecodeExactly(s.ShownNextPts);
}

bool TMovieDecoder::DecodePreviousFrame()
{
    if (!FIsOpen)
        return false;
    TState& s = *FState;
    if (s.UsesAVIFile)
        return StepAVIFile(-1);
    if (s.ShownPts == AV_NOPTS_VALUE)
        return DecodeExactly(s.StreamStart);
    // The last picture before this one is the one shown a time unit earlier.
    return DecodeExactly(MovieTime::DecodingTime(s.ShownPts, 1));
}

bool TMovieDecoder::StepAVIFile(int direction)
{
    const TState& s = *FState;
    const std::int64_t sample = s.ShownSample < 0 ? s.StartOffset : s.ShownSample + direction;
    return FetchAVIFileSample(std::clamp<std::int64_t>(sample, s.StartOffset, s.LastSample)) && RenderAVIFileFrame();
}

std::int32_t TMovieDecoder::FrameTimeMs() const
{
    const TState& s = *FState;
    if (!FIsOpen)
        return -1;
    if (s.UsesAVIFile)
        return s.ShownSample < 0 ? -1 : AVIStreamSampleToTime(s.AVIStream.get(), static_cast<std::int32_t>(s.ShownSample - s.StartOffset));
    if (s.ShownPts == AV_NOPTS_VALUE)
        return -1;
    return MovieTime::PictureTimeMs(s.ShownPts, s.StreamStart, s.Stream()->time_base.num, s.Stream()->time_base.den);
}

void TMovieDecoder::SetCacheLimit(std::int64_t bytes)
{
    FState->Cache.SetLimit(bytes);
}

std::int64_t TMovieDecoder::CacheLimit() const
{
    return FState->Cache.Limit();
}

std::int64_t TMovieDecoder::CachedBytes() const
{
    return FState->Cache.Bytes();
}

std::int64_t TMovieDecoder::DecodedPictures() const
{
    return FState->PicturesDecoded;
}

// ---------------------------------------------------------------------------------------------
// AVIFile positioning and rendering

bool TMovieDecoder::SeekAVIFile(std::int32_t TimeMs)
{
    TState& s = *FState;
    const std::int64_t sample = std::max(0, AVIStreamTimeToSample(s.AVIStream.get(), TimeMs));
    return FetchAVIFileSample(std::min<std::int64_t>(sample + s.StartOffset, s.LastSample));
}

bool TMovieDecoder::FetchAVIFileSample(std::int64_t sample)
{
    TState& s = *FState;
    s.LastFrameDIB = nullptr;
    s.FrameGetter.reset();
    // A fresh getter per fetch; the service keeps its decoding state, so stepping on stays cheap.
    s.FrameGetter.reset(AVIStreamGetFrameOpen(s.AVIStream.get(), nullptr));
    if (s.FrameGetter)
        s.LastFrameDIB = AVIStreamGetFrame(s.FrameGetter.get(), static_cast<std::int32_t>(sample));
    if (s.LastFrameDIB) {
        s.ShownSample = static_cast<std::int32_t>(sample);
        return true;
    }
    s.FrameGetter.reset();
    return false;
}

bool TMovieDecoder::RenderAVIFileFrame()
{
    try {
        if (!FState->LastFrameDIB)
            return false;
        QBuffer& image = FState->FrameImage;
        if (!image.isOpen())
            image.open(QIODevice::ReadWrite);
        WriteBitmapFileImage(image, FState->LastFrameDIB);
        FBitmap->LoadFromStream(image);
        FBitmap->SetPixelFormat(TPixelFormat::pf24bit);
        return true;
    } catch (...) {
        return false;
    }
}

void TMovieDecoder::SetCallTimeLimit(int milliseconds)
{
    FState->CallTimeLimit = std::chrono::milliseconds(milliseconds);
}
