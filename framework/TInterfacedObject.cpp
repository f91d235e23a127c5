// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TInterfacedObject.h"

#include <QtGlobal>
#include <cstdlib>

namespace {
void AbortOnDestructionError(const Exception& error)
{
    qCritical("%s", error.what());
    std::abort();
}

std::atomic<TDestructionErrorHandler> gDestructionErrorHandler{&AbortOnDestructionError};
} // namespace

TDestructionErrorHandler SetDestructionErrorHandler(TDestructionErrorHandler handler)
{
    return gDestructionErrorHandler.exchange(handler ? handler : &AbortOnDestructionError);
}

void ReportDestructionError(const Exception& error)
{
    gDestructionErrorHandler.load()(error);
}

TInterfacedObject::~TInterfacedObject()
{
    if (FRefCount.load() != 0)
        ReportDestructionError(EInvalidPointer(kInvalidPointerText));
}

HRESULT TInterfacedObject::QueryInterface(const TGUID& iid, void** object)
{
    *object = nullptr;
    return QueryOwnInterface(iid, object) ? S_OK : E_NOINTERFACE;
}

bool TInterfacedObject::QueryOwnInterface(const TGUID& iid, void** object)
{
    if (iid == IInterface::IID) {
        *object = static_cast<IInterface*>(this);
        return true;
    }
    return false;
}

int TInterfacedObject::AddRef()
{
    return ++FRefCount;
}

int TInterfacedObject::Release()
{
    const int count = --FRefCount;
    if (count == 0)
        delete this;
    return count;
}

int TInterfaceList::Add(IInterface* item)
{
    std::lock_guard lock(FLock);
    FItems.emplace_back(item);
    return static_cast<int>(FItems.size()) - 1;
}

int TInterfaceList::Remove(IInterface* item)
{
    TInterfaceRef<IInterface> removed; // released after the lock, in case that ends the object
    std::lock_guard lock(FLock);
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].Get() == item) {
            removed = std::move(FItems[i]);
            FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(i));
            return static_cast<int>(i);
        }
    return -1;
}

int TInterfaceList::IndexOf(IInterface* item) const
{
    std::lock_guard lock(FLock);
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].Get() == item)
            return static_cast<int>(i);
    return -1;
}

int TInterfaceList::Count() const
{
    std::lock_guard lock(FLock);
    return static_cast<int>(FItems.size());
}

TInterfaceRef<IInterface> TInterfaceList::Get(int index) const
{
    std::lock_guard lock(FLock);
    if (index < 0 || static_cast<std::size_t>(index) >= FItems.size())
        return {};
    return FItems[static_cast<std::size_t>(index)];
}

std::vector<IInterface*> TInterfaceList::Snapshot() const
{
    std::lock_guard lock(FLock);
    std::vector<IInterface*> items;
    items.reserve(FItems.size());
    for (const auto& item : FItems)
        items.push_back(item.Get());
    return items;
}

void TInterfaceList::Clear()
{
    std::vector<TInterfaceRef<IInterface>> items;
    {
        std::lock_guard lock(FLock);
        items.swap(FItems);
    }
}
