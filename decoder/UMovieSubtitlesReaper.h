// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Joins threads that were told to stop, and frees what they worked on, off the thread that told
// them: the subtitle index's reading ends at its next read once stopped, but libass's font scan
// (fontconfig) hears nothing and may take seconds, and a new choice, a new movie or the window
// going must not wait for it. Whatever is still running when the process ends is waited for
// then, so nothing runs on into the exit.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class TThreadReaper {
public:
    static TThreadReaper& Instance();
    TThreadReaper(const TThreadReaper&) = delete;
    TThreadReaper& operator=(const TThreadReaper&) = delete;

    // thread, already told to stop, is joined, and then owned (what it works on) freed.
    void Retire(std::thread thread, std::shared_ptr<void> owned);
    // Threads retired and not yet joined and freed.
    std::size_t Pending() const;

private:
    TThreadReaper();
    ~TThreadReaper();
    void Run();

    struct TRetired {
        std::thread Thread;
        std::shared_ptr<void> Owned;
    };
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    // Under FLock: what waits for the reaper, and how many are not yet freed.
    std::deque<TRetired> FRetired;
    std::size_t FPending = 0;
    bool FEnding = false;
    // Declared last: it starts once the rest is there.
    std::thread FWorker;
};
