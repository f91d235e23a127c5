#include "decoder/UPictureConverter.h"
#include "framework/TBitmap.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

// Tells the converter what the picture's samples mean, as FFmpeg's own conversion does: the
// matrix the stream names (BT.601 where it names none) and whether it uses the full range.
// Without this swscale takes every movie as BT.601 limited range, and HD movies come out with
// shifted colours. Pictures that are RGB already have nothing to describe, and a converter that
// refuses the description still converts.
void DescribeSourceColours(SwsContext* converter, const AVFrame& picture)
{
    const auto format = static_cast<AVPixelFormat>(picture.format);
    const bool fullRange = ColourCode(picture.color_range) == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P
        || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P
        || format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
    const int* matrix = sws_getCoefficients(ColourCode(picture.colorspace));
    // The target is RGB: its matrix is not used, and its range is the full one.
    sws_setColorspaceDetails(converter, matrix, fullRange ? 1 : 0, matrix, 1, 0, 1 << 16, 1 << 16);
}

} // namespace

bool TPictureConverter::Convert(const AVFrame& decoded, int width, int height,
                                std::uint8_t* firstRow, int pitch, TNeighbours neighbours)
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
                                        AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!FConverter)
            return false;
        DescribeSourceColours(FConverter.get(), picture);
        FSource = source;
    }
    std::uint8_t* const rows[4] = {firstRow, nullptr, nullptr, nullptr};
    const int pitches[4] = {pitch, 0, 0, 0};
    return sws_scale(FConverter.get(), picture.data, picture.linesize, 0, picture.height, rows,
                     pitches)
        >= 0;
}

bool TPictureConverter::ConvertInto(const AVFrame& picture, int width, int height, TBitmap& bitmap,
                                    TNeighbours neighbours)
{
    // The bitmap's rows are the conversion's target: blue, green, red, at its own pitch.
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    return Convert(picture, width, height, bitmap.ScanLine(0), bitmap.BytesPerLine(), neighbours);
}

void TPictureConverter::Reset()
{
    FConverter.reset();
    FSource = {};
    FStage.Reset();
}
