// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/DrawEdge.h"

#include "framework/TCanvas.h"

namespace {

// One ring of an edge: the left and top lines in one colour, the right and bottom in another.
void DrawRing(TCanvas& canvas, const QRect& r, TColor topLeft, TColor bottomRight)
{
    canvas.Brush().SetStyle(TBrushStyle::bsSolid);
    canvas.Brush().SetColor(topLeft);
    canvas.FillRect(QRect(r.left(), r.top(), r.width() - 1, 1));
    canvas.FillRect(QRect(r.left(), r.top(), 1, r.height() - 1));
    canvas.Brush().SetColor(bottomRight);
    canvas.FillRect(QRect(r.left(), r.bottom(), r.width(), 1));
    canvas.FillRect(QRect(r.right(), r.top(), 1, r.height()));
}

} // namespace

void DrawRaisedEdge(TCanvas& canvas, const QRect& rect)
{
    if (rect.width() < 2 || rect.height() < 2)
        return;
    const TBrush saved = canvas.Brush();
    DrawRing(canvas, rect, cl3DLight, cl3DDkShadow);
    if (rect.width() >= 4 && rect.height() >= 4)
        DrawRing(canvas, rect.adjusted(1, 1, -1, -1), clBtnHighlight, clBtnShadow);
    canvas.SetBrush(saved);
}
