// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Two process-wide lists of listeners to the messages of this program's windows: one hears the
// events that come out of the window system's queue, the other every event delivered to a
// widget. Each list watches the application through one event filter, installed when its first
// listener arrives and kept until the list goes. A removed listener leaves an empty slot, so the
// order of the others (and a round in progress) is not disturbed.
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

// What a listener is told: the receiving object, the event's type and the event itself.
struct TMessageRecord {
    QObject* Window = nullptr;
    QEvent::Type Message = QEvent::None;
    QEvent* Event = nullptr;
};

// A listener is a (code, object) pair, compared as a pair when it is removed.
struct THookListener {
    using TCode = void (*)(void* data, const TMessageRecord& message);
    TCode Code = nullptr;
    void* Data = nullptr;
    friend bool operator==(const THookListener&, const THookListener&) = default;
};

// MakeHookListener<&TFormPanel::HelpHook>(panel)
template <auto Method, class C>
THookListener MakeHookListener(C* object)
{
    return {[](void* data, const TMessageRecord& message) { (static_cast<C*>(data)->*Method)(message); },
            static_cast<void*>(object)};
}

class TMessageHookList {
public:
    TMessageHookList();
    virtual ~TMessageHookList();
    TMessageHookList(const TMessageHookList&) = delete;
    TMessageHookList& operator=(const TMessageHookList&) = delete;

    // Installs the filter unless it is installed, then appends the listener.
    void AddHookListener(THookListener listener);
    // Empties the first slot holding this listener.
    void RemoveHookListener(THookListener listener);

    virtual void Install();
    virtual void Uninstall();
    bool Installed() const { return FFilter != nullptr; }
    int SlotCount() const { return static_cast<int>(FListeners.size()); }
    int ListenerCount() const;

    // Runs a round for one delivery: when Filter passes, every listener present when the round
    // started, in slot order. An exception goes to the application's exception handling and
    // ends the round. The event always goes on to its receiver.
    void HookProc(QObject* receiver, QEvent* event);

protected:
    // Whether this list hears the delivery, and what it is told.
    virtual bool Filter(QObject* receiver, QEvent* event, TMessageRecord& message) = 0;
    // Send lists may be switched off for the process (SendHooksAllowed).
    virtual bool IsSendHook() const { return false; }

private:
    class THookFilter;
    std::vector<std::unique_ptr<THookListener>> FListeners; // null: an emptied slot
    std::unique_ptr<THookFilter> FFilter;                  // present while installed
};

// Events taken from the window system's queue (spontaneous events).
class TPostMessageHookList : public TMessageHookList {
protected:
    bool Filter(QObject* receiver, QEvent* event, TMessageRecord& message) override;
};

// Every event delivered to a widget.
class TSendMessageHookList : public TMessageHookList {
protected:
    bool Filter(QObject* receiver, QEvent* event, TMessageRecord& message) override;
    bool IsSendHook() const override { return true; }
};

TPostMessageHookList& PostMessageHookList();
TSendMessageHookList& SendMessageHookList();

// Whether send lists may install their filter; true on this platform. The form panel's help
// fallback runs when it is off, which tests switch to reach it.
bool SendHooksAllowed();
void SetSendHooksAllowed(bool allowed);
