// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The three-dimensional edges of the classic window look, drawn with the system colours.
#include <QRect>

class TCanvas;

// A raised edge on all four sides, two pixels wide, inside rect: light outer and inner lines on
// the left and top, dark ones on the right and bottom.
void DrawRaisedEdge(TCanvas& canvas, const QRect& rect);
