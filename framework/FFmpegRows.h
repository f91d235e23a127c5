// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Rows FFmpeg may write into. The SIMD paths of swscale (and of the filters) store whole blocks
// of pixels: a row is written up to the line size FFmpeg gives its own pictures of that width,
// not only to its last pixel, and the last row may run past its end. FFmpeg's own pictures have
// that room; the rows of a QImage or a DIB have none. There a width 8 more than a multiple of 16
// wrote past the end of the heap block (every 1080-wide phone movie), and a pitch too small for
// the rounded-up row made swscale leave the last columns black (854-wide movies).
// Include from .cpp files only: it sees FFmpeg types.
#include "framework/FFmpegPtr.h"

#include <QImage>

#include <cstddef>
#include <cstdint>

namespace ffmpeg {

// The line size FFmpeg lays out its own pictures of this width and format with: 64-byte aligned
// and wide enough for whole blocks; 0 for a format or size it has no layout for.
int RowPitch(int width, AVPixelFormat format);
// How much must follow the last of such rows.
std::size_t RowSlack(int pitch);

// A QImage over rows with FFmpeg's room: pitch RowPitch(width, pixelFormat) on 64-byte aligned
// memory, RowSlack after the last row. Null when the memory cannot be had.
QImage ImageWithRoom(int width, int height, QImage::Format format, AVPixelFormat pixelFormat);

// Runs converter over the source planes into height rows at target, pitch bytes apart, of
// width pixels of format. Rows the caller made with FFmpeg's room (hasRoom: pitch at least
// RowPitch, RowSlack after the last row) are written by the converter itself; any others go
// through scratch (kept by the caller, so a run of pictures reuses its memory) and are copied.
bool ScaleInto(SwsContext& converter, const std::uint8_t* const source[], const int sourcePitch[],
               int sourceHeight, std::uint8_t* target, int pitch, int width, int height,
               AVPixelFormat format, bool hasRoom, FramePtr& scratch);

} // namespace ffmpeg
