// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagestore/UImagePack.h"

#include "framework/TBitmap.h"
#include "framework/TCanvas.h"
#include "framework/TColor.h"
#include "framework/TMetafile.h"
#include "framework/TPicture.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPainter>

namespace {

// The text as Qt lays it out: lines end at a line feed, and the carriage return before it
// would otherwise be drawn as a glyph.
QString LayoutText(const QString& text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return lines;
}

constexpr int kCenteredTextFlags = Qt::AlignHCenter | Qt::AlignTop;

// The extent of the centred, unclipped text in the canvas's font, as the platform's text
// measuring call widens an empty rectangle.
QRect MeasureText(TCanvas& canvas, const QString& text)
{
    const QFontMetrics metrics(canvas.Font().ToQFont());
    const QRect bounds = metrics.boundingRect(QRect(0, 0, 0, 0), kCenteredTextFlags, LayoutText(text));
    return QRect(0, 0, bounds.width(), bounds.height());
}

} // namespace

std::unique_ptr<TPicture> MakeTextPicture(const QString& text, TColor fontColour)
{
    QRect extent;
    {
        TBitmap measure;
        measure.Canvas().Brush().SetColor(clWhite);
        measure.Canvas().Font().SetColor(fontColour);
        extent = MeasureText(measure.Canvas(), text);
    }
    auto picture = std::make_unique<TPicture>();
    TMetafile& metafile = picture->Metafile();
    metafile.SetWidth(extent.width());
    metafile.SetHeight(extent.height());
    {
        TMetafileCanvas canvas(metafile);
        canvas.FillRect(extent);
        canvas.Brush().SetColor(clWhite);
        canvas.Font().SetColor(fontColour);
        QPainter* painter = canvas.Painter();
        painter->setFont(canvas.Font().ToQFont());
        painter->setPen(ColorToQColor(fontColour));
        painter->drawText(extent, kCenteredTextFlags | Qt::TextDontClip, LayoutText(text));
    }
    return picture;
}


TImagePack::TImagePack(QObject* owner) : QObject(owner) {}

TImagePack::~TImagePack()
{
    FreeOwnBroadcaster();
}

void TImagePack::Change()
{
    Notify(this, kPackChangedEventId);
    if (OnChange)
        OnChange(this);
}

void TImagePack::InvalidateImages()
{
    Notify(this, kPackInvalidatedEventId);
}

void TImagePack::SetCount(std::int32_t)
{
    throw EImagePack(kCannotSetCountText);
}

void TImagePack::SetImageRect(std::int32_t, const TRect&)
{
    throw EImagePack(kCannotSetImageRectText);
}

TRect TImagePack::ImageRect(std::int32_t i)
{
    TRect r;
    GetImageRect(i, r);
    return r;
}

std::int32_t TImagePack::GetImageLeft(std::int32_t i)
{
    return ImageRect(i).Left;
}

void TImagePack::SetImageLeft(std::int32_t i, std::int32_t v)
{
    TRect r = ImageRect(i);
    SetImageRect(i, {v, r.Top, r.Right + (v - r.Left), r.Bottom});
}

std::int32_t TImagePack::GetImageTop(std::int32_t i)
{
    return ImageRect(i).Top;
}

void TImagePack::SetImageTop(std::int32_t i, std::int32_t v)
{
    TRect r = ImageRect(i);
    SetImageRect(i, {r.Left, v, r.Right, r.Bottom + (v - r.Top)});
}

std::int32_t TImagePack::GetImageWidth(std::int32_t i)
{
    return RectWidth(ImageRect(i));
}

void TImagePack::SetImageWidth(std::int32_t i, std::int32_t v)
{
    TRect r = ImageRect(i);
    r.Right = r.Left + v;
    SetImageRect(i, r);
}

std::int32_t TImagePack::GetImageHeight(std::int32_t i)
{
    return RectHeight(ImageRect(i));
}

void TImagePack::SetImageHeight(std::int32_t i, std::int32_t v)
{
    TRect r = ImageRect(i);
    r.Bottom = r.Top + v;
    SetImageRect(i, r);
}

void TImagePack::DrawImage(TCanvas& canvas, std::int32_t x, std::int32_t y, std::int32_t i)
{
    const TRect r = ImageRect(i);
    StretchDrawImage(canvas, {x, y, r.Right + (x - r.Left), r.Bottom + (y - r.Top)}, i);
}

void TImagePack::StretchDrawImage(TCanvas& canvas, const TRect& rect, std::int32_t i)
{
    TPicture picture;
    SafeGetImage(picture, i);
    if (TGraphic* graphic = picture.Graphic(); graphic && !graphic->Empty())
        canvas.StretchDraw(ToQRect(rect), *graphic);
}

bool TImagePack::IsIndexInvalid(std::int32_t i)
{
    return i < 0 || i >= GetCount();
}

bool TImagePack::SafeGetImage(TPicture& picture, std::int32_t i)
{
    try {
        GetImage(picture, i);
        return true;
    } catch (...) {
    }
    try {
        picture.Assign(ErrorPicture());
    } catch (...) {
        // A viewer is never to see a failure, even when its picture refuses the error picture.
    }
    return false;
}

const TPicture& TImagePack::ErrorPicture()
{
    static const std::unique_ptr<TPicture> picture = MakeTextPicture(QCoreApplication::translate(kImageErrorContext, kImageErrorText), clRed);
    return *picture;
}
