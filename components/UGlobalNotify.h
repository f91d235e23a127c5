// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TGlobalNotify: a component a form drops in to hear the application's events (idle,
// activation, minimise, restore, hint) and the changes of the active control and active window,
// as one subscriber among any number. The two changes are taken from Qt once, by a process-wide
// dispatcher, and re-broadcast to every TGlobalNotify. A TGlobalNotify also answers the
// application's exception event with nothing, so an exception that escapes a handler is dropped
// without a message.
#include "framework/TApplication.h"
#include "framework/TObject.h"
#include "framework/UBroadcaster.h"

#include <QObject>
#include <functional>
#include <memory>

// Sent by the dispatcher, with itself as sender.
inline constexpr TGUID kActiveControlChangedEventId{0x5D2E8A41, 0xC3F7, 0x4B19, {0xA6, 0x0E, 0x73, 0x9B, 0x14, 0xD8, 0x2C, 0x50}};
inline constexpr TGUID kActiveFormChangedEventId{0x5D2E8A42, 0xC3F7, 0x4B19, {0xA6, 0x0E, 0x73, 0x9B, 0x14, 0xD8, 0x2C, 0x50}};

using TGlobalNotifyEvent = std::function<void(QObject* sender)>;

// Turns Qt's focus and active-window changes into broadcasts. One per process (Instance).
class TScreenEventDispatcher : public TBroadcastingObject {
public:
    TScreenEventDispatcher();
    ~TScreenEventDispatcher() override;

    // Created on first use; lives until the program ends.
    static TScreenEventDispatcher& Instance();

    // What the dispatcher does when Qt reports a change; tests call them to stand for one.
    void ActiveControlChange();
    void ActiveFormChange();

private:
    std::unique_ptr<QObject> FConnections; // owns the connections to the application's signals
    QWidget* FActiveWindow = nullptr;      // compared only, never dereferenced
};

class TGlobalNotify : public TApplicationEvents {
    Q_OBJECT
public:
    explicit TGlobalNotify(QObject* owner = nullptr);
    ~TGlobalNotify() override;

    // Once each time the event loop has run out of work; sender is this component.
    TGlobalNotifyEvent OnIdle;
    // Sender is this component.
    TGlobalNotifyEvent OnActiveControlChange;
    TGlobalNotifyEvent OnActiveFormChange;

private:
    void ScreenEvent(TObject* sender, const TGUID& eventId);

    std::unique_ptr<TListener> FListener;
};
