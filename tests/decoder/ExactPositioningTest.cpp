// SPDX-License-Identifier: GPL-3.0-or-later
// Exact positioning against the stamped movies: which picture each request shows, single-picture
// steps both ways, and the cache of converted pictures.
#include "decoder/UMovieDecoder.h"
#include "decoder/UPictureCache.h"
#include "framework/FFmpegPtr.h"
#include "StampedMovies.h"

#include <gtest/gtest.h>

#include <QByteArrayView>
#include <QHash>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

using namespace TestMovies;

namespace {

constexpr int PictureMs = 1000 / FrameRate;

struct TExactCase {
    const char* Movie;
    int Frames;
    // When picture n is shown, from the movie's start.
    std::function<int(int)> TimeOf = [](int n) { return n * PictureMs; };
    // The first picture that can be decoded.
    int FirstPicture = 0;
};

void PrintTo(const TExactCase& c, std::ostream* out)
{
    *out << c.Movie;
}

// The picture the request should show: the last one at or before ms, clamped to the movie.
int ExpectedPicture(const TExactCase& c, int ms)
{
    int picture = c.FirstPicture;
    while (picture + 1 < c.Frames && c.TimeOf(picture + 1) <= ms)
        ++picture;
    return picture;
}

class ExactTable : public ::testing::TestWithParam<TExactCase> {};

std::int64_t PictureBytes()
{
    return std::int64_t{Height} * ((Width * 3 + 3) & ~3);
}

// Forward and backward, across key frames, a picture's length apart and far, before the start and
// past the end: the order matters, as each request starts where the one before left the decoder.
const int RequestsMs[] = {0,    39,   40,    9990, 10000, 9999, 9960,  4321,  4320,  4319, 12345,
                          11960, 15000, 14960, 19960, 25000, 19000, -500, 7000,  6999,  10040, 39};

} // namespace

TEST_P(ExactTable, ShowsTheLastPictureAtOrBeforeEachTime)
{
    const TExactCase& c = GetParam();
    TMovieDecoder decoder;
    decoder.SetExact(true);
    ASSERT_TRUE(decoder.Open(MoviePath(c.Movie)));
    for (int ms : RequestsMs) {
        const int expected = ExpectedPicture(c, ms);
        ASSERT_TRUE(decoder.DecodeFrame(ms)) << ms;
        EXPECT_EQ(StampOf(decoder.Bitmap()), expected) << "at " << ms;
        EXPECT_EQ(decoder.FrameTimeMs(), c.TimeOf(expected)) << "at " << ms;
    }
}

TEST_P(ExactTable, StepsOnePictureBothWays)
{
    const TExactCase& c = GetParam();
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(c.Movie)));
    // Back from the first picture and on from the last, the picture stays.
    ASSERT_TRUE(decoder.DecodePreviousFrame());
    EXPECT_EQ(StampOf(decoder.Bitmap()), c.FirstPicture);
    decoder.SetExact(true);
    ASSERT_TRUE(decoder.DecodeFrame(INT32_MAX));
    ASSERT_TRUE(decoder.DecodeNextFrame());
    EXPECT_EQ(StampOf(decoder.Bitmap()), c.Frames - 1);
    // Back over a whole GOP and more, then forward again, each time the neighbour.
    const int from = std::min(c.Frames - 1, ExpectedPicture(c, 10080));
    ASSERT_TRUE(decoder.DecodeFrame(c.TimeOf(from)));
    for (int picture = from - 1; picture >= std::max(c.FirstPicture, from - 30); --picture) {
        ASSERT_TRUE(decoder.DecodePreviousFrame());
        ASSERT_EQ(StampOf(decoder.Bitmap()), picture);
    }
    for (int picture = StampOf(decoder.Bitmap()) + 1; picture <= from + 5 && picture < c.Frames; ++picture) {
        ASSERT_TRUE(decoder.DecodeNextFrame());
        ASSERT_EQ(StampOf(decoder.Bitmap()), picture);
        EXPECT_EQ(decoder.FrameTimeMs(), c.TimeOf(picture));
    }
}

TEST_P(ExactTable, FrameThreadsShowTheSamePictures)
{
    // More threads than this machine may have: each hands its pictures out later still.
    constexpr int ManyThreads = 6;
    const TExactCase& c = GetParam();
    TMovieDecoder decoder;
    decoder.SetExact(true);
    decoder.SetDecodingThreads(ManyThreads);
    ASSERT_TRUE(decoder.Open(MoviePath(c.Movie)));
    for (int ms : RequestsMs) {
        ASSERT_TRUE(decoder.DecodeFrame(ms)) << ms;
        EXPECT_EQ(StampOf(decoder.Bitmap()), ExpectedPicture(c, ms)) << "at " << ms;
    }
    const int from = std::min(c.Frames - 1, ExpectedPicture(c, 10080));
    ASSERT_TRUE(decoder.DecodeFrame(c.TimeOf(from)));
    for (int picture = from - 1; picture >= std::max(c.FirstPicture, from - 10); --picture) {
        ASSERT_TRUE(decoder.DecodePreviousFrame());
        ASSERT_EQ(StampOf(decoder.Bitmap()), picture);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Movies, ExactTable,
    ::testing::Values(
        // The last GOP of an MP4 starts at 10 s: no key frame follows a request there. The
        // writer's MP4s leave their last picture out of what they present.
        TExactCase{LongGopH264, LongGopFrames - 1}, TExactCase{BFramesLongGop, LongGopFrames - 1},
        TExactCase{ProgramStream, ShortGopFrames}, TExactCase{BFramesProgramStream, ShortGopFrames},
        TExactCase{BFramesTransportStream, ShortGopFrames}, TExactCase{TransportStream, ShortGopFrames},
        TExactCase{Mpeg4Avi, ShortGopFrames},
        TExactCase{VariableRate, VariableRateFrames, [](int n) { return VariableRateTimeMs(n); }},
        // Cut inside its first GOP: the first picture there is to show is the second key frame.
        TExactCase{MidGopStart, ShortGopFrames, [](int n) { return (n - MidGopDropped) * PictureMs; }, MidGopSize},
        // Through the AVIFile service every sample is a picture of its own.
        TExactCase{CinepakAvi, AviFrames},
        // Edit lists that start after pictures decoded but never shown, a first picture 10 s in.
        TExactCase{EditListPreroll, EditListFrames - 1}, TExactCase{EditListBFrames, EditListBFramesFrames - 1},
        TExactCase{LateStart, LateStartFrames - 1}),
    [](const auto& info) { return TestNameOf(info.param.Movie); });

TEST(ExactCache, StepsBackOverWhatWasDecodedDecodeNothing)
{
    TMovieDecoder decoder;
    decoder.SetExact(true);
    ASSERT_TRUE(decoder.Open(MoviePath(BFramesLongGop)));
    EXPECT_EQ(decoder.CacheLimit(), TPictureCache::DefaultLimitBytes);
    ASSERT_TRUE(decoder.DecodeFrame(17000));
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(decoder.DecodeNextFrame());
    const std::int64_t decoded = decoder.DecodedPictures();
    for (int picture = 17000 / PictureMs + 39; picture >= 17000 / PictureMs; --picture) {
        ASSERT_TRUE(decoder.DecodePreviousFrame());
        ASSERT_EQ(StampOf(decoder.Bitmap()), picture);
    }
    // A request for any time within the pictures held is a copy as well.
    ASSERT_TRUE(decoder.DecodeFrame(17000 + 10 * PictureMs + 7));
    EXPECT_EQ(StampOf(decoder.Bitmap()), 17000 / PictureMs + 10);
    EXPECT_EQ(decoder.DecodedPictures(), decoded);
}

// A request far from the picture on screen keeps the pictures decoded on the way as the codec
// put them out: the steps back after it convert one each and decode nothing, within the bound.
TEST(ExactCache, StepsBackAfterARequestDecodeNothing)
{
    TMovieDecoder decoder;
    decoder.SetExact(true);
    ASSERT_TRUE(decoder.Open(MoviePath(BFramesLongGop)));
    // A bound of 60 converted pictures: the request is too far from the picture shown at the
    // start to convert the pictures before it.
    const std::int64_t limit = 60 * decoder.Bitmap().Image().sizeInBytes();
    decoder.SetCacheLimit(limit);
    ASSERT_TRUE(decoder.DecodeFrame(17000));
    const std::int64_t decoded = decoder.DecodedPictures();
    for (int picture = 17000 / PictureMs - 1; picture >= 17000 / PictureMs - 30; --picture) {
        ASSERT_TRUE(decoder.DecodePreviousFrame());
        ASSERT_EQ(StampOf(decoder.Bitmap()), picture);
        ASSERT_LE(decoder.CachedBytes(), limit);
    }
    EXPECT_EQ(decoder.DecodedPictures(), decoded);
    // Forward again over the pictures held: converted again, nothing decoded.
    for (int picture = 17000 / PictureMs - 29; picture <= 17000 / PictureMs - 20; ++picture) {
        ASSERT_TRUE(decoder.DecodeNextFrame());
        ASSERT_EQ(StampOf(decoder.Bitmap()), picture);
    }
    EXPECT_EQ(decoder.DecodedPictures(), decoded);
}

// A held picture is shown in the bitmap's own rows: the copies the window and the scene list still
// share of earlier steps are never written over, and the steps keep nothing more in the cache.
TEST(ExactCache, StepsThroughHeldPicturesLeaveSharedCopiesAlone)
{
    TMovieDecoder decoder;
    decoder.SetExact(true);
    ASSERT_TRUE(decoder.Open(MoviePath(BFramesLongGop)));
    ASSERT_TRUE(decoder.DecodeFrame(17000));
    const std::int64_t cached = decoder.CachedBytes();
    std::vector<std::pair<int, TBitmap>> shared;
    for (int picture = 17000 / PictureMs - 1; picture >= 17000 / PictureMs - 12; --picture) {
        ASSERT_TRUE(decoder.DecodePreviousFrame());
        ASSERT_EQ(StampOf(decoder.Bitmap()), picture);
        if (picture % 4 == 0) {
            TBitmap& copy = shared.emplace_back(picture, decoder.Bitmap()).second;
            copy.Image() = decoder.Bitmap().Image(); // shares the rows, as the window's copy does
        }
        EXPECT_LE(decoder.CachedBytes(), cached);
    }
    for (const auto& [picture, copy] : shared)
        EXPECT_EQ(StampOf(copy), picture);
}

// A decoder that only reads on keeps nothing behind its requests, and so passes over more on
// the way: the picture is the same, the cache holds just the pictures shown (at the opening and
// for the request).
TEST(ExactCache, ADecoderThatOnlyReadsOnKeepsNothingBehind)
{
    TMovieDecoder keeping, reading;
    reading.SetKeepsPicturesBehind(false);
    for (TMovieDecoder* decoder : {&keeping, &reading}) {
        decoder->SetExact(true);
        ASSERT_TRUE(decoder->Open(MoviePath(BFramesLongGop)));
        ASSERT_TRUE(decoder->DecodeFrame(17000));
        ASSERT_EQ(StampOf(decoder->Bitmap()), 17000 / PictureMs);
    }
    EXPECT_LE(reading.CachedBytes(), 2 * reading.Bitmap().Image().sizeInBytes());
    EXPECT_GT(keeping.CachedBytes(), 10 * keeping.Bitmap().Image().sizeInBytes());
    EXPECT_LT(reading.DecodedPictures(), keeping.DecodedPictures());
    EXPECT_TRUE(reading.Bitmap().Image() == keeping.Bitmap().Image());
}

// On the way to a request far into a GOP the codec passes over the pictures no other refers to:
// fewer are decoded, and every picture shown is the one stepping through them all shows, byte for
// byte, the last one too, asked for past the end where nothing is wanted but the last.
TEST(ExactPassingOver, ShowsWhatDecodingEveryPictureShows)
{
    const auto bytesOf = [](const TBitmap& bitmap) {
        const QImage& image = bitmap.Image();
        return qHash(QByteArrayView(image.constBits(), image.sizeInBytes()));
    };
    for (const auto& [movie, frames] : {std::pair{BFramesLongGop, LongGopFrames}, std::pair{HevcBFramesLongGop, HevcBFramesFrames}}) {
        SCOPED_TRACE(movie);
        TMovieDecoder stepping;
        stepping.SetExact(true);
        ASSERT_TRUE(stepping.Open(MoviePath(movie)));
        std::vector<std::size_t> every;
        // The writer's MP4s leave their last picture out of what they present.
        for (bool shown = stepping.DecodeFrame(0); shown && static_cast<int>(every.size()) < frames - 1;
             shown = stepping.DecodeNextFrame()) {
            ASSERT_EQ(StampOf(stepping.Bitmap()), static_cast<int>(every.size()));
            every.push_back(bytesOf(stepping.Bitmap()));
        }
        ASSERT_EQ(static_cast<int>(every.size()), frames - 1);

        TMovieDecoder asked;
        asked.SetExact(true);
        ASSERT_TRUE(asked.Open(MoviePath(movie)));
        const int last = frames - 2;
        ASSERT_TRUE(asked.DecodeFrame(last * PictureMs));
        EXPECT_LT(asked.DecodedPictures(), last % LongGopSize) << "nothing was passed over";
        for (const int picture : {last, last - 70, last / 2 + 3, last - 1}) {
            ASSERT_TRUE(asked.DecodeFrame(picture * PictureMs));
            ASSERT_EQ(StampOf(asked.Bitmap()), picture);
            EXPECT_EQ(bytesOf(asked.Bitmap()), every[static_cast<std::size_t>(picture)]) << picture;
        }
        ASSERT_TRUE(asked.DecodeFrame(INT32_MAX));
        EXPECT_EQ(StampOf(asked.Bitmap()), last);
        EXPECT_EQ(bytesOf(asked.Bitmap()), every.back());
    }
}

// Deinterlacing makes a picture with its neighbours, which a picture kept as decoded does not
// have: those pictures are decoded again, and the steps back show the same pictures as the
// steps of a decoder that never kept any.
TEST(ExactCache, DeinterlacedPicturesAreNotKeptDecoded)
{
    TMovieDecoder kept, plain;
    for (TMovieDecoder* decoder : {&kept, &plain}) {
        decoder->SetExact(true);
        decoder->SetDeinterlace(TDeinterlace::Always);
        ASSERT_TRUE(decoder->Open(MoviePath(BFramesLongGop)));
    }
    // Too small a bound to convert the pictures behind a request 17 s from the start.
    kept.SetCacheLimit(60 * PictureBytes());
    plain.SetCacheLimit(0);
    ASSERT_TRUE(kept.DecodeFrame(17000));
    const std::int64_t decoded = kept.DecodedPictures();
    for (int step = 0; step < 3; ++step) {
        ASSERT_TRUE(kept.DecodePreviousFrame());
        ASSERT_TRUE(plain.DecodeFrame(kept.FrameTimeMs()));
        ASSERT_EQ(kept.Bitmap().Image(), plain.Bitmap().Image()) << "step " << step;
    }
    EXPECT_GT(kept.DecodedPictures(), decoded);
}

TEST(ExactCache, NeverHoldsMoreThanItsLimit)
{
    TMovieDecoder decoder;
    decoder.SetExact(true);
    const std::int64_t limit = 5 * PictureBytes() + PictureBytes() / 2;
    decoder.SetCacheLimit(limit);
    ASSERT_TRUE(decoder.Open(MoviePath(BFramesLongGop)));
    // Stepping back over a key frame refills the cache from the GOP before, five pictures at a time.
    ASSERT_TRUE(decoder.DecodeFrame(10200));
    for (int picture = 10200 / PictureMs - 1; picture >= 10200 / PictureMs - 20; --picture) {
        ASSERT_TRUE(decoder.DecodePreviousFrame());
        ASSERT_EQ(StampOf(decoder.Bitmap()), picture);
        ASSERT_LE(decoder.CachedBytes(), limit);
    }
    EXPECT_GT(decoder.CachedBytes(), 4 * PictureBytes());
    // Lowering the limit drops pictures at once (what the codec's pool keeps stays counted); a
    // limit below one picture still shows pictures.
    decoder.SetCacheLimit(PictureBytes() - 1);
    const std::int64_t kept = decoder.CachedBytes();
    EXPECT_LE(kept, limit);
    ASSERT_TRUE(decoder.DecodePreviousFrame());
    EXPECT_EQ(StampOf(decoder.Bitmap()), 10200 / PictureMs - 21);
    EXPECT_EQ(decoder.CachedBytes(), kept);
}

// Room is made before a picture is converted, from the far end, and never by dropping a
// picture nearer than the one to come; the rows handed back are those of a dropped picture
// that nobody else holds.
TEST(ExactCache, MakesRoomFromTheFarEndAndHandsBackFreeRows)
{
    const QImage picture(4, 4, QImage::Format_BGR888);
    const std::int64_t bytes = TPictureCache::BytesOf(picture);
    struct TCase {
        const char* Name;
        std::int64_t Pts, Position;
        bool FarHeldElsewhere;
        std::vector<std::int64_t> Left;
        bool Rows;
    };
    const std::vector<TCase> cases = {
        {"room behind", 40, 40, false, {20, 30}, true},
        {"room ahead", 0, 0, false, {10, 20}, true},
        {"the far picture is shown", 40, 40, true, {20, 30}, false},
        {"the new picture is the furthest", 100, 0, false, {10, 20, 30}, false},
        {"replacing a held picture", 20, 20, false, {10, 20, 30}, false},
    };
    for (const TCase& c : cases) {
        TPictureCache cache;
        cache.SetLimit(3 * bytes);
        std::vector<QImage> held;
        for (std::int64_t pts : {10, 20, 30}) {
            held.push_back(picture.copy());
            cache.Insert(pts, held.back(), 20);
        }
        // Only the far picture of a case may be held outside the cache.
        const QImage shown = c.FarHeldElsewhere ? held[0] : QImage();
        held.clear();
        const QImage rows = cache.MakeRoom(c.Pts, bytes, c.Position);
        std::vector<std::int64_t> left;
        for (std::int64_t pts : {10, 20, 30})
            if (cache.At(pts))
                left.push_back(pts);
        EXPECT_EQ(left, c.Left) << c.Name;
        EXPECT_EQ(!rows.isNull(), c.Rows) << c.Name;
        EXPECT_EQ(cache.Bytes(), static_cast<std::int64_t>(left.size()) * bytes) << c.Name;
    }
}

// The cache knows pictures by their time in the stream's units; another movie's units mean
// other pictures.
TEST(ExactCache, OpeningAnotherMovieForgetsThePictures)
{
    TMovieDecoder decoder;
    decoder.SetExact(true);
    ASSERT_TRUE(decoder.Open(MoviePath(VariableRate)));
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(decoder.DecodeNextFrame());
    ASSERT_GT(decoder.CachedBytes(), 0);
    ASSERT_TRUE(decoder.Open(MoviePath(LongGopH264)));
    ASSERT_TRUE(decoder.DecodeFrame(1000));
    EXPECT_EQ(StampOf(decoder.Bitmap()), 1000 / PictureMs);
}

TEST(PictureCache, DefaultBoundFollowsThePictureSize)
{
    constexpr std::int64_t MiB = std::int64_t{1} << 20, GiB = std::int64_t{1} << 30;
    const auto bytesOf = [](std::int64_t width, std::int64_t height) { return height * ((width * 3 + 3) & ~3); };
    const std::int64_t uhd = bytesOf(3840, 2160);
    struct TCase {
        std::int64_t PictureBytes, Physical, Expected;
    } const cases[] = {
        {bytesOf(320, 240), 16 * GiB, TPictureCache::DefaultLimitBytes},
        {bytesOf(1920, 1080), 16 * GiB, TPictureCache::DefaultLimitBytes}, // 43 fit already
        {uhd, 16 * GiB, uhd * TPictureCache::PicturesKept},
        {uhd, 0, uhd * TPictureCache::PicturesKept},                       // memory not known
        {bytesOf(7680, 4320), 16 * GiB, TPictureCache::LargestDefaultLimitBytes},
        {uhd, 2 * GiB, 512 * MiB},                                         // a quarter of the machine
        {uhd, 512 * MiB, TPictureCache::DefaultLimitBytes},                // never below today's
        {0, 16 * GiB, TPictureCache::DefaultLimitBytes},
        {INT64_MAX, 16 * GiB, TPictureCache::LargestDefaultLimitBytes},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(TPictureCache::DefaultLimitFor(c.PictureBytes, c.Physical), c.Expected)
            << c.PictureBytes << " bytes, " << c.Physical << " bytes of memory";
}

TEST(PictureCache, EvictsThePictureFurthestFromThePosition)
{
    const QImage picture(10, 10, QImage::Format_BGR888);
    TPictureCache cache;
    cache.SetLimit(3 * TPictureCache::BytesOf(picture));
    for (std::int64_t pts : {10, 20, 30})
        ASSERT_TRUE(cache.Insert(pts, picture, 20));
    cache.SetNext(10, 20);
    cache.SetNext(20, 30);
    // At position 35 the picture at 10 is furthest; one at 100 would itself be furthest.
    EXPECT_TRUE(cache.Insert(40, picture, 35));
    EXPECT_FALSE(cache.Insert(100, picture, 35));
    EXPECT_EQ(cache.At(10), nullptr);
    EXPECT_EQ(cache.Count(), 3u);
    EXPECT_EQ(cache.Bytes(), 3 * TPictureCache::BytesOf(picture));
    // Times between two pictures known to follow each other are answered; others are not.
    EXPECT_EQ(cache.Find(29), std::optional<std::int64_t>(20));
    EXPECT_EQ(cache.Find(30), std::nullopt);
    EXPECT_EQ(cache.PreviousOf(30), 20);
    EXPECT_EQ(cache.PreviousOf(20), TPictureCache::NextUnknown);
}

// Decoded pictures hold the codec's buffers by reference, within their share of the bound; the
// most they ever held stays counted, as the codec's pool keeps it, and converted pictures take
// only the rest.
TEST(PictureCache, DecodedPicturesKeepTheirShareAndTheirReserve)
{
    ffmpeg::FramePtr decoded(av_frame_alloc());
    decoded->format = AV_PIX_FMT_YUV420P;
    decoded->width = 64;
    decoded->height = 48;
    ASSERT_EQ(av_frame_get_buffer(decoded.get(), 0), 0);
    const std::int64_t d = TPictureCache::BytesOf(*decoded);
    const QImage picture(32, 48, QImage::Format_BGR888);
    const std::int64_t p = TPictureCache::BytesOf(picture);
    ASSERT_LE(p, d);
    ASSERT_GT(3 * p, 2 * d);

    TPictureCache cache;
    cache.SetLimit(8 * d); // six decoded pictures, and room for two converted beside them
    for (std::int64_t pts = 10; pts <= 70; pts += 10) {
        ASSERT_TRUE(cache.InsertDecoded(pts, *decoded, 70));
        cache.SetNext(pts, pts + 10);
    }
    EXPECT_EQ(cache.DecodedAt(10), nullptr); // furthest from 70
    EXPECT_EQ(cache.Count(), 6u);
    EXPECT_EQ(av_buffer_get_ref_count(decoded->buf[0]), 7);
    EXPECT_EQ(cache.DecodedAt(20)->data[0], decoded->data[0]);
    EXPECT_EQ(cache.At(20), nullptr);
    EXPECT_EQ(cache.Bytes(), 6 * d);

    // Converted in place: the decoded picture is let go but its bytes stay in the reserve.
    for (std::int64_t pts : {60, 50, 40}) {
        EXPECT_TRUE(cache.MakeRoom(pts, p, pts).isNull()); // a converted picture shares no rows
        ASSERT_TRUE(cache.Insert(pts, picture, pts));
        EXPECT_EQ(cache.DecodedAt(pts), nullptr);
    }
    EXPECT_EQ(cache.At(60), nullptr); // two converted pictures fit beside the reserve
    EXPECT_EQ(cache.Find(45), std::optional<std::int64_t>(40));
    EXPECT_EQ(cache.Bytes(), 6 * d + 2 * p);
    EXPECT_LE(cache.Bytes(), cache.Limit());
    EXPECT_FALSE(cache.InsertDecoded(40, *decoded, 40)); // a converted picture stays converted

    cache.Clear();
    EXPECT_EQ(av_buffer_get_ref_count(decoded->buf[0]), 1);
    EXPECT_EQ(cache.Bytes(), 6 * d);
    cache.ForgetDecodedReserve();
    EXPECT_EQ(cache.Bytes(), 0);
}
