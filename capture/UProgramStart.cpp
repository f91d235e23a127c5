// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/UProgramStart.h"

#include "imagestore/USafetyBitmap.h"

TProgramStart::TProgramStart()
{
    RegisterSafetyGraphics();
}

TProgramStart::~TProgramStart()
{
    UnregisterSafetyGraphics();
}
