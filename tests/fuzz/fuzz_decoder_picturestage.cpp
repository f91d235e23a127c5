// SPDX-License-Identifier: GPL-3.0-or-later
// Picture properties as a movie may state them (size, pixel format, colour codes, field flags,
// light levels in side data) and the settings, through the picture stage: a graph is made or
// refused, and a picture comes out of the size that went in or the stage passes it on as it is.
#include "decoder/UPictureStage.h"
#include "framework/FFmpegPtr.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Pictures stay small: the stage's cost is in its graphs, not in the pixels.
constexpr int MaxSide = 48;

// Reads the input front to back; zeros once it runs out.
class TBytes {
public:
    TBytes(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
    std::uint8_t Byte() { return FAt < FSize ? FData[FAt++] : 0; }
    int Int(int range) { return range > 0 ? static_cast<int>((Byte() | Byte() << 8) % range) : 0; }
    std::uint32_t Word() { return Byte() | Byte() << 8 | Byte() << 16 | static_cast<std::uint32_t>(Byte()) << 24; }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FAt = 0;
};

// A picture as the decoder would hand it over, with every property taken from the input.
ffmpeg::FramePtr MakePicture(TBytes& in)
{
    ffmpeg::FramePtr picture(av_frame_alloc());
    picture->width = 1 + in.Int(MaxSide);
    picture->height = 1 + in.Int(MaxSide);
    picture->format = in.Int(AV_PIX_FMT_NB);
    picture->color_primaries = static_cast<AVColorPrimaries>(in.Int(AVCOL_PRI_NB));
    picture->color_trc = static_cast<AVColorTransferCharacteristic>(in.Int(AVCOL_TRC_NB));
    picture->colorspace = static_cast<AVColorSpace>(in.Int(AVCOL_SPC_NB));
    picture->color_range = static_cast<AVColorRange>(in.Int(AVCOL_RANGE_NB));
    picture->interlaced_frame = in.Byte() & 1;
    picture->top_field_first = in.Byte() & 1;
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
    // Hardware and bitstream formats have no pixels in memory to filter.
    if (!format || (format->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM))
        || av_frame_get_buffer(picture.get(), 0) < 0)
        return nullptr;
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && picture->buf[plane]; ++plane)
        std::memset(picture->buf[plane]->data, in.Byte(), picture->buf[plane]->size);
    if (in.Byte() & 1) {
        if (auto* light = av_content_light_metadata_create_side_data(picture.get()))
            light->MaxCLL = in.Word();
    }
    if (in.Byte() & 1) {
        if (auto* mastering = av_mastering_display_metadata_create_side_data(picture.get())) {
            mastering->has_luminance = 1;
            mastering->max_luminance = {static_cast<int>(in.Word()), static_cast<int>(in.Word())};
        }
    }
    return picture;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TBytes in(data, size);
    TPictureStage stage;
    stage.SetSettings(TPictureSettings{static_cast<TDeinterlace>(in.Int(3)), (in.Byte() & 1) != 0});
    // A few pictures in a row: the graph is kept while they agree and made anew when they differ.
    ffmpeg::FramePtr previous;
    for (int i = 0; i < 3; ++i) {
        ffmpeg::FramePtr picture = MakePicture(in);
        if (!picture)
            break;
        PictureStage::FilterChain(TPictureProperties::Of(*picture), stage.Settings());
        // The size it is converted to: its own, or a smaller one as for a preview.
        const bool smaller = (in.Byte() & 1) != 0;
        const int width = smaller ? 1 + in.Int(picture->width) : picture->width;
        const int height = smaller ? 1 + in.Int(picture->height) : picture->height;
        const AVFrame& out = stage.Process(*picture, previous ? previous.get() : nullptr, nullptr, width, height);
        const bool ownSize = out.width == picture->width && out.height == picture->height;
        if (!ownSize && (out.width != width || out.height != height))
            std::abort();
        previous = std::move(picture);
    }
    return 0;
}
