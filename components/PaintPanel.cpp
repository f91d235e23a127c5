// SPDX-License-Identifier: GPL-3.0-or-later
#include "components/PaintPanel.h"

#include <QEvent>
#include <QVariant>
#include <array>
#include <utility>

namespace {
constexpr int kInitialSize = 100;
constexpr const char* kAlignProperty = "align";

constexpr std::array<std::pair<TAlign, const char*>, 5> kAlignNames{{
    {TAlign::alTop, "alTop"}, {TAlign::alBottom, "alBottom"}, {TAlign::alLeft, "alLeft"},
    {TAlign::alRight, "alRight"}, {TAlign::alClient, "alClient"}}};
} // namespace

void SetAlign(QWidget* child, TAlign align)
{
    QString name;
    for (const auto& [value, text] : kAlignNames)
        if (value == align)
            name = QString::fromLatin1(text);
    child->setProperty(kAlignProperty, name);
    if (auto* panel = qobject_cast<TPaintPanel*>(child->parentWidget()))
        panel->Realign();
}

TAlign GetAlign(const QWidget* child)
{
    const QString name = child->property(kAlignProperty).toString();
    for (const auto& [value, text] : kAlignNames)
        if (name == QLatin1String(text))
            return value;
    return TAlign::alNone;
}

TPaintPanel::TPaintPanel(QWidget* owner) : TOriginalControl(owner)
{
    resize(kInitialSize, kInitialSize);
    FAlignOffset.OnChange = [this](TObject*) { Realign(); };
}

TPaintPanel::~TPaintPanel()
{
    disconnect(FBaseDestroyed);
}

void TPaintPanel::SetBaseControl(QWidget* control)
{
    if (control == FBaseControl)
        return;
    disconnect(FBaseDestroyed);
    FBaseControl = control;
    if (control)
        FBaseDestroyed = connect(control, &QObject::destroyed, this, [this] {
            FBaseControl = nullptr;
            Realign();
        });
    Realign();
}

void TPaintPanel::Realign()
{
    if (FAlignSuspended > 0)
        return;
    AlignControls({0, 0, width(), height()});
}

void TPaintPanel::AlignControls(TRect r)
{
    if (FBaseControl && FBaseControl->parentWidget() == this)
        FBaseControl->setGeometry(ToQRect(r));
    FAlignOffset.ApplyTo(r);
    const auto children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const auto& [align, name] : kAlignNames) {
        (void)name;
        for (QWidget* child : children) {
            if (child == FBaseControl || child->isWindow() || GetAlign(child) != align)
                continue;
            const int w = child->width();
            const int h = child->height();
            switch (align) {
            case TAlign::alTop:
                child->setGeometry(r.Left, r.Top, RectWidth(r), h);
                r.Top += h;
                break;
            case TAlign::alBottom:
                child->setGeometry(r.Left, r.Bottom - h, RectWidth(r), h);
                r.Bottom -= h;
                break;
            case TAlign::alLeft:
                child->setGeometry(r.Left, r.Top, w, RectHeight(r));
                r.Left += w;
                break;
            case TAlign::alRight:
                child->setGeometry(r.Right - w, r.Top, w, RectHeight(r));
                r.Right -= w;
                break;
            default:
                child->setGeometry(ToQRect(r));
                break;
            }
        }
    }
}

void TPaintPanel::Paint()
{
    Canvas().SetBrush(Brush());
    if (OnPaint) {
        OnPaint(this);
        return;
    }
    Canvas().FillRect(rect());
}

bool TPaintPanel::event(QEvent* event)
{
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::ChildAdded)
        Realign();
    return TOriginalControl::event(event);
}

void TPaintPanel::resizeEvent(QResizeEvent* event)
{
    TOriginalControl::resizeEvent(event);
    // The handler's own changes are aligned together with the resize, once, after it (also
    // when it fails).
    ++FAlignSuspended;
    struct TResume {
        TPaintPanel& Panel;
        ~TResume()
        {
            --Panel.FAlignSuspended;
            Panel.Realign();
        }
    } resume{*this};
    if (OnResize)
        OnResize(this);
}
