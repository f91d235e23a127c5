// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UPictureStage.h"
#include "decoder/UFFmpegLog.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/cpu.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// Stills of HDR movies that name no peak are taken as mastered for this bright a display, the
// usual HDR10 grade; HLG's nominal display peak is the same.
constexpr int AssumedPeakNits = 1000;
// SDR white in cd/m²: linear light 1.0 after the first conversion.
constexpr int ReferenceWhiteNits = 100;
// A stated peak outside these is a damaged or made-up value: below SDR white the tone-mapping
// curve would brighten instead of compress, and no display is made beyond the upper one.
constexpr int LeastPeakNits = ReferenceWhiteNits;
constexpr int GreatestPeakNits = 100000;
// The deinterlacer needs planes of at least this many columns and lines; smaller pictures (a few
// pixels, whose fields say nothing) go on as they are.
constexpr int LeastFieldColumns = 3;
constexpr int LeastFieldLines = 4;
// Pictures without a colour matrix that are this wide or wider, or taller than this, are taken
// as HD (BT.709), the others as SD (BT.601).
constexpr int SmallestHDWidth = 1280;
constexpr int LargestSDHeight = 576;

// zimg's widest vector code loads rows with aligned instructions, and FFmpeg's zscale filter copies
// only rows aligned to less than half of that: a picture on av_frame_get_buffer's default rows
// (found by fuzzing) crashed it. Our decoders' pools align for the widest registers, not every
// source of pictures does; such a picture goes in as a copy on rows aligned for them.
ffmpeg::FramePtr ColourFilterInput(const AVFrame& picture)
{
    const auto alignment = static_cast<std::ptrdiff_t>(av_cpu_max_align());
    bool aligned = true;
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && picture.data[plane]; ++plane)
        aligned = aligned && reinterpret_cast<std::uintptr_t>(picture.data[plane]) % alignment == 0
            && picture.linesize[plane] % alignment == 0;
    if (aligned)
        return ffmpeg::FramePtr(av_frame_clone(&picture));
    ffmpeg::FramePtr copy(av_frame_alloc());
    if (!copy)
        return nullptr;
    copy->format = picture.format;
    copy->width = picture.width;
    copy->height = picture.height;
    if (av_frame_get_buffer(copy.get(), static_cast<int>(alignment)) < 0 || av_frame_copy(copy.get(), &picture) < 0
        || av_frame_copy_props(copy.get(), &picture) < 0)
        return nullptr;
    return copy;
}

bool IsHDRTransfer(int transfer)
{
    return transfer == AVCOL_TRC_SMPTE2084 || transfer == AVCOL_TRC_ARIB_STD_B67;
}

bool IsPlausiblePeak(double nits)
{
    return nits >= LeastPeakNits && nits <= GreatestPeakNits;
}

int PeakNitsOf(const AVFrame& picture)
{
    if (const AVFrameSideData* data = av_frame_get_side_data(&picture, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
        data && data->size >= sizeof(AVContentLightMetadata)) {
        const auto* light = reinterpret_cast<const AVContentLightMetadata*>(data->data);
        if (IsPlausiblePeak(light->MaxCLL))
            return static_cast<int>(light->MaxCLL);
    }
    if (const AVFrameSideData* data = av_frame_get_side_data(&picture, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
        data && data->size >= sizeof(AVMasteringDisplayMetadata)) {
        const auto* mastering = reinterpret_cast<const AVMasteringDisplayMetadata*>(data->data);
        if (mastering->has_luminance && mastering->max_luminance.den > 0) {
            const double nits = av_q2d(mastering->max_luminance);
            if (IsPlausiblePeak(nits))
                return static_cast<int>(nits + 0.5);
        }
    }
    return 0;
}

// zscale's input description. zimg numbers transfers, primaries and matrices as H.273 does,
// as FFmpeg does; what the stream leaves unspecified is guessed as the plain conversion would.
bool HasRoomForFields(const TPictureProperties& p)
{
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(p.Format));
    if (!format)
        return false;
    return AV_CEIL_RSHIFT(p.Width, format->log2_chroma_w) >= LeastFieldColumns
        && AV_CEIL_RSHIFT(p.Height, format->log2_chroma_h) >= LeastFieldLines;
}

// Whether this picture is deinterlaced: as the setting says, when it is large enough.
bool SplitsFields(const TPictureProperties& p, const TPictureSettings& settings)
{
    return PictureStage::Deinterlaces(p.Interlaced, settings) && HasRoomForFields(p);
}

bool IsFloatingPoint(const TPictureProperties& p)
{
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(p.Format));
    return format && (format->flags & AV_PIX_FMT_FLAG_FLOAT);
}

bool IsFullRange(const TPictureProperties& p)
{
    return IsFullRangePicture(p.Range, p.Format);
}

std::string ZscaleInput(const TPictureProperties& p, int primaries, int transfer)
{
    int matrix = ColourMatrixOf(p.Matrix, p.Width, p.Height);
    const bool full = IsFullRange(p);
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(p.Format));
    if (format && (format->flags & AV_PIX_FMT_FLAG_RGB))
        matrix = AVCOL_SPC_RGB;
    return "tin=" + std::to_string(transfer) + ":pin=" + std::to_string(primaries) + ":min="
        + std::to_string(matrix) + ":rin=" + (full ? "full" : "limited");
}

// zimg takes subsampled pictures only in whole chroma samples; odd sizes are brought to 4:4:4
// first, at 16 bits so that nothing is lost before the colour conversion. The scaler is told to
// keep the samples' range: left to itself it may take them for limited range, or make them so,
// and zscale is told the range of the source.
std::string WholeChroma(const TPictureProperties& p)
{
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(p.Format));
    if (!format)
        return {};
    const int across = (1 << format->log2_chroma_w) - 1;
    const int down = (1 << format->log2_chroma_h) - 1;
    if ((p.Width & across) == 0 && (p.Height & down) == 0)
        return {};
    const std::string range = IsFullRange(p) ? "full" : "limited";
    return "scale=in_range=" + range + ":out_range=" + range + ",format=yuv444p16le,";
}

void Append(std::string& chain, const std::string& filter)
{
    if (!chain.empty())
        chain += ',';
    chain += filter;
}

} // namespace

bool IsFullRangePicture(int range, int format)
{
    return range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P
        || format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
}

int ColourMatrixOf(int statedMatrix, int width, int height)
{
    if (statedMatrix != AVCOL_SPC_UNSPECIFIED && statedMatrix != AVCOL_SPC_RESERVED)
        return statedMatrix;
    return width >= SmallestHDWidth || height > LargestSDHeight ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
}

TPictureProperties TPictureProperties::Of(const AVFrame& picture)
{
    TPictureProperties p;
    p.Width = picture.width;
    p.Height = picture.height;
    p.Format = picture.format;
    p.Primaries = ColourCode(picture.color_primaries);
    p.Transfer = ColourCode(picture.color_trc);
    p.Matrix = ColourCode(picture.colorspace);
    p.Range = ColourCode(picture.color_range);
    p.Interlaced = picture.interlaced_frame != 0;
    p.TopFieldFirst = picture.top_field_first != 0;
    if (IsHDRTransfer(p.Transfer))
        p.PeakNits = PeakNitsOf(picture);
    return p;
}

bool PictureStage::Deinterlaces(bool interlaced, const TPictureSettings& settings)
{
    return settings.Deinterlace == TDeinterlace::Always
        || (settings.Deinterlace == TDeinterlace::Auto && interlaced);
}

TPictureProperties PictureStage::Deciding(TPictureProperties p, const TPictureSettings& settings)
{
    switch (settings.Deinterlace) {
    case TDeinterlace::Never:
        p.Interlaced = false;
        p.TopFieldFirst = true;
        break;
    case TDeinterlace::Always: {
        // Only the field order counts, and only a picture flagged interlaced has one.
        const bool bottomFirst = p.Interlaced && !p.TopFieldFirst;
        p.Interlaced = bottomFirst;
        p.TopFieldFirst = !bottomFirst;
        break;
    }
    case TDeinterlace::Auto:
        if (!p.Interlaced)
            p.TopFieldFirst = true;
        break;
    }
    return p;
}

std::string PictureStage::FilterChain(const TPictureProperties& p, const TPictureSettings& settings,
                                      const std::string& deinterlacer)
{
    std::string chain;
    const bool deinterlace = SplitsFields(p, settings);
    // One picture out for each in, both fields rebuilt into it. A picture flagged progressive
    // that is deinterlaced all the same has no field order of its own: top first is the usual.
    // Which pictures are rebuilt is the stage's to say, by the flag it gives each one it sends.
    if (deinterlace)
        chain = deinterlacer + "=mode=send_frame:deint=interlaced:parity="
            + (p.Interlaced && !p.TopFieldFirst ? "bff" : "tff");
    // zimg has crashed on floating-point pictures (found by fuzzing); the few sources of them
    // (EXR, PFM) keep the plain conversion's colours.
    if (!settings.ToneMapping || IsFloatingPoint(p))
        return chain;
    if (IsHDRTransfer(p.Transfer)) {
        const int primaries = p.Primaries == AVCOL_PRI_UNSPECIFIED ? AVCOL_PRI_BT2020 : p.Primaries;
        const int peakNits = p.PeakNits > 0 ? p.PeakNits : AssumedPeakNits;
        // Tone mapping works in linear light with 1.0 as SDR white, in floats so that the 10 or
        // 12 bits of the source survive until the last step; the bitmap's 8 bits come once, at
        // the end. Mobius keeps everything below a knee linear, so skin and mid-tones keep the
        // brightness they were graded with, and only highlights are compressed.
        Append(chain, WholeChroma(p) + "zscale=" + ZscaleInput(p, primaries, p.Transfer)
                          + ":t=linear:p=bt709:npl=" + std::to_string(ReferenceWhiteNits)
                          + ",format=gbrpf32le,tonemap=tonemap=mobius:desat=0:peak="
                          + std::to_string(static_cast<double>(peakNits) / ReferenceWhiteNits)
                          + ",zscale=tin=linear:pin=bt709:t=bt709:p=bt709:npl="
                          + std::to_string(ReferenceWhiteNits) + ",format=gbrp");
    } else if (p.Primaries == AVCOL_PRI_BT2020) {
        // SDR in the wide gamut: the same light in BT.709 primaries, no tone mapping.
        const int transfer = p.Transfer == AVCOL_TRC_UNSPECIFIED || p.Transfer == AVCOL_TRC_RESERVED
            ? AVCOL_TRC_BT709
            : p.Transfer;
        Append(chain, WholeChroma(p) + "zscale=" + ZscaleInput(p, p.Primaries, transfer)
                          + ":t=bt709:p=bt709,format=gbrp");
    }
    return chain;
}

void TPictureStage::SetSettings(const TPictureSettings& settings)
{
    if (settings == FSettings)
        return;
    FSettings = settings;
    Reset();
}

std::string PictureStage::UnknownFilter(const std::string& chain)
{
    std::size_t at = 0;
    while (at < chain.size()) {
        const std::size_t end = std::min(chain.find(',', at), chain.size());
        const std::string name = chain.substr(at, std::min(chain.find('=', at), end) - at);
        if (!name.empty() && !avfilter_get_by_name(name.c_str()))
            return name;
        at = end + 1;
    }
    return {};
}

void TPictureStage::SetDeinterlacer(std::string name)
{
    FDeinterlacer = std::move(name);
    Reset();
}

void TPictureStage::Reset()
{
    FFields.Reset();
    FColours.Reset();
    FMade = false;
    FMadeFor = {};
    FMadeWidth = FMadeHeight = 0;
}

void TFilterGraph::Reset()
{
    FSource = nullptr;
    FSink = nullptr;
    FGraph.reset();
    FOutput.reset();
}

int TFilterGraph::Build(const std::string& chain, const TPictureProperties& p)
{
    Reset();
    FGraph.reset(avfilter_graph_alloc());
    if (!FGraph)
        return AVERROR(ENOMEM);
    // Stills are made on the caller's thread; a graph of its own threads would only compete.
    FGraph->nb_threads = 1;
    const std::string sourceArguments = "video_size=" + std::to_string(p.Width) + "x"
        + std::to_string(p.Height) + ":pix_fmt=" + std::to_string(p.Format)
        + ":time_base=1/25:pixel_aspect=1/1";
    int status = avfilter_graph_create_filter(&FSource, avfilter_get_by_name("buffer"), "in",
                                              sourceArguments.c_str(), nullptr, FGraph.get());
    if (status >= 0)
        status = avfilter_graph_create_filter(&FSink, avfilter_get_by_name("buffersink"), "out",
                                              nullptr, nullptr, FGraph.get());
    if (status < 0)
        return status;
    ffmpeg::FilterInOutPtr outputs(avfilter_inout_alloc());
    ffmpeg::FilterInOutPtr inputs(avfilter_inout_alloc());
    if (!outputs || !inputs)
        return AVERROR(ENOMEM);
    outputs->name = av_strdup("in");
    outputs->filter_ctx = FSource;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = FSink;
    AVFilterInOut* open = outputs.release();
    AVFilterInOut* close = inputs.release();
    const int parsed = avfilter_graph_parse_ptr(FGraph.get(), chain.c_str(), &close, &open, nullptr);
    // Whatever the parser left unconnected comes back to us to free.
    outputs.reset(open);
    inputs.reset(close);
    if (parsed < 0)
        return parsed;
    return avfilter_graph_config(FGraph.get(), nullptr);
}

bool TFilterGraph::Push(ffmpeg::FramePtr picture)
{
    FOutput.reset();
    if (!FGraph || av_buffersrc_add_frame_flags(FSource, picture.get(), AV_BUFFERSRC_FLAG_PUSH) < 0)
        return false;
    ffmpeg::FramePtr out(av_frame_alloc());
    if (!out)
        return false;
    while (av_buffersink_get_frame(FSink, out.get()) >= 0) {
        FOutput = std::move(out);
        out.reset(av_frame_alloc());
        if (!out)
            return false;
    }
    return true;
}

void TPictureStage::Make(const TPictureProperties& properties, int width, int height)
{
    Reset();
    ++FBuilds;
    FMade = true;
    FMadeFor = properties;
    FMadeWidth = width;
    FMadeHeight = height;
    const std::string chain = PictureStage::FilterChain(properties, FSettings, FDeinterlacer);
    std::string fields;
    std::string colours = chain;
    if (SplitsFields(properties, FSettings)) {
        const std::size_t end = chain.find(',');
        fields = chain.substr(0, end);
        colours = end == std::string::npos ? std::string() : chain.substr(end + 1);
    }
    // The first colour conversion scales too: the float steps after it then work on the
    // pixels shown, and the picture reaches the last conversion at its size.
    const std::size_t firstScale = colours.find("zscale=");
    if (firstScale != std::string::npos && width > 0 && height > 0 && width < properties.Width
        && height < properties.Height)
        colours.insert(firstScale + 7, "w=" + std::to_string(width) + ":h=" + std::to_string(height) + ":");
    // The filters' own complaints would be several lines, some of them about our internals; the
    // one line below carries their reason. Only this thread's are held back (the level is the
    // whole process's, and other threads' errors must still be heard), and a filter this FFmpeg
    // lacks is found before the parser would say so to whatever handler is installed.
    int built = PictureStage::UnknownFilter(chain).empty() ? 0 : AVERROR_FILTER_NOT_FOUND;
    {
        const TQuietFFmpegLog quiet;
        if (built >= 0 && !fields.empty())
            built = FFields.Build(fields, properties);
        if (built >= 0 && !colours.empty())
            built = FColours.Build(colours, properties);
    }
    if (built >= 0)
        return;
    FFields.Reset();
    FColours.Reset();
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(built, reason, sizeof reason);
    const char* format = av_get_pix_fmt_name(static_cast<AVPixelFormat>(properties.Format));
    av_log(nullptr, AV_LOG_ERROR,
           "picture stage: no filter graph for %dx%d %s pictures (%s: %s); they are converted as "
           "decoded\n",
           properties.Width, properties.Height, format ? format : "?", reason, chain.c_str());
}

bool TPictureStage::PushField(const AVFrame& picture, const AVFrame& shape, bool made)
{
    // A neighbour of another size or format (a stream that changes) cannot share the graph.
    const AVFrame& source = picture.width == shape.width && picture.height == shape.height
            && picture.format == shape.format
        ? picture
        : shape;
    ffmpeg::FramePtr copy(av_frame_clone(&source));
    if (!copy)
        return false;
    copy->pts = FPushed++;
    // The deinterlacer rebuilds only pictures flagged interlaced and lets the others through as
    // they are: flagging just the one made costs one deinterlacing a still, not one a push.
    copy->repeat_pict = 0;
#ifdef AV_FRAME_FLAG_INTERLACED
    copy->flags = made ? copy->flags | AV_FRAME_FLAG_INTERLACED : copy->flags & ~AV_FRAME_FLAG_INTERLACED;
#else
    copy->interlaced_frame = made ? 1 : 0;
#endif
    return FFields.Push(std::move(copy));
}

const AVFrame* TPictureStage::Deinterlaced(const AVFrame& picture, const AVFrame* previous,
                                           const AVFrame* next)
{
    // The deinterlacer answers a picture once it has seen the next: whatever it holds from
    // earlier pictures leaves with the first two pushes, and the third brings out this picture
    // made from its true neighbours.
    const bool pushed = PushField(previous ? *previous : picture, picture, false)
        && PushField(picture, picture, true) && PushField(next ? *next : picture, picture, false);
    return pushed ? FFields.Output() : nullptr;
}

const AVFrame& TPictureStage::Process(const AVFrame& picture, const AVFrame* previous,
                                      const AVFrame* next, int width, int height)
{
    const TPictureProperties properties = PictureStage::Deciding(TPictureProperties::Of(picture), FSettings);
    if (!FMade || !(properties == FMadeFor) || width != FMadeWidth || height != FMadeHeight)
        Make(properties, width, height);
    if (!FFields && !FColours)
        return picture;
    const AVFrame* made = FFields ? Deinterlaced(picture, previous, next) : &picture;
    if (made && FColours) {
        ffmpeg::FramePtr copy = ColourFilterInput(*made);
        if (copy)
            copy->pts = FPushed++;
        made = copy && FColours.Push(std::move(copy)) ? FColours.Output() : nullptr;
    }
    if (!made) {
        // Not tried again for these pictures: a graph per picture would cost more than it gives.
        FFields.Reset();
        FColours.Reset();
        av_log(nullptr, AV_LOG_ERROR,
               "picture stage: the filters gave no picture; pictures are converted as decoded\n");
        return picture;
    }
    return *made;
}
