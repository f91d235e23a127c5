// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TBitmap.h"
#include "framework/TCanvas.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QWidget>
#include <future>

namespace {

TBitmap MakeBitmap(TPixelFormat format, int width, int height, const QColor& fill)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    bitmap.FillRect(QRect(0, 0, width, height), fill);
    return bitmap;
}

QImage Solid(int width, int height, const QColor& color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

struct TRopCase {
    const char* Name;
    TCopyMode Mode;
    QRgb Expected; // for destination 0x336699 and source 0xF0A050
};

const TRopCase kRopCases[] = {
    {"SRCCOPY", cmSrcCopy, qRgb(0xF0, 0xA0, 0x50)},
    {"SRCAND", SRCAND, qRgb(0x33 & 0xF0, 0x66 & 0xA0, 0x99 & 0x50)},
    {"SRCPAINT", SRCPAINT, qRgb(0x33 | 0xF0, 0x66 | 0xA0, 0x99 | 0x50)},
    {"MERGEPAINT", MERGEPAINT, qRgb((~0xF0 | 0x33) & 0xFF, (~0xA0 | 0x66) & 0xFF, (~0x50 | 0x99) & 0xFF)},
};

} // namespace

// Raster operations are computed on the bitmap's own pixels whatever its format, and passed to
// QPainter for a painter's device; both must give the platform's bitwise results.
TEST(Canvas, CopyModesCombineSourceAndDestinationBitwise)
{
    const QColor dest(0x33, 0x66, 0x99), source(0xF0, 0xA0, 0x50);
    for (const TRopCase& c : kRopCases) {
        for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
            TBitmap bitmap = MakeBitmap(format, 4, 3, dest);
            bitmap.Canvas().SetCopyMode(c.Mode);
            bitmap.Canvas().DrawImage(QRect(1, 1, 2, 1), Solid(1, 1, source));
            EXPECT_EQ(bitmap.Image().pixel(1, 1) & 0xFFFFFF, c.Expected & 0xFFFFFF) << c.Name;
            EXPECT_EQ(bitmap.Image().pixel(2, 1) & 0xFFFFFF, c.Expected & 0xFFFFFF) << c.Name;
            EXPECT_EQ(QColor(bitmap.Image().pixel(0, 1)), dest) << c.Name << ": outside the target";
            EXPECT_EQ(QColor(bitmap.Image().pixel(1, 0)), dest) << c.Name << ": outside the target";
        }
        QImage device = Solid(4, 3, dest);
        {
            QPainter painter(&device);
            TCanvas canvas(&painter);
            canvas.SetCopyMode(c.Mode);
            canvas.DrawImage(QRect(1, 1, 2, 1), Solid(1, 1, source));
        }
        EXPECT_EQ(device.pixel(2, 1) & 0xFFFFFF, c.Expected & 0xFFFFFF) << c.Name << " through a painter";
    }
}

// The transparent-drawing recipe: MERGEPAINT with a mask, then SRCAND with the image whose
// transparent pixels were made white, leaves the background where the mask is set.
TEST(Canvas, MaskThenImageLeavesBackgroundUnderTransparentPixels)
{
    TBitmap target = MakeBitmap(TPixelFormat::pf24bit, 2, 1, QColor(10, 20, 30));
    QImage mask(2, 1, QImage::Format_Mono);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    mask.setPixel(0, 0, 1); // transparent
    mask.setPixel(1, 0, 0);
    QImage image(2, 1, QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(255, 255, 255));
    image.setPixel(1, 0, qRgb(200, 100, 50));
    TCanvas& canvas = target.Canvas();
    canvas.SetBkColor(clWhite);
    canvas.SetTextColor(clBlack);
    canvas.SetCopyMode(MERGEPAINT);
    canvas.DrawImage(QRect(0, 0, 2, 1), mask);
    canvas.SetCopyMode(SRCAND);
    canvas.DrawImage(QRect(0, 0, 2, 1), image);
    EXPECT_EQ(QColor(target.Image().pixel(0, 0)), QColor(10, 20, 30));
    EXPECT_EQ(QColor(target.Image().pixel(1, 0)), QColor(200, 100, 50));
}

TEST(Canvas, MonochromeImagesTakeTextAndBackgroundColours)
{
    TBitmap target = MakeBitmap(TPixelFormat::pf24bit, 2, 1, Qt::gray);
    QImage mono(2, 1, QImage::Format_Mono);
    mono.setColorTable({qRgb(1, 2, 3), qRgb(4, 5, 6)});
    mono.setPixel(0, 0, 0);
    mono.setPixel(1, 0, 1);
    target.Canvas().SetTextColor(clRed);
    target.Canvas().SetBkColor(clBlue);
    target.Canvas().DrawImage(QRect(0, 0, 2, 1), mono);
    EXPECT_EQ(QColor(target.Image().pixel(0, 0)), QColor(Qt::red));
    EXPECT_EQ(QColor(target.Image().pixel(1, 0)), QColor(Qt::blue));
}

TEST(Canvas, ColorOnColorStretchRepeatsPixelsExactly)
{
    QImage source(2, 1, QImage::Format_RGB32);
    source.setPixel(0, 0, qRgb(255, 0, 0));
    source.setPixel(1, 0, qRgb(0, 0, 255));
    for (TCopyMode mode : {cmSrcCopy, SRCPAINT}) {
        TBitmap target = MakeBitmap(TPixelFormat::pf24bit, 4, 1, Qt::black);
        target.Canvas().SetStretchBltMode(COLORONCOLOR);
        target.Canvas().SetCopyMode(mode);
        target.Canvas().DrawImage(QRect(0, 0, 4, 1), source);
        const QRgb expected[] = {qRgb(255, 0, 0), qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 0, 255)};
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(target.Image().pixel(x, 0), expected[x]) << "mode " << std::hex << mode << " x " << x;
    }
}

TEST(Canvas, SavedStatesRestoreMappingColoursAndClip)
{
    TBitmap bitmap = MakeBitmap(TPixelFormat::pf24bit, 10, 10, Qt::white);
    TCanvas& canvas = bitmap.Canvas();
    const int first = canvas.SaveDC();
    canvas.SetViewportOrg(QPoint(5, 5));
    canvas.SetBkColor(clRed);
    canvas.IntersectClipRect(QRect(0, 0, 2, 2));
    const int second = canvas.SaveDC();
    EXPECT_EQ(second, first + 1);
    canvas.SetWindowOrg(QPoint(1, 1));
    EXPECT_EQ(canvas.LPtoDP(QPoint(1, 1)), QPoint(5, 5));
    EXPECT_TRUE(canvas.RestoreDC(-1));
    EXPECT_EQ(canvas.WindowOrg(), QPoint(0, 0));
    EXPECT_EQ(canvas.ViewportOrg(), QPoint(5, 5));
    // Restoring an older state discards the newer ones.
    canvas.SaveDC();
    EXPECT_TRUE(canvas.RestoreDC(first));
    EXPECT_EQ(canvas.ViewportOrg(), QPoint(0, 0));
    EXPECT_EQ(canvas.BkColor(), clWhite);
    EXPECT_FALSE(canvas.ClipRegion().has_value());
    EXPECT_FALSE(canvas.RestoreDC(first));
}

TEST(Canvas, OriginsPlaceLogicalCoordinates)
{
    TBitmap bitmap = MakeBitmap(TPixelFormat::pf24bit, 100, 100, Qt::white);
    TCanvas& canvas = bitmap.Canvas();
    canvas.SetWindowOrg(QPoint(1, 1));
    canvas.SetViewportOrg(QPoint(3, 3));
    EXPECT_EQ(canvas.LPtoDP(QPoint(6, 6)), QPoint(8, 8));
    EXPECT_EQ(canvas.DPtoLP(QPoint(8, 8)), QPoint(6, 6));

    // Drawing follows the mapping.
    canvas.SetWindowOrg(QPoint(0, 0));
    canvas.SetViewportOrg(QPoint(50, 60));
    canvas.Brush().SetColor(clRed);
    canvas.FillRect(QRect(0, 0, 1, 1));
    EXPECT_EQ(QColor(bitmap.Image().pixel(50, 60)), QColor(Qt::red));
    EXPECT_EQ(canvas.Pixel(0, 0), clRed);
}

TEST(Canvas, ClipLimitsDrawingAndReportsItsKind)
{
    TBitmap bitmap = MakeBitmap(TPixelFormat::pf24bit, 8, 8, Qt::white);
    TCanvas& canvas = bitmap.Canvas();
    QRect box;
    EXPECT_EQ(canvas.DeviceClipBox(box), SIMPLEREGION);
    EXPECT_EQ(box, QRect(0, 0, 8, 8));
    canvas.IntersectClipRect(QRect(2, 2, 3, 3));
    canvas.Brush().SetColor(clBlack);
    canvas.SetCopyMode(cmSrcCopy);
    canvas.FillRect(QRect(0, 0, 8, 8));
    canvas.SetCopyMode(SRCAND);
    canvas.DrawImage(QRect(0, 0, 8, 8), Solid(1, 1, Qt::black));
    EXPECT_EQ(QColor(bitmap.Image().pixel(1, 1)), QColor(Qt::white));
    EXPECT_EQ(QColor(bitmap.Image().pixel(2, 2)), QColor(Qt::black));
    EXPECT_EQ(QColor(bitmap.Image().pixel(5, 5)), QColor(Qt::white));
    EXPECT_EQ(canvas.Pixel(1, 1), clNone);
    EXPECT_FALSE(canvas.RectVisible(QRect(6, 6, 2, 2)));
    canvas.SelectClipRegion(QRegion(QRect(0, 0, 1, 1)) + QRegion(QRect(4, 4, 1, 1)));
    EXPECT_EQ(canvas.DeviceClipBox(box), COMPLEXREGION);
    canvas.SelectClipRegion(QRegion());
    EXPECT_EQ(canvas.DeviceClipBox(box), NULLREGION);
}

// The canvas's own handlers make a changed font, pen or brush current for the next operation;
// with the handler replaced, the canvas keeps what it selected until it is refreshed.
TEST(Canvas, ObjectsChangedBehindReplacedHandlersStaySelectedUntilRefresh)
{
    TCanvas canvas;
    canvas.Font().SetColor(clRed);
    EXPECT_EQ(canvas.SelectedFont().Color(), clRed);
    canvas.Font().SetColor(clBlue);
    EXPECT_EQ(canvas.SelectedFont().Color(), clBlue);

    canvas.Font().OnChange = {};
    canvas.Font().SetColor(clLime);
    EXPECT_EQ(canvas.SelectedFont().Color(), clBlue);
    canvas.Refresh();
    EXPECT_EQ(canvas.SelectedFont().Color(), clLime);
}

TEST(Canvas, FontSizeFollowsResolution)
{
    TFont font;
    font.SetSize(12);
    EXPECT_EQ(font.Height(), -16); // 12 points at 96 pixels per inch
    font.SetPixelsPerInch(192);
    EXPECT_EQ(font.Height(), -16);
    EXPECT_EQ(font.Size(), 6);
    font.SetSize(12);
    EXPECT_EQ(font.Height(), -32);
}

TEST(Canvas, PixelsOfPaletteBitmapsUseTheNearestEntry)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf8bit);
    bitmap.SetSize(2, 1);
    bitmap.Image().setColorTable({qRgb(0, 0, 0), qRgb(250, 0, 0), qRgb(0, 0, 250)});
    bitmap.Canvas().SetPixel(1, 0, clRed);
    EXPECT_EQ(bitmap.ScanLine(0)[1], 1);
    EXPECT_EQ(bitmap.Canvas().Pixel(1, 0), RGB(250, 0, 0));
    // Drawing on a palette bitmap maps the result back onto its table.
    bitmap.Canvas().Brush().SetColor(clBlue);
    bitmap.Canvas().FillRect(QRect(0, 0, 1, 1));
    EXPECT_EQ(bitmap.ScanLine(0)[0], 2);
    EXPECT_EQ(bitmap.Image().colorCount(), 3);
}

TEST(Canvas, LockKeepsOtherThreadsOut)
{
    TCanvas canvas;
    canvas.Lock();
    canvas.Lock(); // the owner may nest
    EXPECT_EQ(canvas.LockCount(), 2);
    EXPECT_FALSE(std::async(std::launch::async, [&] { return canvas.TryLock(); }).get());
    canvas.Unlock();
    canvas.Unlock();
    EXPECT_TRUE(std::async(std::launch::async, [&] {
                    const bool locked = canvas.TryLock();
                    if (locked)
                        canvas.Unlock();
                    return locked;
                }).get());
}

TEST(Canvas, TextOutFillsItsCell)
{
    TBitmap bitmap = MakeBitmap(TPixelFormat::pf24bit, 200, 40, Qt::white);
    TCanvas& canvas = bitmap.Canvas();
    canvas.Brush().SetColor(clYellow);
    canvas.Font().SetColor(clBlack);
    const QSize extent = canvas.TextExtent(QStringLiteral("Framora"));
    ASSERT_GT(extent.width(), 0);
    canvas.TextOut(5, 5, QStringLiteral("Framora"));
    EXPECT_EQ(QColor(bitmap.Image().pixel(4 + extent.width(), 5)), QColor(Qt::yellow));
    EXPECT_EQ(QColor(bitmap.Image().pixel(5 + extent.width(), 5)), QColor(Qt::white));
    EXPECT_EQ(QColor(bitmap.Image().pixel(5, 5)), QColor(Qt::yellow));
    EXPECT_EQ(QColor(bitmap.Image().pixel(4, 5)), QColor(Qt::white));
}

// A destination far larger than the device must not make the canvas stretch the source to it.
TEST(Canvas, HugeDestinationsDrawOnlyTheVisiblePart)
{
    TBitmap bitmap = MakeBitmap(TPixelFormat::pf24bit, 4, 4, Qt::white);
    bitmap.Canvas().SetCopyMode(SRCAND);
    bitmap.Canvas().DrawImage(QRect(-1000000, -1000000, 2000000, 2000000), Solid(2, 2, Qt::red));
    EXPECT_EQ(QColor(bitmap.Image().pixel(3, 3)), QColor(Qt::red));
}

// A widget's canvas exists only during its paint event and draws through the painter it is
// given; raster operations still combine with what is already there.
TEST(Canvas, WidgetCanvasDrawsThroughThePaintEventsPainter)
{
    class TPainted : public QWidget {
    protected:
        void paintEvent(QPaintEvent*) override
        {
            QPainter painter(this);
            TCanvas canvas(&painter);
            canvas.Brush().SetColor(RGB(0x33, 0x66, 0x99));
            canvas.FillRect(rect());
            canvas.SetViewportOrg(QPoint(2, 0));
            canvas.SetCopyMode(SRCPAINT);
            canvas.DrawImage(QRect(0, 0, 2, 2), Solid(1, 1, QColor(0xC0, 0x00, 0x00)));
        }
    } widget;
    widget.resize(6, 2);
    const QImage shot = widget.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(0, 0)), QColor(0x33, 0x66, 0x99));
    EXPECT_EQ(QColor(shot.pixel(2, 1)), QColor(0xF3, 0x66, 0x99));
    EXPECT_EQ(QColor(shot.pixel(4, 1)), QColor(0x33, 0x66, 0x99));
}
