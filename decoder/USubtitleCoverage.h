// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a subtitle index has read of its stream, when the reading does not go from start to end
// in one run: on a long film it jumps to where the pictures are wanted, reads on from there,
// and comes back for the stretches it passed over. The stretches read are kept as spans of
// event start times; a time counts as covered once the span holding it reaches far enough back
// for the events still shown then to be in it. Times are milliseconds of the movie.
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

class TSubtitleCoverage {
public:
    // The ends of the stream: a span starting at StreamStart has everything before it.
    static constexpr std::int64_t StreamStart = std::numeric_limits<std::int64_t>::min();
    static constexpr std::int64_t StreamEnd = std::numeric_limits<std::int64_t>::max();

    // lookBackMs: how long before a time an event may start and still be shown at it.
    // aheadMs: how far ahead of the reading a wanted time may be before jumping there pays.
    // rewindMs: how far before a span's end a jump to it lands, so the spans meet.
    TSubtitleCoverage(std::int64_t lookBackMs, std::int64_t aheadMs, std::int64_t rewindMs);

    // The reading (re)starts: every event starting at or after fromMs will be read from here.
    void Start(std::int64_t fromMs);
    // The reading has read every event starting at or before reachedMs since its start.
    void Reached(std::int64_t reachedMs);
    // The reading got to the end of the stream.
    void ReachedEnd();

    bool Complete() const;
    // Every event shown at timeMs is known.
    bool Covers(std::int64_t timeMs) const;
    // Where the reading should go on from (a time to seek to, StreamStart for the stream's
    // start), or nothing to read on where it is. atEnd: the reading is at the stream's end.
    // Nothing at the end means the whole stream is read, or that reading it again would not
    // get further. A jump given is taken to be made.
    std::optional<std::int64_t> NextJump(std::optional<std::int64_t> wantedMs, bool atEnd);

private:
    struct TSpan {
        std::int64_t From;
        std::int64_t To;
    };
    std::optional<std::int64_t> Choose(std::optional<std::int64_t> wantedMs, bool atEnd) const;
    void Add(TSpan span);
    const TSpan* SpanHolding(std::int64_t timeMs) const;

    std::int64_t FLookBackMs;
    std::int64_t FAheadMs;
    std::int64_t FRewindMs;
    std::vector<TSpan> FSpans; // sorted, apart from each other
    std::int64_t FFrom = StreamStart; // the running reading's start
    std::int64_t FReached = StreamStart;
    bool FReading = false;
    std::vector<std::int64_t> FJumps; // every place jumped to
    bool FInOrder = false;            // jumping gave up: one reading from the start to the end
};
