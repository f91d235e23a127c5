// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TCanvas.h"

#include "framework/MulDiv.h"
#include "framework/TGraphic.h"

#include <QFontMetrics>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// One drawing operation: a painter with the canvas's device state applied, undone at the end.

class TCanvasPaint {
public:
    TCanvasPaint(TCanvas& canvas, bool writes = true) : FCanvas(canvas), FWrites(writes)
    {
        if (canvas.FPainter) {
            FPainter = canvas.FPainter;
            FPainter->save();
        } else if (QPaintDevice* device = canvas.BeginDevice()) {
            FOpened = true;
            if (!FOwn.begin(device))
                return;
            FPainter = &FOwn;
        } else {
            return;
        }
        const QTransform base = FPainter->worldTransform();
        if (canvas.FState.Clip)
            FPainter->setClipRegion(*canvas.FState.Clip, FPainter->hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
        FPainter->setWorldTransform(canvas.DeviceTransform() * base);
        FPainter->setRenderHint(QPainter::Antialiasing, false);
        FPainter->setRenderHint(QPainter::SmoothPixmapTransform, canvas.FState.StretchMode == HALFTONE);
    }
    ~TCanvasPaint()
    {
        if (FPainter == &FOwn)
            FOwn.end();
        else if (FPainter)
            FPainter->restore();
        if (FOpened)
            FCanvas.EndDevice(FWrites && FPainter);
    }
    TCanvasPaint(const TCanvasPaint&) = delete;
    TCanvasPaint& operator=(const TCanvasPaint&) = delete;

    explicit operator bool() const { return FPainter != nullptr; }
    QPainter* operator->() const { return FPainter; }

private:
    TCanvas& FCanvas;
    bool FWrites;
    bool FOpened = false;
    QPainter FOwn;
    QPainter* FPainter = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Canvas

namespace {
QRect MapRect(const QTransform& transform, const QRect& rect)
{
    const QPoint a = transform.map(rect.topLeft());
    const QPoint b = transform.map(QPoint(rect.x() + rect.width(), rect.y() + rect.height()));
    const int left = std::min(a.x(), b.x()), right = std::max(a.x(), b.x());
    const int top = std::min(a.y(), b.y()), bottom = std::max(a.y(), b.y());
    return QRect(left, top, right - left, bottom - top);
}

Qt::PenStyle QtPenStyle(TPenStyle style)
{
    switch (style) {
    case TPenStyle::psDash: return Qt::DashLine;
    case TPenStyle::psDot: return Qt::DotLine;
    case TPenStyle::psDashDot: return Qt::DashDotLine;
    case TPenStyle::psDashDotDot: return Qt::DashDotDotLine;
    case TPenStyle::psClear: return Qt::NoPen;
    case TPenStyle::psSolid:
    case TPenStyle::psInsideFrame: break;
    }
    return Qt::SolidLine;
}

Qt::BrushStyle QtBrushStyle(TBrushStyle style)
{
    switch (style) {
    case TBrushStyle::bsClear: return Qt::NoBrush;
    case TBrushStyle::bsHorizontal: return Qt::HorPattern;
    case TBrushStyle::bsVertical: return Qt::VerPattern;
    case TBrushStyle::bsFDiagonal: return Qt::BDiagPattern;
    case TBrushStyle::bsBDiagonal: return Qt::FDiagPattern;
    case TBrushStyle::bsCross: return Qt::CrossPattern;
    case TBrushStyle::bsDiagCross: return Qt::DiagCrossPattern;
    case TBrushStyle::bsSolid: break;
    }
    return Qt::SolidPattern;
}

QPen QtPen(const TPen& pen)
{
    if (pen.Style() == TPenStyle::psClear)
        return QPen(Qt::NoPen);
    QPen result(ColorToQColor(pen.Color()));
    result.setWidth(std::max(pen.Width(), 1));
    result.setStyle(QtPenStyle(pen.Style()));
    result.setCapStyle(Qt::FlatCap);
    result.setJoinStyle(Qt::MiterJoin);
    return result;
}

QBrush QtBrush(const TBrush& brush)
{
    if (brush.Style() == TBrushStyle::bsClear)
        return QBrush(Qt::NoBrush);
    return QBrush(ColorToQColor(brush.Color()), QtBrushStyle(brush.Style()));
}

// The raster operations drawing uses, as QPainter knows them, for devices whose pixels the
// canvas cannot reach.
std::optional<QPainter::CompositionMode> QtRasterOp(TCopyMode mode)
{
    switch (mode) {
    case cmSrcAnd: return QPainter::RasterOp_SourceAndDestination;
    case cmSrcPaint: return QPainter::RasterOp_SourceOrDestination;
    case cmMergePaint: return QPainter::RasterOp_NotSourceOrDestination;
    default: return std::nullopt;
    }
}

// A raster operation on 0xAARRGGBB words, bit by bit; codes drawing does not use copy.
std::uint32_t ApplyRop(TCopyMode mode, std::uint32_t s, std::uint32_t d)
{
    switch (mode) {
    case cmSrcAnd: return s & d;
    case cmSrcPaint: return s | d;
    case cmMergePaint: return ~s | d;
    default: return s;
    }
}

bool IsPaletteFormat(QImage::Format format)
{
    return format == QImage::Format_Indexed8 || format == QImage::Format_Mono || format == QImage::Format_MonoLSB;
}

int NearestColorIndex(const QList<QRgb>& table, QRgb color)
{
    int best = 0;
    int bestDistance = INT32_MAX;
    for (int i = 0; i < table.size(); ++i) {
        const int dr = qRed(table[i]) - qRed(color), dg = qGreen(table[i]) - qGreen(color),
                  db = qBlue(table[i]) - qBlue(color);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}
} // namespace

TCanvas::TCanvas()
{
    FFont.OnChange = MakeNotifyEvent<&TCanvas::FontChanged>(this);
    FPen.OnChange = MakeNotifyEvent<&TCanvas::PenChanged>(this);
    FBrush.OnChange = MakeNotifyEvent<&TCanvas::BrushChanged>(this);
}

TCanvas::TCanvas(QPainter* painter) : TCanvas()
{
    FPainter = painter;
}

TCanvas::~TCanvas() = default;

void TCanvas::FontChanged(TObject*)
{
    FSelectedValid &= ~csFontValid;
}

void TCanvas::PenChanged(TObject*)
{
    FSelectedValid &= ~csPenValid;
}

void TCanvas::BrushChanged(TObject*)
{
    FSelectedValid &= ~csBrushValid;
}

const TFont& TCanvas::SelectedFont()
{
    if (!(FSelectedValid & csFontValid)) {
        FSelFont = FFont;
        FSelectedValid |= csFontValid;
    }
    return FSelFont;
}

const TPen& TCanvas::SelectedPen()
{
    if (!(FSelectedValid & csPenValid)) {
        FSelPen = FPen;
        FSelectedValid |= csPenValid;
    }
    return FSelPen;
}

const TBrush& TCanvas::SelectedBrush()
{
    if (!(FSelectedValid & csBrushValid)) {
        FSelBrush = FBrush;
        FSelectedValid |= csBrushValid;
    }
    return FSelBrush;
}

void TCanvas::SetPainter(QPainter* painter)
{
    FPainter = painter;
    FSelectedValid = 0;
}

bool TCanvas::HandleAllocated() const
{
    return FPainter != nullptr || const_cast<TCanvas*>(this)->DeviceImageForWrite() != nullptr;
}

void TCanvas::HandleNeeded()
{
    if (!HandleAllocated() && !TCanvasPaint(*this, false))
        throw Exception("Canvas does not allow drawing");
}

void TCanvas::Refresh()
{
    FSelectedValid = 0;
}

int TCanvas::SaveDC()
{
    FSaved.push_back(FState);
    return static_cast<int>(FSaved.size());
}

bool TCanvas::RestoreDC(int id)
{
    const int count = static_cast<int>(FSaved.size());
    if (id < 0)
        id = count + 1 + id;
    if (id < 1 || id > count)
        return false;
    FState = FSaved[static_cast<std::size_t>(id - 1)];
    FSaved.resize(static_cast<std::size_t>(id - 1));
    return true;
}

QPoint TCanvas::SetWindowOrg(QPoint origin)
{
    return std::exchange(FState.WindowOrg, origin);
}

QPoint TCanvas::SetViewportOrg(QPoint origin)
{
    return std::exchange(FState.ViewportOrg, origin);
}

QTransform TCanvas::DeviceTransform()
{
    return QTransform::fromTranslate(FState.ViewportOrg.x() - FState.WindowOrg.x(),
                                     FState.ViewportOrg.y() - FState.WindowOrg.y());
}

QPoint TCanvas::LPtoDP(QPoint point)
{
    return DeviceTransform().map(point);
}

QPoint TCanvas::DPtoLP(QPoint point)
{
    return DeviceTransform().inverted().map(point);
}

QRect TCanvas::LPtoDP(const QRect& rect)
{
    return MapRect(DeviceTransform(), rect);
}

QRect TCanvas::DPtoLP(const QRect& rect)
{
    return MapRect(DeviceTransform().inverted(), rect);
}

TColor TCanvas::SetBkColor(TColor color)
{
    return std::exchange(FState.BkColor, color);
}

TColor TCanvas::SetTextColor(TColor color)
{
    return std::exchange(FState.TextColor, color);
}

int TCanvas::SetBkMode(int mode)
{
    return std::exchange(FState.BkMode, mode);
}

int TCanvas::SetStretchBltMode(int mode)
{
    if (mode < BLACKONWHITE || mode > HALFTONE)
        return 0;
    return std::exchange(FState.StretchMode, mode);
}

void TCanvas::SelectClipRegion(const std::optional<QRegion>& region)
{
    FState.Clip = region;
}

void TCanvas::IntersectClipRect(const QRect& rect)
{
    const QRegion device(LPtoDP(rect));
    FState.Clip = FState.Clip ? FState.Clip->intersected(device) : device;
}

QSize TCanvas::DeviceSize()
{
    if (FPainter && FPainter->device())
        return QSize(FPainter->device()->width(), FPainter->device()->height());
    if (const QImage* image = DeviceImageForWrite())
        return image->size();
    return {};
}

int TCanvas::DeviceClipBox(QRect& box)
{
    QRegion visible(QRect(QPoint(0, 0), DeviceSize()));
    if (FPainter && FPainter->hasClipping())
        visible &= FPainter->worldTransform().map(FPainter->clipRegion());
    if (FState.Clip)
        visible &= *FState.Clip;
    box = visible.boundingRect();
    if (visible.isEmpty())
        return NULLREGION;
    return visible.rectCount() > 1 ? COMPLEXREGION : SIMPLEREGION;
}

QRect TCanvas::ClipRect()
{
    QRect box;
    DeviceClipBox(box);
    return DPtoLP(box);
}

bool TCanvas::RectVisible(const QRect& rect)
{
    QRect box;
    if (DeviceClipBox(box) == NULLREGION)
        return false;
    return box.intersects(LPtoDP(rect));
}

int TCanvas::DeviceCaps(TDeviceCap cap)
{
    const QPaintDevice* device = FPainter ? FPainter->device() : DeviceImageForWrite();
    switch (cap) {
    case TDeviceCap::HorzRes: return device ? device->width() : 0;
    case TDeviceCap::VertRes: return device ? device->height() : 0;
    case TDeviceCap::LogPixelsX: return device ? device->logicalDpiX() : kScreenPixelsPerInch;
    case TDeviceCap::LogPixelsY: return device ? device->logicalDpiY() : kScreenPixelsPerInch;
    case TDeviceCap::BitsPixel: return device ? std::max(device->depth(), 1) : 32;
    case TDeviceCap::Planes: return 1;
    case TDeviceCap::Technology:
        if (device && device->devType() == QInternal::Picture)
            return DT_METAFILE;
        if (device && device->devType() == QInternal::Printer)
            return DT_RASPRINTER;
        return DeviceTechnology();
    }
    return 0;
}

void TCanvas::Lock()
{
    FLock.lock();
    ++FLockCount;
}

bool TCanvas::TryLock()
{
    if (!FLock.try_lock())
        return false;
    ++FLockCount;
    return true;
}

void TCanvas::Unlock()
{
    --FLockCount;
    FLock.unlock();
}

// --- drawing ---

void TCanvas::FillRect(const QRect& rect)
{
    Changing();
    if (TCanvasPaint p{*this})
        p->fillRect(rect, QtBrush(SelectedBrush()));
    Changed();
}

void TCanvas::FrameRect(const QRect& rect)
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    Changing();
    if (TCanvasPaint p{*this}) {
        const QBrush brush = QtBrush(SelectedBrush());
        p->fillRect(QRect(rect.x(), rect.y(), rect.width(), 1), brush);
        p->fillRect(QRect(rect.x(), rect.bottom(), rect.width(), 1), brush);
        p->fillRect(QRect(rect.x(), rect.y(), 1, rect.height()), brush);
        p->fillRect(QRect(rect.right(), rect.y(), 1, rect.height()), brush);
    }
    Changed();
}

void TCanvas::Rectangle(const QRect& rect)
{
    Changing();
    if (TCanvasPaint p{*this}) {
        p->setPen(QtPen(SelectedPen()));
        p->setBrush(QtBrush(SelectedBrush()));
        // The outline lies inside the rectangle, as the right and bottom edges are exclusive.
        // On a scaled device a pen centred on the last pixel's line would reach half a pixel
        // outside, where a child control beside the edge covers it: the outline is laid
        // within the rectangle's own edges instead.
        const qreal ratio = p->device() ? p->device()->devicePixelRatioF() : 1.0;
        if (ratio == 1.0 || p->pen().style() == Qt::NoPen) {
            p->drawRect(rect.adjusted(0, 0, -1, -1));
        } else {
            const qreal half = p->pen().widthF() / 2;
            p->drawRect(QRectF(rect).adjusted(half, half, -half, -half));
        }
    }
    Changed();
}

QSize TCanvas::TextExtent(const QString& text)
{
    const QPaintDevice* device = FPainter ? FPainter->device() : DeviceImageForWrite();
    const QFont font = SelectedFont().ToQFont();
    const QFontMetrics metrics = device ? QFontMetrics(font, device) : QFontMetrics(font);
    return QSize(metrics.horizontalAdvance(text), metrics.height());
}

void TCanvas::TextOut(int x, int y, const QString& text)
{
    const QSize extent = TextExtent(text);
    Changing();
    if (TCanvasPaint p{*this}) {
        const QRect cell(QPoint(x, y), extent);
        if (SelectedBrush().Style() != TBrushStyle::bsClear)
            p->fillRect(cell, ColorToQColor(SelectedBrush().Color()));
        p->setFont(SelectedFont().ToQFont());
        p->setPen(ColorToQColor(SelectedFont().Color()));
        p->drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    }
    Changed();
}

void TCanvas::TextRect(const QRect& rect, int x, int y, const QString& text)
{
    const QSize extent = TextExtent(text);
    Changing();
    if (TCanvasPaint p{*this}) {
        if (SelectedBrush().Style() != TBrushStyle::bsClear)
            p->fillRect(rect, ColorToQColor(SelectedBrush().Color()));
        p->setClipRect(rect, Qt::IntersectClip);
        p->setFont(SelectedFont().ToQFont());
        p->setPen(ColorToQColor(SelectedFont().Color()));
        p->drawText(QRect(QPoint(x, y), extent), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    }
    Changed();
}

const QImage* TCanvas::DeviceImage()
{
    if (QImage* image = DeviceImageForWrite())
        return image;
    if (FPainter && FPainter->device() && FPainter->device()->devType() == QInternal::Image)
        return static_cast<const QImage*>(FPainter->device());
    return nullptr;
}

TColor TCanvas::Pixel(int x, int y)
{
    const QImage* image = DeviceImage();
    if (!image)
        return clNone;
    QPoint point = LPtoDP(QPoint(x, y));
    if (FPainter)
        point = FPainter->worldTransform().map(point);
    if (!image->rect().contains(point) || (FState.Clip && !FState.Clip->contains(point)))
        return clNone;
    return QColorToColor(image->pixelColor(point));
}

void TCanvas::SetPixel(int x, int y, TColor color)
{
    const QPoint point = LPtoDP(QPoint(x, y));
    if (FState.Clip && !FState.Clip->contains(point))
        return;
    Changing();
    if (QImage* image = DeviceImageForWrite()) {
        if (image->rect().contains(point)) {
            const QColor qcolor = ColorToQColor(color);
            if (IsPaletteFormat(image->format()))
                image->setPixel(point, static_cast<uint>(NearestColorIndex(image->colorTable(), qcolor.rgb())));
            else
                image->setPixelColor(point, qcolor);
        }
    } else if (TCanvasPaint p{*this}) {
        p->setWorldTransform(FPainter ? FPainter->worldTransform() : QTransform());
        p->fillRect(QRect(point, QSize(1, 1)), ColorToQColor(color));
    }
    Changed();
}

void TCanvas::Draw(int x, int y, TGraphic& graphic)
{
    if (graphic.Empty())
        return;
    graphic.Draw(*this, QRect(x, y, graphic.Width(), graphic.Height()));
}

void TCanvas::StretchDraw(const QRect& rect, TGraphic& graphic)
{
    if (graphic.Empty())
        return;
    graphic.Draw(*this, rect);
}

void TCanvas::CopyRect(const QRect& dest, TCanvas& source, const QRect& sourceRect)
{
    const QImage* image = source.DeviceImage();
    if (!image)
        return;
    DrawImage(dest, *image, source.LPtoDP(sourceRect));
}

void TCanvas::DrawImage(const QRect& dest, const QImage& image, const QRect& source)
{
    if (image.isNull() || dest.width() == 0 || dest.height() == 0 || source.width() <= 0 || source.height() <= 0)
        return;
    QImage part = source == image.rect() ? image : image.copy(source);
    if (part.format() == QImage::Format_Mono || part.format() == QImage::Format_MonoLSB) {
        // Monochrome pictures take their colours from the device: 0 is text, 1 background.
        part.setColorTable({ColorToQColor(FState.TextColor).rgb(), ColorToQColor(FState.BkColor).rgb()});
    }
    const QRect target = dest.normalized();
    Changing();
    if (FCopyMode == cmSrcCopy) {
        if (TCanvasPaint p{*this})
            p->drawImage(target, part);
    } else if (DeviceImageForWrite()) {
        ApplyRasterOp(LPtoDP(target), part);
    } else if (const auto mode = QtRasterOp(FCopyMode)) {
        if (TCanvasPaint p{*this}) {
            p->setCompositionMode(*mode);
            p->drawImage(target, part.convertToFormat(QImage::Format_RGB32));
        }
    } else if (TCanvasPaint p{*this}) {
        p->drawImage(target, part);
    }
    Changed();
}

void TCanvas::ApplyRasterOp(const QRect& deviceRect, const QImage& source)
{
    QImage* device = DeviceImageForWrite();
    QRegion area(deviceRect.intersected(device->rect()));
    if (FState.Clip)
        area &= *FState.Clip;
    const QRect visible = area.boundingRect();
    if (visible.isEmpty())
        return;
    // The source stretched onto the visible part only, sampled as the copy path samples it.
    QImage scaled(visible.size(), QImage::Format_RGB32);
    scaled.fill(Qt::black);
    {
        QPainter painter(&scaled);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, FState.StretchMode == HALFTONE);
        painter.drawImage(QRect(deviceRect.topLeft() - visible.topLeft(), deviceRect.size()), source);
    }
    const bool palette = IsPaletteFormat(device->format());
    for (const QRect& rect : area) {
        // Work on 0xFFRRGGBB words, then put the result back in the device's own format.
        QImage pixels = device->copy(rect).convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < rect.height(); ++y) {
            auto* d = reinterpret_cast<std::uint32_t*>(pixels.scanLine(y));
            const auto* s = reinterpret_cast<const std::uint32_t*>(scaled.constScanLine(rect.y() - visible.y() + y))
                            + (rect.x() - visible.x());
            for (int x = 0; x < rect.width(); ++x)
                d[x] = ApplyRop(FCopyMode, s[x], d[x]) | 0xFF000000u;
        }
        if (palette) {
            const QList<QRgb> table = device->colorTable();
            for (int y = 0; y < rect.height(); ++y) {
                const auto* row = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
                for (int x = 0; x < rect.width(); ++x)
                    device->setPixel(rect.x() + x, rect.y() + y, static_cast<uint>(NearestColorIndex(table, row[x])));
            }
            continue;
        }
        const QImage back = pixels.convertToFormat(device->format());
        const int bytesPerPixel = device->depth() / 8;
        for (int y = 0; y < rect.height(); ++y)
            std::memcpy(device->scanLine(rect.y() + y) + rect.x() * bytesPerPixel, back.constScanLine(y),
                        static_cast<std::size_t>(rect.width() * bytesPerPixel));
    }
}
