// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Finding a moment by what the user types, and naming the picture on screen: the pure parts of
// the window's go-to entry (Ctrl+G) and of its status line.
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>

// What a go-to entry names: a time in milliseconds, or a picture number (counting from 0, the
// first picture shown).
struct TMomentEntry {
    bool Picture = false;
    std::int64_t Value = 0;
    bool operator==(const TMomentEntry&) const = default;
};

// "HH:MM:SS.mmm", "MM:SS[.mmm]" (the leading field may pass 59), seconds with their unit
// ("83.5s") or a picture number ("#2087"); spaces around are ignored. None for anything else: a
// bare number (seconds or milliseconds?), a sign, a field past 59, more than the 32-bit range.
std::optional<TMomentEntry> ParseMomentEntry(const QString& text);

// The time to ask for so that picture number's own picture shows (a picture shows until the
// next one's time), at rate pictures a second; rate must be above 0.
std::int64_t PictureStartMs(std::int64_t number, double rate);
// The number of the picture shown at timeMs, its own time.
std::int64_t PictureNumberAt(std::int32_t timeMs, double rate);

// "01:23.480" below an hour, "1:02:03.250" from there on.
QString MomentTime(std::int32_t timeMs);
// FFmpeg's short codec name as people write it: "h264" H.264, "hevc" HEVC, "mpeg2video" MPEG-2;
// names not known here upper-cased.
QString CodecLabel(const std::string& name);
// "23.976", "25", "29.97": three decimals at most, no trailing zeros.
QString FrameRateLabel(double rate);
// The status line of a paused picture: "#2087  01:23.480  1920×1080  23.976 fps  H.264"; the
// number and the rate are left out when the rate is unknown (0), the codec when its name is.
QString MomentStatus(std::int32_t timeMs, QSize size, double rate, const std::string& codec);
