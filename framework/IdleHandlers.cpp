// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/IdleHandlers.h"

#include "framework/TApplication.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <map>

namespace {
struct TIdleState {
    std::map<TIdleHandlerId, std::function<void()>> Handlers; // ordered by id = registration order
    TIdleHandlerId NextId = 1;
    bool Running = false;
    QPointer<QAbstractEventDispatcher> HookedDispatcher; // valid only once hooked
};

TIdleState& State()
{
    static TIdleState state;
    return state;
}

void HookDispatcher()
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    auto* dispatcher = QAbstractEventDispatcher::instance(app->thread());
    if (!dispatcher || State().HookedDispatcher == dispatcher)
        return;
    State().HookedDispatcher = dispatcher;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, &RunIdleHandlers);
}
} // namespace

TIdleHandlerId AddIdleHandler(std::function<void()> handler)
{
    HookDispatcher();
    const TIdleHandlerId id = State().NextId++;
    State().Handlers.emplace(id, std::move(handler));
    return id;
}

void RemoveIdleHandler(TIdleHandlerId id)
{
    State().Handlers.erase(id);
}

void RunIdleHandlers()
{
    auto& state = State();
    if (state.Running)
        return;
    state.Running = true;
    struct TRunningReset {
        ~TRunningReset() { State().Running = false; }
    } reset;
    // Handlers may add or remove handlers (a form created or destroyed in an update); take the ids
    // first and look each one up again before calling it.
    std::vector<TIdleHandlerId> ids;
    ids.reserve(state.Handlers.size());
    for (const auto& entry : state.Handlers)
        ids.push_back(entry.first);
    for (const TIdleHandlerId id : ids) {
        const auto found = state.Handlers.find(id);
        if (found == state.Handlers.end())
            continue;
        const auto handler = found->second; // the handler may remove itself while it runs
        // Idle work runs outside any event delivery, so nothing above would catch what escapes it.
        try {
            handler();
        } catch (...) {
            TApplication::HandleException(nullptr, std::current_exception());
        }
    }
}

void RequestIdleRound()
{
    // A zero timer wakes the loop; once it has run the loop is about to block again, which is
    // the next idle round.
    if (auto* app = QCoreApplication::instance())
        QTimer::singleShot(0, app, [] {});
}
