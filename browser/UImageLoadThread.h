// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The background thumbnail loader: reads source images on a worker thread so that the browser
// can show a placeholder at once and put the real thumbnail in later. It neither scales, caches
// nor draws; the window thread does that with what TakeResult hands back.
//
// The worker sleeps on a condition variable while it has nothing to do or is held (the host's
// suspension switch) and wakes when a request arrives, the hold is lifted or it is stopped.
// Requests and Results each have their own lock and no path holds both at once.
#include "framework/TPicture.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class TImagePack;
class TPictureEx;

// Reads image `index` into `picture`; called on the worker thread, so it must be safe there.
// An exception drops that request.
using TImageLoadSource = std::function<void(TPicture& picture, std::int32_t index)>;

// Reads a pack from the worker: a cached pack through LoadImage, which neither reads nor fills
// its cache (the window thread owns that), any other pack through SafeGetImage; either way an
// unreadable image comes back as the error picture. Empty for no pack. The pack's own image
// handler must be safe off the window thread.
TImageLoadSource PackLoadSource(TImagePack* pack);

class TImageLoadThread {
public:
    // The worker starts held: it takes no request until Resume.
    TImageLoadThread();
    // Stops the worker (if Stop was not called) and discards what is still queued.
    ~TImageLoadThread();
    TImageLoadThread(const TImageLoadThread&) = delete;
    TImageLoadThread& operator=(const TImageLoadThread&) = delete;

    // No source: requests stay queued and the worker sleeps.
    void SetSource(TImageLoadSource source);
    // Queues a load of index unless one is already queued, and wakes the worker.
    void Request(std::int32_t index);
    // Moves the oldest finished picture into target and answers its index; -1 when none.
    std::int32_t TakeResult(TPictureEx& target);
    // Drops pending requests, waits until a load in progress has finished, drops the results.
    void Flush();
    // Ends the worker and waits for it. Safe to call twice.
    void Stop();

    // The host's suspension switch: a held worker finishes its current load, then sleeps until
    // resumed or stopped.
    void Resume();
    void Suspend();
    // True while the worker is held, sleeping for lack of work, or finished.
    bool Suspended() const;
    bool Finished() const;

    // Called on the worker thread after each result is queued.
    std::function<void()> OnLoaded;

private:
    struct TRecord {
        std::unique_ptr<TPicture> Picture;
        std::int32_t Index = -1;
    };

    void Execute(std::stop_token stop);
    bool TakeRequest(TRecord& record);
    void Load(TRecord record);
    void PostResult(TRecord record);
    bool HasRequests() const;
    void Wake();

    mutable std::mutex FRequestsLock;
    std::deque<TRecord> FRequests; // protected by FRequestsLock; newest at the back
    std::mutex FResultsLock;
    std::deque<TRecord> FResults;  // protected by FResultsLock; oldest at the front

    mutable std::mutex FStateLock;
    std::condition_variable_any FWake; // the worker sleeps on it
    std::condition_variable FIdle;     // Flush waits on it for the worker to go to sleep
    TImageLoadSource FSource;          // protected by FStateLock; copied by the worker per load
    bool FHeld = true;                 // protected by FStateLock
    bool FSleeping = false;            // protected by FStateLock; true while waiting for work
    bool FFinished = false;            // protected by FStateLock; set when Execute has returned

    std::jthread FWorker; // last: started after, and joined before, the state above goes
};
