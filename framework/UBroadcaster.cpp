// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/UBroadcaster.h"

#include <QtGlobal>
#include <exception>

TBroadcaster::TBroadcaster(TObject* controller) : TInterfaceImplement(controller) {}

TBroadcaster::~TBroadcaster()
{
    DetachAll();
}

IBroadcaster* TBroadcaster::AsBroadcaster()
{
    return Supports<IBroadcaster>(this);
}

void TBroadcaster::Notify(TObject* sender, const TGUID& eventId)
{
    // Listeners added by a handler are not called in this broadcast; one removed by a handler
    // before its turn is skipped, so a destroyed listener is never called.
    for (IInterface* entry : FListeners.Snapshot()) {
        if (FListeners.IndexOf(entry) < 0)
            continue;
        IListener* listener = Supports<IListener>(entry);
        if (!listener)
            throw EIntfCastError(kIntfCastErrorText);
        listener->Notify(sender, eventId);
    }
}

void TBroadcaster::AddListener(IListener* listener)
{
    if (!listener || FListeners.IndexOf(listener) >= 0)
        return;
    FListeners.Add(listener);
    if (IBroadcaster* self = AsBroadcaster())
        listener->Listen(self);
}

void TBroadcaster::RemoveListener(IListener* listener)
{
    if (!listener)
        return;
    TInterfaceRef<IListener> keep(listener); // the list's reference may have been the last
    if (FListeners.Remove(listener) < 0)
        return;
    if (IBroadcaster* self = AsBroadcaster())
        listener->Unlisten(self);
}

void TBroadcaster::DetachAll()
{
    if (FDetached)
        return;
    FDetached = true;
    try {
        Notify(Controller(), kDestroyingEventId);
    } catch (const std::exception& error) {
        // Detaching must still happen, or the listeners would keep pointing at this object.
        qWarning("exception in a destroying-event handler: %s", error.what());
    }
    IBroadcaster* self = AsBroadcaster();
    if (!self)
        return;
    while (FListeners.Count() > 0) {
        const int count = FListeners.Count();
        if (IListener* listener = Supports<IListener>(FListeners.Get(0).Get()))
            listener->Unlisten(self);
        if (FListeners.Count() >= count) {
            ReportDestructionError(Exception(kInfinityLoopText));
            FListeners.Clear();
            return;
        }
    }
}

TBroadcastingObject::TBroadcastingObject()
    : FBroadcaster(std::make_unique<TBroadcaster>(this)), FBroadcast(FBroadcaster.get())
{
}

TBroadcastingObject::~TBroadcastingObject()
{
    FreeOwnBroadcaster();
}

void TBroadcastingObject::FreeOwnBroadcaster()
{
    FreeBroadcaster(FBroadcaster);
    FBroadcast = nullptr;
}

HRESULT TBroadcastingObject::QueryInterface(const TGUID& iid, void** object)
{
    *object = nullptr;
    if (iid == IInterface::IID || iid == IBroadcaster::IID) {
        *object = static_cast<IBroadcaster*>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

int TBroadcastingObject::AddRef()
{
    return FBroadcast ? FBroadcast->AddRef() : 0;
}

int TBroadcastingObject::Release()
{
    return FBroadcast ? FBroadcast->Release() : 0;
}

void TBroadcastingObject::Notify(TObject* sender, const TGUID& eventId)
{
    if (FBroadcast)
        FBroadcast->Notify(sender, eventId);
}

void TBroadcastingObject::AddListener(IListener* listener)
{
    if (FBroadcast)
        FBroadcast->AddListener(listener);
}

void TBroadcastingObject::RemoveListener(IListener* listener)
{
    if (FBroadcast)
        FBroadcast->RemoveListener(listener);
}

TListener::TListener(TBroadcastHandler handler) : FHandler(std::move(handler)) {}

TListener::~TListener()
{
    IListener* self = Supports<IListener>(static_cast<TInterfaceImplement*>(this));
    while (FBroadcasters.Count() > 0) {
        const int count = FBroadcasters.Count();
        if (IBroadcaster* broadcaster = Supports<IBroadcaster>(FBroadcasters.Get(0).Get()))
            broadcaster->RemoveListener(self);
        if (FBroadcasters.Count() >= count) {
            ReportDestructionError(Exception(kInfinityLoopText));
            FBroadcasters.Clear();
            return;
        }
    }
}

bool TListener::QueryOwnInterface(const TGUID& iid, void** object)
{
    if (iid == IListener::IID) {
        *object = static_cast<IListener*>(this);
        return true;
    }
    return TInterfaceImplement::QueryOwnInterface(iid, object);
}

void TListener::Notify(TObject* sender, const TGUID& eventId)
{
    if (FHandler)
        FHandler(sender, eventId);
}

void TListener::Listen(IBroadcaster* broadcaster)
{
    if (!broadcaster || FBroadcasters.IndexOf(broadcaster) >= 0)
        return;
    FBroadcasters.Add(broadcaster);
    broadcaster->AddListener(Supports<IListener>(static_cast<TInterfaceImplement*>(this)));
}

void TListener::Unlisten(IBroadcaster* broadcaster)
{
    if (!broadcaster)
        return;
    TInterfaceRef<IBroadcaster> keep(broadcaster);
    if (FBroadcasters.Remove(broadcaster) < 0)
        return;
    broadcaster->RemoveListener(Supports<IListener>(static_cast<TInterfaceImplement*>(this)));
}
