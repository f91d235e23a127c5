// SPDX-License-Identifier: GPL-3.0-or-later
// The position bar's pictures: their size for every shape of movie, the places that share one,
// the cache's bound, and key frames at or before the place served from a decoder of their own.
#include "decoder/UBarPictures.h"
#include "decoder/UMovieDecoder.h"
#include "StampedMovies.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <vector>

using namespace TestMovies;
using namespace BarPictureGeometry;

namespace {

constexpr int PictureMs = 1000 / FrameRate;
constexpr int KeyFrameMs = LongGopSize * PictureMs;

TEST(BarPictureGeometryTest, PicturesAreUprightAtTheDisplayAspectAndHeldToAHeight)
{
    struct TCase {
        QSize Coded;
        TDisplayTransform Display;
        QSize Upright;
        QSize Coding;
    };
    const TCase cases[] = {
        {{1920, 1080}, {}, {160, 90}, {160, 90}},
        {{3840, 2160}, {}, {160, 90}, {160, 90}},
        // A DVD title coded 720 x 480 at 16:9 and at 4:3.
        {{720, 480}, DisplayGeometry::MakeTransform(0, 32, 27), {160, 90}, {160, 90}},
        {{720, 480}, DisplayGeometry::MakeTransform(0, 8, 9), {160, 120}, {160, 120}},
        // Phone movies: coded upright, and coded on their side with the turn: both held to the
        // height, the second scaled on its side before the turn.
        {{1080, 1920}, {}, {160, 284}, {160, 284}},
        {{1920, 1080}, DisplayGeometry::MakeTransform(90, 1, 1), {160, 284}, {284, 160}},
        {{1920, 1080}, DisplayGeometry::MakeTransform(270, 1, 1, true), {160, 284}, {284, 160}},
        {{854, 480}, {}, {160, 90}, {160, 90}},
        // A strip one sample high still gives a picture.
        {{4000, 2}, {}, {160, 1}, {160, 1}},
        {{2, 4000}, {}, {1, 284}, {1, 284}},
        {{0, 0}, {}, {}, {}},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(UprightSize(c.Coded, c.Display), c.Upright) << c.Coded.width() << "x" << c.Coded.height();
        EXPECT_EQ(CodedOrientationSize(c.Coded, c.Display), c.Coding) << c.Coded.width() << "x" << c.Coded.height();
    }
}

TEST(BarPictureGeometryTest, NearPlacesShareAPictureAndShortMoviesKeepATenthOfASecond)
{
    struct TCase {
        std::int32_t TimeMs, DurationMs, Place;
    };
    const TCase cases[] = {
        {0, 20000, 0},        {99, 20000, 0},      {100, 20000, 1},  {-5, 20000, 0},
        {0, 0, 0},            {150, 0, 1},         // a length the container does not know
        {7199999, 7200000, 499}, {14399, 7200000, 0}, {14400, 7200000, 1},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(PlaceOf(c.TimeMs, c.DurationMs), c.Place) << c.TimeMs << " of " << c.DurationMs;
}

QImage Picture(int width, int height)
{
    QImage picture(width, height, QImage::Format_BGR888);
    picture.fill(Qt::gray);
    return picture;
}

TEST(BarPictureCacheTest, KeepsTheNewestUsedWithinItsBound)
{
    const std::int64_t one = Picture(160, 90).sizeInBytes();
    TBarPictureCache cache(3 * one);
    const TPictureSettings plain;
    const TPictureSettings woven{TDeinterlace::Always, true};
    cache.Put({1, plain, Picture(160, 90), 10});
    cache.Put({2, plain, Picture(160, 90), 20});
    cache.Put({3, plain, Picture(160, 90), 30});
    // Using the first makes the second the oldest: it goes for the fourth.
    ASSERT_NE(cache.Find(1, plain), nullptr);
    cache.Put({4, plain, Picture(160, 90), 40});
    EXPECT_EQ(cache.Find(2, plain), nullptr);
    EXPECT_NE(cache.Find(1, plain), nullptr);
    EXPECT_EQ(cache.Count(), 3u);
    EXPECT_LE(cache.Bytes(), cache.LimitBytes());
    // Pictures made with other settings are others.
    EXPECT_EQ(cache.Find(1, woven), nullptr);
    // A place made again replaces its picture and counts once.
    cache.Put({4, plain, Picture(160, 90), 44});
    EXPECT_EQ(cache.Bytes(), 3 * one);
    EXPECT_EQ(cache.Find(4, plain)->FrameTimeMs, 44);
    // A picture larger than the whole bound is not kept, and drops nothing.
    cache.Put({5, plain, Picture(160, 284 * 4), 50});
    EXPECT_EQ(cache.Find(5, plain), nullptr);
    EXPECT_EQ(cache.Count(), 3u);
    cache.Clear();
    EXPECT_EQ(cache.Bytes(), 0);
    EXPECT_EQ(cache.Find(4, plain), nullptr);
}

TEST(BarPictureCacheTest, TheDefaultBoundHoldsDozensOfTheLargestPictures)
{
    EXPECT_GE(TBarPictureCache::DefaultLimitBytes / Picture(PictureWidth, MaxPictureHeight).sizeInBytes(), 30);
    EXPECT_GE(TBarPictureCache::DefaultLimitBytes / Picture(PictureWidth, 90).sizeInBytes(), 90);
}

TEST(DecodeKeyFrameTest, TheKeyFrameAtOrBeforeThePlaceComesWhateverTheDistance)
{
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(LongGopH264)));
    // Out of order, and back again: each is one seek, never a read on from the last.
    const std::pair<int, int> cases[] = {
        {15000, KeyFrameMs}, {0, 0}, {KeyFrameMs - PictureMs, 0}, {KeyFrameMs, KeyFrameMs},
        {LongGopFrames * PictureMs - 1, KeyFrameMs}, {3000, 0}, {-40, 0},
    };
    for (const auto& [asked, keyMs] : cases) {
        const std::int64_t before = decoder.DecodedPictures();
        ASSERT_TRUE(decoder.DecodeKeyFrame(asked)) << asked;
        EXPECT_EQ(decoder.FrameTimeMs(), keyMs) << asked;
        EXPECT_EQ(StampOf(decoder.Bitmap()), keyMs / PictureMs) << asked;
        // A key frame is the first picture after its seek: far fewer than the GOP.
        EXPECT_LT(decoder.DecodedPictures() - before, 30) << asked;
    }
}

// Asks through TBarPictures and turns the event loop until it answers.
class BarPictures : public ::testing::Test {
protected:
    void SetUp() override
    {
        Pictures = std::make_unique<TBarPictures>([this](std::int32_t requestedMs, const QImage& picture, std::int32_t frameMs) {
            Came.push_back({requestedMs, picture, frameMs});
        });
    }
    void Settle()
    {
        QElapsedTimer waited;
        waited.start();
        while (!Pictures->Settled() && waited.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ASSERT_TRUE(Pictures->Settled());
    }
    void Open(const char* movie)
    {
        TMovieDecoder probe;
        ASSERT_TRUE(probe.Open(MoviePath(movie)));
        Pictures->Open(MoviePath(movie), probe.Duration(), QSize(probe.Width(), probe.Height()), probe.DisplayTransform());
        Settle();
    }
    struct TCame {
        std::int32_t RequestedMs;
        QImage Picture;
        std::int32_t FrameMs;
    };
    std::vector<TCame> Came;
    std::unique_ptr<TBarPictures> Pictures;
};

TEST_F(BarPictures, APlaceIsAskedOnceAndThenComesFromTheCache)
{
    Open(LongGopH264);
    Pictures->Ask(15000, {});
    EXPECT_TRUE(Came.empty()) << "the asking thread never waits for a picture";
    Settle();
    ASSERT_EQ(Came.size(), 1u);
    EXPECT_EQ(Came[0].RequestedMs, 15000);
    EXPECT_EQ(Came[0].FrameMs, KeyFrameMs);
    EXPECT_EQ(Came[0].Picture.size(), QSize(PictureWidth, PictureWidth * Height / Width));
    // The same place again, and other settings for it.
    Pictures->Ask(15050, {});
    ASSERT_EQ(Came.size(), 2u) << "a place at hand comes at once";
    EXPECT_EQ(Came[1].FrameMs, KeyFrameMs);
    Pictures->Ask(15050, {TDeinterlace::Always, false});
    EXPECT_EQ(Came.size(), 2u);
    Settle();
    EXPECT_EQ(Came.size(), 3u);
}

TEST_F(BarPictures, WhileOneIsMadeOnlyTheNewestPlaceAskedFollows)
{
    Open(LongGopH264);
    Pictures->Ask(1000, {});
    for (int ms = 2000; ms <= 16000; ms += 1000)
        Pictures->Ask(ms, {});
    Settle();
    ASSERT_EQ(Came.size(), 2u);
    EXPECT_EQ(Came[0].RequestedMs, 1000);
    EXPECT_EQ(Came[1].RequestedMs, 16000);
    EXPECT_EQ(Came[1].FrameMs, KeyFrameMs);
}

TEST_F(BarPictures, APhoneMovieCodedOnItsSideComesUpright)
{
    const TShapeMovie& turned = ShapeMovies[1];
    ASSERT_EQ(turned.Rotation, 90);
    Open(turned.Name);
    Pictures->Ask(0, {});
    Settle();
    ASSERT_EQ(Came.size(), 1u);
    EXPECT_EQ(Came[0].Picture.size(), QSize(160, 284));
    EXPECT_EQ(Pictures->PictureSize(), QSize(160, 284));
}

TEST_F(BarPictures, AClosedMovieGivesNoPicturesAndDropsTheOneOnItsWay)
{
    Open(LongGopH264);
    Pictures->Ask(5000, {});
    Pictures->Close();
    Pictures->Ask(6000, {});
    Settle();
    EXPECT_TRUE(Came.empty());
    EXPECT_EQ(Pictures->Cache().Bytes(), 0);
    // A movie that will not open leaves the pictures closed.
    Pictures->Open(MoviePath("no-such-movie.mp4"), 1000, QSize(320, 240), {});
    Settle();
    EXPECT_FALSE(Pictures->IsOpen());
}

TEST_F(BarPictures, SmallMoviesAndTheAVIFileServiceAreBroughtToThePictureSize)
{
    Open(CinepakAvi);
    Pictures->Ask(AviFrames * PictureMs / 2, {});
    Settle();
    ASSERT_EQ(Came.size(), 1u);
    EXPECT_EQ(Came[0].Picture.size(), QSize(PictureWidth, PictureWidth * AviHeight / AviWidth));
}

} // namespace
