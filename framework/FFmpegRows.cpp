// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/FFmpegRows.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int RowAlignment = 64;

void FreeRows(void* rows)
{
    std::free(rows);
}

} // namespace

namespace ffmpeg {

int RowPitch(int width, AVPixelFormat format)
{
    if (width <= 0)
        return 0;
    // The layout av_frame_get_buffer chooses: the width rounded up to ever larger powers of two
    // until the line size is aligned, so the row holds every whole block its SIMD stores.
    int linesizes[4] = {};
    for (int align = 1; align <= RowAlignment; align *= 2) {
        if (av_image_fill_linesizes(linesizes, format, FFALIGN(width, align)) < 0)
            return 0;
        if (linesizes[0] % RowAlignment == 0)
            return linesizes[0];
    }
    return FFALIGN(linesizes[0], RowAlignment);
}

std::size_t RowSlack(int pitch)
{
    // FFmpeg's own pictures end with up to 31 spare rows; two rows and a block cover the last
    // row's whole-block stores with a wide margin.
    return 2 * static_cast<std::size_t>(std::max(pitch, 0)) + 4 * RowAlignment;
}

QImage ImageWithRoom(int width, int height, QImage::Format format, AVPixelFormat pixelFormat)
{
    const int pitch = RowPitch(width, pixelFormat);
    if (pitch <= 0 || height <= 0)
        return {};
    const std::size_t bytes = static_cast<std::size_t>(pitch) * static_cast<std::size_t>(height) + RowSlack(pitch);
    void* rows = std::aligned_alloc(RowAlignment, FFALIGN(bytes, std::size_t{RowAlignment}));
    if (!rows)
        return {};
    // The image owns the memory from here on: FreeRows runs when its last copy goes.
    QImage image(static_cast<uchar*>(rows), width, height, pitch, format, FreeRows, rows);
    if (image.isNull())
        std::free(rows);
    return image;
}

bool ScaleInto(SwsContext& converter, const std::uint8_t* const source[], const int sourcePitch[],
               int sourceHeight, std::uint8_t* target, int pitch, int width, int height,
               AVPixelFormat format, bool hasRoom, FramePtr& scratch)
{
    if (hasRoom && pitch >= RowPitch(width, format)) {
        std::uint8_t* const rows[4] = {target, nullptr, nullptr, nullptr};
        const int pitches[4] = {pitch, 0, 0, 0};
        return sws_scale(&converter, source, sourcePitch, 0, sourceHeight, rows, pitches) >= 0;
    }
    if (!scratch || scratch->width != width || scratch->height != height || scratch->format != format) {
        scratch.reset(av_frame_alloc());
        if (!scratch)
            return false;
        scratch->width = width;
        scratch->height = height;
        scratch->format = format;
        if (av_frame_get_buffer(scratch.get(), RowAlignment) < 0) {
            scratch.reset();
            return false;
        }
    }
    if (sws_scale(&converter, source, sourcePitch, 0, sourceHeight, scratch->data, scratch->linesize) < 0)
        return false;
    const auto rowBytes = static_cast<std::size_t>(av_image_get_linesize(format, width, 0));
    for (int y = 0; y < height; ++y)
        std::memcpy(target + static_cast<std::ptrdiff_t>(y) * pitch,
                    scratch->data[0] + static_cast<std::ptrdiff_t>(y) * scratch->linesize[0], rowBytes);
    return true;
}

} // namespace ffmpeg
