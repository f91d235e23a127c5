// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The four insets (left, top, right, bottom) by which a panel shrinks the rectangle it aligns
// its children in.
#include "components/UIntegerList.h"
#include "framework/UCoordUtil.h"

class TAlignOffset : public TIntegerList {
public:
    TAlignOffset() : TIntegerList(4) {}

    std::int32_t Left() const { return Value(0); }
    std::int32_t Top() const { return Value(1); }
    std::int32_t Right() const { return Value(2); }
    std::int32_t Bottom() const { return Value(3); }
    void SetLeft(std::int32_t v) { SetValue(0, v); }
    void SetTop(std::int32_t v) { SetValue(1, v); }
    void SetRight(std::int32_t v) { SetValue(2, v); }
    void SetBottom(std::int32_t v) { SetValue(3, v); }

    // Moves each edge of rect inwards by its inset.
    void ApplyTo(TRect& rect) const;
};
