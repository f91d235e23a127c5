// SPDX-License-Identifier: GPL-3.0-or-later
// The face of the decoder: opening and closing, what is known of the open movie, and each
// request handed to the path that serves it (FFmpeg or AVIFile, plain or exact).
#include "decoder/UMovieDecoder.h"
#include "decoder/MovieDecoderState.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstring>

TMovieDecoder::TMovieDecoder()
    : FBitmap(std::make_unique<TBitmap>())
    , FPreview(std::make_unique<TBitmap>())
    , FState(std::make_unique<TState>())
{
    // FFmpeg 5 registers its formats and codecs itself; nothing to call before the first use.
}

TMovieDecoder::~TMovieDecoder()
{
    // Nobody is left to ask for the full picture.
    FState->BitmapPending = false;
    if (FIsOpen)
        Close();
}

bool TMovieDecoder::Open(const std::string& FileName)
{
    if (FIsOpen)
        Close();
    // A preview size fits one movie's pictures; the next movie's come full size until its own
    // is set.
    FState->PreviewWidth = 0;
    FState->PreviewHeight = 0;
    FState->UsesAVIFile = false;
    FOpenError.clear();
    if (OpenWithFFmpeg(FileName))
        return true;
    ReleaseFFmpeg();
    // The AVIFile service reads under deadlines of its own that know nothing of a stop.
    if (FState->StopAsked())
        return false;
    return OpenWithAVIFile(FileName);
}

bool TMovieDecoder::Close()
{
    if (!FIsOpen)
        return true;
    bool released = true;
    try {
        // Close keeps the last picture on Bitmap.
        MakePendingBitmap();
        FPreview->SetSize(0, 0);
        ReleaseFFmpeg();
        ReleaseAVIFile();
    } catch (...) {
        released = false;
    }
    // Owners that a throwing release skipped still let go here, so nothing leaks.
    ReleaseFFmpeg();
    FFileName.clear();
    FIsOpen = false;
    return released;
}

std::int32_t TMovieDecoder::Duration() const
{
    if (!FIsOpen)
        return -1;
    if (FState->UsesAVIFile)
        return AVIStreamSampleToTime(FState->AVIStream.get(),
                                     static_cast<std::int32_t>(FState->LastSample - FState->StartOffset));
    if (!FState->FormatContext)
        return -1;
    return MovieTime::DurationMs(FState->DurationUs);
}

TDisplayTransform TMovieDecoder::DisplayTransform() const
{
    const TState& s = *FState;
    if (!FIsOpen || s.UsesAVIFile || !s.FormatContext)
        return {};
    AVStream* stream = s.Stream();
    std::size_t matrixSize = 0;
    const std::uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize);
    int rotation = 0;
    bool mirrored = false;
    if (matrix && matrixSize >= 9 * sizeof(std::int32_t)) {
        std::int32_t values[9];
        std::memcpy(values, matrix, sizeof values);
        rotation = DisplayGeometry::RotationOfDisplayMatrix(values);
        mirrored = DisplayGeometry::IsMirroringDisplayMatrix(values);
    }
    AVFrame* shown = s.DecodedFrame && s.DecodedFrame->data[0] ? s.DecodedFrame.get() : nullptr;
    const AVRational aspect = av_guess_sample_aspect_ratio(s.FormatContext.get(), stream, shown);
    return DisplayGeometry::MakeTransform(rotation, aspect.num, aspect.den, mirrored);
}

bool TMovieDecoder::UsesAVIFile() const
{
    return FState->UsesAVIFile;
}

std::int32_t TMovieDecoder::Width() const
{
    if (!FIsOpen)
        return -1;
    if (FState->UsesAVIFile)
        return FState->AVIWidth;
    return FState->CodecContext ? FState->FrameWidth : -1;
}

std::int32_t TMovieDecoder::Height() const
{
    if (!FIsOpen)
        return -1;
    if (FState->UsesAVIFile)
        return FState->AVIHeight;
    return FState->CodecContext ? FState->FrameHeight : -1;
}

bool TMovieDecoder::DecodeFrame(std::int32_t TimeMs)
{
    if (!FIsOpen)
        return false;
    // AVIFile requests are exact by nature: every sample is a picture of its own.
    if (FExact && !FState->UsesAVIFile) {
        const TState& s = *FState;
        const AVRational timeBase = s.Stream()->time_base;
        return ShownFullSize(DecodeExactly(MovieTime::ExactTargetUnits(TimeMs, timeBase.num, timeBase.den, s.StreamStart)));
    }
    if (!SeekTo(TimeMs))
        return false;
    return RenderFrame();
}

const TBitmap& TMovieDecoder::Bitmap() const
{
    MakePendingBitmap();
    return *FBitmap;
}

void TMovieDecoder::SetPreviewSize(QSize size)
{
    TState& s = *FState;
    s.PreviewWidth = size.isValid() ? size.width() : 0;
    s.PreviewHeight = size.isValid() ? size.height() : 0;
}

bool TMovieDecoder::PreviewWanted() const
{
    const TState& s = *FState;
    return s.PreviewWidth > 0 && s.PreviewHeight > 0 && s.PreviewWidth <= s.FrameWidth
        && s.PreviewHeight <= s.FrameHeight
        && (s.PreviewWidth < s.FrameWidth || s.PreviewHeight < s.FrameHeight);
}

bool TMovieDecoder::ShownFullSize(bool shown)
{
    TState& s = *FState;
    if (!shown)
        return false;
    s.BitmapPending = false;
    if (s.PendingFrame)
        av_frame_unref(s.PendingFrame.get());
    if (s.PendingPrevious)
        av_frame_unref(s.PendingPrevious.get());
    FPreview->SetSize(0, 0);
    return true;
}

void TMovieDecoder::MakePendingBitmap() const
{
    TState& s = *FState;
    if (!s.BitmapPending)
        return;
    s.BitmapPending = false;
    try {
        const AVFrame* previous = s.PendingPrevious->data[0] ? s.PendingPrevious.get() : nullptr;
        // A conversion that fails leaves the picture before on Bitmap, as a failed request does.
        s.Converter.ConvertInto(*s.PendingFrame, s.FrameWidth, s.FrameHeight, *FBitmap, {previous, nullptr});
    } catch (...) {
    }
}

bool TMovieDecoder::SeekTo(std::int32_t TimeMs)
{
    if (FState->UsesAVIFile)
        return SeekAVIFile(TimeMs);
    return SeekWithFFmpeg(TimeMs);
}

bool TMovieDecoder::RenderFrame()
{
    if (FState->UsesAVIFile)
        return ShownFullSize(RenderAVIFileFrame());
    return RenderWithFFmpeg();
}

std::int32_t TMovieDecoder::FrameTimeMs() const
{
    const TState& s = *FState;
    if (!FIsOpen)
        return -1;
    if (s.UsesAVIFile)
        return s.ShownSample < 0 ? -1 : AVIStreamSampleToTime(s.AVIStream.get(), static_cast<std::int32_t>(s.ShownSample - s.StartOffset));
    if (s.ShownPts == AV_NOPTS_VALUE)
        return -1;
    return MovieTime::PictureTimeMs(s.ShownPts, s.StreamStart, s.Stream()->time_base.num, s.Stream()->time_base.den);
}

void TMovieDecoder::SetMaxPicturePixels(std::int64_t pixels)
{
    FState->MaxPicturePixels = std::max<std::int64_t>(pixels, 1);
}

void TMovieDecoder::SetCacheLimit(std::int64_t bytes)
{
    FState->CacheLimitChosen = true;
    FState->Cache.SetLimit(bytes);
}

std::int64_t TMovieDecoder::CacheLimit() const
{
    return FState->Cache.Limit();
}

std::int64_t TMovieDecoder::CachedBytes() const
{
    return FState->Cache.Bytes();
}

std::int64_t TMovieDecoder::DecodedPictures() const
{
    return FState->PicturesDecoded;
}

void TMovieDecoder::SetStopSignal(const std::atomic<bool>* stop)
{
    FState->Stop = stop;
}

void TMovieDecoder::SetFirstLook(TFirstLook look)
{
    FState->FirstLook = std::move(look);
}

bool TMovieDecoder::StopAsked() const
{
    return FState->StopAsked();
}

void TMovieDecoder::SetCallTimeLimit(int milliseconds)
{
    FState->CallTimeLimit = std::chrono::milliseconds(milliseconds);
}

void TMovieDecoder::SetDecodingThreads(int count)
{
    FState->RequestedThreads = std::max(0, count);
}

void TMovieDecoder::SetLooksOnly(bool on)
{
    FState->LooksOnly = on;
}

int TMovieDecoder::DecodingThreads() const
{
    const TState& s = *FState;
    return FIsOpen && !s.UsesAVIFile && s.CodecContext ? s.CodecContext->thread_count : 0;
}

void TMovieDecoder::SetPictureSettings(const TPictureSettings& settings)
{
    TState& s = *FState;
    if (settings == s.Converter.Stage().Settings())
        return;
    // The picture on screen was made under the settings before.
    MakePendingBitmap();
    s.Converter.Stage().SetSettings(settings);
    // Kept pictures were made under the old settings; the next request makes them anew.
    s.Cache.Clear();
}

void TMovieDecoder::SetDeinterlace(TDeinterlace mode)
{
    TPictureSettings settings = FState->Converter.Stage().Settings();
    settings.Deinterlace = mode;
    SetPictureSettings(settings);
}

TDeinterlace TMovieDecoder::Deinterlace() const
{
    return FState->Converter.Stage().Settings().Deinterlace;
}

void TMovieDecoder::SetToneMapping(bool on)
{
    TPictureSettings settings = FState->Converter.Stage().Settings();
    settings.ToneMapping = on;
    SetPictureSettings(settings);
}

bool TMovieDecoder::ToneMapping() const
{
    return FState->Converter.Stage().Settings().ToneMapping;
}
