// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Helpers around the canvas: scope guards that put a canvas's drawing objects (and, if asked,
// its whole device state) back, or make font, brush and pen changes reach a canvas whose
// change handlers another component replaced; a reset of the coordinate mapping; device
// queries; and a canvas over a bitmap that a subclass supplies.
//
// The guards are counted objects handed out as interface references: the change is undone
// when the caller's last reference goes. They derive from the framework's counted object
// (freed with its last reference), as graphics sits below the image store's bases.
#include "framework/TBitmap.h"
#include "framework/TCanvas.h"
#include "framework/TInterfacedObject.h"

#include <memory>

// Gives destination the copy mode, font, pen and brush of source (copies, not shared objects).
void CopyCanvasState(TCanvas& destination, TCanvas& source);

class TCanvasSaver : public TInterfacedObject {
public:
    TCanvasSaver(TCanvas& target, bool saveDC);
    ~TCanvasSaver() override;

private:
    TCanvas& FTarget;
    std::unique_ptr<TCanvas> FSnapshot;
    int FSavedState = 0; // 0 when the device state was not saved
};

class TCanvasEventAdjuster : public TInterfacedObject {
public:
    explicit TCanvasEventAdjuster(TCanvas& target);
    ~TCanvasEventAdjuster() override;

private:
    void ChainedFontChanged(TObject* sender);
    void ChainedBrushChanged(TObject* sender);
    void ChainedPenChanged(TObject* sender);

    TCanvas& FTarget;
    TNotifyEvent FSavedFont, FSavedBrush, FSavedPen;
    TNotifyEvent FStandardFont, FStandardBrush, FStandardPen; // bound to the target
};

// Snapshots the canvas's drawing objects (and its device state when saveDC is true) until the
// returned reference is released.
TInterfaceRef<IInterface> SaveCanvasState(TCanvas& canvas, bool saveDC);
// Chains the canvas's own handlers behind replaced ones until the returned reference is released.
TInterfaceRef<IInterface> AdjustCanvasEvents(TCanvas& canvas);

class TCoordMap {
public:
    // Device units (one logical unit is one pixel, y downwards) with both origins at (0, 0).
    static void ResetMapping(TCanvas& canvas);
};

// The canvas whose device decides sizes and resolution for drawing on canvas.
TCanvas& CanvasReferenceDC(TCanvas& canvas);
// True for the printer's canvas and for canvases whose reference device is a plotter or a
// raster printer.
bool IsPrinterCanvas(TCanvas& canvas);

// A canvas over a bitmap that the concrete subclass supplies, drawn with a reference device's
// resolution (the screen's unless one is set).
class TMemoryCanvas : public TCanvas {
public:
    TMemoryCanvas() = default;
    ~TMemoryCanvas() override;

    void SelectBitmap(TBitmap* bitmap);
    void DeselectBitmap();
    void FreeHandles();
    TBitmap* SelectedBitmap() const { return FSelected; }
    TCanvas& ReferenceDC();
    void SetReferenceDC(TCanvas* reference) { FReference = reference; }
    bool HandleCreated() const { return FHandleCreated; }

protected:
    virtual TBitmap* GetBitmapHandle() = 0;
    // Adopts the reference device's resolution for the font, then selects the bitmap.
    void CreateHandle();

    QPaintDevice* BeginDevice() override;
    void EndDevice(bool changed) override;
    QImage* DeviceImageForWrite() override;
    int DeviceTechnology() const override;

private:
    TBitmap* FSelected = nullptr;            // not owned
    TCanvas* FReference = nullptr;           // not owned
    std::unique_ptr<TCanvas> FScreen;        // made on first use when there is no reference
    bool FHandleCreated = false;
    QImage FConverted;                       // palette bitmaps are drawn on as 32-bit copies
};
