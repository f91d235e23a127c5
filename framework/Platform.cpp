// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/Platform.h"

#include <atomic>

namespace {
std::atomic<TPlatformFamily> gFamily{TPlatformFamily::NT};
}

TPlatformFamily PlatformFamily()
{
    return gFamily.load(std::memory_order_relaxed);
}

bool IsNTFamily()
{
    return PlatformFamily() == TPlatformFamily::NT;
}

void SetPlatformFamily(TPlatformFamily family)
{
    gFamily.store(family, std::memory_order_relaxed);
}

TPlatformFamilyOverride::TPlatformFamilyOverride(TPlatformFamily family)
    : FPrevious(PlatformFamily())
{
    SetPlatformFamily(family);
}

TPlatformFamilyOverride::~TPlatformFamilyOverride()
{
    SetPlatformFamily(FPrevious);
}
