// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TrackBarStyle.h"

#include <QApplication>
#include <QProxyStyle>
#include <QSlider>

namespace {

class TClickToPositionStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        const int base = QProxyStyle::styleHint(hint, option, widget, returnData);
        if (hint == SH_Slider_AbsoluteSetButtons)
            return base | Qt::LeftButton;
        // A button sets the position or pages, never both.
        if (hint == SH_Slider_PageSetButtons)
            return base & ~Qt::LeftButton;
        return base;
    }
};

} // namespace

void SetClickToPosition(QSlider& slider)
{
    // Built by name over the application's style, which the proxy must not take over.
    auto* style = new TClickToPositionStyle(QApplication::style()->name());
    style->setParent(&slider);
    slider.setStyle(style);
}
