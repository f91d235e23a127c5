// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/UImageLoadThread.h"

#include "imagestore/UCachedImagePack.h"
#include "imagestore/UPictureEX.h"

#include <algorithm>

TImageLoadSource PackLoadSource(TImagePack* pack)
{
    if (!pack)
        return {};
    if (auto* cached = dynamic_cast<TCachedImagePack*>(pack))
        return [cached](TPicture& picture, std::int32_t index) {
            // An unreadable image is delivered as the error picture, as the window thread would
            // show it, rather than leaving its placeholder up for good.
            try {
                cached->LoadImage(picture, index);
            } catch (...) {
                picture.Assign(TImagePack::ErrorPicture());
            }
        };
    return [pack](TPicture& picture, std::int32_t index) { pack->SafeGetImage(picture, index); };
}

TImageLoadThread::TImageLoadThread()
    : FWorker([this](std::stop_token stop) { Execute(stop); })
{
}

TImageLoadThread::~TImageLoadThread()
{
    Stop();
}

void TImageLoadThread::SetSource(TImageLoadSource source)
{
    {
        std::lock_guard state(FStateLock);
        FSource = std::move(source);
    }
    FWake.notify_all();
}

void TImageLoadThread::Request(std::int32_t index)
{
    {
        std::lock_guard requests(FRequestsLock);
        const bool queued = std::any_of(FRequests.begin(), FRequests.end(),
                                        [index](const TRecord& r) { return r.Index == index; });
        if (queued)
            return;
        FRequests.push_back({std::make_unique<TPicture>(), index});
    }
    Resume();
}

std::int32_t TImageLoadThread::TakeResult(TPictureEx& target)
{
    TRecord record;
    {
        std::lock_guard results(FResultsLock);
        if (!FResults.empty()) {
            record = std::move(FResults.front());
            FResults.pop_front();
        }
    }
    if (record.Picture) {
        target.Assign(*record.Picture);
        return record.Index;
    }
    // A worker the host held while requests were still queued is set going again here.
    if (HasRequests())
        Resume();
    return -1;
}

void TImageLoadThread::Flush()
{
    {
        std::lock_guard requests(FRequestsLock);
        FRequests.clear();
    }
    {
        // A load already taken finishes and queues its result, which goes with the rest below.
        std::unique_lock state(FStateLock);
        FIdle.wait(state, [this] { return FSleeping || FFinished; });
    }
    std::lock_guard results(FResultsLock);
    FResults.clear();
}

void TImageLoadThread::Stop()
{
    if (!FWorker.joinable())
        return;
    FWorker.request_stop();
    FWorker.join();
}

void TImageLoadThread::Resume()
{
    {
        std::lock_guard state(FStateLock);
        FHeld = false;
    }
    FWake.notify_all();
}

void TImageLoadThread::Suspend()
{
    std::lock_guard state(FStateLock);
    FHeld = true;
}

bool TImageLoadThread::Suspended() const
{
    std::lock_guard state(FStateLock);
    return FHeld || FSleeping || FFinished;
}

bool TImageLoadThread::Finished() const
{
    std::lock_guard state(FStateLock);
    return FFinished;
}

bool TImageLoadThread::HasRequests() const
{
    std::lock_guard requests(FRequestsLock);
    return !FRequests.empty();
}

bool TImageLoadThread::TakeRequest(TRecord& record)
{
    std::lock_guard requests(FRequestsLock);
    if (FRequests.empty())
        return false;
    record = std::move(FRequests.back());
    FRequests.pop_back();
    return true;
}

void TImageLoadThread::Execute(std::stop_token stop)
{
    for (;;) {
        TRecord record;
        TImageLoadSource source;
        {
            std::unique_lock state(FStateLock);
            FSleeping = true;
            FIdle.notify_all();
            FWake.wait(state, stop, [this] { return !FHeld && FSource && HasRequests(); });
            FSleeping = false;
            if (stop.stop_requested())
                break;
            if (!TakeRequest(record))
                continue;
            source = FSource;
        }
        try {
            source(*record.Picture, record.Index);
            PostResult(std::move(record));
        } catch (...) {
            // The request is dropped without a result; the browser keeps its placeholder.
        }
    }
    {
        std::lock_guard state(FStateLock);
        FFinished = true;
    }
    FIdle.notify_all();
}

void TImageLoadThread::PostResult(TRecord record)
{
    {
        std::lock_guard results(FResultsLock);
        FResults.push_back(std::move(record));
    }
    if (OnLoaded)
        OnLoaded();
}
