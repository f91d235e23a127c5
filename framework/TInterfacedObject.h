// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reference-counted interfaces: every interface begins with QueryInterface, AddRef and
// Release, and is identified by a fixed 128-bit value. Interfaces derive virtually from
// IInterface, so an object that implements several has one IInterface, and its identity is
// that pointer. QueryInterface hands back an uncounted pointer; whoever keeps it holds it in a
// TInterfaceRef, which counts the way an interface variable does (add on copy, release on reset).
#include "framework/Exception.h"
#include "framework/TObject.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

struct TGUID {
    std::uint32_t D1 = 0;
    std::uint16_t D2 = 0;
    std::uint16_t D3 = 0;
    std::array<std::uint8_t, 8> D4{};
    friend bool operator==(const TGUID&, const TGUID&) = default;
};

using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);

class IInterface {
public:
    static constexpr TGUID IID{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT QueryInterface(const TGUID& iid, void** object) = 0;
    virtual int AddRef() = 0;
    virtual int Release() = 0;

protected:
    ~IInterface() = default;
};

// Asks obj for interface I; null when it does not offer it. The result is not counted.
template <class I>
I* Supports(IInterface* obj)
{
    void* found = nullptr;
    if (obj && obj->QueryInterface(I::IID, &found) == S_OK)
        return static_cast<I*>(found);
    return nullptr;
}

// A counted interface reference: copying adds a reference, destruction releases it.
template <class I>
class TInterfaceRef {
public:
    TInterfaceRef() = default;
    TInterfaceRef(I* p) : FPtr(p) // NOLINT: interface variables take raw references implicitly
    {
        if (FPtr)
            FPtr->AddRef();
    }
    TInterfaceRef(const TInterfaceRef& other) : TInterfaceRef(other.FPtr) {}
    TInterfaceRef(TInterfaceRef&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    TInterfaceRef& operator=(TInterfaceRef other) noexcept
    {
        std::swap(FPtr, other.FPtr);
        return *this;
    }
    ~TInterfaceRef() { Reset(); }

    void Reset()
    {
        if (I* p = std::exchange(FPtr, nullptr))
            p->Release();
    }
    I* Get() const { return FPtr; }
    I* operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }
    friend bool operator==(const TInterfaceRef& a, const TInterfaceRef& b) { return a.FPtr == b.FPtr; }

private:
    I* FPtr = nullptr;
};

// What a destructor does with an error it cannot raise (a C++ destructor must not throw): the
// default handler reports it and ends the process, because the partner objects that caused it
// still point at memory that is going away. Tests install their own to observe the error.
using TDestructionErrorHandler = void (*)(const Exception& error);
TDestructionErrorHandler SetDestructionErrorHandler(TDestructionErrorHandler handler);
void ReportDestructionError(const Exception& error);

inline constexpr const char* kInvalidPointerText = "Invalid pointer operation";
inline constexpr const char* kIntfCastErrorText = "Interface not supported";

// The framework's reference-counted object: an atomic count, freed when the count returns to
// zero. Derived classes answer QueryInterface through QueryOwnInterface; the base offers
// IInterface itself. Destroying it while references are counted is an invalid-pointer error.
class TInterfacedObject : public TObject, public virtual IInterface {
public:
    TInterfacedObject() = default;
    TInterfacedObject(const TInterfacedObject&) = delete;
    TInterfacedObject& operator=(const TInterfacedObject&) = delete;
    ~TInterfacedObject() override;

    HRESULT QueryInterface(const TGUID& iid, void** object) override;
    int AddRef() override;
    int Release() override;
    int RefCount() const { return FRefCount.load(); }

    // The class's own interface table: sets *object and returns true for the interfaces this
    // class implements. Overrides ask their base for the ones they do not know.
    virtual bool QueryOwnInterface(const TGUID& iid, void** object);

protected:
    std::atomic<int> FRefCount{0};
};

// The framework's interface list: counted references, each operation locked on its own.
// Identity is the object's IInterface pointer, whichever interface the entry was added as.
class TInterfaceList {
public:
    TInterfaceList() = default;
    TInterfaceList(const TInterfaceList&) = delete;
    TInterfaceList& operator=(const TInterfaceList&) = delete;

    int Add(IInterface* item);
    // The index the item had, or -1 when it was not in the list.
    int Remove(IInterface* item);
    int IndexOf(IInterface* item) const;
    int Count() const;
    // The entry at index, or an empty reference when index is out of range.
    TInterfaceRef<IInterface> Get(int index) const;
    // The entries as they are now, uncounted, for a caller that checks each again before use.
    std::vector<IInterface*> Snapshot() const;
    void Clear();

private:
    mutable std::mutex FLock;
    std::vector<TInterfaceRef<IInterface>> FItems;
};
