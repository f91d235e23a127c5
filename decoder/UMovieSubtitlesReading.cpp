// SPDX-License-Identifier: GPL-3.0-or-later
// The subtitle index's reading thread: opens the stream or file, decodes its packets into
// events and tells how far it has read; on a long film it reads first where pictures are wanted.
#include "decoder/MovieSubtitlesIndex.h"

#include "decoder/MovieDecoderState.h"
#include "decoder/UMovieTime.h"
#include "framework/ThreadPriority.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <tuple>

using namespace MovieSubtitlesIndex;

namespace {

using MovieDecoding::MetadataText;

// One call into FFmpeg that may read gives up after this long, as the decoder's do.
constexpr auto CallTimeLimit = std::chrono::milliseconds(TMovieDecoder::DefaultCallTimeLimitMs);
// A text event whose stream gives no end is shown until the next event, and this long at most
// (the last one of a stream included), as players show them.
constexpr std::int64_t OpenTextEventMs = 5000;
// DVB subtitles address a 720 x 576 page unless the stream defines its display.
constexpr int DvbPageWidth = 720;
constexpr int DvbPageHeight = 576;
// Bitmap rectangles larger than this are taken for damage, not for a subtitle.
constexpr int MaxBitmapSide = 8192;
// The subtitle decoder's own complaints are moved down from errors to verbose notes.
constexpr int DecoderLogDemotion = AV_LOG_VERBOSE - AV_LOG_ERROR;
// libass's font family when a style's font is not on the system.
constexpr const char* FallbackFamily = "sans-serif";

// The decoder's output for one packet; what it allocated goes with it or with the next packet.
struct TDecodedSubtitle {
    AVSubtitle Value{};
    TDecodedSubtitle() = default;
    ~TDecodedSubtitle() { avsubtitle_free(&Value); }
    TDecodedSubtitle(const TDecodedSubtitle&) = delete;
    TDecodedSubtitle& operator=(const TDecodedSubtitle&) = delete;
};

// libass reports font matching and parsing at length; the index says in one line what failed.
void DropAssMessage(int, const char*, va_list, void*) {}

std::int64_t ToMs(std::int64_t value, AVRational timeBase)
{
    return SubtitleTime::ToMs(value, timeBase.num, timeBase.den);
}

bool IsTextCodec(AVCodecID id)
{
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
    return descriptor && (descriptor->props & AV_CODEC_PROP_TEXT_SUB) != 0;
}

} // namespace

// What the reading thread owns while it runs.
struct MovieSubtitlesIndex::TReading {
    ffmpeg::InputPtr Format;
    ffmpeg::CodecContextPtr Codec;
    ffmpeg::PacketPtr Packet;
    AVStream* Stream = nullptr;
    bool Text = false;
    // The movie's time 0 (its first picture's stream start), in milliseconds of the container.
    std::int64_t OriginMs = 0;
    int VideoStream = -1;
    QSize VideoSize;
};

namespace {
int InterruptIfStopped(void* opaque)
{
    const auto* index = static_cast<const TMovieSubtitles::TIndex*>(opaque);
    return index->Stop.load() || Clock::now() > index->CallDeadline ? 1 : 0;
}



class TCall {
public:
    explicit TCall(TMovieSubtitles::TIndex& index)
        : FIndex(index)
    {
        FIndex.CallDeadline = Clock::now() + CallTimeLimit;
    }
    ~TCall() { FIndex.CallDeadline = Clock::time_point::max(); }
    TCall(const TCall&) = delete;
    TCall& operator=(const TCall&) = delete;

private:
    TMovieSubtitles::TIndex& FIndex;
};

// Opens the file and the stream's decoder; the reason when it cannot.
const char* OpenReading(TMovieSubtitles::TIndex& index, TReading& r, const std::string& file, int containerIndex,
                        const std::string& paletteFile)
{
    AVFormatContext* format = avformat_alloc_context();
    if (!format)
        return "out of memory";
    format->interrupt_callback = {InterruptIfStopped, &index};
    {
        TCall call(index);
        if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) != 0)
            return "not a file FFmpeg reads";
    }
    r.Format.reset(format);
    // Containers with a header (Matroska, MP4) name every stream and its codec there; probing
    // would decode pictures the index never needs. Program and transport streams show theirs
    // only in their packets.
    if (format->ctx_flags & AVFMTCTX_NOHEADER || (containerIndex >= 0 && containerIndex >= static_cast<int>(format->nb_streams))) {
        TCall call(index);
        if (avformat_find_stream_info(format, nullptr) < 0)
            return "its streams cannot be found";
    }
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* parameters = format->streams[i]->codecpar;
        if (parameters->codec_type == AVMEDIA_TYPE_VIDEO && r.VideoStream < 0) {
            r.VideoStream = static_cast<int>(i);
            r.VideoSize = QSize(parameters->width, parameters->height);
        }
    }
    // A subtitle file holds one stream; a movie's is the one chosen.
    const int chosen = containerIndex >= 0 ? containerIndex
                                           : av_find_best_stream(format, AVMEDIA_TYPE_SUBTITLE, -1, -1, nullptr, 0);
    if (chosen < 0 || chosen >= static_cast<int>(format->nb_streams)
        || format->streams[chosen]->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE)
        return "no such subtitle stream";
    if (containerIndex < 0)
        r.VideoStream = -1; // a file beside the movie counts from the movie's start
    r.Stream = format->streams[chosen];
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != chosen && static_cast<int>(i) != r.VideoStream)
            format->streams[i]->discard = AVDISCARD_ALL;
    }
    const AVCodec* codec = avcodec_find_decoder(r.Stream->codecpar->codec_id);
    if (!codec)
        return "no decoder for its codec";
    r.Codec.reset(avcodec_alloc_context3(codec));
    if (!r.Codec || avcodec_parameters_to_context(r.Codec.get(), r.Stream->codecpar) < 0)
        return "its codec parameters are damaged";
    r.Codec->pkt_timebase = r.Stream->time_base;
    // A damaged packet is counted and said once at the end, not by the decoder packet by packet.
    r.Codec->log_level_offset = DecoderLogDemotion;
    AVDictionary* options = nullptr;
    if (!paletteFile.empty() && r.Stream->codecpar->codec_id == AV_CODEC_ID_DVD_SUBTITLE)
        av_dict_set(&options, "ifo_palette", paletteFile.c_str(), 0);
    const int opened = avcodec_open2(r.Codec.get(), codec, &options);
    const ffmpeg::DictionaryPtr unused(options);
    if (opened < 0)
        return "its decoder does not accept it";
    r.Packet.reset(av_packet_alloc());
    if (!r.Packet)
        return "out of memory";
    r.Text = IsTextCodec(r.Stream->codecpar->codec_id);
    return nullptr;
}

// libass with the fonts the movie carries, a track with the stream's styles and a renderer.
const char* OpenAss(TMovieSubtitles::TIndex& index, const TReading& r)
{
    AssLibraryPtr library(ass_library_init());
    if (!library)
        return "libass cannot start";
    ass_set_message_cb(library.get(), DropAssMessage, nullptr);
    ass_set_extract_fonts(library.get(), 1);
    for (unsigned i = 0; i < r.Format->nb_streams; ++i) {
        const AVStream* stream = r.Format->streams[i];
        const AVCodecParameters* parameters = stream->codecpar;
        if (parameters->codec_type != AVMEDIA_TYPE_ATTACHMENT || !parameters->extradata || parameters->extradata_size <= 0)
            continue;
        const std::string name = MetadataText(stream->metadata, "filename");
        ass_add_font(library.get(), name.c_str(), reinterpret_cast<const char*>(parameters->extradata),
                     parameters->extradata_size);
    }
    AssTrackPtr track(ass_new_track(library.get()));
    if (!track)
        return "libass cannot start";
    // Each packet is added once, in file order; streams that number every event alike must
    // not lose all but the first.
    ass_set_check_readorder(track.get(), 0);
    if (r.Codec->subtitle_header && r.Codec->subtitle_header_size > 0)
        ass_process_codec_private(track.get(), reinterpret_cast<char*>(r.Codec->subtitle_header),
                                  r.Codec->subtitle_header_size);
    // Made here, off the window's thread: finding the system's fonts takes a while.
    std::array<AssRendererPtr, TextRenderers> renderers;
    for (AssRendererPtr& renderer : renderers) {
        renderer.reset(ass_renderer_init(library.get()));
        if (!renderer)
            return "libass cannot start";
        ass_set_fonts(renderer.get(), nullptr, FallbackFamily, ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
    }
    const std::lock_guard<std::mutex> guard(index.Lock);
    index.Library = std::move(library);
    index.Track = std::move(track);
    for (std::size_t i = 0; i < TextRenderers; ++i)
        index.Renderers[i].Renderer = std::move(renderers[i]);
    return nullptr;
}

void AddTextEvent(TMovieSubtitles::TIndex& index, const AVSubtitle& subtitle, std::int64_t startMs,
                  std::int64_t durationMs)
{
    const std::lock_guard<std::mutex> guard(index.Lock);
    ASS_Track* track = index.Track.get();
    // The open event before this one ends where it starts, unless one between ended it sooner.
    if (auto before = index.OpenTextEvents.lower_bound(startMs); before != index.OpenTextEvents.begin()) {
        --before;
        if (before->second < track->n_events) {
            ASS_Event& open = track->events[before->second];
            open.Duration = std::min<long long>(
                open.Duration, std::clamp<long long>(SubtitleTime::Difference(startMs, open.Start), 0, OpenTextEventMs));
        }
    }
    index.TextStarts.insert(startMs);
    // An open event read after the one that follows it ends there at once.
    const auto next = index.TextStarts.upper_bound(startMs);
    const std::int64_t openMs = next == index.TextStarts.end()
                                    ? OpenTextEventMs
                                    : std::clamp<std::int64_t>(SubtitleTime::Difference(*next, startMs), 0, OpenTextEventMs);
    for (unsigned i = 0; i < subtitle.num_rects; ++i) {
        const AVSubtitleRect* rect = subtitle.rects[i];
        if (rect->type != SUBTITLE_ASS || !rect->ass)
            continue;
        const int before = track->n_events;
        ass_process_chunk(track, rect->ass, static_cast<int>(std::strlen(rect->ass)), startMs,
                          durationMs == EndOpen ? openMs : durationMs);
        if (track->n_events > before) {
            ++index.Events;
            if (durationMs == EndOpen)
                index.OpenTextEvents[startMs] = track->n_events - 1;
        }
    }
}

TBitmapRect KeptRect(const AVSubtitleRect& rect)
{
    TBitmapRect kept;
    kept.Place = QRect(rect.x, rect.y, rect.w, rect.h);
    QByteArray indices(static_cast<qsizetype>(rect.w) * rect.h, Qt::Uninitialized);
    for (int y = 0; y < rect.h; ++y)
        std::memcpy(indices.data() + static_cast<qsizetype>(y) * rect.w,
                    rect.data[0] + static_cast<std::ptrdiff_t>(y) * rect.linesize[0], static_cast<std::size_t>(rect.w));
    kept.Indices = qCompress(indices, 1);
    const auto* palette = reinterpret_cast<const std::uint32_t*>(rect.data[1]);
    for (int i = 0; i < std::min(rect.nb_colors, 256); ++i)
        kept.Palette.push_back(palette[i]); // AARRGGBB, as QRgb
    return kept;
}

bool UsableBitmap(const AVSubtitleRect& rect)
{
    return rect.type == SUBTITLE_BITMAP && rect.w > 0 && rect.h > 0 && rect.w <= MaxBitmapSide
        && rect.h <= MaxBitmapSide && rect.x >= 0 && rect.y >= 0 && rect.data[0] && rect.data[1]
        && rect.linesize[0] >= rect.w;
}

QSize BitmapCanvas(const TReading& r)
{
    if (r.Codec->width > 0 && r.Codec->height > 0)
        return {r.Codec->width, r.Codec->height};
    if (r.Stream->codecpar->codec_id == AV_CODEC_ID_DVB_SUBTITLE || r.VideoSize.isEmpty())
        return {DvbPageWidth, DvbPageHeight};
    return r.VideoSize;
}

void AddBitmapEvent(TMovieSubtitles::TIndex& index, const TReading& r, const AVSubtitle& subtitle,
                    std::int64_t startMs, std::int64_t durationMs)
{
    TBitmapEvent event;
    event.StartMs = startMs;
    event.EndMs = durationMs == EndOpen ? EndOpen : MovieTime::SaturatingAdd(startMs, durationMs);
    event.Canvas = BitmapCanvas(r);
    for (unsigned i = 0; i < subtitle.num_rects; ++i) {
        if (UsableBitmap(*subtitle.rects[i]))
            event.Rects.push_back(KeptRect(*subtitle.rects[i]));
    }
    const std::lock_guard<std::mutex> guard(index.Lock);
    const auto place = std::upper_bound(index.Bitmaps.begin(), index.Bitmaps.end(), startMs,
                                        [](std::int64_t ms, const TBitmapEvent& e) { return ms < e.StartMs; });
    // A new picture replaces the one shown, and an empty one clears it.
    for (auto it = std::make_reverse_iterator(place); it != index.Bitmaps.rend() && it->EndMs > startMs; ++it)
        it->EndMs = std::max(it->StartMs, startMs);
    // Read after the one that follows it, it is replaced there.
    if (const auto next = index.BitmapStarts.upper_bound(startMs); next != index.BitmapStarts.end())
        event.EndMs = std::min(event.EndMs, *next);
    index.BitmapStarts.insert(startMs);
    if (event.Rects.empty())
        return;
    index.Bitmaps.insert(place, std::move(event));
    ++index.Events;
}

// The event's start and duration in movie milliseconds; EndOpen when the stream leaves the end
// to the next event.
void EventTimes(const TReading& r, const AVPacket& packet, const AVSubtitle& subtitle, std::int64_t& startMs,
                std::int64_t& durationMs)
{
    const std::int64_t packetTime = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    startMs = MovieTime::SaturatingAdd(SubtitleTime::Difference(ToMs(packetTime, r.Stream->time_base), r.OriginMs),
                                       subtitle.start_display_time);
    durationMs = EndOpen;
    // A packet without a duration (-1) comes out of the decoder as an end of some 49 days: past
    // INT32_MAX it is no end at all.
    if (subtitle.end_display_time > subtitle.start_display_time
        && subtitle.end_display_time <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        durationMs = subtitle.end_display_time - subtitle.start_display_time;
    else if (packet.duration > 0)
        durationMs = ToMs(packet.duration, r.Stream->time_base);
}

} // namespace

std::optional<std::int64_t> TMovieSubtitles::TIndex::Wish() const
{
    const std::int64_t wanted = WantedMs.load();
    return wanted == NoWish ? std::nullopt : std::optional<std::int64_t>(wanted);
}

std::optional<std::int64_t> TMovieSubtitles::TIndex::Publish(std::int64_t reachedMs, bool jumping)
{
    std::optional<std::int64_t> jump;
    {
        const std::lock_guard<std::mutex> guard(Lock);
        Coverage.Reached(reachedMs);
        if (jumping)
            jump = Coverage.NextJump(Wish(), false);
    }
    Advanced.notify_all();
    return jump;
}

std::optional<std::int64_t> TMovieSubtitles::TIndex::ReadToEnd()
{
    std::optional<std::int64_t> jump;
    {
        const std::lock_guard<std::mutex> guard(Lock);
        Coverage.ReachedEnd();
        jump = Coverage.NextJump(Wish(), true);
    }
    Advanced.notify_all();
    return jump;
}

void TMovieSubtitles::TIndex::Finish(bool failed)
{
    {
        const std::lock_guard<std::mutex> guard(Lock);
        Complete = true;
        Failed = failed;
        if (failed) {
            Track.reset();
            Bitmaps.clear();
            Events = 0;
        }
    }
    Advanced.notify_all();
}

void TMovieSubtitles::TIndex::Read(std::string file, int containerIndex, std::int64_t originMs, std::string paletteFile)
{
    LowerThisThreadPriority();
    TReading r;
    r.OriginMs = originMs;
    const char* failure = OpenReading(*this, r, file, containerIndex, paletteFile);
    if (!failure && r.Text)
        failure = OpenAss(*this, r);
    if (failure) {
        if (!Stop)
            av_log(nullptr, AV_LOG_ERROR, "subtitles: %s: %s; pictures are shown without subtitles\n",
                   file.c_str(), failure);
        Finish(true);
        return;
    }
    int damaged = 0;
    bool cutOff = false;
    TDecodedSubtitle decoded;
    AVSubtitle* subtitle = &decoded.Value;
    // A movie's stream may be read where pictures are wanted first; a file beside it is short.
    bool jumping = containerIndex >= 0;
    // The subtitle packets taken: a stretch read twice adds nothing twice.
    std::set<std::tuple<std::int64_t, std::int64_t, int>> taken;
    bool starting = false; // after a jump, until the first packet with a time says from where
    {
        const std::lock_guard<std::mutex> guard(Lock);
        Coverage.Start(TSubtitleCoverage::StreamStart);
    }
    for (;;) {
        int status = 0;
        {
            TCall call(*this);
            status = av_read_frame(r.Format.get(), r.Packet.get());
        }
        if (Stop)
            return;
        if (status == AVERROR(EAGAIN))
            continue;
        if (status < 0) {
            cutOff = status != AVERROR_EOF;
            if (const std::optional<std::int64_t> jump = jumping && !cutOff ? ReadToEnd() : std::nullopt;
                jump && JumpTo(r, *jump, file, containerIndex, paletteFile)) {
                starting = *jump != TSubtitleCoverage::StreamStart;
                continue;
            }
            break;
        }
        AVPacket& packet = *r.Packet;
        const AVStream* stream = r.Format->streams[packet.stream_index];
        const std::int64_t packetTime = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
        if (packet.stream_index == r.Stream->index && taken.emplace(packetTime, packet.pos, packet.size).second) {
            int got = 0;
            avsubtitle_free(subtitle);
            if (avcodec_decode_subtitle2(r.Codec.get(), subtitle, &got, &packet) < 0) {
                ++damaged;
            } else if (got && packetTime != AV_NOPTS_VALUE) {
                std::int64_t startMs = 0, durationMs = 0;
                EventTimes(r, packet, *subtitle, startMs, durationMs);
                if (r.Text)
                    AddTextEvent(*this, *subtitle, startMs, durationMs);
                else
                    AddBitmapEvent(*this, r, *subtitle, startMs, durationMs);
            }
        }
        std::optional<std::int64_t> jump;
        if (packetTime != AV_NOPTS_VALUE) {
            const std::int64_t packetMs = SubtitleTime::Difference(ToMs(packetTime, stream->time_base), r.OriginMs);
            if (starting) {
                const std::lock_guard<std::mutex> guard(Lock);
                Coverage.Start(MovieTime::SaturatingAdd(packetMs, InterleaveSlackMs));
                starting = false;
            }
            jump = Publish(SubtitleTime::Difference(packetMs, InterleaveSlackMs), jumping);
        }
        av_packet_unref(&packet);
        if (jump && JumpTo(r, *jump, file, containerIndex, paletteFile))
            starting = *jump != TSubtitleCoverage::StreamStart;
        else if (jump)
            jumping = false; // a stream that cannot seek is read in order
    }
    if (damaged > 0 || cutOff)
        av_log(nullptr, AV_LOG_ERROR, "subtitles: %s: %d damaged subtitle packets skipped%s\n", file.c_str(), damaged,
               cutOff ? ", reading stopped early" : "");
    Finish(false);
}

bool TMovieSubtitles::TIndex::JumpTo(TReading& r, std::int64_t targetMs, const std::string& file, int containerIndex,
                                    const std::string& paletteFile)
{
    if (targetMs == TSubtitleCoverage::StreamStart) {
        // Opened again rather than sought: a seek to the start is not exact in every container.
        TReading again;
        again.OriginMs = r.OriginMs;
        if (OpenReading(*this, again, file, containerIndex, paletteFile))
            return false;
        r = std::move(again);
        const std::lock_guard<std::mutex> guard(Lock);
        Coverage.Start(TSubtitleCoverage::StreamStart);
        return true;
    }
    const std::int64_t containerMs = MovieTime::SaturatingAdd(targetMs, r.OriginMs);
    TCall call(*this);
    if (av_seek_frame(r.Format.get(), -1, av_rescale(containerMs, AV_TIME_BASE, 1000), AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    avcodec_flush_buffers(r.Codec.get());
    return true;
}
