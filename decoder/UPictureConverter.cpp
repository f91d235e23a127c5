// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UPictureConverter.h"
#include "decoder/UPictureRows.h"
#include "framework/FFmpegRows.h"
#include "framework/TBitmap.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

// Tells the converter what the picture's samples mean, as FFmpeg's own conversion does: the
// matrix the stream names (guessed from the size where it names none) and whether it uses the
// full range. Without this swscale takes every movie as BT.601 limited range, and HD movies come
// out with shifted colours. Pictures that are RGB already have nothing to describe, and a
// converter that refuses the description still converts.
void DescribeSourceColours(SwsContext* converter, const AVFrame& picture)
{
    const bool fullRange = IsFullRangePicture(ColourCode(picture.color_range), picture.format);
    const int* matrix = sws_getCoefficients(ColourMatrixOf(ColourCode(picture.colorspace), picture.width, picture.height));
    // The target is RGB: its matrix is not used, and its range is the full one.
    sws_setColorspaceDetails(converter, matrix, fullRange ? 1 : 0, matrix, 1, 0, 1 << 16, 1 << 16);
}

constexpr AVPixelFormat RowFormat = AV_PIX_FMT_BGR24;

// Rows with FFmpeg's room for a picture of width x height that the cache may keep; full-size
// pictures get rows of their own mapping, ready to be written, which go back to the system when
// the cache lets them go.
QImage RowsWithRoom(int width, int height)
{
    const int pitch = ffmpeg::RowPitch(width, RowFormat);
    if (pitch <= 0 || height <= 0)
        return {};
    const std::size_t bytes = static_cast<std::size_t>(pitch) * static_cast<std::size_t>(height) + ffmpeg::RowSlack(pitch);
    return bytes >= PictureRows::MappedFromBytes ? PictureRows::Make(width, height, pitch, bytes, QImage::Format_BGR888)
                                                 : ffmpeg::ImageWithRoom(width, height, QImage::Format_BGR888, RowFormat);
}

} // namespace

bool TPictureConverter::ConvertRows(const AVFrame& decoded, int width, int height, std::uint8_t* firstRow,
                                    int pitch, bool hasRoom, TNeighbours neighbours)
{
    const AVFrame& picture = FStage.Process(decoded, neighbours.Previous, neighbours.Next, width, height);
    // The decoder may put out another size or format than it announced (a damaged or changing
    // stream); converting from what the picture really is keeps reads in bounds.
    const TSource source{picture.width, picture.height, picture.format, ColourCode(picture.colorspace),
                         ColourCode(picture.color_range), width, height};
    if (!FConverter || !(source == FSource)) {
        FSource = {};
        FConverter.reset(sws_getContext(picture.width, picture.height,
                                        static_cast<AVPixelFormat>(picture.format), width, height,
                                        RowFormat, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!FConverter)
            return false;
        DescribeSourceColours(FConverter.get(), picture);
        FSource = source;
    }
    return ffmpeg::ScaleInto(*FConverter, picture.data, picture.linesize, picture.height, firstRow, pitch,
                             width, height, RowFormat, hasRoom, FScratch);
}

bool TPictureConverter::Convert(const AVFrame& picture, int width, int height, std::uint8_t* firstRow,
                                int pitch, TNeighbours neighbours)
{
    return ConvertRows(picture, width, height, firstRow, pitch, false, neighbours);
}

bool TPictureConverter::ConvertInto(const AVFrame& picture, int width, int height, TBitmap& bitmap,
                                    TNeighbours neighbours)
{
    if (!bitmap.HasRowsWithRoom() || bitmap.Width() != width || bitmap.Height() != height) {
        // The bitmap's rows are let go and made again picture after picture (whenever a copy
        // shares them): the heap hands back the same warm pages, where a mapping of its own
        // would be zeroed afresh each time.
        QImage rows = ffmpeg::ImageWithRoom(width, height, QImage::Format_BGR888, RowFormat);
        if (rows.isNull())
            return false;
        bitmap.TakeRowsWithRoom(std::move(rows));
    }
    return ConvertRows(picture, width, height, bitmap.ScanLine(0), bitmap.BytesPerLine(), true, neighbours);
}

QImage TPictureConverter::ConvertToImage(const AVFrame& picture, int width, int height, TNeighbours neighbours,
                                         QImage rows)
{
    const bool reusable = !rows.isNull() && rows.isDetached() && rows.width() == width && rows.height() == height
        && rows.format() == QImage::Format_BGR888 && rows.bytesPerLine() == ffmpeg::RowPitch(width, RowFormat);
    if (!reusable)
        rows = RowsWithRoom(width, height);
    if (rows.isNull()
        || !ConvertRows(picture, width, height, rows.bits(), static_cast<int>(rows.bytesPerLine()), true, neighbours))
        return {};
    return rows;
}

void TPictureConverter::Reset()
{
    FConverter.reset();
    FSource = {};
    FScratch.reset();
    FStage.Reset();
}
