// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A broadcaster with an update bracket: changes inside BeginUpdate/EndUpdate are announced
// once, with the changed event, when the outermost bracket closes.
#include "framework/TObject.h"
#include "framework/UBroadcaster.h"

class IUpdateNotify : public virtual IInterface {
public:
    virtual void Changed() = 0;
    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;

protected:
    ~IUpdateNotify() = default;
};

// Sent with the notifier's controller as sender when content changed.
inline constexpr TGUID kChangedEventId{0x8A3C6D14, 0x5B27, 0x4F90, {0x83, 0xE1, 0x2D, 0xA4, 0x6B, 0x0F, 0x97, 0xC5}};

class TChangeNotify : public TBroadcaster, public IUpdateNotify, public IBroadcaster {
public:
    explicit TChangeNotify(TObject* controller = nullptr);
    ~TChangeNotify() override;

    void Changed() override;
    void BeginUpdate() override;
    void EndUpdate() override;

    void Notify(TObject* sender, const TGUID& eventId) override { TBroadcaster::Notify(sender, eventId); }
    void AddListener(IListener* listener) override { TBroadcaster::AddListener(listener); }
    void RemoveListener(IListener* listener) override { TBroadcaster::RemoveListener(listener); }

    // Raised with this notifier as sender after the changed event went out.
    TNotifyEvent OnChange;

protected:
    bool QueryOwnInterface(const TGUID& iid, void** object) override;

private:
    int FUpdateCount = 0;
    bool FChanged = false; // valid after the first outermost bracket; kept until the next one opens
};
