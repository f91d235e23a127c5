// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Which family of Windows the drawing paths follow. This platform answers the
// NT family; the other family's paths (drawing through DIB memory, banding) stay reachable so
// that they can be exercised, by switching the answer process-wide.
enum class TPlatformFamily { NT, Win9x };

TPlatformFamily PlatformFamily();
bool IsNTFamily();
void SetPlatformFamily(TPlatformFamily family);

// Switches the family for the life of the guard and puts the previous answer back.
class TPlatformFamilyOverride {
public:
    explicit TPlatformFamilyOverride(TPlatformFamily family);
    ~TPlatformFamilyOverride();
    TPlatformFamilyOverride(const TPlatformFamilyOverride&) = delete;
    TPlatformFamilyOverride& operator=(const TPlatformFamilyOverride&) = delete;

private:
    TPlatformFamily FPrevious;
};
