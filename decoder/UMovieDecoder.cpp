#include "decoder/UMovieDecoder.h"
#include "framework/AVIFile.h"
#include "framework/FFmpegPtr.h"
#include "framework/StretchDIBits.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <QBuffer>
#include <QColor>
#include <QFileDevice>
#include <QRect>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

namespace {

// Budgets that keep one DecodeFrame short whatever the movie looks like.
constexpr int MaxReadsPerFetch = 250;       // av_read_frame calls to find one video packet
constexpr int PacketBudget = 20;            // video packets per positioning, either path
constexpr std::int64_t MinimumDurationUs = 40000; // a movie must last longer than one 25 fps picture
constexpr std::int64_t MicrosecondsPerSecond = 1000000;

using Clock = std::chrono::steady_clock;

// Codecs whose AVI files are left to the platform's own decoders (the AVIFile backend).
bool IsLeftToPlatform(AVCodecID id)
{
    return id == AV_CODEC_ID_INDEO3 || id == AV_CODEC_ID_CINEPAK || id == AV_CODEC_ID_MSRLE
        || id == AV_CODEC_ID_MSVIDEO1;
}

// Tells the converter what the picture's samples mean, as FFmpeg's own conversion does: the
// matrix the stream names (BT.601 where it names none) and whether it uses the full range.
// Without this swscale takes every movie as BT.601 limited range, and HD movies come out with
// shifted colours. Pictures that are RGB already have nothing to describe, and a converter that
// refuses the description still converts.
void DescribeSourceColours(SwsContext* converter, const AVFrame& picture)
{
    const auto format = static_cast<AVPixelFormat>(picture.format);
    const bool fullRange = picture.color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P
        || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P
        || format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
    const int* matrix = sws_getCoefficients(picture.colorspace);
    // The target is RGB: its matrix is not used, and its range is the full one.
    sws_setColorspaceDetails(converter, matrix, fullRange ? 1 : 0, matrix, 1, 0, 1 << 16, 1 << 16);
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

std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? INT64_MAX : INT64_MIN;
    return sum;
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
    // Converts decoded pictures straight into Bitmap's rows. Made for the picture described by
    // ConverterSource (size, format, colour matrix and range); rebuilt when a picture differs.
    ffmpeg::SwsPtr Converter;
    struct TSource {
        int Width = 0, Height = 0, Format = -1, Colorspace = -1, Range = -1;
        bool operator==(const TSource&) const = default;
    } ConverterSource;
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

} // namespace

// ---------------------------------------------------------------------------------------------
// Positioning arithmetic

namespace MovieTime {

std::int64_t ClampedTargetUs(std::int32_t timeMs, std::int64_t durationUs)
{
    std::int64_t targetUs = av_rescale(timeMs, MicrosecondsPerSecond, 1000);
    if (targetUs < 0)
        targetUs = 0;
    if (targetUs >= durationUs)
        targetUs = durationUs - 1;
    return targetUs;
}

std::int64_t TargetUnits(std::int32_t timeMs, std::int64_t durationUs, int timeBaseNum,
                         int timeBaseDen, std::int64_t startOffset)
{
    const std::int64_t targetUs = ClampedTargetUs(timeMs, durationUs);
    std::int64_t target = targetUs;
    if (timeBaseNum > 0 && timeBaseDen > 0)
        target = av_rescale(targetUs, timeBaseDen, MicrosecondsPerSecond * timeBaseNum);
    if (startOffset >= 0 && timeMs != 0)
        target = SaturatingAdd(target, startOffset);
    return target;
}

bool NeedsSeek(std::int64_t target, std::int64_t current, int timeBaseNum, int timeBaseDen)
{
    if (target < current)
        return true;
    const __int128 ahead = static_cast<__int128>(target) - current;
    return ahead * timeBaseNum > static_cast<__int128>(ForwardWindowSeconds) * timeBaseDen;
}

std::int64_t PresentationLead(std::int64_t lead, std::int64_t pts, std::int64_t dts,
                              int timeBaseNum, int timeBaseDen)
{
    if (pts == AV_NOPTS_VALUE || dts == AV_NOPTS_VALUE || pts <= dts || timeBaseNum <= 0
        || timeBaseDen <= 0)
        return lead;
    const std::int64_t limit = av_rescale(MaxPresentationLeadMs, timeBaseDen, 1000LL * timeBaseNum);
    return std::max(lead, std::min(pts - dts, limit));
}

std::int64_t DecodingTime(std::int64_t target, std::int64_t lead)
{
    return SaturatingAdd(target, -lead);
}

void CorrectCodecTimeBase(int& num, int& den)
{
    if (num > 1000 && den == 1)
        den = 1000;
}

std::int32_t DurationMs(std::int64_t durationUs)
{
    const std::int64_t ms = av_rescale(durationUs, 1000, MicrosecondsPerSecond);
    if (ms > INT32_MAX)
        return INT32_MAX;
    if (ms < INT32_MIN)
        return INT32_MIN;
    return static_cast<std::int32_t>(ms);
}

} // namespace MovieTime

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
    s.Converter.reset();
    s.ConverterSource = {};
    s.ReceivedFrame.reset();
    s.DecodedFrame.reset();
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
    for (int read = 0; read < MaxReadsPerFetch; ++read) {
        TCallDeadline deadline(s);
        const int status = av_read_frame(s.FormatContext.get(), packet);
        if (status == AVERROR_EXIT)
            s.ReadCutOff = true;
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
    if (!packet || packet->stream_index != s.VideoStream)
        return false;
    AVCodecContext* codecContext = s.CodecContext.get();
    // An empty packet (what a read at the end of the file leaves) asks for the held-back pictures.
    const int sent = avcodec_send_packet(codecContext, packet->size > 0 ? packet : nullptr);
    if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF)
        return false;
    bool got = false;
    while (avcodec_receive_frame(codecContext, s.ReceivedFrame.get()) >= 0) {
        av_frame_unref(s.DecodedFrame.get());
        av_frame_move_ref(s.DecodedFrame.get(), s.ReceivedFrame.get());
        got = true;
    }
    return got && s.DecodedFrame->data[0] != nullptr;
}

bool TMovieDecoder::RenderWithFFmpeg()
{
    TState& s = *FState;
    try {
        const AVFrame& decoded = *s.DecodedFrame;
        const int width = s.FrameWidth;
        const int height = s.FrameHeight;

        // The decoder may put out another size or format than it announced (a damaged or
        // changing stream); converting from what the picture really is keeps reads in bounds.
        const TState::TSource source{decoded.width, decoded.height, decoded.format,
                                     decoded.colorspace, decoded.color_range};
        if (!s.Converter || !(source == s.ConverterSource)) {
            s.ConverterSource = {};
            s.Converter.reset(sws_getContext(decoded.width, decoded.height,
                                             static_cast<AVPixelFormat>(decoded.format), width,
                                             height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr,
                                             nullptr, nullptr));
            if (!s.Converter)
                return false;
            DescribeSourceColours(s.Converter.get(), decoded);
            s.ConverterSource = source;
        }

        // The bitmap's rows are the conversion's target: blue, green, red, at its own pitch.
        FBitmap->SetPixelFormat(TPixelFormat::pf24bit);
        FBitmap->SetSize(width, height);
        std::uint8_t* const rows[4] = {FBitmap->ScanLine(0), nullptr, nullptr, nullptr};
        const int pitches[4] = {FBitmap->BytesPerLine(), 0, 0, 0};
        return sws_scale(s.Converter.get(), decoded.data, decoded.linesize, 0, decoded.height, rows,
                         pitches)
            >= 0;
    } catch (...) {
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// AVIFile positioning and rendering

bool TMovieDecoder::SeekAVIFile(std::int32_t TimeMs)
{
    TState& s = *FState;
    std::int64_t sample = std::max(0, AVIStreamTimeToSample(s.AVIStream.get(), TimeMs));
    sample = std::min<std::int64_t>(sample + s.StartOffset, s.LastSample);

    s.LastFrameDIB = nullptr;
    s.FrameGetter.reset();
    // A fresh getter per fetch; the service keeps its decoding state, so stepping on stays cheap.
    s.FrameGetter.reset(AVIStreamGetFrameOpen(s.AVIStream.get(), nullptr));
    if (s.FrameGetter)
        s.LastFrameDIB = AVIStreamGetFrame(s.FrameGetter.get(), static_cast<std::int32_t>(sample));
    if (s.LastFrameDIB)
        return true;
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
