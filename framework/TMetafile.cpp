// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TMetafile.h"

#include "framework/EInvalidGraphic.h"

#include <QBuffer>
#include <QByteArray>

void TMetafile::Assign(const TGraphic& source)
{
    if (&source == this)
        return;
    const auto* metafile = dynamic_cast<const TMetafile*>(&source);
    if (!metafile)
        return TGraphic::Assign(source);
    FPicture = metafile->FPicture;
    FWidth = metafile->FWidth;
    FHeight = metafile->FHeight;
    FTransparent = metafile->FTransparent;
    Changed(this);
}

bool TMetafile::Empty() const
{
    return FPicture.isNull();
}

int TMetafile::Width() const
{
    return FWidth > 0 ? FWidth : std::max(0, FPicture.boundingRect().right() + 1);
}

int TMetafile::Height() const
{
    return FHeight > 0 ? FHeight : std::max(0, FPicture.boundingRect().bottom() + 1);
}

void TMetafile::SetWidth(int width)
{
    if (width != FWidth) {
        FWidth = std::max(width, 0);
        Changed(this);
    }
}

void TMetafile::SetHeight(int height)
{
    if (height != FHeight) {
        FHeight = std::max(height, 0);
        Changed(this);
    }
}

void TMetafile::Draw(TCanvas& canvas, const QRect& rect)
{
    if (Empty() || Width() <= 0 || Height() <= 0)
        return;
    // Played back through a picture of the target size, so copy modes and clipping apply as
    // for any other drawing.
    QImage page(rect.size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    page.fill(Qt::transparent);
    {
        QPainter painter(&page);
        painter.scale(double(rect.width()) / Width(), double(rect.height()) / Height());
        painter.drawPicture(0, 0, FPicture);
    }
    canvas.DrawImage(rect, page);
}

void TMetafile::LoadFromStream(TStream&)
{
    // Metafiles are only ever recorded here; no file or stored picture is read as one.
    throw EInvalidGraphic(kMetafileNotReadText);
}

void TMetafile::SaveToStream(TStream& stream) const
{
    if (!const_cast<QPicture&>(FPicture).save(&stream))
        throw EWriteError();
}

void TMetafile::Clear()
{
    FPicture = QPicture();
    FWidth = FHeight = 0;
    Changed(this);
}

void TMetafile::SetPicture(const QPicture& picture)
{
    FPicture = picture;
    Changed(this);
}

TMetafileCanvas::TMetafileCanvas(TMetafile& metafile) : FMetafile(metafile)
{
    FRecorder.begin(&FRecording);
    SetPainter(&FRecorder);
}

TMetafileCanvas::~TMetafileCanvas()
{
    SetPainter(nullptr);
    FRecorder.end();
    FMetafile.SetPicture(FRecording);
}

int TMetafileCanvas::DeviceTechnology() const
{
    return DT_METAFILE;
}
