// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The graphic classes pictures load with (bitmaps and JPEG pictures that load safely), registered
// for as long as one of these lives. The program and the grab tool each hold one for their whole
// run, before their first picture; tests that stand for the program hold one as well.
class TGraphicFormats {
public:
    TGraphicFormats();
    ~TGraphicFormats();
    TGraphicFormats(const TGraphicFormats&) = delete;
    TGraphicFormats& operator=(const TGraphicFormats&) = delete;
};
