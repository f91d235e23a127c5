// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inputs that keep a reader busy for long, and a stop raised from another thread while it is, for
// the tests that a stop ends a call in progress.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

// Half a program stream followed by two gigabytes of zeros (a sparse file, no disk used), written
// to path: probing hunts for the next start code through all of it, which takes most of a minute.
inline void WriteLongDamage(const std::filesystem::path& path)
{
    const std::filesystem::path movie = std::filesystem::path(FRAMORA_FIXTURE_DIR) / "mpeg2-program.vob";
    std::filesystem::copy_file(movie, path, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
    std::filesystem::resize_file(path, std::uintmax_t{2} << 30);
}

// Raises a stop from a thread of its own once ready() holds (looked at every few milliseconds),
// and tells how long the caller took to come back after it.
class TStopFromAnotherThread {
public:
    using Clock = std::chrono::steady_clock;

    TStopFromAnotherThread(std::function<void()> raise, std::function<bool()> ready)
        : FThread([this, raise = std::move(raise), ready = std::move(ready)](std::stop_token stop) {
            while (!stop.stop_requested() && !ready())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (stop.stop_requested())
                return;
            FRaisedAt = Clock::now();
            FRaised = true;
            raise();
        })
    {
    }
    // Call when the stopped call has come back: the time since the stop, or a day when the call
    // came back before the stop was raised.
    Clock::duration Returned()
    {
        const Clock::time_point back = Clock::now();
        FThread.request_stop();
        FThread.join();
        return FRaised && FRaisedAt <= back ? back - FRaisedAt : Clock::duration(std::chrono::hours(24));
    }

private:
    Clock::time_point FRaisedAt;
    std::atomic<bool> FRaised{false};
    std::jthread FThread;
};
