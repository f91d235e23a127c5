// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Publish/subscribe between objects that own their broadcasters and listeners. Registration is
// mutual (each side keeps a counted reference to the other) and whichever side is destroyed
// first detaches from every partner, so no side is left pointing at a destroyed one.
// Everything here runs on the GUI thread; each list operation is locked on its own, but a
// broadcast or a detach loop as a whole is not.
#include "framework/UInterfacedObject.h"

#include <functional>
#include <memory>

class IListener;

class IBroadcaster : public virtual IInterface {
public:
    static constexpr TGUID IID{0x6B0D3E71, 0x2F4A, 0x4C8B, {0x9E, 0x15, 0x3A, 0x7C, 0x52, 0xD1, 0x08, 0xB4}};
    virtual void Notify(TObject* sender, const TGUID& eventId) = 0;
    virtual void AddListener(IListener* listener) = 0;
    virtual void RemoveListener(IListener* listener) = 0;

protected:
    ~IBroadcaster() = default;
};

class IListener : public virtual IInterface {
public:
    static constexpr TGUID IID{0xC4A92F06, 0x81B3, 0x4E57, {0xA0, 0x6D, 0xF2, 0x19, 0x8E, 0x3B, 0x64, 0x7A}};
    virtual void Notify(TObject* sender, const TGUID& eventId) = 0;
    virtual void Listen(IBroadcaster* broadcaster) = 0;
    virtual void Unlisten(IBroadcaster* broadcaster) = 0;

protected:
    ~IListener() = default;
};

// Sent by every broadcaster, with its controller as sender, before it goes away.
inline constexpr TGUID kDestroyingEventId{0x1E7F5B2C, 0x9D40, 0x4A63, {0xB8, 0x2E, 0x5F, 0x01, 0xC7, 0x9A, 0x34, 0xD6}};

inline constexpr const char* kInfinityLoopText = "fall into infinity loop.";

// A broadcaster's life belongs to its owner. Listeners hold counted references to it (or to its
// controller, which forwards its counts here), and those counts must never free it: its release
// only counts down, and the owner frees it explicitly (FreeBroadcaster below). A controller that
// forwards AddRef/Release to its broadcaster relies on exactly that.
class TBroadcaster : public TInterfaceImplement {
public:
    explicit TBroadcaster(TObject* controller = nullptr);
    ~TBroadcaster() override;

    void Notify(TObject* sender, const TGUID& eventId);
    void AddListener(IListener* listener);
    void RemoveListener(IListener* listener);
    int ListenerCount() const { return FListeners.Count(); }
    IInterface* Listener(int index) const { return FListeners.Get(index).Get(); }

protected:
    // This broadcaster as listeners know it (through its controller, or itself when it
    // implements IBroadcaster); null when it cannot be viewed so.
    IBroadcaster* AsBroadcaster();
    // Sends the destroying event and detaches every listener. A class that implements
    // IBroadcaster itself calls it first thing in its destructor, while it still answers
    // queries as itself; it runs once.
    void DetachAll();

private:
    TInterfaceList FListeners;
    bool FDetached = false;
};

// An owner that offers IBroadcaster by forwarding to a broadcaster it controls must keep that
// forwarding working while the broadcaster is destroyed: the listeners detach through the
// owner's IBroadcaster. unique_ptr::reset clears the pointer before it deletes, so owners free
// their broadcaster with this instead (in their destructor body, or wherever they drop it).
template <class T>
void FreeBroadcaster(std::unique_ptr<T>& broadcaster)
{
    if (T* object = broadcaster.get()) {
        delete object;
        (void)broadcaster.release();
    }
}

// An object that offers IBroadcaster by forwarding every call to a broadcaster it owns and
// controls, so listeners hear it with itself as the controller; its reference counts are that
// broadcaster's, which never free it.
class TBroadcastingObject : public TObject, public IBroadcaster {
public:
    TBroadcastingObject();
    ~TBroadcastingObject() override;
    TBroadcastingObject(const TBroadcastingObject&) = delete;
    TBroadcastingObject& operator=(const TBroadcastingObject&) = delete;

    // IBroadcaster and IInterface are answered.
    HRESULT QueryInterface(const TGUID& iid, void** object) override;
    int AddRef() override;
    int Release() override;
    void Notify(TObject* sender, const TGUID& eventId) override;
    void AddListener(IListener* listener) override;
    void RemoveListener(IListener* listener) override;

    TBroadcaster& Broadcaster() { return *FBroadcast; }

protected:
    // Sends the destroying event and detaches every listener; runs once. A derived class whose
    // listeners should still find it whole calls it first thing in its destructor.
    void FreeOwnBroadcaster();

private:
    std::unique_ptr<TBroadcaster> FBroadcaster;
    // The broadcaster for the forwarding calls; stays valid while it is being destroyed, when
    // its listeners still detach through this object.
    TBroadcaster* FBroadcast = nullptr;
};

using TBroadcastHandler = std::function<void(TObject* sender, const TGUID& eventId)>;

class TListener : public TInterfaceImplement, public IListener {
public:
    explicit TListener(TBroadcastHandler handler = {});
    ~TListener() override;

    void Notify(TObject* sender, const TGUID& eventId) override;
    void Listen(IBroadcaster* broadcaster) override;
    void Unlisten(IBroadcaster* broadcaster) override;
    int BroadcasterCount() const { return FBroadcasters.Count(); }
    IInterface* Broadcaster(int index) const { return FBroadcasters.Get(index).Get(); }

protected:
    bool QueryOwnInterface(const TGUID& iid, void** object) override;

private:
    TInterfaceList FBroadcasters;
    const TBroadcastHandler FHandler;
};
