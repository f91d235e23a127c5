// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The font, pen and brush a canvas draws with: values plus a change event, so that the canvas
// (or a component watching them) knows when to select them again.

#include "framework/TColor.h"
#include "framework/TObject.h"

#include <QFont>
#include <QString>

// Font, pen and brush: values plus a change event raised after every change.
class TGraphicsObject : public TObject {
public:
    TNotifyEvent OnChange;

protected:
    void Changed() { OnChange(this); }
};

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

// The screen's resolution as fonts assume it.
inline constexpr int kScreenPixelsPerInch = 96;

class TFont : public TGraphicsObject {
public:
    TFont();
    TFont(const TFont& other);
    TFont& operator=(const TFont& other);

    // Copies the values (not the change handler) and raises OnChange.
    void Assign(const TFont& source);

    QString Name() const { return FName; }
    void SetName(const QString& name);
    // Height in pixels; negative values give the character height (without internal leading).
    int Height() const { return FHeight; }
    void SetHeight(int height);
    // Size in points at the font's resolution.
    int Size() const;
    void SetSize(int points);
    // Changing the resolution keeps the height in pixels (and so changes the size in points).
    int PixelsPerInch() const { return FPixelsPerInch; }
    void SetPixelsPerInch(int ppi) { FPixelsPerInch = ppi > 0 ? ppi : kScreenPixelsPerInch; }
    TColor Color() const { return FColor; }
    void SetColor(TColor color);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles style);

    QFont ToQFont() const;

private:
    QString FName;
    int FHeight;
    int FPixelsPerInch = kScreenPixelsPerInch;
    TColor FColor = clWindowText;
    TFontStyles FStyle = 0;
};

enum class TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };

class TPen : public TGraphicsObject {
public:
    TPen() = default;
    TPen(const TPen& other);
    TPen& operator=(const TPen& other);
    void Assign(const TPen& source);

    TColor Color() const { return FColor; }
    void SetColor(TColor color);
    int Width() const { return FWidth; }
    void SetWidth(int width);
    TPenStyle Style() const { return FStyle; }
    void SetStyle(TPenStyle style);

private:
    TColor FColor = clBlack;
    int FWidth = 1;
    TPenStyle FStyle = TPenStyle::psSolid;
};

enum class TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };

class TBrush : public TGraphicsObject {
public:
    TBrush() = default;
    TBrush(const TBrush& other);
    TBrush& operator=(const TBrush& other);
    void Assign(const TBrush& source);

    TColor Color() const { return FColor; }
    void SetColor(TColor color);
    TBrushStyle Style() const { return FStyle; }
    void SetStyle(TBrushStyle style);

private:
    TColor FColor = clWhite;
    TBrushStyle FStyle = TBrushStyle::bsSolid;
};
