// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/UChangeNotify.h"

TChangeNotify::TChangeNotify(TObject* controller) : TBroadcaster(controller) {}

TChangeNotify::~TChangeNotify()
{
    // Still a TChangeNotify here, so listeners can be told who is going and detached.
    DetachAll();
}

bool TChangeNotify::QueryOwnInterface(const TGUID& iid, void** object)
{
    if (iid == IBroadcaster::IID) {
        *object = static_cast<IBroadcaster*>(this);
        return true;
    }
    return TBroadcaster::QueryOwnInterface(iid, object);
}

void TChangeNotify::BeginUpdate()
{
    if (FUpdateCount == 0)
        FChanged = false;
    ++FUpdateCount;
}

void TChangeNotify::EndUpdate()
{
    --FUpdateCount;
    if (FUpdateCount == 0 && FChanged) {
        Notify(Controller(), kChangedEventId);
        OnChange(this);
    }
}

void TChangeNotify::Changed()
{
    BeginUpdate();
    FChanged = true;
    EndUpdate();
}
