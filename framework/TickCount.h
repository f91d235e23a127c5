// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A monotonic millisecond tick that wraps like a 32-bit counter. Differences between two ticks
// are taken with TickDiff so they stay right across the wrap (about every 49.7 days).
#include <cstdint>
#include <functional>

std::uint32_t GetTickCount();

// Elapsed milliseconds from `from` to `to`, in 32-bit modular arithmetic.
constexpr std::uint32_t TickDiff(std::uint32_t from, std::uint32_t to)
{
    return to - from;
}

// Tests replace the clock to drive time-based behaviour without sleeping; an empty function
// restores the monotonic clock.
void SetTickSource(std::function<std::uint32_t()> source);
