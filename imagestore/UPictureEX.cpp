// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagestore/UPictureEX.h"

#include "framework/TJPEGImage.h"

TPictureEx::TPictureEx()
    : FNotifier(std::make_unique<TChangeNotify>(this)), FNotify(FNotifier.get())
{
}

TPictureEx::~TPictureEx()
{
    std::unique_ptr<TChangeNotify> notifier = std::move(FNotifier);
    notifier.reset();
    FNotify = nullptr;
}

void TPictureEx::Changed(TObject* sender)
{
    if (FChanging)
        return;
    struct TChangingGuard {
        bool& Flag;
        explicit TChangingGuard(bool& flag) : Flag(flag) { Flag = true; }
        ~TChangingGuard() { Flag = false; }
    } guard(FChanging);
    TPicture::Changed(sender);
    if (FNotify)
        FNotify->Changed();
}

void TPictureEx::Assign(const TPicture& source)
{
    TGraphic* target = Graphic();
    const TGraphic* graphic = source.Graphic();
    if (!target && !graphic)
        return;
    if (target && graphic && &target->ClassType() == &graphic->ClassType()
        && !graphic->InheritsFrom(TJPEGImage::StaticClass())) {
        target->Assign(*graphic);
        return;
    }
    TPicture::Assign(source);
}

HRESULT TPictureEx::QueryInterface(const TGUID& iid, void** object)
{
    *object = nullptr;
    if (iid == IInterface::IID) {
        *object = static_cast<IInterface*>(static_cast<IBroadcaster*>(this));
        return S_OK;
    }
    if (iid == IBroadcaster::IID) {
        *object = static_cast<IBroadcaster*>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

int TPictureEx::AddRef()
{
    return FNotify ? FNotify->AddRef() : 0;
}

int TPictureEx::Release()
{
    return FNotify ? FNotify->Release() : 0;
}

void TPictureEx::Changed()
{
    if (FNotify)
        FNotify->Changed();
}

void TPictureEx::BeginUpdate()
{
    if (FNotify)
        FNotify->BeginUpdate();
}

void TPictureEx::EndUpdate()
{
    if (FNotify)
        FNotify->EndUpdate();
}

void TPictureEx::Notify(TObject* sender, const TGUID& eventId)
{
    if (FNotify)
        FNotify->Notify(sender, eventId);
}

void TPictureEx::AddListener(IListener* listener)
{
    if (FNotify)
        FNotify->AddListener(listener);
}

void TPictureEx::RemoveListener(IListener* listener)
{
    if (FNotify)
        FNotify->RemoveListener(listener);
}
