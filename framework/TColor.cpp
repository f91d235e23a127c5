// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TColor.h"

#include <QGuiApplication>
#include <QPalette>

TColor ColorToRGB(TColor color)
{
    if ((color & 0xFF000000) != clSystemColor)
        return color & 0xFFFFFF;
    const QPalette palette = QGuiApplication::palette();
    switch (color) {
    case clBtnFace: return QColorToColor(palette.color(QPalette::Button));
    case clBtnShadow: return QColorToColor(palette.color(QPalette::Mid));
    case clBtnHighlight: return QColorToColor(palette.color(QPalette::Light));
    case clBtnText: return QColorToColor(palette.color(QPalette::ButtonText));
    case clWindow: return QColorToColor(palette.color(QPalette::Base));
    case clWindowText: return QColorToColor(palette.color(QPalette::Text));
    case clHighlight: return QColorToColor(palette.color(QPalette::Highlight));
    case clHighlightText: return QColorToColor(palette.color(QPalette::HighlightedText));
    case cl3DDkShadow: return QColorToColor(palette.color(QPalette::Shadow));
    case cl3DLight: return QColorToColor(palette.color(QPalette::Midlight));
    default: return QColorToColor(palette.color(QPalette::Window));
    }
}

QColor ColorToQColor(TColor color)
{
    const TColor rgb = ColorToRGB(color);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

TColor QColorToColor(const QColor& color)
{
    return RGB(color.red(), color.green(), color.blue());
}
