// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The canvas: a drawing surface with a font, a pen, a brush and a copy mode, over a QPainter.
//
// A canvas draws on a device it opens for each operation (a bitmap's image; subclasses say
// which) or through a painter someone else keeps open (a widget during its paint event, a
// recording metafile). What Windows kept in a device context lives here: the
// coordinate mapping, the clip region, background and text colours, the stretch mode and the
// saved states, and the font, pen and brush last selected into it. The canvas's own change
// handlers on its font, pen and brush deselect them so the next operation selects them again;
// a component that replaces those handlers keeps the old objects selected until it refreshes
// the canvas (which is what the canvas event adjuster deals with).
//
// Copy modes are the raster operations of Windows (ROP3 codes); the canvas knows the four that
// drawing here uses, and draws any other code as a plain copy. On image devices they are
// computed in software on the destination's pixels, whatever their format; on other devices
// they are passed to QPainter.
#include "framework/TColor.h"
#include "framework/TGraphicsObjects.h"
#include "framework/TObject.h"

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QTransform>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QPainter;
class QPaintDevice;
class TGraphic;

// Raster operations (ROP3): bits 16..23 are the truth table over pattern, source, destination.
using TCopyMode = std::uint32_t;
inline constexpr TCopyMode cmMergePaint = 0x00BB0226;
inline constexpr TCopyMode cmSrcAnd = 0x008800C6;
inline constexpr TCopyMode cmSrcCopy = 0x00CC0020;
inline constexpr TCopyMode cmSrcPaint = 0x00EE0086;
inline constexpr TCopyMode SRCCOPY = cmSrcCopy;
inline constexpr TCopyMode SRCAND = cmSrcAnd;
inline constexpr TCopyMode SRCPAINT = cmSrcPaint;
inline constexpr TCopyMode MERGEPAINT = cmMergePaint;

// Stretch modes: how stretched pictures drop or merge pixels.
inline constexpr int BLACKONWHITE = 1;
inline constexpr int WHITEONBLACK = 2;
inline constexpr int COLORONCOLOR = 3;
inline constexpr int HALFTONE = 4;

// Background modes for text.
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;

// Device capabilities and the technologies a device reports.
enum class TDeviceCap { HorzRes, VertRes, LogPixelsX, LogPixelsY, BitsPixel, Planes, Technology };
inline constexpr int DT_PLOTTER = 0;
inline constexpr int DT_RASDISPLAY = 1;
inline constexpr int DT_RASPRINTER = 2;
inline constexpr int DT_RASCAMERA = 3;
inline constexpr int DT_CHARSTREAM = 4;
inline constexpr int DT_METAFILE = 5;
inline constexpr int DT_DISPFILE = 6;

// Clip box kinds.
inline constexpr int NULLREGION = 1;
inline constexpr int SIMPLEREGION = 2;
inline constexpr int COMPLEXREGION = 3;

class TCanvas : public TObject {
public:
    // A canvas without a device: it draws once a painter is attached (SetPainter) or, in
    // subclasses, on the device they open.
    TCanvas();
    // Draws through painter, which must stay active while it is attached.
    explicit TCanvas(QPainter* painter);
    ~TCanvas() override;
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TFont& Font() { return FFont; }
    TPen& Pen() { return FPen; }
    TBrush& Brush() { return FBrush; }
    void SetFont(const TFont& font) { FFont.Assign(font); }
    void SetPen(const TPen& pen) { FPen.Assign(pen); }
    void SetBrush(const TBrush& brush) { FBrush.Assign(brush); }
    TCopyMode CopyMode() const { return FCopyMode; }
    void SetCopyMode(TCopyMode mode) { FCopyMode = mode; }

    // --- the handle: an attached painter or the device a subclass opens ---
    void SetPainter(QPainter* painter);
    QPainter* Painter() const { return FPainter; }
    bool HandleAllocated() const;
    // Makes sure the canvas can draw; raises Exception when it has nothing to draw on.
    void HandleNeeded();
    // Gives the font, pen and brush back: the next operation selects them again. Also
    // forgets a painter that was attached.
    void Refresh();
    // The objects the next operation draws with, selecting the current ones where the
    // canvas has been told they changed.
    const TFont& SelectedFont();
    const TPen& SelectedPen();
    const TBrush& SelectedBrush();

    // --- device state ---
    // Saves the whole device state; the result identifies it (1, 2, ...).
    int SaveDC();
    // Restores state id (a negative id counts back from the newest); states saved after it
    // are discarded. False when there is no such state.
    bool RestoreDC(int id);
    // Logical units are pixels with y downwards; only the two origins move them.
    QPoint SetWindowOrg(QPoint origin);
    QPoint SetViewportOrg(QPoint origin);
    QPoint WindowOrg() const { return FState.WindowOrg; }
    QPoint ViewportOrg() const { return FState.ViewportOrg; }
    QPoint LPtoDP(QPoint point);
    QPoint DPtoLP(QPoint point);
    QRect LPtoDP(const QRect& rect);
    QRect DPtoLP(const QRect& rect);
    // Logical to device coordinates as a transform.
    QTransform DeviceTransform();
    TColor BkColor() const { return FState.BkColor; }
    TColor SetBkColor(TColor color);
    TColor TextColor() const { return FState.TextColor; }
    TColor SetTextColor(TColor color);
    int BkMode() const { return FState.BkMode; }
    int SetBkMode(int mode);
    int SetStretchBltMode(int mode);

    // Clipping, in device coordinates; no region means the whole device.
    void SelectClipRegion(const std::optional<QRegion>& region);
    std::optional<QRegion> ClipRegion() const { return FState.Clip; }
    // Narrows the clip to a rectangle given in logical coordinates.
    void IntersectClipRect(const QRect& rect);
    // The bounding box of what can be drawn, in device coordinates, and its kind
    // (NULLREGION, SIMPLEREGION, COMPLEXREGION).
    int DeviceClipBox(QRect& box);
    // The same box in logical coordinates.
    QRect ClipRect();
    bool RectVisible(const QRect& rect);

    int DeviceCaps(TDeviceCap cap);
    // Device size in pixels, (0, 0) when there is no device.
    QSize DeviceSize();

    // --- locking: one thread draws on a canvas at a time ---
    void Lock();
    bool TryLock();
    void Unlock();
    int LockCount() const { return FLockCount; }

    // --- drawing, all in logical coordinates ---
    void FillRect(const QRect& rect);
    void FrameRect(const QRect& rect);
    void Rectangle(const QRect& rect);
    void TextOut(int x, int y, const QString& text);
    void TextRect(const QRect& rect, int x, int y, const QString& text);
    QSize TextExtent(const QString& text);
    int TextWidth(const QString& text) { return TextExtent(text).width(); }
    // clNone outside the device or the clip, or on devices whose pixels cannot be read.
    TColor Pixel(int x, int y);
    void SetPixel(int x, int y, TColor color);
    void Draw(int x, int y, TGraphic& graphic);
    void StretchDraw(const QRect& rect, TGraphic& graphic);
    // Copies source's area onto dest with the copy mode and stretch mode of this canvas.
    void CopyRect(const QRect& dest, TCanvas& source, const QRect& sourceRect);
    // Draws the part source of image into dest with the copy mode and stretch mode. A 1-bit
    // image draws its 0 bits in the text colour and its 1 bits in the background colour.
    void DrawImage(const QRect& dest, const QImage& image, const QRect& source);
    void DrawImage(const QRect& dest, const QImage& image) { DrawImage(dest, image, image.rect()); }
    // The device's pixels when it is an image (a bitmap's, or the image a painter draws on);
    // null otherwise. Valid until the next operation.
    const QImage* DeviceImage();

    // Raised around every drawing operation (the bitmap a canvas draws on listens).
    TNotifyEvent OnChanging;
    TNotifyEvent OnChange;

    // The handlers the canvas installs on its own font, pen and brush.
    void FontChanged(TObject* sender);
    void PenChanged(TObject* sender);
    void BrushChanged(TObject* sender);

protected:
    // Subclasses that own a device open it here for one operation; null when there is none.
    virtual QPaintDevice* BeginDevice() { return nullptr; }
    // Ends what BeginDevice opened; changed says whether pixels may have been written.
    virtual void EndDevice(bool changed) { (void)changed; }
    // The image behind BeginDevice, for direct pixel work; null when it is not an image.
    virtual QImage* DeviceImageForWrite() { return nullptr; }
    // Device queries for a subclass whose device is not open.
    virtual int DeviceTechnology() const { return DT_RASDISPLAY; }

    void Changing() { OnChanging(this); }
    void Changed() { OnChange(this); }

private:
    friend class TCanvasPaint;
    struct TDeviceState {
        QPoint WindowOrg;
        QPoint ViewportOrg;
        std::optional<QRegion> Clip;
        TColor BkColor = clWhite;
        TColor TextColor = clBlack;
        int BkMode = OPAQUE;
        int StretchMode = BLACKONWHITE;
    };
    enum : unsigned { csFontValid = 1, csPenValid = 2, csBrushValid = 4 };

    void ApplyRasterOp(const QRect& deviceRect, const QImage& source);

    QPainter* FPainter = nullptr;
    TFont FFont;
    TPen FPen;
    TBrush FBrush;
    TFont FSelFont;
    TPen FSelPen;
    TBrush FSelBrush;
    unsigned FSelectedValid = 0; // which of the selected objects match the current ones
    TCopyMode FCopyMode = cmSrcCopy;
    TDeviceState FState;
    std::vector<TDeviceState> FSaved;
    std::recursive_mutex FLock;
    int FLockCount = 0;
};
