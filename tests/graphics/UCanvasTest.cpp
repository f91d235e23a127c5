// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TPrinter.h"
#include "graphics/UCanvas.h"

#include <gtest/gtest.h>

namespace {

TBitmap Bitmap24(int width, int height)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    bitmap.FillRect(QRect(0, 0, width, height), Qt::white);
    return bitmap;
}

// A component that replaced the canvas's font handler with its own.
struct TFontWatcher {
    int Changes = 0;
    void FontChanged(TObject*) { ++Changes; }
};

class TBitmapMemoryCanvas : public TMemoryCanvas {
public:
    TBitmap Bitmap = Bitmap24(4, 4);
    int Requests = 0;

protected:
    TBitmap* GetBitmapHandle() override
    {
        ++Requests;
        return &Bitmap;
    }
};

} // namespace

TEST(CanvasSaver, WithDeviceStateGivesBackMappingAndDrawingObjects)
{
    TBitmap bitmap = Bitmap24(4, 4);
    TCanvas& canvas = bitmap.Canvas();
    canvas.Pen().SetColor(clRed);
    canvas.SetCopyMode(SRCAND);
    {
        TInterfaceRef<IInterface> saver = SaveCanvasState(canvas, true);
        canvas.SetViewportOrg(QPoint(2, 2));
        canvas.Pen().SetColor(clBlue);
        canvas.Pen().SetWidth(3);
        canvas.SetCopyMode(cmSrcCopy);
        canvas.Font().SetSize(20);
    }
    EXPECT_EQ(canvas.ViewportOrg(), QPoint(0, 0));
    EXPECT_EQ(canvas.Pen().Color(), clRed);
    EXPECT_EQ(canvas.Pen().Width(), 1);
    EXPECT_EQ(canvas.SelectedPen().Color(), clRed) << "the restored pen is the one drawn with";
    EXPECT_EQ(canvas.CopyMode(), SRCAND);
    EXPECT_NE(canvas.Font().Size(), 20);
}

TEST(CanvasSaver, WithoutDeviceStateLeavesTheMappingChanged)
{
    TBitmap bitmap = Bitmap24(4, 4);
    TCanvas& canvas = bitmap.Canvas();
    canvas.Brush().SetColor(clYellow);
    TInterfaceRef<IInterface> saver = SaveCanvasState(canvas, false);
    canvas.SetWindowOrg(QPoint(7, 7));
    canvas.Brush().SetColor(clNavy);
    canvas.Font().SetPixelsPerInch(300);
    saver.Reset();
    EXPECT_EQ(canvas.WindowOrg(), QPoint(7, 7));
    EXPECT_EQ(canvas.Brush().Color(), clYellow);
    EXPECT_EQ(canvas.Font().PixelsPerInch(), kScreenPixelsPerInch);
}

TEST(CanvasSaver, NestedSaversUnwindInOrder)
{
    TCanvas canvas;
    TInterfaceRef<IInterface> outer = SaveCanvasState(canvas, true);
    canvas.SetViewportOrg(QPoint(1, 1));
    TInterfaceRef<IInterface> inner = SaveCanvasState(canvas, true);
    canvas.SetViewportOrg(QPoint(2, 2));
    inner.Reset();
    EXPECT_EQ(canvas.ViewportOrg(), QPoint(1, 1));
    outer.Reset();
    EXPECT_EQ(canvas.ViewportOrg(), QPoint(0, 0));
}

TEST(CanvasEventAdjuster, LeavesACanvasWithItsOwnHandlersAlone)
{
    TCanvas canvas;
    const TNotifyEvent font = canvas.Font().OnChange, brush = canvas.Brush().OnChange, pen = canvas.Pen().OnChange;
    {
        TInterfaceRef<IInterface> adjuster = AdjustCanvasEvents(canvas);
        EXPECT_EQ(canvas.Font().OnChange, font);
        EXPECT_EQ(canvas.Brush().OnChange, brush);
        EXPECT_EQ(canvas.Pen().OnChange, pen);
    }
    EXPECT_EQ(canvas.Font().OnChange, font);
}

TEST(CanvasEventAdjuster, ChainsTheCanvasHandlerBehindAReplacedOne)
{
    TCanvas canvas;
    TFontWatcher watcher;
    const TNotifyEvent replaced = MakeNotifyEvent<&TFontWatcher::FontChanged>(&watcher);
    canvas.Font().OnChange = replaced;
    canvas.SelectedFont();
    {
        TInterfaceRef<IInterface> adjuster = AdjustCanvasEvents(canvas);
        canvas.Font().SetColor(clRed);
        EXPECT_EQ(watcher.Changes, 1);
        EXPECT_EQ(canvas.SelectedFont().Color(), clRed) << "the change reached the canvas";
    }
    EXPECT_EQ(canvas.Font().OnChange, replaced);
    canvas.Font().SetColor(clBlue);
    EXPECT_EQ(watcher.Changes, 2);
    EXPECT_EQ(canvas.SelectedFont().Color(), clRed) << "without the adjuster the canvas is not told";
}

TEST(CoordMap, ResetMappingGivesDeviceUnits)
{
    TCanvas canvas;
    canvas.SetWindowOrg(QPoint(4, 5));
    canvas.SetViewportOrg(QPoint(6, 7));
    TCoordMap::ResetMapping(canvas);
    EXPECT_EQ(canvas.LPtoDP(QPoint(10, 20)), QPoint(10, 20));
}

TEST(DeviceQueries, OnlyThePrinterAndPrinterDevicesArePrinterCanvases)
{
    TBitmap bitmap = Bitmap24(2, 2);
    EXPECT_FALSE(IsPrinterCanvas(bitmap.Canvas()));
    EXPECT_TRUE(IsPrinterCanvas(Printer().Canvas()));
    EXPECT_EQ(&CanvasReferenceDC(bitmap.Canvas()), &bitmap.Canvas());
    TBitmapMemoryCanvas memory;
    EXPECT_FALSE(IsPrinterCanvas(memory));
    memory.SetReferenceDC(&Printer().Canvas());
    EXPECT_EQ(&CanvasReferenceDC(memory), &Printer().Canvas());
    EXPECT_TRUE(IsPrinterCanvas(memory));
}

TEST(MemoryCanvas, SelectsItsBitmapOnFirstUseAndDrawsOnIt)
{
    TBitmapMemoryCanvas canvas;
    EXPECT_FALSE(canvas.HandleCreated());
    canvas.Brush().SetColor(clRed);
    canvas.FillRect(QRect(1, 1, 1, 1));
    EXPECT_EQ(canvas.Requests, 1);
    EXPECT_EQ(canvas.SelectedBitmap(), &canvas.Bitmap);
    EXPECT_EQ(QColor(canvas.Bitmap.Image().pixel(1, 1)), QColor(Qt::red));
    canvas.FillRect(QRect(2, 2, 1, 1));
    EXPECT_EQ(canvas.Requests, 1);
    canvas.FreeHandles();
    EXPECT_EQ(canvas.SelectedBitmap(), nullptr);
}

TEST(MemoryCanvas, FontTakesTheReferenceDeviceResolutionKeepingItsPointSize)
{
    TBitmap reference = Bitmap24(1, 1);
    reference.Image().setDotsPerMeterX(qRound(192 / 0.0254));
    reference.Image().setDotsPerMeterY(qRound(192 / 0.0254));
    TBitmapMemoryCanvas canvas;
    canvas.SetReferenceDC(&reference.Canvas());
    canvas.Font().SetSize(10);
    canvas.FillRect(QRect(0, 0, 1, 1));
    EXPECT_EQ(canvas.Font().PixelsPerInch(), 192);
    EXPECT_EQ(canvas.Font().Size(), 10);
    EXPECT_EQ(canvas.Font().Height(), -27);
}
