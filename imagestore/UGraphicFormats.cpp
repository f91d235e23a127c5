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
