// SPDX-License-Identifier: GPL-3.0-or-later
#include "components/UAlignOffset.h"

void TAlignOffset::ApplyTo(TRect& rect) const
{
    rect.Left += Left();
    rect.Top += Top();
    rect.Right -= Right();
    rect.Bottom -= Bottom();
}
