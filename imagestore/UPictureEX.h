// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The picture container every picture travels in: a TPicture that announces its changes to
// registered listeners. Both interfaces it offers are its notifier's, answered by the picture,
// so listeners receive the notifier's events with the picture as sender.
#include "framework/TPicture.h"
#include "framework/UBroadcaster.h"
#include "framework/UChangeNotify.h"

#include <memory>

class TPictureEx : public TPicture, public IUpdateNotify, public IBroadcaster {
public:
    TPictureEx();
    // Frees the notifier first: it tells its listeners that the picture is going.
    ~TPictureEx() override;

    // The picture's change hook. A change raised while this picture is already announcing one
    // (a listener touching the picture) is not announced again.
    void Changed(TObject* sender) override;
    // Keeps this picture's graphic object when both hold a graphic of the same class (JPEG
    // images excepted, whose settings a plain assignment would not carry).
    void Assign(const TPicture& source) override;
    using TPicture::Assign;

    TChangeNotify& Notifier() { return *FNotify; }

    // IInterface: IBroadcaster and IInterface are answered; the counts are the notifier's.
    HRESULT QueryInterface(const TGUID& iid, void** object) override;
    int AddRef() override;
    int Release() override;
    // IUpdateNotify
    void Changed() override;
    void BeginUpdate() override;
    void EndUpdate() override;
    // IBroadcaster
    void Notify(TObject* sender, const TGUID& eventId) override;
    void AddListener(IListener* listener) override;
    void RemoveListener(IListener* listener) override;

private:
    bool FChanging = false; // true while this picture is inside its own change notification
    std::unique_ptr<TChangeNotify> FNotifier;
    // The notifier for the forwarding calls; stays valid while it is being destroyed, when it
    // still detaches listeners through this picture.
    TChangeNotify* FNotify = nullptr;
};
