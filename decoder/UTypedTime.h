// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A time of a movie as people type it: seconds ("83.5s"), minutes and seconds ("01:23",
// "90:00.5") or hours, minutes and seconds ("01:23:45.678"), with up to three digits after the
// point. Only the leading field runs on past 59.
#include <QString>

#include <cstdint>
#include <optional>

// Milliseconds, or nothing for text of none of these forms. The value may pass the range of a
// movie's times; callers check it against theirs.
std::optional<std::int64_t> ParseTypedTimeMs(const QString& text);
