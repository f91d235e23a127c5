// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The process-wide printer object. Nothing in this system prints; the printer exists so that
// drawing code can tell a printer's canvas from a screen's and choose its path. Its canvas has
// no page to draw on and reports itself as a raster printer.
#include "framework/TCanvas.h"

#include <memory>

class TPrinter {
public:
    TCanvas& Canvas();

private:
    std::unique_ptr<TCanvas> FCanvas;
};

// Made on first request, kept until the process ends.
TPrinter& Printer();
