// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/UInterfacedObject.h"

int TInterfacedObjectEx::Release()
{
    if (FAutoFree)
        return TInterfacedObject::Release();
    int count = FRefCount.load();
    do {
        // The count is put back as it was, so the owner can still free the object.
        if (count <= 0)
            throw Exception(kRefCountMinusText);
    } while (!FRefCount.compare_exchange_weak(count, count - 1));
    return count - 1;
}

HRESULT TInterfaceImplement::QueryInterface(const TGUID& iid, void** object)
{
    *object = nullptr;
    if (FController) {
        if (auto* outer = dynamic_cast<IInterface*>(FController))
            return outer->QueryInterface(iid, object);
        return E_NOINTERFACE;
    }
    return TInterfacedObjectEx::QueryInterface(iid, object);
}
