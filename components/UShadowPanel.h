// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A panel with a pen frame, a drop shadow along its right and bottom edges and a caption of one
// or two lines. With the shadow on, the window's shape leaves out the two corners the shadow
// band does not cover (top right, bottom left), so the parent shows there.
#include "components/PaintPanel.h"

#include <QRegion>
#include <optional>

enum class TAlignmentEx { taeLeftJustify, taeRightJustify, taeCenter, taeLeftRight };

class TShadowPanel : public TPaintPanel {
    Q_OBJECT
public:
    explicit TShadowPanel(QWidget* owner = nullptr);
    ~TShadowPanel() override;

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& caption);
    TFont& Font() { return FFont; }
    void SetFont(const TFont& font) { FFont.Assign(font); }
    TPen& Pen() { return FPen; }
    void SetPen(const TPen& pen) { FPen.Assign(pen); }
    bool Shadow() const { return FShadow; }
    void SetShadow(bool shadow);
    TColor ShadowColor() const { return FShadowColor; }
    void SetShadowColor(TColor color);
    int ShadowWidth() const { return FShadowWidth; }
    void SetShadowWidth(int width);
    TAlignmentEx Alignment() const { return FAlignment; }
    void SetAlignment(TAlignmentEx alignment);

    void UpdateShadowRegion();
    void ReleaseShadowRegion();
    // The window shape in use; none while the panel is a plain rectangle.
    const std::optional<QRegion>& ShadowRegion() const { return FShadowRegion; }

    // Line n of text: lines are separated by line feeds and end at their first carriage return.
    static QString CaptionLine(const QString& text, int n);
    // Where DrawCaptionText puts a text of textSize in r shrunk by inset on every side.
    static QPoint CaptionTextOrigin(TAlignmentEx alignment, QSize textSize, const TRect& r, int inset);
    // Draws text at CaptionTextOrigin, clipped to the shrunk r, over a fill with the brush.
    void DrawCaptionText(TAlignmentEx alignment, const QString& text, TRect r, int inset);

protected:
    void Paint() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void StyleChanged(TObject* sender);

    QString FCaption;
    TFont FFont;
    TPen FPen;
    bool FShadow = true;
    TColor FShadowColor = clBlack;
    int FShadowWidth = 2;
    TAlignmentEx FAlignment = TAlignmentEx::taeLeftJustify;
    std::optional<QRegion> FShadowRegion;
};
