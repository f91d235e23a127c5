#pragma once
// TPictureConverter: turns a decoded picture into the 24-bit rows the program shows (blue, green,
// red), at the size the movie announced. Every picture the decoder shows or keeps passes through
// here, so a stage that works on decoded pictures joins in front of the conversion.
// Internal to the decoder: it sees FFmpeg types.
#include "framework/FFmpegPtr.h"

#include <cstdint>

class TBitmap;

class TPictureConverter {
public:
    // Converts picture into rows width x height starting at firstRow, pitch bytes apart.
    bool Convert(const AVFrame& picture, int width, int height, std::uint8_t* firstRow, int pitch);
    // The same into bitmap, which takes the 24-bit format and the size first.
    bool ConvertInto(const AVFrame& picture, int width, int height, TBitmap& bitmap);
    // Forgets the converter; the next picture builds a new one.
    void Reset();

private:
    // Converts pictures straight into the target rows. Made for the picture described by
    // FSource (size, format, colour matrix and range) and the target size; rebuilt when a
    // picture differs.
    ffmpeg::SwsPtr FConverter;
    struct TSource {
        int Width = 0, Height = 0, Format = -1, Colorspace = -1, Range = -1;
        int TargetWidth = 0, TargetHeight = 0;
        bool operator==(const TSource&) const = default;
    } FSource;
};
