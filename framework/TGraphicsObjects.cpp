// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TGraphicsObjects.h"

#include "framework/MulDiv.h"

namespace {
constexpr int kDefaultFontPoints = 9;
constexpr int kPointsPerInch = 72;
} // namespace

TFont::TFont() : FHeight(-MulDiv(kDefaultFontPoints, kScreenPixelsPerInch, kPointsPerInch)) {}

TFont::TFont(const TFont& other)
    : TGraphicsObject(), FName(other.FName), FHeight(other.FHeight), FPixelsPerInch(other.FPixelsPerInch),
      FColor(other.FColor), FStyle(other.FStyle)
{
}

TFont& TFont::operator=(const TFont& other)
{
    Assign(other);
    return *this;
}

void TFont::Assign(const TFont& source)
{
    if (&source == this)
        return;
    FName = source.FName;
    FHeight = source.FHeight;
    FPixelsPerInch = source.FPixelsPerInch;
    FColor = source.FColor;
    FStyle = source.FStyle;
    Changed();
}

void TFont::SetName(const QString& name)
{
    if (name != FName) {
        FName = name;
        Changed();
    }
}

void TFont::SetHeight(int height)
{
    if (height != FHeight) {
        FHeight = height;
        Changed();
    }
}

int TFont::Size() const
{
    return -MulDiv(FHeight, kPointsPerInch, FPixelsPerInch);
}

void TFont::SetSize(int points)
{
    SetHeight(-MulDiv(points, FPixelsPerInch, kPointsPerInch));
}

void TFont::SetColor(TColor color)
{
    if (color != FColor) {
        FColor = color;
        Changed();
    }
}

void TFont::SetStyle(TFontStyles style)
{
    if (style != FStyle) {
        FStyle = style;
        Changed();
    }
}

QFont TFont::ToQFont() const
{
    QFont font;
    if (!FName.isEmpty())
        font.setFamily(FName);
    font.setPixelSize(std::max(1, std::abs(FHeight)));
    font.setBold((FStyle & fsBold) != 0);
    font.setItalic((FStyle & fsItalic) != 0);
    font.setUnderline((FStyle & fsUnderline) != 0);
    font.setStrikeOut((FStyle & fsStrikeOut) != 0);
    return font;
}

TPen::TPen(const TPen& other) : TGraphicsObject(), FColor(other.FColor), FWidth(other.FWidth), FStyle(other.FStyle) {}

TPen& TPen::operator=(const TPen& other)
{
    Assign(other);
    return *this;
}

void TPen::Assign(const TPen& source)
{
    if (&source == this)
        return;
    FColor = source.FColor;
    FWidth = source.FWidth;
    FStyle = source.FStyle;
    Changed();
}

void TPen::SetColor(TColor color)
{
    if (color != FColor) {
        FColor = color;
        Changed();
    }
}

void TPen::SetWidth(int width)
{
    if (width != FWidth) {
        FWidth = width;
        Changed();
    }
}

void TPen::SetStyle(TPenStyle style)
{
    if (style != FStyle) {
        FStyle = style;
        Changed();
    }
}

TBrush::TBrush(const TBrush& other) : TGraphicsObject(), FColor(other.FColor), FStyle(other.FStyle) {}

TBrush& TBrush::operator=(const TBrush& other)
{
    Assign(other);
    return *this;
}

void TBrush::Assign(const TBrush& source)
{
    if (&source == this)
        return;
    FColor = source.FColor;
    FStyle = source.FStyle;
    Changed();
}

void TBrush::SetColor(TColor color)
{
    if (color != FColor) {
        FColor = color;
        Changed();
    }
}

void TBrush::SetStyle(TBrushStyle style)
{
    if (style != FStyle) {
        FStyle = style;
        Changed();
    }
}
