// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the generated movies are, and which picture a bitmap shows (its frame stamp).
#include "fixtures/FrameStamp.h"
#include "fixtures/TestPicture.h"
#include "fixtures/TestMovies.h"
#include "framework/TBitmap.h"

#include <cctype>
#include <string>

inline std::string MoviePath(const char* name)
{
    return std::string(FRAMORA_FIXTURE_DIR) + "/" + name;
}

// A movie's file name as a test name: letters and digits, the rest underscores.
inline std::string TestNameOf(std::string movie)
{
    for (char& ch : movie)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return movie;
}

// The picture number a bitmap shows; -1 when it carries no readable stamp (black, foreign).
inline int StampOf(const TBitmap& bitmap)
{
    if (bitmap.Empty() || bitmap.PixelFormat() != TPixelFormat::pf24bit)
        return -1;
    return FrameStamp::Read(bitmap.Width(), bitmap.Height(), [&](int x, int y) {
        const std::uint8_t* bgr = bitmap.ScanLine(y) + 3 * x;
        return (bgr[2] * 299 + bgr[1] * 587 + bgr[0] * 114) / 1000;
    });
}
