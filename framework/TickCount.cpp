// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TickCount.h"

#include <chrono>

namespace {
std::function<std::uint32_t()>& TickSource()
{
    static std::function<std::uint32_t()> source;
    return source;
}
} // namespace

std::uint32_t GetTickCount()
{
    if (const auto& source = TickSource())
        return source();
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SetTickSource(std::function<std::uint32_t()> source)
{
    TickSource() = std::move(source);
}
