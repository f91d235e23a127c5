// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The subtitle index itself, shared by the two units of TMovieSubtitles: its reading thread
// (UMovieSubtitlesReading.cpp) fills it, the owner (UMovieSubtitles.cpp) draws from it. No other
// unit includes this.
#include "decoder/UMovieSubtitles.h"
#include "decoder/USubtitleBlend.h"
#include "decoder/USubtitleCoverage.h"

extern "C" {
#include <ass/ass.h>
}

#include <QByteArray>
#include <QRect>
#include <QRgb>
#include <QSize>
#include <QVector>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace MovieSubtitlesIndex {

using Clock = std::chrono::steady_clock;

// Subtitle packets are muxed near their start time but may trail the other streams' packets by
// this much; the index counts an event as known only once reading has passed it by as much.
inline constexpr std::int64_t InterleaveSlackMs = 1000;
inline constexpr std::int64_t EndOpen = std::numeric_limits<std::int64_t>::max();
// A long film's index reads first where pictures are wanted: from this long before a wanted
// time (an event shown then started no earlier), when the time is further ahead of the reading
// than this; a jump lands this far before the end of what was read, so that the stretches meet.
inline constexpr std::int64_t ShownEventLookBackMs = 20000;
inline constexpr std::int64_t JumpAheadMs = 30000;
inline constexpr std::int64_t JumpRewindMs = 2 * InterleaveSlackMs;
inline constexpr std::int64_t NoWish = std::numeric_limits<std::int64_t>::min();
// The preview and captures draw text at different sizes, and a libass renderer drops all it
// has laid out whenever its size changes: each keeps a renderer of its own.
inline constexpr std::size_t TextRenderers = 2;

struct TAssLibraryFree {
    void operator()(ASS_Library* library) const { ass_library_done(library); }
};
struct TAssRendererFree {
    void operator()(ASS_Renderer* renderer) const { ass_renderer_done(renderer); }
};
struct TAssTrackFree {
    void operator()(ASS_Track* track) const { ass_free_track(track); }
};
using AssLibraryPtr = std::unique_ptr<ASS_Library, TAssLibraryFree>;
using AssRendererPtr = std::unique_ptr<ASS_Renderer, TAssRendererFree>;
using AssTrackPtr = std::unique_ptr<ASS_Track, TAssTrackFree>;

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

// What the reading thread owns while it runs.
struct TReading;

} // namespace MovieSubtitlesIndex

struct TMovieSubtitles::TIndex {
    // Set by the owner to end the reading; the interrupt callback hears it within one read.
    std::atomic<bool> Stop{false};
    MovieSubtitlesIndex::Clock::time_point CallDeadline = MovieSubtitlesIndex::Clock::time_point::max();
    std::thread Reader;
    // The time whose subtitles are wanted next, NoWish when none.
    std::atomic<std::int64_t> WantedMs{MovieSubtitlesIndex::NoWish};

    mutable std::mutex Lock;
    mutable std::condition_variable Advanced;
    // Below, everything is guarded by Lock.
    TSubtitleCoverage Coverage{MovieSubtitlesIndex::ShownEventLookBackMs, MovieSubtitlesIndex::JumpAheadMs,
                               MovieSubtitlesIndex::JumpRewindMs};
    bool Complete = false;
    bool Failed = false;
    std::size_t Events = 0;
    // Text: libass's track holds the events; the renderers are made once fonts are known.
    MovieSubtitlesIndex::AssLibraryPtr Library;
    MovieSubtitlesIndex::AssTrackPtr Track;
    struct TSizedRenderer {
        MovieSubtitlesIndex::AssRendererPtr Renderer;
        QSize Frame;
        QSize Storage;
        std::uint64_t LastUse = 0;
    };
    std::array<TSizedRenderer, MovieSubtitlesIndex::TextRenderers> Renderers;
    std::uint64_t RenderUses = 0;
    bool HasText() const { return Track && Renderers.front().Renderer; }
    // The stream may be read out of order: an event's end that the next event sets is set
    // from the starts of every event known, whichever came first.
    std::set<std::int64_t> TextStarts;
    std::map<std::int64_t, int> OpenTextEvents; // by start: track events the next one ends
    // Bitmaps: sorted by start; each one ends the ones before it, an empty one included.
    std::vector<MovieSubtitlesIndex::TBitmapEvent> Bitmaps;
    std::set<std::int64_t> BitmapStarts;

    void Read(std::string file, int containerIndex, std::int64_t originMs, std::string paletteFile);
    // The reading got to the stream's end; where it should go on from, when something is left.
    std::optional<std::int64_t> ReadToEnd();
    bool JumpTo(MovieSubtitlesIndex::TReading& r, std::int64_t targetMs, const std::string& file, int containerIndex,
                const std::string& paletteFile);
    // The reading got this far; where it should go on from, when elsewhere.
    std::optional<std::int64_t> Publish(std::int64_t reachedMs, bool jumping);
    std::optional<std::int64_t> Wish() const;
    bool Covers(std::int64_t timeMs) const { return Complete || Coverage.Covers(timeMs); }
    void Finish(bool failed);
    // The renderer last used at this size, or the one used longest ago, set to it.
    ASS_Renderer* RendererFor(QSize size, QSize displaySize);
    // libass's images for the time at the size; valid while Lock is held. Null when none.
    const ASS_Image* RenderText(QSize size, std::int64_t timeMs, QSize displaySize);
    std::vector<TSubtitlePiece> Pieces(QSize size, std::int64_t timeMs, QSize displaySize);
    bool Draw(TBitmap& picture, std::int64_t timeMs, QSize displaySize);
};
