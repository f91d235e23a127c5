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
