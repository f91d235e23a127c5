// SPDX-License-Identifier: GPL-3.0-or-later
// The AVIFile path: AVI files whose codecs FFmpeg leaves to the platform are opened, positioned
// and rendered through the AVIFile service, one sample a picture.
#include "decoder/MovieDecoderState.h"
#include "framework/StretchDIBits.h"

#include <QBuffer>
#include <QColor>
#include <QFileDevice>
#include <QRect>

#include <algorithm>
#include <cstdlib>
#include <cstring>

struct TMovieDecoder::TAVIHandles {
    avifile::FilePtr File;
    avifile::StreamPtr Stream;
};

bool TMovieDecoder::OpenWithAVIFile(const std::string& FileName)
{
    TState& s = *FState;
    s.AVIStream.reset();
    s.AVIFile.reset();
    TAVIHandles handles;
    try {
        if (!OpenAVIFileSteps(FileName, handles))
            return false; // the local handles release the stream and the file
    } catch (...) {
        return false;
    }
    s.AVIFile = std::move(handles.File);
    s.AVIStream = std::move(handles.Stream);
    return true;
}

bool TMovieDecoder::OpenAVIFileSteps(const std::string& FileName, TAVIHandles& Handles)
{
    TState& s = *FState;
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, FileName.c_str(), OF_SHARE_DENY_WRITE) != AVIERR_OK)
        return false;
    Handles.File.reset(file);
    AVIFILEINFOA info{};
    if (AVIFileInfoA(file, &info, sizeof info) != AVIERR_OK)
        return false;

    // The video stream with the lowest priority wins; among equals the first.
    std::uint16_t chosenPriority = 0;
    for (std::uint32_t i = 0; i < info.dwStreams; ++i) {
        PAVISTREAM candidate = nullptr;
        if (AVIFileGetStream(file, &candidate, 0, static_cast<std::int32_t>(i)) != AVIERR_OK)
            return false;
        avifile::StreamPtr stream(candidate);
        AVISTREAMINFOA streamInfo{};
        if (AVIStreamInfoA(candidate, &streamInfo, sizeof streamInfo) != AVIERR_OK)
            return false;
        if (streamInfo.fccType == streamtypeVIDEO && (!Handles.Stream || streamInfo.wPriority < chosenPriority)) {
            Handles.Stream = std::move(stream);
            chosenPriority = streamInfo.wPriority;
        }
    }
    if (!Handles.Stream)
        return false;
    PAVISTREAM stream = Handles.Stream.get();

    s.StartOffset = AVIStreamStart(stream);
    s.LastSample = static_cast<std::int32_t>(s.StartOffset + AVIStreamLength(stream) - 1);

    // The first picture must decompress.
    {
        const avifile::GetFramePtr getter(AVIStreamGetFrameOpen(stream, nullptr));
        if (!getter || !AVIStreamGetFrame(getter.get(), static_cast<std::int32_t>(s.StartOffset)))
            return false;
    }
    // The size comes from the last picture, as the bitmap class reads it.
    {
        const avifile::GetFramePtr getter(AVIStreamGetFrameOpen(stream, nullptr));
        if (!getter)
            return false;
        const void* last = AVIStreamGetFrame(getter.get(), s.LastSample);
        if (!last)
            return false;
        QBuffer image;
        image.open(QIODevice::ReadWrite);
        WriteBitmapFileImage(image, last);
        TBitmap picture;
        picture.LoadFromStream(image);
        picture.SetPixelFormat(TPixelFormat::pf24bit);
        s.AVIWidth = picture.Width();
        s.AVIHeight = picture.Height();
    }

    FFileName = FileName;
    FIsOpen = true;
    s.UsesAVIFile = true;
    FBitmap->SetPixelFormat(TPixelFormat::pf24bit);
    FBitmap->SetSize(s.AVIWidth, s.AVIHeight);
    FBitmap->FillRect(QRect(0, 0, s.AVIWidth + 1, s.AVIHeight + 1), Qt::black);
    return true;
}

void TMovieDecoder::WriteBitmapFileImage(TStream& Stream, const void* Block)
{
    BITMAPINFOHEADER header{};
    std::memcpy(&header, Block, sizeof header);
    std::int64_t colourBytes = 0;
    if (header.biClrUsed != 0)
        colourBytes = std::int64_t{header.biClrUsed} * 4;
    else if (header.biBitCount <= 8 && header.biBitCount > 0)
        colourBytes = (std::int64_t{1} << header.biBitCount) * 4;
    else if ((header.biBitCount == 16 || header.biBitCount == 32) && header.biCompression != BI_RGB)
        colourBytes = 3 * 4; // the bit-field masks
    const std::int64_t imageBytes = header.biSizeImage != 0
        ? std::int64_t{header.biSizeImage}
        : std::abs(std::int64_t{header.biHeight}) * DIBRowStride(header.biWidth, header.biBitCount);
    // The 40-byte info header is counted whatever size the block's header claims.
    const std::int64_t offBits = std::int64_t{sizeof(BITMAPFILEHEADER)} + std::int64_t{sizeof(BITMAPINFOHEADER)} + colourBytes;
    const std::int64_t fileSize = offBits + imageBytes;

    Stream.seek(0);
    // A buffer is sized once and overwritten in place: emptying it first would let it give its
    // memory back, and every picture would be copied into freshly faulted pages.
    if (auto* buffer = qobject_cast<QBuffer*>(&Stream))
        buffer->buffer().resize(fileSize);
    else if (auto* file = qobject_cast<QFileDevice*>(&Stream))
        file->resize(0);
    const BITMAPFILEHEADER fileHeader{kBitmapFileType, static_cast<std::uint32_t>(fileSize), 0, 0,
                                      static_cast<std::uint32_t>(offBits)};
    WriteBuffer(Stream, &fileHeader, sizeof fileHeader);
    WriteBuffer(Stream, Block, fileSize - std::int64_t{sizeof fileHeader});
    Stream.seek(0);
}

void TMovieDecoder::ReleaseAVIFile()
{
    TState& s = *FState;
    if (s.AVIFile) {
        s.AVIStream.reset();
        s.AVIFile.reset();
    }
    s.FrameGetter.reset();
    s.LastFrameDIB = nullptr;
}

bool TMovieDecoder::SeekAVIFile(std::int32_t TimeMs)
{
    TState& s = *FState;
    const std::int64_t sample = std::max(0, AVIStreamTimeToSample(s.AVIStream.get(), TimeMs));
    return FetchAVIFileSample(std::min<std::int64_t>(sample + s.StartOffset, s.LastSample));
}

bool TMovieDecoder::FetchAVIFileSample(std::int64_t sample)
{
    TState& s = *FState;
    s.LastFrameDIB = nullptr;
    s.FrameGetter.reset();
    // A fresh getter per fetch; the service keeps its decoding state, so stepping on stays cheap.
    s.FrameGetter.reset(AVIStreamGetFrameOpen(s.AVIStream.get(), nullptr));
    if (s.FrameGetter)
        s.LastFrameDIB = AVIStreamGetFrame(s.FrameGetter.get(), static_cast<std::int32_t>(sample));
    if (s.LastFrameDIB) {
        s.ShownSample = static_cast<std::int32_t>(sample);
        return true;
    }
    s.FrameGetter.reset();
    return false;
}

bool TMovieDecoder::StepAVIFile(int direction)
{
    const TState& s = *FState;
    const std::int64_t sample = s.ShownSample < 0 ? s.StartOffset : s.ShownSample + direction;
    return FetchAVIFileSample(std::clamp<std::int64_t>(sample, s.StartOffset, s.LastSample)) && RenderAVIFileFrame();
}

bool TMovieDecoder::RenderAVIFileFrame()
{
    try {
        if (!FState->LastFrameDIB)
            return false;
        QBuffer& image = FState->FrameImage;
        if (!image.isOpen())
            image.open(QIODevice::ReadWrite);
        WriteBitmapFileImage(image, FState->LastFrameDIB);
        FBitmap->LoadFromStream(image);
        FBitmap->SetPixelFormat(TPixelFormat::pf24bit);
        return true;
    } catch (...) {
        return false;
    }
}
