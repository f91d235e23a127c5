// SPDX-License-Identifier: GPL-3.0-or-later
#include "graphics/UCanvas.h"

#include "framework/TPrinter.h"

#include <QGuiApplication>
#include <QScreen>

void CopyCanvasState(TCanvas& destination, TCanvas& source)
{
    destination.Refresh();
    destination.SetCopyMode(source.CopyMode());
    destination.Font().Assign(source.Font());
    destination.Pen().Assign(source.Pen());
    destination.Brush().Assign(source.Brush());
}

TCanvasSaver::TCanvasSaver(TCanvas& target, bool saveDC) : FTarget(target), FSnapshot(std::make_unique<TCanvas>())
{
    FSnapshot->Font().SetPixelsPerInch(target.Font().PixelsPerInch());
    CopyCanvasState(*FSnapshot, target);
    if (saveDC) {
        target.Refresh();
        FSavedState = target.SaveDC();
    }
}

TCanvasSaver::~TCanvasSaver()
{
    FTarget.Font().SetPixelsPerInch(FSnapshot->Font().PixelsPerInch());
    CopyCanvasState(FTarget, *FSnapshot);
    if (FSavedState != 0) {
        FTarget.Refresh();
        FTarget.RestoreDC(FSavedState);
    }
}

TCanvasEventAdjuster::TCanvasEventAdjuster(TCanvas& target)
    : FTarget(target), FSavedFont(target.Font().OnChange), FSavedBrush(target.Brush().OnChange),
      FSavedPen(target.Pen().OnChange)
{
    {
        TCanvas standard;
        auto rebind = [&](const TNotifyEvent& event) { return TNotifyEvent{event.Code, static_cast<TCanvas*>(&target)}; };
        FStandardFont = rebind(standard.Font().OnChange);
        FStandardBrush = rebind(standard.Brush().OnChange);
        FStandardPen = rebind(standard.Pen().OnChange);
    }
    if (FStandardFont.Code != FSavedFont.Code)
        target.Font().OnChange = MakeNotifyEvent<&TCanvasEventAdjuster::ChainedFontChanged>(this);
    if (FStandardBrush.Code != FSavedBrush.Code)
        target.Brush().OnChange = MakeNotifyEvent<&TCanvasEventAdjuster::ChainedBrushChanged>(this);
    if (FStandardPen.Code != FSavedPen.Code)
        target.Pen().OnChange = MakeNotifyEvent<&TCanvasEventAdjuster::ChainedPenChanged>(this);
}

TCanvasEventAdjuster::~TCanvasEventAdjuster()
{
    FTarget.Font().OnChange = FSavedFont;
    FTarget.Brush().OnChange = FSavedBrush;
    FTarget.Pen().OnChange = FSavedPen;
}

void TCanvasEventAdjuster::ChainedFontChanged(TObject* sender)
{
    FSavedFont(sender);
    FStandardFont(sender);
}

void TCanvasEventAdjuster::ChainedBrushChanged(TObject* sender)
{
    FSavedBrush(sender);
    FStandardBrush(sender);
}

void TCanvasEventAdjuster::ChainedPenChanged(TObject* sender)
{
    FSavedPen(sender);
    FStandardPen(sender);
}

TInterfaceRef<IInterface> SaveCanvasState(TCanvas& canvas, bool saveDC)
{
    return TInterfaceRef<IInterface>(new TCanvasSaver(canvas, saveDC));
}

TInterfaceRef<IInterface> AdjustCanvasEvents(TCanvas& canvas)
{
    return TInterfaceRef<IInterface>(new TCanvasEventAdjuster(canvas));
}

void TCoordMap::ResetMapping(TCanvas& canvas)
{
    // The canvas always maps one unit to one pixel, y downwards; only the origins can differ.
    canvas.SetWindowOrg(QPoint(0, 0));
    canvas.SetViewportOrg(QPoint(0, 0));
}

TCanvas& CanvasReferenceDC(TCanvas& canvas)
{
    if (auto* memory = dynamic_cast<TMemoryCanvas*>(&canvas))
        return memory->ReferenceDC();
    if (&canvas == &Printer().Canvas())
        return Printer().Canvas();
    return canvas;
}

bool IsPrinterCanvas(TCanvas& canvas)
{
    if (&canvas == &Printer().Canvas())
        return true;
    const int technology = CanvasReferenceDC(canvas).DeviceCaps(TDeviceCap::Technology);
    return technology == DT_PLOTTER || technology == DT_RASPRINTER;
}

namespace {
// The screen as a reference device: a one-pixel image carrying the screen's resolution.
class TScreenCanvas : public TCanvas {
public:
    TScreenCanvas() : FImage(1, 1, QImage::Format_RGB32)
    {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const double dpi = screen ? screen->logicalDotsPerInchY() : kScreenPixelsPerInch;
        const int dotsPerMeter = qRound(dpi / 0.0254);
        FImage.setDotsPerMeterX(dotsPerMeter);
        FImage.setDotsPerMeterY(dotsPerMeter);
    }

protected:
    QImage* DeviceImageForWrite() override { return &FImage; }

private:
    QImage FImage;
};
} // namespace

TMemoryCanvas::~TMemoryCanvas()
{
    FreeHandles();
}

TCanvas& TMemoryCanvas::ReferenceDC()
{
    if (FReference)
        return *FReference;
    if (!FScreen)
        FScreen = std::make_unique<TScreenCanvas>();
    return *FScreen;
}

void TMemoryCanvas::CreateHandle()
{
    FHandleCreated = true;
    const int resolution = ReferenceDC().DeviceCaps(TDeviceCap::LogPixelsY);
    if (resolution > 0 && resolution != Font().PixelsPerInch()) {
        const int size = Font().Size();
        Font().SetPixelsPerInch(resolution);
        Font().SetSize(size);
    }
    if (!FSelected)
        SelectBitmap(GetBitmapHandle());
}

void TMemoryCanvas::SelectBitmap(TBitmap* bitmap)
{
    DeselectBitmap();
    FSelected = bitmap;
}

void TMemoryCanvas::DeselectBitmap()
{
    FSelected = nullptr;
}

void TMemoryCanvas::FreeHandles()
{
    if (FHandleCreated) {
        DeselectBitmap();
        FHandleCreated = false;
    }
    FScreen.reset();
}

QPaintDevice* TMemoryCanvas::BeginDevice()
{
    if (!FHandleCreated)
        CreateHandle();
    QImage* image = DeviceImageForWrite();
    if (!image)
        return nullptr;
    if (image->format() == QImage::Format_Indexed8 || image->format() == QImage::Format_Mono) {
        FConverted = image->convertToFormat(QImage::Format_RGB32);
        return &FConverted;
    }
    return image;
}

void TMemoryCanvas::EndDevice(bool changed)
{
    QImage* image = DeviceImageForWrite();
    if (image && !FConverted.isNull() && changed)
        *image = FConverted.convertToFormat(image->format(), image->colorTable(), Qt::ThresholdDither);
    FConverted = QImage();
    if (changed && FSelected)
        FSelected->Changed(FSelected);
}

QImage* TMemoryCanvas::DeviceImageForWrite()
{
    if (!FHandleCreated)
        CreateHandle();
    return FSelected && !FSelected->Empty() ? &FSelected->Image() : nullptr;
}

int TMemoryCanvas::DeviceTechnology() const
{
    return DT_RASDISPLAY;
}
