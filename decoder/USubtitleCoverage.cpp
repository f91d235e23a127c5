// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/USubtitleCoverage.h"

#include <algorithm>

namespace {

std::int64_t Minus(std::int64_t value, std::int64_t amount)
{
    return value < TSubtitleCoverage::StreamStart + amount ? TSubtitleCoverage::StreamStart : value - amount;
}

std::int64_t Plus(std::int64_t value, std::int64_t amount)
{
    return value > TSubtitleCoverage::StreamEnd - amount ? TSubtitleCoverage::StreamEnd : value + amount;
}

} // namespace

TSubtitleCoverage::TSubtitleCoverage(std::int64_t lookBackMs, std::int64_t aheadMs, std::int64_t rewindMs)
    : FLookBackMs(lookBackMs), FAheadMs(aheadMs), FRewindMs(rewindMs)
{
}

void TSubtitleCoverage::Start(std::int64_t fromMs)
{
    FFrom = fromMs;
    FReached = fromMs;
    FReading = true;
    // A reading from the start is nothing new until it has read something; from elsewhere
    // neither: the span begins with its first Reached.
}

void TSubtitleCoverage::Reached(std::int64_t reachedMs)
{
    if (!FReading || reachedMs < FFrom)
        return;
    FReached = std::max(FReached, reachedMs);
    Add({FFrom, FReached});
}

void TSubtitleCoverage::ReachedEnd()
{
    if (!FReading)
        return;
    FReached = StreamEnd;
    Add({FFrom, StreamEnd});
}

bool TSubtitleCoverage::Complete() const
{
    return FSpans.size() == 1 && FSpans.front().From == StreamStart && FSpans.front().To == StreamEnd;
}

bool TSubtitleCoverage::Covers(std::int64_t timeMs) const
{
    const TSpan* span = SpanHolding(timeMs);
    return span && (span->From == StreamStart || span->From <= Minus(timeMs, FLookBackMs));
}

std::optional<std::int64_t> TSubtitleCoverage::NextJump(std::optional<std::int64_t> wantedMs, bool atEnd)
{
    std::optional<std::int64_t> target = Choose(wantedMs, atEnd);
    if (!target)
        return std::nullopt;
    // A seek to before the movie's start lands on its first packets, later than asked: the
    // stream's start is the place.
    if (*target <= 0)
        target = StreamStart;
    // A seek that lands after the place asked for would be asked for again and again: once a
    // place comes round twice, the stream is read once more from its start to its end, in order.
    if (std::find(FJumps.begin(), FJumps.end(), *target) != FJumps.end()) {
        if (FInOrder)
            return std::nullopt;
        FInOrder = true;
        target = StreamStart;
    }
    FJumps.push_back(*target);
    return target;
}

std::optional<std::int64_t> TSubtitleCoverage::Choose(std::optional<std::int64_t> wantedMs, bool atEnd) const
{
    if (atEnd || FReached == StreamEnd) {
        if (Complete())
            return std::nullopt;
        // The first stretch not read: the start, or what follows the span from the start.
        if (FSpans.empty() || FSpans.front().From != StreamStart)
            return StreamStart;
        return Minus(FSpans.front().To, FRewindMs);
    }
    if (!FReading || FInOrder)
        return std::nullopt;
    // Reading on through a long span read before would read it twice: go on after it. A short
    // one (a seek that landed a little early) is read through.
    if (const TSpan* mine = SpanHolding(FReached); mine && mine->To > Plus(FReached, FAheadMs))
        return mine->To == StreamEnd ? Choose(wantedMs, true) : Minus(mine->To, FRewindMs);
    if (!wantedMs || Covers(*wantedMs))
        return std::nullopt;
    const std::int64_t needed = Minus(*wantedMs, FLookBackMs);
    const bool behind = FFrom != StreamStart && needed < FFrom;
    const bool farAhead = needed > Plus(FReached, FAheadMs);
    if (!behind && !farAhead)
        return std::nullopt;
    // What was read there already need not be read again.
    const TSpan* there = SpanHolding(needed);
    return Minus(there ? there->To : needed, FRewindMs);
}

void TSubtitleCoverage::Add(TSpan span)
{
    auto place = std::lower_bound(FSpans.begin(), FSpans.end(), span.From,
                                  [](const TSpan& s, std::int64_t from) { return s.From < from; });
    place = FSpans.insert(place, span);
    // Merged with the spans it meets on either side.
    if (place != FSpans.begin() && Plus(std::prev(place)->To, 1) >= place->From)
        place = std::prev(place);
    auto next = std::next(place);
    while (next != FSpans.end() && next->From <= Plus(place->To, 1)) {
        place->To = std::max(place->To, next->To);
        next = FSpans.erase(next);
        place = std::prev(next);
    }
}

const TSubtitleCoverage::TSpan* TSubtitleCoverage::SpanHolding(std::int64_t timeMs) const
{
    auto after = std::upper_bound(FSpans.begin(), FSpans.end(), timeMs,
                                  [](std::int64_t ms, const TSpan& s) { return ms < s.From; });
    if (after == FSpans.begin())
        return nullptr;
    const TSpan& span = *std::prev(after);
    return span.To >= timeMs ? &span : nullptr;
}
