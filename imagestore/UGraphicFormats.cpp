// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagestore/UGraphicFormats.h"

#include "imagestore/USafetyBitmap.h"

TGraphicFormats::TGraphicFormats()
{
    RegisterSafetyGraphics();
}

TGraphicFormats::~TGraphicFormats()
{
    UnregisterSafetyGraphics();
}
