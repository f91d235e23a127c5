// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Work that runs when the main thread's event loop has nothing left to do and is about to wait.
// Command updates and the application's idle event both hang off this one hook, so that every
// idle moment runs them in a fixed order (registration order).
#include <functional>

using TIdleHandlerId = int;

// Registers a handler; the returned id removes it again. The hook on the event dispatcher is made
// on the first registration after the application object exists.
TIdleHandlerId AddIdleHandler(std::function<void()> handler);
void RemoveIdleHandler(TIdleHandlerId id);

// Runs every registered handler once. The event loop calls it when it is about to block; tests call
// it to stand for an idle moment. A call nested inside a running round (a handler that spins a
// local event loop) is dropped, so a round never re-enters itself.
void RunIdleHandlers();

// Asks for one more idle round even though nothing else happens (the idle event's "not done").
void RequestIdleRound();
