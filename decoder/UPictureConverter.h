// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TPictureConverter: turns a decoded picture into the 24-bit rows the program shows (blue, green,
// red), at the size the movie announced. Every picture the decoder shows or keeps passes through
// here, so a stage that works on decoded pictures joins in front of the conversion.
// Internal to the decoder: it sees FFmpeg types.
#include "decoder/UPictureStage.h"
#include "framework/FFmpegPtr.h"

#include <QImage>

#include <cstdint>

class TBitmap;

// The pictures presented either side of the one converted, when known: deinterlacing reads them.
struct TNeighbours {
    const AVFrame* Previous = nullptr;
    const AVFrame* Next = nullptr;
};

class TPictureConverter {
public:
    // Converts picture, through the picture stage, into rows width x height starting at
    // firstRow, pitch bytes apart. The converter writes only the pixels of those rows.
    bool Convert(const AVFrame& picture, int width, int height, std::uint8_t* firstRow, int pitch,
                 TNeighbours neighbours = {});
    // The same into bitmap, which takes the 24-bit format and the size first, on rows the
    // conversion writes straight into (kept from one picture to the next while they are its own).
    bool ConvertInto(const AVFrame& picture, int width, int height, TBitmap& bitmap,
                     TNeighbours neighbours = {});
    // The same into a new image; null when the picture could not be converted. Rows this
    // converter made before (an image it returned, no longer held by anyone else) are written
    // again when they have the size asked for: a picture's worth of fresh pages costs more than
    // its conversion's scaling.
    QImage ConvertToImage(const AVFrame& picture, int width, int height, TNeighbours neighbours = {},
                          QImage rows = {});
    // Forgets the converter and the stage's graph (the settings stay); the next picture builds
    // new ones.
    void Reset();
    TPictureStage& Stage() { return FStage; }
    const TPictureStage& Stage() const { return FStage; }

private:
    bool ConvertRows(const AVFrame& picture, int width, int height, std::uint8_t* firstRow, int pitch,
                     bool hasRoom, TNeighbours neighbours);

    TPictureStage FStage;
    // Converts pictures straight into the target rows. Made for the picture described by
    // FSource (size, format, colour matrix and range) and the target size; rebuilt when a
    // picture differs.
    ffmpeg::SwsPtr FConverter;
    struct TSource {
        int Width = 0, Height = 0, Format = -1, Colorspace = -1, Range = -1;
        int TargetWidth = 0, TargetHeight = 0;
        bool operator==(const TSource&) const = default;
    } FSource;
    // Where the converter writes when the target's rows have no room for its whole blocks.
    ffmpeg::FramePtr FScratch;
};
