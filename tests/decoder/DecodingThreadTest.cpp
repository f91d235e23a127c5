// SPDX-License-Identifier: GPL-3.0-or-later
// The decoding thread: which requests are answered with a picture, which are replaced, and that a
// newer position ends the one running at its next packet.
#include "decoder/UDecodingThread.h"
#include "decoder/UMovieDecoder.h"
#include "decoder/UPictureCache.h"
#include "StampedMovies.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

using namespace TestMovies;
using TOutcome = TDecodingAnswer::TOutcome;

namespace {

constexpr int PictureMs = 1000 / FrameRate;
constexpr auto AnswerWait = std::chrono::seconds(60);

// Collects the answers; the answer function can hold the thread, so that requests posted
// meanwhile are known to wait together.
class TAnswers {
public:
    TDecodingThread::TAnswer Function()
    {
        return [this](std::shared_ptr<TDecodingAnswer> answer) {
            if (FOnAnswer)
                FOnAnswer(*answer);
            std::unique_lock lock(FLock);
            // Answers of replaced requests come on the thread that posted: only the decoding
            // thread is held.
            if (std::this_thread::get_id() != FHolder) {
                FHolding = FHeld;
                FChanged.notify_all();
                FChanged.wait(lock, [this] { return !FHeld; });
                FHolding = false;
            }
            (answer->Outcome == TOutcome::FirstLook ? FLooks : FFinal)[answer->Serial] = answer;
            FChanged.notify_all();
        };
    }
    void Hold(bool held)
    {
        const std::lock_guard lock(FLock);
        FHeld = held;
        FHolder = std::this_thread::get_id();
        FChanged.notify_all();
    }
    // Until the thread is held in the answer function.
    void WaitUntilHolding()
    {
        std::unique_lock lock(FLock);
        FChanged.wait_for(lock, AnswerWait, [this] { return FHolding; });
    }
    // Runs on the decoding thread, before an answer is kept; set before anything is posted.
    void OnAnswer(std::function<void(const TDecodingAnswer&)> onAnswer) { FOnAnswer = std::move(onAnswer); }
    std::shared_ptr<TDecodingAnswer> Final(std::uint64_t serial)
    {
        std::unique_lock lock(FLock);
        if (!FChanged.wait_for(lock, AnswerWait, [&] { return FFinal.count(serial) > 0; }))
            return nullptr;
        return FFinal[serial];
    }
    std::size_t Looks()
    {
        const std::lock_guard lock(FLock);
        return FLooks.size();
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FHeld = false;
    bool FHolding = false;
    std::thread::id FHolder;
    std::function<void(const TDecodingAnswer&)> FOnAnswer;
    std::map<std::uint64_t, std::shared_ptr<TDecodingAnswer>> FFinal, FLooks;
};

TDecodingRequest Request(TDecodingKind kind, int ms = 0, bool exact = true)
{
    TDecodingRequest request;
    request.Kind = kind;
    request.TimeMs = ms;
    request.Exact = exact;
    return request;
}

TDecodingRequest Opening(const char* movie)
{
    TDecodingRequest request = Request(TDecodingKind::Open);
    request.FileName = MoviePath(movie);
    return request;
}

class DecodingThread : public ::testing::Test {
protected:
    void SetUp() override
    {
        Thread = std::make_unique<TDecodingThread>(std::make_unique<TMovieDecoder>(), Answers.Function());
        const auto opened = Answers.Final(Thread->Post(Opening(LongGopH264)));
        ASSERT_TRUE(opened);
        ASSERT_EQ(opened->Outcome, TOutcome::Shown);
    }
    int Stamp(std::uint64_t serial)
    {
        const auto answer = Answers.Final(serial);
        return answer && answer->Outcome == TOutcome::Shown ? StampOf(answer->Picture) : -1;
    }

    TAnswers Answers;
    std::unique_ptr<TDecodingThread> Thread;
};

TEST_F(DecodingThread, OpeningTellsTheMovieOrWhyNot)
{
    const auto again = Answers.Final(Thread->Post(Opening(LongGopH264)));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Facts.CodedSize, QSize(Width, Height));
    TMovieDecoder same;
    ASSERT_TRUE(same.Open(MoviePath(LongGopH264)));
    EXPECT_EQ(again->Facts.Duration, same.Duration());
    EXPECT_EQ(again->Facts.FileName, MoviePath(LongGopH264));

    const auto missing = Answers.Final(Thread->Post(Opening("no-such-movie.mp4")));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->Outcome, TOutcome::Failed);
    EXPECT_FALSE(missing->OpenError.empty());
    // With no movie, a picture request finds nothing, and says so.
    EXPECT_EQ(Answers.Final(Thread->Post(Request(TDecodingKind::Position, 1000)))->Outcome, TOutcome::Failed);
}

TEST_F(DecodingThread, TheLatestWaitingRequestWinsAndAShownPictureKeepsWhatCameBefore)
{
    Answers.Hold(true);
    // Keeps the thread busy answering this one while the others queue up behind it.
    const std::uint64_t busy = Thread->Post(Request(TDecodingKind::Position, 0));
    Answers.WaitUntilHolding();
    const std::uint64_t first = Thread->Post(Request(TDecodingKind::Position, 2000));
    const std::uint64_t second = Thread->Post(Request(TDecodingKind::Position, 4000));
    const std::uint64_t shown = Thread->Post(Request(TDecodingKind::ShownPicture));
    const std::uint64_t third = Thread->Post(Request(TDecodingKind::Position, 6000));
    const std::uint64_t step = Thread->Post(Request(TDecodingKind::NextPicture));
    const std::uint64_t secondStep = Thread->Post(Request(TDecodingKind::NextPicture));
    Answers.Hold(false);

    EXPECT_EQ(Stamp(busy), 0);
    EXPECT_EQ(Answers.Final(first)->Outcome, TOutcome::Replaced);
    EXPECT_EQ(Stamp(second), 4000 / PictureMs);
    // The picture that was asked for before it, whatever came after.
    EXPECT_EQ(Stamp(shown), 4000 / PictureMs);
    // A step starts from the position asked before it; of two waiting steps the newer one goes.
    EXPECT_EQ(Stamp(third), 6000 / PictureMs);
    EXPECT_EQ(Answers.Final(step)->Outcome, TOutcome::Replaced);
    EXPECT_EQ(Stamp(secondStep), 6000 / PictureMs + 1);
}

TEST_F(DecodingThread, ANewerPositionStopsTheExactRequestAfterItsFirstLook)
{
    // From the key frame at 0 to a picture far into its group: a first look comes, then the
    // newer request stops the rest.
    std::uint64_t newer = 0;
    Answers.OnAnswer([&](const TDecodingAnswer& answer) {
        if (answer.Outcome == TOutcome::FirstLook && newer == 0)
            newer = Thread->Post(Request(TDecodingKind::Position, 400));
    });
    const std::uint64_t far = Thread->Post(Request(TDecodingKind::Position, 9000));
    const auto stopped = Answers.Final(far);
    ASSERT_TRUE(stopped);
    EXPECT_GE(Answers.Looks(), 1u);
    EXPECT_EQ(stopped->Outcome, TOutcome::Replaced);
    ASSERT_NE(newer, 0u);
    EXPECT_EQ(Stamp(newer), 400 / PictureMs);
}

TEST_F(DecodingThread, PreviewsAreDrawnSizeAndTheShownPictureIsFullSize)
{
    TDecodingRequest small = Request(TDecodingKind::Position, 2000, false);
    small.PreviewSize = QSize(Width / 2, Height / 2);
    const auto preview = Answers.Final(Thread->Post(small));
    ASSERT_TRUE(preview);
    ASSERT_EQ(preview->Outcome, TOutcome::Shown);
    EXPECT_TRUE(preview->Preview);
    EXPECT_EQ(preview->Picture.Width(), Width / 2);
    const auto full = Answers.Final(Thread->Post(Request(TDecodingKind::ShownPicture)));
    ASSERT_TRUE(full);
    EXPECT_FALSE(full->Preview);
    EXPECT_EQ(QSize(full->Picture.Width(), full->Picture.Height()), QSize(Width, Height));
    EXPECT_EQ(full->FrameTimeMs, preview->FrameTimeMs);
    EXPECT_EQ(StampOf(full->Picture) * PictureMs, full->FrameTimeMs);
}

TEST_F(DecodingThread, GoingAwayStopsTheRequestRunningAndAnswersNoMore)
{
    const auto start = std::chrono::steady_clock::now();
    Thread->Post(Request(TDecodingKind::Position, 9900));
    Thread->Post(Request(TDecodingKind::Position, 19000));
    Thread.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

} // namespace

TEST_F(DecodingThread, TheSharpestPictureIsACaptureThatNothingReplaces)
{
    Answers.Hold(true);
    const std::uint64_t busy = Thread->Post(Request(TDecodingKind::Position, 0));
    Answers.WaitUntilHolding();
    const std::uint64_t before = Thread->Post(Request(TDecodingKind::Position, 3000));
    TDecodingRequest sharpest = Request(TDecodingKind::SharpestPicture, 4000);
    sharpest.RangeMs = 200;
    sharpest.Upright = true;
    const std::uint64_t chosen = Thread->Post(sharpest);
    const std::uint64_t shown = Thread->Post(Request(TDecodingKind::ShownPicture));
    const std::uint64_t after = Thread->Post(Request(TDecodingKind::Position, 8000));
    Answers.Hold(false);

    EXPECT_EQ(Stamp(busy), 0);
    // The position before it is pinned, as before a shown picture.
    EXPECT_EQ(Stamp(before), 3000 / PictureMs);
    const auto answer = Answers.Final(chosen);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->Outcome, TOutcome::Shown);
    EXPECT_LE(std::abs(answer->FrameTimeMs - 4000), 200);
    EXPECT_EQ(answer->FrameTimeMs, answer->Sharpest.TimeMs);
    EXPECT_EQ(StampOf(answer->Picture) * PictureMs, answer->FrameTimeMs);
    EXPECT_EQ(StampOf(answer->Stored), StampOf(answer->Picture));
    EXPECT_FALSE(answer->Preview);
    // The decoder was left on the chosen picture.
    EXPECT_EQ(Stamp(shown), StampOf(answer->Picture));
    EXPECT_EQ(Stamp(after), 8000 / PictureMs);
}

// Answers share the decoder's rows instead of copying them: every answer still held must keep
// the picture it came with while the decoder goes on, whether its pictures come from the cache,
// straight into the decoder's rows (no cache) or as previews.
TEST(DecodingThreadAnswers, KeepTheirPicturesWhileTheDecoderGoesOn)
{
    struct TCase {
        const char* Name;
        std::int64_t CacheLimit;
        bool Exact;
        QSize PreviewSize;
    };
    const TCase cases[] = {
        {"exact, cached", TPictureCache::DefaultLimitBytes, true, {}},
        {"exact, no cache", 0, true, {}},
        {"playback previews", TPictureCache::DefaultLimitBytes, false, QSize(Width / 2, Height / 2)},
    };
    for (const TCase& c : cases) {
        TAnswers answers;
        // What each answer showed when it came, copied on the decoding thread.
        std::mutex lock;
        std::map<std::uint64_t, QImage> came;
        answers.OnAnswer([&](const TDecodingAnswer& answer) {
            const std::lock_guard held(lock);
            came[answer.Serial] = answer.Picture.Image().copy();
        });
        auto decoder = std::make_unique<TMovieDecoder>();
        decoder->SetCacheLimit(c.CacheLimit);
        TDecodingThread thread(std::move(decoder), answers.Function());
        ASSERT_TRUE(answers.Final(thread.Post(Opening(LongGopH264)))) << c.Name;
        std::vector<std::shared_ptr<TDecodingAnswer>> held;
        for (TDecodingRequest request :
             {Request(TDecodingKind::Position, 2000, c.Exact), Request(TDecodingKind::NextPicture),
              Request(TDecodingKind::PreviousPicture), Request(TDecodingKind::Position, 5000, c.Exact),
              Request(TDecodingKind::ShownPicture), Request(TDecodingKind::Position, 5040, c.Exact)}) {
            request.PreviewSize = c.PreviewSize;
            held.push_back(answers.Final(thread.Post(std::move(request))));
            ASSERT_TRUE(held.back()) << c.Name;
        }
        const std::lock_guard guard(lock);
        for (std::size_t i = 0; i < held.size(); ++i) {
            EXPECT_FALSE(held[i]->Picture.Empty()) << c.Name << ", answer " << i;
            EXPECT_EQ(held[i]->Picture.Image(), came[held[i]->Serial]) << c.Name << ", answer " << i;
        }
        if (c.PreviewSize.isEmpty()) {
            EXPECT_EQ(StampOf(held[3]->Picture), 5000 / PictureMs) << c.Name;
        }
    }
}
