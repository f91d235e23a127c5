#pragma once
// TMovieDecoder: opens one movie at a time and renders the picture at a millisecond into a
// 24-bit bitmap it owns. FFmpeg is tried first; AVI files it refuses go to the AVIFile stand-in.
// Everything above this unit sees milliseconds and TBitmap only, never an FFmpeg type.
#include "framework/TBitmap.h"

#include <cstdint>
#include <memory>
#include <string>

class TMovieDecoder {
public:
    TMovieDecoder();
    ~TMovieDecoder();
    TMovieDecoder(const TMovieDecoder&) = delete;
    TMovieDecoder& operator=(const TMovieDecoder&) = delete;

    bool Open(const std::string& FileName);
    bool Close();
    std::int32_t Duration() const;
    std::int32_t Width() const;
    std::int32_t Height() const;
    bool DecodeFrame(std::int32_t TimeMs);

    bool IsOpen() const { return FIsOpen; }
    const TBitmap& Bitmap() const { return *FBitmap; }
    const std::string& FileName() const { return FFileName; }

    // The decoder's helper owns every FFmpeg and AVIFile resource (see UMovieDecoder.cpp).
    struct TState;

private:
    std::string FFileName;
    bool FIsOpen = false;
    std::unique_ptr<TBitmap> FBitmap;
    std::unique_ptr<TState> FState;
};
