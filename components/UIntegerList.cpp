// SPDX-License-Identifier: GPL-3.0-or-later
#include "components/UIntegerList.h"

#include <QString>

TIntegerList::TIntegerList(std::int32_t count) : FValues(static_cast<std::size_t>(std::max(count, 0)), 0) {}

TIntegerList::TIntegerList(const TIntegerList& other) : TObject(), FValues(other.FValues) {}

TIntegerList& TIntegerList::operator=(const TIntegerList& other)
{
    Assign(other);
    return *this;
}

void TIntegerList::CheckIndex(std::int32_t index) const
{
    if (index < 0 || index >= Count())
        throw EIntegerList(QString::fromUtf8(kListIndexOutOfRangeText).replace("%d", QString::number(index)).toStdString());
}

std::int32_t TIntegerList::Value(std::int32_t index) const
{
    CheckIndex(index);
    return FValues[static_cast<std::size_t>(index)];
}

void TIntegerList::SetValue(std::int32_t index, std::int32_t value)
{
    CheckIndex(index);
    std::int32_t& held = FValues[static_cast<std::size_t>(index)];
    if (held == value)
        return;
    held = value;
    if (OnChange)
        OnChange(this);
}

void TIntegerList::Assign(const TIntegerList& source)
{
    if (&source == this)
        return;
    if (source.Count() != Count())
        throw EIntegerList(kCountMismatchText);
    if (source.FValues == FValues)
        return;
    FValues = source.FValues;
    if (OnChange)
        OnChange(this);
}
