// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An open POSIX file descriptor, closed once: by Close(), whose result a writer must see, or
// when the handle goes.
#include <cerrno>
#include <unistd.h>
#include <utility>

class TFileHandle {
public:
    TFileHandle() = default;
    explicit TFileHandle(int fd) : FFd(fd) {}
    ~TFileHandle() { Close(); }
    TFileHandle(TFileHandle&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
    TFileHandle& operator=(TFileHandle&& other) noexcept
    {
        if (this != &other) {
            Close();
            FFd = std::exchange(other.FFd, -1);
        }
        return *this;
    }
    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    // 0, or the errno of a close that failed (a write the file system took but could not keep).
    int Close()
    {
        const int fd = std::exchange(FFd, -1);
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

private:
    int FFd = -1;
};
