// SPDX-License-Identifier: GPL-3.0-or-later
#include "components/UHookComponent.h"

#include "framework/TApplication.h"

#include <QCoreApplication>
#include <algorithm>

namespace {
bool gSendHooksAllowed = true;
}

class TMessageHookList::THookFilter : public QObject {
public:
    explicit THookFilter(TMessageHookList& list) : FList(list) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        FList.HookProc(watched, event);
        return false;
    }

private:
    TMessageHookList& FList;
};

TMessageHookList::TMessageHookList() = default;

TMessageHookList::~TMessageHookList()
{
    Uninstall();
}

void TMessageHookList::AddHookListener(THookListener listener)
{
    if (!Installed())
        Install();
    FListeners.push_back(std::make_unique<THookListener>(listener));
}

void TMessageHookList::RemoveHookListener(THookListener listener)
{
    const auto found = std::find_if(FListeners.begin(), FListeners.end(),
                                    [&](const auto& slot) { return slot && *slot == listener; });
    if (found != FListeners.end())
        found->reset();
}

int TMessageHookList::ListenerCount() const
{
    return static_cast<int>(std::count_if(FListeners.begin(), FListeners.end(), [](const auto& slot) { return slot != nullptr; }));
}

void TMessageHookList::Install()
{
    if (IsSendHook() && !SendHooksAllowed())
        return;
    Uninstall();
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    FFilter = std::make_unique<THookFilter>(*this);
    app->installEventFilter(FFilter.get());
}

void TMessageHookList::Uninstall()
{
    if (!FFilter)
        return;
    if (auto* app = QCoreApplication::instance())
        app->removeEventFilter(FFilter.get());
    FFilter.reset();
}

void TMessageHookList::HookProc(QObject* receiver, QEvent* event)
{
    try {
        TMessageRecord message;
        if (!Filter(receiver, event, message))
            return;
        const std::size_t count = FListeners.size();
        for (std::size_t i = 0; i < count; ++i) {
            // Copied: the listener may empty its own slot.
            if (const THookListener* slot = FListeners[i].get()) {
                const THookListener listener = *slot;
                listener.Code(listener.Data, message);
            }
        }
    } catch (...) {
        TApplication::HandleException(receiver, std::current_exception());
    }
}

bool TPostMessageHookList::Filter(QObject* receiver, QEvent* event, TMessageRecord& message)
{
    if (!event->spontaneous())
        return false;
    message = {receiver, event->type(), event};
    return true;
}

bool TSendMessageHookList::Filter(QObject* receiver, QEvent* event, TMessageRecord& message)
{
    if (!receiver->isWidgetType())
        return false;
    message = {receiver, event->type(), event};
    return true;
}

TPostMessageHookList& PostMessageHookList()
{
    static TPostMessageHookList list;
    return list;
}

TSendMessageHookList& SendMessageHookList()
{
    static TSendMessageHookList list;
    return list;
}

bool SendHooksAllowed()
{
    return gSendHooksAllowed;
}

void SetSendHooksAllowed(bool allowed)
{
    gSendHooksAllowed = allowed;
}
