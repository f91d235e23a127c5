// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The wait cursor for a lengthy operation on the GUI thread: hold the reference ShowWatchCursor
// gives for the operation's scope; its release puts back the cursor shown before, also when the
// operation fails. Nested guards restore in reverse order.
#include "framework/TInterfacedObject.h"
#include "framework/UInterfacedObject.h"

#include <QCursor>
#include <optional>

class TWatchCursor : public TAutoFreeInterface {
public:
    TWatchCursor();
    ~TWatchCursor() override;

private:
    std::optional<Qt::CursorShape> FSavedCursor; // none: no application-wide cursor was set
};

TInterfaceRef<IInterface> ShowWatchCursor();

// The application-wide cursor now in effect; none when the widgets' own cursors show.
std::optional<Qt::CursorShape> ScreenCursor();
