// SPDX-License-Identifier: GPL-3.0-or-later
// Exact positioning: the picture presented at a time, found by decoding on from the key frame
// before it and kept, with its neighbours, in the picture cache; and the single-picture steps
// built on it.
#include "decoder/MovieDecoderState.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <optional>

using MovieDecoding::PresentationTimeOf;
using MovieDecoding::TCallDeadline;

namespace {

// Video packets one exact request may read: a long GOP of a high frame rate, a few times over
// for the seeks that start further back.
constexpr int ExactPacketBudget = 5000;
constexpr int AssumedFrameRate = 25; // when a stream gives no usable rate
// Pictures before those a request keeps that are still decoded in full: as many as a codec may
// hold back to put them in presentation order.
constexpr std::int64_t PassOverMargin = 16;

// Ends a request's passing over: the playback path and the scan decode every picture.
class TPassingOver {
public:
    TPassingOver(TMovieDecoder::TState& state, std::int64_t before)
        : FState(state)
    {
        FState.PassOverBefore = FState.CanPassOver ? before : AV_NOPTS_VALUE;
        FState.AnswerPassedOver = false;
    }
    ~TPassingOver()
    {
        FState.PassOverBefore = AV_NOPTS_VALUE;
        if (FState.CodecContext)
            FState.CodecContext->skip_frame = AVDISCARD_DEFAULT;
    }
    TPassingOver(const TPassingOver&) = delete;
    TPassingOver& operator=(const TPassingOver&) = delete;

    // Has the request's answer looked for again with every picture decoded.
    void Stop() { FState.PassOverBefore = AV_NOPTS_VALUE; }

private:
    TMovieDecoder::TState& FState;
};

} // namespace

bool TMovieDecoder::DecodeExactly(std::int64_t target)
{
    TState& s = *FState;
    if (s.FirstPts != AV_NOPTS_VALUE)
        target = std::max(target, s.FirstPts);
    s.ReadCutOff = false;
    try {
        if (const std::optional<std::int64_t> held = s.Cache.Find(target); held && ShowHeld(*held))
            return true;
        // Near the picture on screen the user is stepping: the pictures on the way that cannot be
        // kept decoded are kept converted, so that the steps back that follow are copies.
        const __int128 distance = static_cast<__int128>(target) - s.ShownPts;
        const bool keepBefore = s.KeepsPicturesBehind && s.ShownPts != AV_NOPTS_VALUE
            && (distance < 0 ? -distance : distance) <= ConversionSpan();
        // Stepping back, the next steps go further back: the pictures behind the request are
        // the ones to keep when the cache is full, before those ahead of it.
        s.KeepBehind = keepBefore && distance < 0 ? ConversionSpan() / 2 : 0;
        TPassingOver passingOver(s, UnwantedBefore(target, keepBefore));
        int budget = ExactPacketBudget;
        bool shown = CanReadOn(target) ? ReadOnExactly(target, keepBefore, budget)
                                       : SeekExactly(target, keepBefore);
        if (!shown && s.AnswerPassedOver) {
            passingOver.Stop();
            shown = SeekExactly(target, keepBefore);
        }
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
            if (keyPts != AV_NOPTS_VALUE && MovieDecoding::BeginsSoundRun(s, *s.DecodedFrame))
                break;
        }
        if (next != TNextPicture::Picture) {
            if (fromStart || budget <= 0 || s.ReadCutOff)
                return false;
            continue;
        }
        if (keyPts > target && !fromStart)
            continue;
        // A deinterlaced picture is made with the one before it: a run that would begin on the
        // picture asked for begins a GOP earlier, so that the still does not depend on the way
        // there.
        if (keyPts == target && !fromStart
            && PictureStage::Deinterlaces(s.DecodedFrame->interlaced_frame != 0,
                                          s.Converter.Stage().Settings()))
            continue;
        if (fromStart)
            s.FirstPts = keyPts;
        s.RunValid = true;
        s.RunLastPts = keyPts;
        // The run begins here: the picture before the key frame was never decoded.
        av_frame_unref(s.Candidate.get());
        s.CandidatePts = AV_NOPTS_VALUE;
        TakeCandidate(keyPts);
        if (!s.Candidate->data[0])
            return false;
        if (keyPts < target)
            ShowFirstLook(keyPts);
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
    s.PacketsRead.clear();
    s.HeldAtEnd = false;
    s.DiscardedKeyPts = AV_NOPTS_VALUE;
    s.LatestPassedOver = AV_NOPTS_VALUE;
    av_frame_unref(s.PreviousDecoded.get());
    return true;
}

// Decodes on from the run's latest picture (at or before target) until the picture after target
// comes out or the stream ends, and shows the last one at or before target.
bool TMovieDecoder::ReadOnExactly(std::int64_t target, bool keepBefore, int& budget)
{
    TState& s = *FState;
    if (s.CandidatePts != s.RunLastPts) {
        TakeCandidate(s.RunLastPts);
        if (!s.Candidate->data[0])
            return false;
    }
    const std::int64_t span = ConversionSpan();
    std::int64_t decodedSpan = -1; // known with the first picture
    while (!s.RunEnded) {
        const TNextPicture next = NextPicture(budget);
        if (next == TNextPicture::End) {
            s.RunEnded = true;
            if (SuccessorKnown(s.RunLastPts))
                s.Cache.SetNext(s.RunLastPts, TPictureCache::EndOfMovie);
            break;
        }
        if (next == TNextPicture::Failed) {
            // Out of budget or cut off: the best picture found is still the right kind of
            // answer for what was read, but the run cannot be trusted to go on. A request that
            // was stopped wants no answer at all: the picture on Bitmap stays.
            s.RunValid = false;
            if (s.StopAsked())
                return false;
            return ShowCandidate(TPictureCache::NextUnknown);
        }
        std::int64_t pts = PresentationTimeOf(*s.DecodedFrame);
        // Pictures the codec gives up at the end may come without a time: the next one's.
        if (pts == AV_NOPTS_VALUE)
            pts = MovieTime::SaturatingAdd(s.RunLastPts, FrameDuration());
        // A damaged stream may repeat or go back in time; such pictures are passed over.
        if (pts <= s.RunLastPts)
            continue;
        if (SuccessorKnown(s.RunLastPts))
            s.Cache.SetNext(s.RunLastPts, pts);
        s.RunLastPts = pts;
        if (pts > target)
            return ShowCandidate(pts);
        if (KeepsDecoded()) {
            if (decodedSpan < 0)
                decodedSpan = DecodedSpan(TPictureCache::BytesOf(*s.Candidate));
            if (s.CandidatePts >= target - decodedSpan && SuccessorKnown(s.CandidatePts)
                && s.Cache.InsertDecoded(s.CandidatePts, *s.Candidate, MovieTime::SaturatingAdd(target, -s.KeepBehind)))
                s.Cache.SetNext(s.CandidatePts, pts);
        } else if (keepBefore && s.CandidatePts >= target - span && CandidateNeighboursKnown()) {
            // The candidate's successor is here: all the deinterlacer needs to make it.
            KeepPicture(s.CandidatePts, target, s.DecodedFrame.get());
            // Kept only now, after its successor was recorded above: without its successor's
            // time no request finds it, and every step back would decode the GOP again.
            s.Cache.SetNext(s.CandidatePts, pts);
        }
        TakeCandidate(pts);
        if (!s.Candidate->data[0])
            return false;
    }
    return ShowCandidate(TPictureCache::EndOfMovie);
}

void TMovieDecoder::ShowFirstLook(std::int64_t keyPts)
{
    TState& s = *FState;
    if (!s.FirstLook)
        return;
    const bool small = PreviewWanted();
    const QImage look = s.Converter.ConvertToImage(*s.Candidate, small ? s.PreviewWidth : s.FrameWidth,
                                                   small ? s.PreviewHeight : s.FrameHeight);
    if (!look.isNull())
        s.FirstLook(look, MovieTime::PictureTimeMs(keyPts, s.StreamStart, s.Stream()->time_base.num,
                                                   s.Stream()->time_base.den));
}

// The picture decoded last becomes the candidate, at pts; the candidate before it stays as its
// predecessor.
void TMovieDecoder::TakeCandidate(std::int64_t pts)
{
    TState& s = *FState;
    av_frame_unref(s.PreviousCandidate.get());
    av_frame_move_ref(s.PreviousCandidate.get(), s.Candidate.get());
    if (av_frame_ref(s.Candidate.get(), s.DecodedFrame.get()) < 0)
        return;
    s.CandidatePts = pts;
}

// Converts the candidate, whose successor is next (null at the end of the stream or when not
// known), into the cache, the position being at position.
void TMovieDecoder::KeepPicture(std::int64_t pts, std::int64_t position, const AVFrame* next)
{
    TState& s = *FState;
    if (s.Cache.At(pts))
        return;
    const AVFrame* previous = s.PreviousCandidate->data[0] ? s.PreviousCandidate.get() : nullptr;
    const std::int64_t keptAround = MovieTime::SaturatingAdd(position, -s.KeepBehind);
    // Every picture in the cache was made by the converter: the rows of one it lets go are
    // written again instead of fresh memory.
    QImage rows = s.Cache.MakeRoom(pts, s.PictureBytes(), keptAround);
    const QImage picture = s.Converter.ConvertToImage(*s.Candidate, s.FrameWidth, s.FrameHeight, {previous, next},
                                                      std::move(rows));
    if (!picture.isNull())
        s.Cache.Insert(pts, picture, keptAround);
}

// The pictures behind a request are kept as the codec put them out: converting them all would
// slow every request for the few a user then steps back to, and a step back converts one. But
// deinterlacing a picture needs its neighbours, which are not kept with it: such pictures are
// kept converted near the picture on screen, and decoded again further away.
bool TMovieDecoder::KeepsDecoded() const
{
    const TState& s = *FState;
    return s.KeepsPicturesBehind
        && !PictureStage::Deinterlaces(s.Candidate->interlaced_frame != 0, s.Converter.Stage().Settings());
}

bool TMovieDecoder::ShowHeld(std::int64_t pts)
{
    TState& s = *FState;
    if (const QImage* kept = s.Cache.At(pts))
        FBitmap->Image() = *kept;
    else if (!ConvertHeld(pts))
        return false;
    s.ShownPts = pts;
    s.ShownNextPts = s.Cache.NextOf(pts);
    return true;
}

// Converts the decoded picture held at pts into Bitmap, as a picture the cache does not keep: the
// held one stays as it is, and a copy kept beside it would take fresh rows at every step. False
// when none is held or it cannot be converted.
bool TMovieDecoder::ConvertHeld(std::int64_t pts)
{
    TState& s = *FState;
    const AVFrame* decoded = s.Cache.DecodedAt(pts);
    return decoded && s.Converter.ConvertInto(*decoded, s.FrameWidth, s.FrameHeight, *FBitmap, {});
}

bool TMovieDecoder::ShowCandidate(std::int64_t nextPts)
{
    TState& s = *FState;
    if (s.CandidatePts == AV_NOPTS_VALUE || !s.Candidate->data[0])
        return false;
    // A picture passed over may lie between the candidate and the request, or be the one before
    // it that the deinterlacer reads: the request is made again, decoding every picture.
    if (!CandidateNeighboursKnown()) {
        s.AnswerPassedOver = true;
        return false;
    }
    const std::int64_t pts = s.CandidatePts;
    // A successor that is known has just been decoded.
    const bool nextDecoded = nextPts != TPictureCache::EndOfMovie
        && nextPts != TPictureCache::NextUnknown && s.DecodedFrame->data[0];
    const AVFrame* next = nextDecoded ? s.DecodedFrame.get() : nullptr;
    KeepPicture(pts, pts, next);
    s.Cache.SetNext(pts, nextPts);
    if (const QImage* kept = s.Cache.At(pts)) {
        FBitmap->Image() = *kept;
    } else {
        // A limit below one picture keeps none; the bitmap gets it all the same.
        const AVFrame* previous = s.PreviousCandidate->data[0] ? s.PreviousCandidate.get() : nullptr;
        if (!s.Converter.ConvertInto(*s.Candidate, s.FrameWidth, s.FrameHeight, *FBitmap,
                                     {previous, next}))
            return false;
    }
    s.ShownPts = pts;
    s.ShownNextPts = nextPts;
    return true;
}

void TMovieDecoder::SetKeepsPicturesBehind(bool keeps)
{
    FState->KeepsPicturesBehind = keeps;
}

bool TMovieDecoder::KeepsPicturesBehind() const
{
    return FState->KeepsPicturesBehind;
}

// Whether the picture after the one at pts is known to be the next one decoded: no picture after
// it was passed over.
bool TMovieDecoder::SuccessorKnown(std::int64_t pts) const
{
    return pts >= FState->LatestPassedOver;
}

// Whether the candidate and the picture before it (which the deinterlacer reads) follow each
// other with nothing passed over between them.
bool TMovieDecoder::CandidateNeighboursKnown() const
{
    const TState& s = *FState;
    return SuccessorKnown(s.PreviousCandidate->data[0] ? PresentationTimeOf(*s.PreviousCandidate) : s.CandidatePts);
}

// Before this time a request for target wants no picture: the pictures it keeps behind it (as
// far as it converts them when keepBefore and the pictures seen last are deinterlaced), and a
// codec's reordering, lie after it. A request past the end wants the last pictures. Pictures
// passed over are never kept, so a time too late costs speed, not the right picture.
std::int64_t TMovieDecoder::UnwantedBefore(std::int64_t target, bool keepBefore) const
{
    const TState& s = *FState;
    const std::int64_t duration = FrameDuration();
    std::int64_t kept = s.KeepsPicturesBehind ? MovieTime::SaturatingMultiply(TPictureCache::PicturesKept, duration) : 0;
    if (keepBefore && s.DecodedFrame->data[0]
        && PictureStage::Deinterlaces(s.DecodedFrame->interlaced_frame != 0, s.Converter.Stage().Settings()))
        kept = std::max(kept, ConversionSpan());
    const AVRational timeBase = s.Stream()->time_base;
    const std::int64_t end = MovieTime::SaturatingAdd(s.StreamStart, av_rescale_q(s.DurationUs, AV_TIME_BASE_Q, timeBase));
    return MovieTime::SaturatingAdd(std::min(target, end),
                                    -MovieTime::SaturatingAdd(kept, MovieTime::SaturatingMultiply(PassOverMargin, duration)));
}

// How far before the request decoded pictures are worth converting: as far as the cache holds
// pictures of this size, at the stream's frame rate.
std::int64_t TMovieDecoder::ConversionSpan() const
{
    return SpanFor(FState->PictureBytes(), FState->Cache.ConvertedRoom());
}

// How far behind a request decoded pictures are kept: as far as their share of the bound goes, and
// no further than stepping back through a GOP needs: each one kept is a buffer the codec has to
// make anew, fresh memory the first request after opening pays for.
std::int64_t TMovieDecoder::DecodedSpan(std::int64_t decodedBytes) const
{
    const std::int64_t room = std::min(FState->Cache.DecodedLimit(),
                                       MovieTime::SaturatingMultiply(decodedBytes, TPictureCache::PicturesKept));
    return SpanFor(decodedBytes, room);
}

// How far back room bytes hold pictures of pictureBytes each, at the stream's frame rate.
std::int64_t TMovieDecoder::SpanFor(std::int64_t pictureBytes, std::int64_t room) const
{
    if (pictureBytes <= 0)
        return 0;
    return MovieTime::SaturatingMultiply(room / pictureBytes, FrameDuration());
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

// ---------------------------------------------------------------------------------------------
// Single-picture steps

// With no picture shown yet, a step either way shows the first.
bool TMovieDecoder::DecodeNextFrame()
{
    if (!FIsOpen)
        return false;
    TState& s = *FState;
    if (s.UsesAVIFile)
        return ShownFullSize(StepAVIFile(+1));
    if (s.ShownPts == AV_NOPTS_VALUE)
        return ShownFullSize(DecodeExactly(s.StreamStart));
    // Showing the picture again exactly reads as far as its successor.
    if (s.ShownNextPts == TPictureCache::NextUnknown && !ShownFullSize(DecodeExactly(s.ShownPts)))
        return false;
    if (s.ShownNextPts == TPictureCache::EndOfMovie)
        return true;
    return ShownFullSize(DecodeExactly(s.ShownNextPts));
}

bool TMovieDecoder::DecodePreviousFrame()
{
    if (!FIsOpen)
        return false;
    TState& s = *FState;
    if (s.UsesAVIFile)
        return ShownFullSize(StepAVIFile(-1));
    if (s.ShownPts == AV_NOPTS_VALUE)
        return ShownFullSize(DecodeExactly(s.StreamStart));
    // The last picture before this one is the one shown a time unit earlier.
    return ShownFullSize(DecodeExactly(MovieTime::DecodingTime(s.ShownPts, 1)));
}
