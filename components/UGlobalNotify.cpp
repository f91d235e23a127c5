// SPDX-License-Identifier: GPL-3.0-or-later
#include "components/UGlobalNotify.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

TScreenEventDispatcher::TScreenEventDispatcher() : FConnections(std::make_unique<QObject>())
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    FActiveWindow = QApplication::activeWindow();
    QObject::connect(app, &QApplication::focusChanged, FConnections.get(), [this] { ActiveControlChange(); });
    QObject::connect(app, &QGuiApplication::focusWindowChanged, FConnections.get(), [this] {
        if (QApplication::activeWindow() != FActiveWindow)
            ActiveFormChange();
    });
}

TScreenEventDispatcher::~TScreenEventDispatcher()
{
    FConnections.reset();
    FreeOwnBroadcaster();
}

TScreenEventDispatcher& TScreenEventDispatcher::Instance()
{
    static TScreenEventDispatcher dispatcher;
    return dispatcher;
}

void TScreenEventDispatcher::ActiveControlChange()
{
    Notify(this, kActiveControlChangedEventId);
}

void TScreenEventDispatcher::ActiveFormChange()
{
    FActiveWindow = QApplication::activeWindow();
    Notify(this, kActiveFormChangedEventId);
}

TGlobalNotify::TGlobalNotify(QObject* owner)
    : TApplicationEvents(owner),
      FListener(std::make_unique<TListener>([this](TObject* sender, const TGUID& id) { ScreenEvent(sender, id); }))
{
    // Leaving done alone lets the loop wait for the next event: one call per idle period.
    TApplicationEvents::OnIdle = [this](QObject*, bool&) {
        if (OnIdle)
            OnIdle(this);
    };
    FListener->Listen(&TScreenEventDispatcher::Instance());
    TApplicationEvents::OnException = [](QObject*, std::exception_ptr) {};
}

TGlobalNotify::~TGlobalNotify()
{
    FListener.reset();
}

void TGlobalNotify::ScreenEvent(TObject*, const TGUID& eventId)
{
    if (OnActiveControlChange && eventId == kActiveControlChangedEventId)
        OnActiveControlChange(this);
    else if (OnActiveFormChange && eventId == kActiveFormChangedEventId)
        OnActiveFormChange(this);
}
