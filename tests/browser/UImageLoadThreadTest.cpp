// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/UImageLoadThread.h"
#include "framework/TBitmap.h"
#include "imagestore/UPictureEX.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Counts events across threads; waiting for a count replaces any sleep.
class TCounter {
public:
    void Add()
    {
        {
            std::lock_guard lock(FLock);
            ++FCount;
        }
        FChanged.notify_all();
    }
    void WaitFor(int count)
    {
        std::unique_lock lock(FLock);
        FChanged.wait(lock, [&] { return FCount >= count; });
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    int FCount = 0;
};

// A source that records the order of its loads, gives each picture a width of 10 + index, can
// raise for one index and can be held at its entry until released.
struct TTestSource {
    std::mutex Lock;
    std::vector<int> Loaded;
    int Raising = -1;
    bool Gated = false;
    bool Open = false;
    std::condition_variable Gate;
    TCounter Entered;

    TImageLoadSource Function()
    {
        return [this](TPicture& picture, std::int32_t index) {
            Entered.Add();
            std::unique_lock lock(Lock);
            Gate.wait(lock, [&] { return !Gated || Open; });
            Loaded.push_back(index);
            if (index == Raising)
                throw std::runtime_error("unreadable");
            picture.Bitmap().SetSize(10 + index, 1);
        };
    }
    void Release()
    {
        {
            std::lock_guard lock(Lock);
            Open = true;
        }
        Gate.notify_all();
    }
};

std::vector<int> TakeAll(TImageLoadThread& loader)
{
    std::vector<int> taken;
    TPictureEx target;
    for (int index; (index = loader.TakeResult(target)) != -1;) {
        EXPECT_EQ(target.Width(), 10 + index);
        taken.push_back(index);
    }
    return taken;
}

} // namespace

TEST(ImageLoadThread, LoadsNewestRequestFirstOnceEachAndHandsResultsOverOldestFirst)
{
    TImageLoadThread loader;
    TTestSource source;
    TCounter loaded;
    loader.OnLoaded = [&] { loaded.Add(); };
    // Without a source the worker leaves the requests queued.
    for (int index : {1, 2, 5, 3, 5})
        loader.Request(index);
    loader.SetSource(source.Function());
    loaded.WaitFor(4);

    EXPECT_EQ(source.Loaded, (std::vector<int>{3, 5, 2, 1}));
    EXPECT_EQ(TakeAll(loader), (std::vector<int>{3, 5, 2, 1}));
}

TEST(ImageLoadThread, RaisingLoadGivesNoResultAndOthersAreServed)
{
    TImageLoadThread loader;
    TTestSource source;
    source.Raising = 4;
    TCounter loaded;
    loader.OnLoaded = [&] { loaded.Add(); };
    for (int index : {3, 4, 5})
        loader.Request(index);
    loader.SetSource(source.Function());
    loaded.WaitFor(2); // 3 is loaded last, after 4 raised

    EXPECT_EQ(source.Loaded, (std::vector<int>{5, 4, 3}));
    EXPECT_EQ(TakeAll(loader), (std::vector<int>{5, 3}));
}

TEST(ImageLoadThread, FlushDuringLoadWaitsForItAndLeavesNothingQueued)
{
    TImageLoadThread loader;
    TTestSource source;
    source.Gated = true;
    loader.SetSource(source.Function());
    loader.Request(7);
    source.Entered.WaitFor(1);
    loader.Request(8); // still queued behind the running load

    std::atomic<bool> flushed = false;
    bool flushedBeforeLoadEnded = true;
    loader.OnLoaded = [&] { flushedBeforeLoadEnded = flushed; };
    std::thread flusher([&] {
        loader.Flush();
        flushed = true;
    });
    source.Release();
    flusher.join();

    EXPECT_FALSE(flushedBeforeLoadEnded);
    EXPECT_TRUE(TakeAll(loader).empty());
    EXPECT_TRUE(loader.Suspended());
}

TEST(ImageLoadThread, StopEndsTheWorkerWhetherIdleOrLoading)
{
    {
        TImageLoadThread never;
        never.Request(1); // no source: queued and never loaded
        never.Stop();
        EXPECT_TRUE(never.Finished());
        never.Stop();
    }
    TImageLoadThread loader;
    TTestSource source;
    source.Gated = true;
    loader.SetSource(source.Function());
    loader.Request(1);
    loader.Request(2);
    source.Entered.WaitFor(1);
    std::thread stopper([&] { loader.Stop(); });
    source.Release();
    stopper.join();

    EXPECT_TRUE(loader.Finished());
    // The load in progress ends; 1 may or may not have been taken before the stop was seen.
    ASSERT_FALSE(source.Loaded.empty());
    EXPECT_EQ(source.Loaded.front(), 2);
}

TEST(ImageLoadThread, SuspendedWorkerTakesNoRequestUntilResumed)
{
    TImageLoadThread loader;
    TTestSource source;
    TCounter loaded;
    loader.OnLoaded = [&] { loaded.Add(); };
    loader.SetSource(source.Function());
    loader.Request(1);
    loaded.WaitFor(1);
    loader.Flush();
    loader.Suspend();
    EXPECT_TRUE(loader.Suspended());

    TPictureEx target;
    loader.Request(2); // a request wakes a held worker, as switching the loader on expects
    loaded.WaitFor(2);
    EXPECT_EQ(loader.TakeResult(target), 2);
}
