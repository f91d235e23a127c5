// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagestore/USafetyBitmap.h"

#include "framework/EInvalidGraphic.h"
#include "framework/Platform.h"
#include "framework/TMetafile.h"
#include "graphics/UDIB.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QThread>
#include <cstring>

namespace {

bool OnMainThread()
{
    const QCoreApplication* application = QCoreApplication::instance();
    return !application || QThread::currentThread() == application->thread();
}

// Silences a change handler for its life and puts it back, also when an exception passes.
class TDetachedHandler {
public:
    explicit TDetachedHandler(TNotifyEvent& event) : FEvent(event), FSaved(event) { FEvent = {}; }
    ~TDetachedHandler() { FEvent = FSaved; }
    TDetachedHandler(const TDetachedHandler&) = delete;
    TDetachedHandler& operator=(const TDetachedHandler&) = delete;

private:
    TNotifyEvent& FEvent;
    const TNotifyEvent FSaved;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// TSafetyBitmap

TSafetyBitmap::TSafetyBitmap()
{
    if (IsNTFamily())
        FMaskedImage = std::make_unique<TMaskedImageNT>();
    else
        FMaskedImage = std::make_unique<TMaskedImage9x>();
}

TSafetyBitmap::TSafetyBitmap(const TSafetyBitmap& other) : TSafetyBitmap()
{
    Assign(other);
}

TSafetyBitmap::~TSafetyBitmap() = default;

void TSafetyBitmap::Changed(TObject* sender)
{
    TBitmap::Changed(sender);
    // The base may announce changes before the masked image exists.
    if (!FAssigning && FMaskedImage)
        FMaskedImage->Invalidate();
}

void TSafetyBitmap::Assign(const TGraphic& source)
{
    if (const auto* safety = dynamic_cast<const TSafetyBitmap*>(&source)) {
        FAssigning = true;
        try {
            AssignCommon(source);
            FMaskedImage->Assign(*safety->FMaskedImage);
        } catch (...) {
            FAssigning = false;
            throw;
        }
        FAssigning = false;
        return;
    }
    AssignCommon(source);
}

void TSafetyBitmap::AssignCommon(const TGraphic& source)
{
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&source); bitmap && Equals(*bitmap)) {
        // The same image already: only the transparency attributes.
        SetTransparent(bitmap->Transparent());
        SetTransparentMode(bitmap->TransparentMode());
        if (bitmap->TransparentMode() == TTransparentMode::tmFixed)
            SetTransparentColor(bitmap->TransparentColor());
        return;
    }
    if (const auto* metafile = dynamic_cast<const TMetafile*>(&source)) {
        SetHeight(0);
        SetPixelFormat(TPixelFormat::pf24bit);
        SetSize(metafile->Width(), metafile->Height());
        if (!Empty())
            Canvas().Draw(0, 0, const_cast<TMetafile&>(*metafile));
        return;
    }
    HandleNeeded();
    TBitmap::Assign(source);
}

bool TSafetyBitmap::Equals(const TGraphic& graphic) const
{
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&graphic))
        return SharesImage(*bitmap);
    return TBitmap::Equals(graphic);
}

void TSafetyBitmap::Draw(TCanvas& canvas, const QRect& rect)
{
    // White background and black text decide how monochrome pixels come out.
    struct TCanvasColours {
        TCanvas& Canvas;
        const TColor Background;
        const TColor Text;
        const TCopyMode Mode;
        explicit TCanvasColours(TCanvas& canvas)
            : Canvas(canvas), Background(canvas.SetBkColor(clWhite)), Text(canvas.SetTextColor(clBlack)),
              Mode(canvas.CopyMode())
        {
            Canvas.Lock();
        }
        ~TCanvasColours()
        {
            Canvas.Unlock();
            Canvas.SetCopyMode(Mode);
            Canvas.SetBkColor(Background);
            Canvas.SetTextColor(Text);
        }
    } colours(canvas);
    if (Transparent()) {
        UpdateMask();
        FMaskedImage->Draw(canvas, rect);
    } else if (IsNTFamily()) {
        TBitmap::Draw(canvas, rect);
    } else {
        DrawThroughDIB(canvas, rect);
    }
}

void TSafetyBitmap::UpdateMask()
{
    if (Transparent())
        FMaskedImage->UpdateMask(*this, TransparentColor());
}

void TSafetyBitmap::DrawThroughDIB(TCanvas& canvas, const QRect& rect)
{
    // The whole bitmap, in device units of its own canvas.
    const QRect source(Canvas().LPtoDP(QPoint(0, 0)), Canvas().LPtoDP(QPoint(Width(), Height())));
    TDIB dib;
    dib.LoadFromBitmap(*this);
    dib.Draw(canvas, rect, QRect(source.topLeft(), QSize(source.right() - source.left(), source.bottom() - source.top())));
}

void TSafetyBitmap::LoadFromStream(TStream& stream)
{
    if (OnMainThread()) {
        // The program's own reader.
        TDIB dib;
        dib.LoadFromStream(stream);
        dib.SaveToBitmap(*this);
    } else {
        TBitmap::LoadFromStream(stream);
    }
    if (PixelFormat() == TPixelFormat::pfCustom)
        SetPixelFormat(TPixelFormat::pf24bit);
}

void TSafetyBitmap::ReadData(TStream& stream)
{
    std::int32_t size = 0;
    ReadBuffer(stream, &size, sizeof size);
    LoadFromStream(stream);
}

void TSafetyBitmap::LoadFromClipboardFormat(std::uint16_t format, std::span<const std::uint8_t> data,
                                            const HPALETTE& palette)
{
    if (format != CF_DIB) {
        TBitmap::LoadFromClipboardFormat(format, data, palette);
        return;
    }
    // "BM" and twelve zero bytes: the reader trusts neither the file size nor the offset.
    QByteArray bytes(static_cast<qsizetype>(sizeof(BITMAPFILEHEADER)), '\0');
    bytes[0] = 'B';
    bytes[1] = 'M';
    bytes.append(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    QBuffer stream(&bytes);
    stream.open(QIODevice::ReadOnly);
    LoadFromStream(stream);
}

// ---------------------------------------------------------------------------------------------
// ProbeJPEGHeader

namespace {

// Puts the stream back where it stood, also when an exception passes.
class TStreamPositionGuard {
public:
    explicit TStreamPositionGuard(TStream& stream) : FStream(stream), FSequential(stream.isSequential())
    {
        if (FSequential)
            FStream.startTransaction();
        else
            FPosition = stream.pos();
    }
    ~TStreamPositionGuard()
    {
        if (FSequential)
            FStream.rollbackTransaction();
        else
            FStream.seek(FPosition);
    }
    TStreamPositionGuard(const TStreamPositionGuard&) = delete;
    TStreamPositionGuard& operator=(const TStreamPositionGuard&) = delete;

private:
    TStream& FStream;
    const bool FSequential;
    qint64 FPosition = 0;
};

// One byte, or 0 when the stream has none left; n is the number of bytes read.
std::uint8_t ReadByte(TStream& stream, qint64& n)
{
    char byte = 0;
    n = stream.read(&byte, 1);
    if (n != 1) {
        n = 0;
        return 0;
    }
    return static_cast<std::uint8_t>(byte);
}

// n is the number of bytes read (0, 1 or 2).
int ReadBigEndian16(TStream& stream, qint64& n)
{
    qint64 first = 0;
    const int high = ReadByte(stream, first);
    const int low = ReadByte(stream, n);
    n += first;
    return (high << 8) | low;
}

void Skip(TStream& stream, qint64 count)
{
    if (stream.isSequential()) {
        if (count > 0)
            stream.skip(count);
        return;
    }
    stream.seek(std::clamp<qint64>(stream.pos() + count, 0, stream.size()));
}

bool IsStartOfFrame(std::uint8_t marker)
{
    return marker == 0xC0 || marker == 0xC1 || marker == 0xC2 || marker == 0xC9 || marker == 0xCA;
}

bool HasNoSegment(std::uint8_t marker)
{
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

} // namespace

TJPEGHeaderInfo ProbeJPEGHeader(TStream& stream)
{
    TJPEGHeaderInfo info;
    const TStreamPositionGuard restore(stream);
    // Start of image.
    char soi[2] = {};
    qint64 n = std::max<qint64>(stream.read(soi, 2), 0);
    if (static_cast<std::uint8_t>(soi[0]) != 0xFF || static_cast<std::uint8_t>(soi[1]) != 0xD8)
        n = 0;
    if (n <= 0)
        return info;
    std::uint8_t marker = ReadByte(stream, n);
    while (marker == 0xFF && n > 0) {
        marker = ReadByte(stream, n);
        if (marker == 0xFF)
            continue; // fill byte
        if (IsStartOfFrame(marker)) {
            char skipped[3];
            stream.read(skipped, 3); // segment length and sample precision
            qint64 read = 0;
            info.Height = ReadBigEndian16(stream, read);
            info.Width = ReadBigEndian16(stream, read);
            info.Components = ReadByte(stream, n);
            n = 1;
        } else if (HasNoSegment(marker)) {
            marker = 0xFF;
        } else {
            // A length that is not there or shorter than itself would step back onto bytes
            // already read, and a truncated file would loop for ever: no frame follows.
            const int length = ReadBigEndian16(stream, n);
            if (n < 2 || length < 2)
                break;
            Skip(stream, length - 2);
            do
                marker = ReadByte(stream, n);
            while (marker != 0xFF && n > 0);
        }
    }
    return info;
}

// ---------------------------------------------------------------------------------------------
// TSafetyJPEGImage

namespace {

void CheckJPEGHeader(const TJPEGHeaderInfo& info)
{
    if (info.Width <= 0 || info.Height <= 0 || info.Components < 1 || info.Components > 3)
        throw EInvalidGraphic(kUnsupportedJPEGText);
}

} // namespace

void TSafetyJPEGImage::LoadFromStream(TStream& stream)
{
    CheckJPEGHeader(ProbeJPEGHeader(stream));
    TJPEGImage::LoadFromStream(stream);
}

void TSafetyJPEGImage::ReadData(TStream& stream)
{
    std::int32_t size = 0;
    ReadBuffer(stream, &size, sizeof size);
    CheckJPEGHeader(ProbeJPEGHeader(stream));
    LoadFromData(stream, size);
}

void TSafetyJPEGImage::Draw(TCanvas& canvas, const QRect& rect)
{
    // The image's own change handler stays quiet while decoding for the draw.
    const TDetachedHandler detached(OnChange);
    if (IsNTFamily()) {
        TJPEGImage::Draw(canvas, rect);
        return;
    }
    TSafetyBitmap bitmap;
    bitmap.Assign(Bitmap());
    canvas.StretchDraw(rect, bitmap);
}

// ---------------------------------------------------------------------------------------------
// Registrations

namespace {

bool gRegistered = false;

} // namespace

void RegisterSafetyGraphics()
{
    if (gRegistered)
        return;
    gRegistered = true;
    TPicture::UnregisterGraphicClass(::TJPEGImage::StaticClass());
    TPicture::RegisterFileFormat("JPG", "JPEG Image", USafetyBitmap::TJPEGImage::StaticClass());
    TPicture::RegisterFileFormat("JPG", "JPEG Image", TSafetyJPEGImage::StaticClass());
    TPicture::RegisterFileFormat("JPEG", "JPEG Image", TSafetyJPEGImage::StaticClass());
    TPicture::RegisterFileFormat("BMP", "Bitmaps", TSafetyBitmap::StaticClass());
    TPicture::RegisterClipboardFormat(CF_DIB, TSafetyBitmap::StaticClass());
}

void UnregisterSafetyGraphics()
{
    if (!gRegistered)
        return;
    gRegistered = false;
    TPicture::UnregisterGraphicClass(TSafetyJPEGImage::StaticClass());
    TPicture::UnregisterGraphicClass(TSafetyBitmap::StaticClass());
}

// ---------------------------------------------------------------------------------------------
// ForceSafetyBitmap

TSafetyBitmap& ForceSafetyBitmap(TPicture& picture)
{
    if (!picture.Graphic() || !picture.Graphic()->InheritsFrom(TSafetyBitmap::StaticClass())) {
        const TDetachedHandler detached(picture.OnChange);
        picture.SetGraphic(std::make_unique<TSafetyBitmap>());
    }
    return static_cast<TSafetyBitmap&>(*picture.Graphic());
}
