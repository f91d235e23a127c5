// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UMovieSubtitlesReaper.h"

TThreadReaper& TThreadReaper::Instance()
{
    static TThreadReaper reaper;
    return reaper;
}

TThreadReaper::TThreadReaper()
    : FWorker(&TThreadReaper::Run, this)
{
}

TThreadReaper::~TThreadReaper()
{
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FEnding = true;
    }
    FChanged.notify_all();
    FWorker.join();
}

void TThreadReaper::Retire(std::thread thread, std::shared_ptr<void> owned)
{
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FRetired.push_back({std::move(thread), std::move(owned)});
        ++FPending;
    }
    FChanged.notify_all();
}

std::size_t TThreadReaper::Pending() const
{
    const std::lock_guard<std::mutex> guard(FLock);
    return FPending;
}

void TThreadReaper::Run()
{
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        FChanged.wait(lock, [this] { return FEnding || !FRetired.empty(); });
        if (FRetired.empty())
            return; // ending, with every thread joined
        TRetired retired = std::move(FRetired.front());
        FRetired.pop_front();
        lock.unlock();
        if (retired.Thread.joinable())
            retired.Thread.join();
        retired.Owned.reset(); // libass and the events go here too, off the window's thread
        lock.lock();
        --FPending;
    }
}
