// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TPrinter.h"

namespace {
class TPrinterCanvas : public TCanvas {
protected:
    int DeviceTechnology() const override { return DT_RASPRINTER; }
};
} // namespace

TCanvas& TPrinter::Canvas()
{
    if (!FCanvas)
        FCanvas = std::make_unique<TPrinterCanvas>();
    return *FCanvas;
}

TPrinter& Printer()
{
    static TPrinter printer;
    return printer;
}
