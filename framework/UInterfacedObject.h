// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reference-counted bases whose life is governed by their owners. TInterfacedObjectEx keeps
// the framework's count but frees itself at zero only when asked to (auto-free); otherwise a
// release only counts down, and a release below zero is an error that leaves the object alive.
// TInterfaceImplement answers interface queries through its controller when it has one, so an
// object it is part of presents one identity to the outside.
#include "framework/TInterfacedObject.h"
#include "framework/TObject.h"

inline constexpr const char* kRefCountMinusText = "FRefCount is minus value";

class TInterfacedObjectEx : public TInterfacedObject {
public:
    explicit TInterfacedObjectEx(bool autoFree = false) : FAutoFree(autoFree) {}

    int Release() override;
    bool AutoFree() const { return FAutoFree; }

private:
    const bool FAutoFree;
};

// Ordinary lifetime: freed with its last reference.
class TAutoFreeInterface : public TInterfacedObjectEx {
public:
    TAutoFreeInterface() : TInterfacedObjectEx(true) {}
};

class TInterfaceImplement : public TInterfacedObjectEx {
public:
    // controller: not owned; while present, it answers every interface query for this object.
    explicit TInterfaceImplement(TObject* controller = nullptr) : FController(controller) {}

    TObject* Controller() const { return FController; }
    HRESULT QueryInterface(const TGUID& iid, void** object) override;

private:
    TObject* const FController;
};
