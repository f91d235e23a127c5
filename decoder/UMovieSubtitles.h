// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Subtitles drawn into stills: one subtitle stream of a movie, or a subtitle file beside it,
// read on a thread of its own into an index of events, so that the subtitle
// shown with a picture is the one whose display time covers the picture's time wherever the
// picture was found (playback, a seek, an exact request, a step). Text subtitles are laid out
// by libass at the size the picture is drawn; bitmap subtitles (DVD, PGS, DVB) are scaled to it.
// Nothing here is FFmpeg's or libass's outside the unit: times are milliseconds of the movie.
#include "decoder/USubtitleArithmetic.h"
#include "decoder/USubtitleFiles.h"
#include "framework/TBitmap.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One subtitle stream of a movie as its container describes it.
struct TSubtitleStreamInfo {
    int ContainerIndex = -1;
    std::string Language; // ISO 639 code as the file states it; empty when it states none
    std::string Title;
    std::string Codec;    // the decoder's short name: "subrip", "ass", "dvd_subtitle", ...
    bool Bitmap = false;
    // Where the movie's time 0 (its first picture's stream start) lies on the container's clock.
    std::int64_t MovieStartUs = 0;
};

class TMovieSubtitles {
public:
    TMovieSubtitles();
    // Closes the index.
    ~TMovieSubtitles();
    TMovieSubtitles(const TMovieSubtitles&) = delete;
    TMovieSubtitles& operator=(const TMovieSubtitles&) = delete;

    // Starts indexing a subtitle stream of the movie (as TMovieDecoder::SubtitleStreams gives
    // it), or a subtitle file whose times are the movie's. Whatever was open before is closed first. The work happens in the
    // background: a stream or file that turns out damaged gives no subtitles and one log line.
    void OpenStream(const std::string& movie, const TSubtitleStreamInfo& stream);
    void OpenFile(const std::string& subtitleFile);
    // Tells the reading to stop and returns at once: the thread ends at its next read (or once
    // libass has scanned the fonts, which nothing interrupts) and is joined in the background,
    // or when the process ends.
    void Close();
    // Indexes closed whose thread has not yet ended and been freed.
    static std::size_t ClosedStillReading();
    bool IsOpen() const;

    // Every event shown at this time is in the index.
    bool IndexCovers(std::int32_t timeMs) const;
    // The subtitles of this time are wanted next: a movie's stream, read from its start, jumps
    // there when it is far ahead or behind, and comes back for what it passed over.
    void ReadNear(std::int32_t timeMs);
    // The whole stream has been read (or found damaged).
    bool IndexComplete() const;
    // The stream or file could not be read: there are no subtitles.
    bool Failed() const;
    std::size_t EventCount() const;
    // A program without a window waits this long for the index to reach a picture's time:
    // reading a whole film takes seconds, and no read waits longer than its deadline.
    static constexpr std::chrono::minutes UnattendedIndexWait{10};
    // Reads near timeMs and waits until the index covers it, at most limit; true when it does.
    bool WaitForIndex(std::int32_t timeMs, std::chrono::milliseconds limit) const;
    // Waits until the whole stream is read, at most limit; true when it is.
    bool WaitForWholeIndex(std::chrono::milliseconds limit) const;

    // Blends the subtitles shown at timeMs into picture, an upright 24-bit picture of the movie
    // at any size; displaySize is the movie's picture at its display aspect, so that text keeps
    // its proportions on a picture of the coded proportions. True when something was drawn.
    bool Draw(TBitmap& picture, std::int32_t timeMs, QSize displaySize);
    // The subtitles shown at timeMs on a transparent picture of size (premultiplied ARGB), for
    // drawing over a picture shown at that size; null when nothing is shown.
    QImage Overlay(QSize size, std::int32_t timeMs, QSize displaySize);

    struct TIndex;

private:
    std::unique_ptr<TIndex> FIndex;
};
