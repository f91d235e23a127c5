#include "decoder/UMovieSubtitles.h"

#include "decoder/MovieDecoderState.h"
#include "decoder/UMovieSubtitlesReaper.h"
#include "decoder/USubtitleBlend.h"
#include "decoder/USubtitleCoverage.h"
#include "decoder/UMovieTime.h"
#include "framework/ThreadPriority.h"

extern "C" {
#include <ass/ass.h>
#include <libavutil/opt.h>
}

#include <QByteArray>
#include <QPainter>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

namespace {

using MovieDecoding::MetadataText;

using Clock = std::chrono::steady_clock;

// One call into FFmpeg that may read gives up after this long, as the decoder's do.
constexpr auto CallTimeLimit = std::chrono::milliseconds(TMovieDecoder::DefaultCallTimeLimitMs);
// Subtitle packets are muxed near their start time but may trail the other streams' packets by
// this much; the index counts an event as known only once reading has passed it by as much.
constexpr std::int64_t InterleaveSlackMs = 1000;
constexpr std::int64_t EndOpen = std::numeric_limits<std::int64_t>::max();
// A long film's index reads first where pictures are wanted: from this long before a wanted
// time (an event shown then started no earlier), when the time is further ahead of the reading
// than this; a jump lands this far before the end of what was read, so that the stretches meet.
constexpr std::int64_t ShownEventLookBackMs = 20000;
constexpr std::int64_t JumpAheadMs = 30000;
constexpr std::int64_t JumpRewindMs = 2 * InterleaveSlackMs;
constexpr std::int64_t NoWish = std::numeric_limits<std::int64_t>::min();
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
// Walking back from the event found for a time, no more events than this are looked at.
constexpr int MaxOverlappingEvents = 16;
// libass's font family when a style's font is not on the system.
constexpr const char* FallbackFamily = "sans-serif";
// The preview and captures draw text at different sizes, and a libass renderer drops all it
// has laid out whenever its size changes: each keeps a renderer of its own.
constexpr std::size_t TextRenderers = 2;

struct TAssLibraryFree {
    void operator()(ASS_Library* library) const { ass_library_done(library); }
};
struct TAssRendererFree {
    void operator()(ASS_Renderer* renderer) const { ass_renderer_done(renderer); }
};
struct TAssTrackFree {
    void operator()(ASS_Track* track) const { ass_free_track(track); }
};
// The decoder's output for one packet; what it allocated goes with it or with the next packet.
struct TDecodedSubtitle {
    AVSubtitle Value{};
    TDecodedSubtitle() = default;
    ~TDecodedSubtitle() { avsubtitle_free(&Value); }
    TDecodedSubtitle(const TDecodedSubtitle&) = delete;
    TDecodedSubtitle& operator=(const TDecodedSubtitle&) = delete;
};
using AssLibraryPtr = std::unique_ptr<ASS_Library, TAssLibraryFree>;
using AssRendererPtr = std::unique_ptr<ASS_Renderer, TAssRendererFree>;
using AssTrackPtr = std::unique_ptr<ASS_Track, TAssTrackFree>;

// libass reports font matching and parsing at length; the index says in one line what failed.
void DropAssMessage(int, const char*, va_list, void*) {}

// One rectangle of a bitmap subtitle: its palette indices, compressed (a subtitle is mostly
// runs of the transparent colour, and a film holds a thousand of them).
struct TBitmapRect {
    QRect Place;
    QByteArray Indices;
    QVector<QRgb> Palette;
};

struct TBitmapEvent {
    std::int64_t StartMs = 0;
    std::int64_t EndMs = EndOpen;
    QSize Canvas;
    std::vector<TBitmapRect> Rects;
};

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

namespace {
struct TReading;
} // namespace

struct TMovieSubtitles::TIndex {
    // Set by the owner to end the reading; the interrupt callback hears it within one read.
    std::atomic<bool> Stop{false};
    Clock::time_point CallDeadline = Clock::time_point::max();
    std::thread Reader;
    // The time whose subtitles are wanted next, NoWish when none.
    std::atomic<std::int64_t> WantedMs{NoWish};

    mutable std::mutex Lock;
    mutable std::condition_variable Advanced;
    // Below, everything is guarded by Lock.
    TSubtitleCoverage Coverage{ShownEventLookBackMs, JumpAheadMs, JumpRewindMs};
    bool Complete = false;
    bool Failed = false;
    std::size_t Events = 0;
    // Text: libass's track holds the events; the renderers are made once fonts are known.
    AssLibraryPtr Library;
    AssTrackPtr Track;
    struct TSizedRenderer {
        AssRendererPtr Renderer;
        QSize Frame;
        QSize Storage;
        std::uint64_t LastUse = 0;
    };
    std::array<TSizedRenderer, TextRenderers> Renderers;
    std::uint64_t RenderUses = 0;
    bool HasText() const { return Track && Renderers.front().Renderer; }
    // The stream may be read out of order: an event's end that the next event sets is set
    // from the starts of every event known, whichever came first.
    std::set<std::int64_t> TextStarts;
    std::map<std::int64_t, int> OpenTextEvents; // by start: track events the next one ends
    // Bitmaps: sorted by start; each one ends the ones before it, an empty one included.
    std::vector<TBitmapEvent> Bitmaps;
    std::set<std::int64_t> BitmapStarts;

    void Read(std::string file, int containerIndex, std::int64_t originMs, std::string paletteFile);
    // The reading got to the stream's end; where it should go on from, when something is left.
    std::optional<std::int64_t> ReadToEnd()
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
    bool JumpTo(TReading& r, std::int64_t targetMs, const std::string& file, int containerIndex,
                const std::string& paletteFile);
    // The reading got this far; where it should go on from, when elsewhere.
    std::optional<std::int64_t> Publish(std::int64_t reachedMs, bool jumping)
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
    std::optional<std::int64_t> Wish() const
    {
        const std::int64_t wanted = WantedMs.load();
        return wanted == NoWish ? std::nullopt : std::optional<std::int64_t>(wanted);
    }
    bool Covers(std::int64_t timeMs) const { return Complete || Coverage.Covers(timeMs); }
    void Finish(bool failed)
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
    // The renderer last used at this size, or the one used longest ago, set to it.
    ASS_Renderer* RendererFor(QSize size, QSize displaySize);
    // libass's images for the time at the size; valid while Lock is held. Null when none.
    const ASS_Image* RenderText(QSize size, std::int64_t timeMs, QSize displaySize);
    std::vector<TSubtitlePiece> Pieces(QSize size, std::int64_t timeMs, QSize displaySize);
    bool Draw(TBitmap& picture, std::int64_t timeMs, QSize displaySize);
};

namespace {

int InterruptIfStopped(void* opaque)
{
    const auto* index = static_cast<const TMovieSubtitles::TIndex*>(opaque);
    return index->Stop.load() || Clock::now() > index->CallDeadline ? 1 : 0;
}

// What the reading thread owns while it runs.
struct TReading {
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

ASS_Renderer* TMovieSubtitles::TIndex::RendererFor(QSize size, QSize displaySize)
{
    TSizedRenderer* chosen = &Renderers.front();
    for (TSizedRenderer& sized : Renderers) {
        if (sized.Frame == size && sized.Storage == displaySize) {
            chosen = &sized;
            break;
        }
        if (sized.LastUse < chosen->LastUse)
            chosen = &sized;
    }
    chosen->LastUse = ++RenderUses;
    if (chosen->Frame != size || chosen->Storage != displaySize) {
        chosen->Frame = size;
        chosen->Storage = displaySize;
        ass_set_frame_size(chosen->Renderer.get(), size.width(), size.height());
        // libass derives the pixel aspect from the storage size: text keeps the display's
        // proportions on a picture of the coded ones.
        if (!displaySize.isEmpty())
            ass_set_storage_size(chosen->Renderer.get(), displaySize.width(), displaySize.height());
    }
    return chosen->Renderer.get();
}

const ASS_Image* TMovieSubtitles::TIndex::RenderText(QSize size, std::int64_t timeMs, QSize displaySize)
{
    return ass_render_frame(RendererFor(size, displaySize), Track.get(), timeMs, nullptr);
}

bool TMovieSubtitles::TIndex::Draw(TBitmap& picture, std::int64_t timeMs, QSize displaySize)
{
    std::unique_lock<std::mutex> lock(Lock);
    if (!HasText()) {
        lock.unlock();
        const std::vector<TSubtitlePiece> pieces = Pieces(QSize(picture.Width(), picture.Height()), timeMs, displaySize);
        BlendInto(picture, pieces);
        return !pieces.empty();
    }
    bool drawn = false;
    for (const ASS_Image* image = RenderText(QSize(picture.Width(), picture.Height()), timeMs, displaySize); image;
         image = image->next) {
        if (image->w > 0 && image->h > 0) {
            BlendAssImage(picture, *image);
            drawn = true;
        }
    }
    return drawn;
}

std::vector<TSubtitlePiece> TMovieSubtitles::TIndex::Pieces(QSize size, std::int64_t timeMs, QSize displaySize)
{
    std::vector<TSubtitlePiece> pieces;
    if (size.isEmpty())
        return pieces;
    const std::lock_guard<std::mutex> guard(Lock);
    if (HasText()) {
        for (const ASS_Image* image = RenderText(size, timeMs, displaySize); image; image = image->next) {
            if (image->w > 0 && image->h > 0)
                pieces.push_back({QPoint(image->dst_x, image->dst_y), PieceOfAssImage(*image)});
        }
        return pieces;
    }
    auto it = std::upper_bound(Bitmaps.begin(), Bitmaps.end(), timeMs,
                               [](std::int64_t ms, const TBitmapEvent& e) { return ms < e.StartMs; });
    std::vector<const TBitmapEvent*> shown;
    for (int looked = 0; it != Bitmaps.begin() && looked < MaxOverlappingEvents; ++looked) {
        --it;
        if (it->EndMs > timeMs)
            shown.insert(shown.begin(), &*it);
    }
    for (const TBitmapEvent* event : shown) {
        for (const TBitmapRect& rect : event->Rects) {
            const SubtitleGeometry::TBitmapPlacement placed = SubtitleGeometry::PlaceBitmap(rect.Place, event->Canvas, size);
            if (placed.Source.isEmpty())
                continue;
            const QByteArray indices = qUncompress(rect.Indices);
            if (indices.size() != static_cast<qsizetype>(rect.Place.width()) * rect.Place.height())
                continue;
            QImage paletted(reinterpret_cast<const uchar*>(indices.constData()), rect.Place.width(),
                            rect.Place.height(), rect.Place.width(), QImage::Format_Indexed8);
            paletted.setColorTable(rect.Palette);
            if (placed.Source.size() != rect.Place.size())
                paletted = paletted.copy(placed.Source);
            QImage pixels = paletted.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                .scaled(placed.Target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            pieces.push_back({placed.Target.topLeft(), std::move(pixels)});
        }
    }
    return pieces;
}

TMovieSubtitles::TMovieSubtitles() = default;

TMovieSubtitles::~TMovieSubtitles()
{
    Close();
}

void TMovieSubtitles::OpenStream(const std::string& movie, const TSubtitleStreamInfo& stream)
{
    Close();
    FIndex = std::make_unique<TIndex>();
    FIndex->Reader = std::thread(&TIndex::Read, FIndex.get(), movie, stream.ContainerIndex, stream.MovieStartUs / 1000,
                                 SubtitleFiles::IfoBeside(movie));
}

void TMovieSubtitles::OpenFile(const std::string& subtitleFile)
{
    Close();
    FIndex = std::make_unique<TIndex>();
    FIndex->Reader = std::thread(&TIndex::Read, FIndex.get(), subtitleFile, -1, std::int64_t{0}, std::string());
}

void TMovieSubtitles::Close()
{
    if (!FIndex)
        return;
    FIndex->Stop = true;
    std::thread reader = std::move(FIndex->Reader);
    TThreadReaper::Instance().Retire(std::move(reader), std::shared_ptr<TIndex>(std::move(FIndex)));
}

std::size_t TMovieSubtitles::ClosedStillReading()
{
    return TThreadReaper::Instance().Pending();
}

bool TMovieSubtitles::IsOpen() const
{
    return FIndex != nullptr;
}

bool TMovieSubtitles::IndexCovers(std::int32_t timeMs) const
{
    if (!FIndex)
        return true;
    const std::lock_guard<std::mutex> guard(FIndex->Lock);
    return FIndex->Covers(timeMs);
}

void TMovieSubtitles::ReadNear(std::int32_t timeMs)
{
    if (FIndex)
        FIndex->WantedMs = timeMs;
}

bool TMovieSubtitles::IndexComplete() const
{
    if (!FIndex)
        return true;
    const std::lock_guard<std::mutex> guard(FIndex->Lock);
    return FIndex->Complete;
}

bool TMovieSubtitles::Failed() const
{
    if (!FIndex)
        return false;
    const std::lock_guard<std::mutex> guard(FIndex->Lock);
    return FIndex->Failed;
}

std::size_t TMovieSubtitles::EventCount() const
{
    if (!FIndex)
        return 0;
    const std::lock_guard<std::mutex> guard(FIndex->Lock);
    return FIndex->Events;
}

bool TMovieSubtitles::WaitForIndex(std::int32_t timeMs, std::chrono::milliseconds limit) const
{
    if (!FIndex)
        return true;
    FIndex->WantedMs = timeMs;
    std::unique_lock<std::mutex> lock(FIndex->Lock);
    return FIndex->Advanced.wait_for(lock, limit, [this, timeMs] { return FIndex->Covers(timeMs); });
}

bool TMovieSubtitles::WaitForWholeIndex(std::chrono::milliseconds limit) const
{
    if (!FIndex)
        return true;
    std::unique_lock<std::mutex> lock(FIndex->Lock);
    return FIndex->Advanced.wait_for(lock, limit, [this] { return FIndex->Complete; });
}

bool TMovieSubtitles::Draw(TBitmap& picture, std::int32_t timeMs, QSize displaySize)
{
    if (!FIndex || picture.Empty() || picture.PixelFormat() != TPixelFormat::pf24bit)
        return false;
    return FIndex->Draw(picture, timeMs, displaySize);
}

QImage TMovieSubtitles::Overlay(QSize size, std::int32_t timeMs, QSize displaySize)
{
    if (!FIndex)
        return {};
    const std::vector<TSubtitlePiece> pieces = FIndex->Pieces(size, timeMs, displaySize);
    if (pieces.empty())
        return {};
    QImage overlay(size, QImage::Format_ARGB32_Premultiplied);
    overlay.fill(Qt::transparent);
    QPainter painter(&overlay);
    for (const TSubtitlePiece& piece : pieces)
        painter.drawImage(piece.At, piece.Pixels);
    return overlay;
}
