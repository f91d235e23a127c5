// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A list of a fixed number of integers, all 0 at first, that announces each real change.
#include "framework/Exception.h"
#include "framework/TObject.h"

#include <cstdint>
#include <functional>
#include <vector>

inline constexpr const char* kListIndexOutOfRangeText = "リストのインデックスが範囲を超えています (%d)";
inline constexpr const char* kCountMismatchText = "Count of Values is mismatch.";

class EIntegerList : public Exception {
public:
    using Exception::Exception;
};

class TIntegerList : public TObject {
public:
    explicit TIntegerList(std::int32_t count);
    TIntegerList(const TIntegerList& other);
    // Copies the values of a list of the same count; the values stay as they were otherwise.
    TIntegerList& operator=(const TIntegerList& other);

    std::int32_t Count() const { return static_cast<std::int32_t>(FValues.size()); }
    std::int32_t Value(std::int32_t index) const;
    // OnChange follows only when the value differs from the one held.
    void SetValue(std::int32_t index, std::int32_t value);
    void Assign(const TIntegerList& source);

    // Raised with the list as sender after a value changed.
    std::function<void(TObject* sender)> OnChange;

private:
    void CheckIndex(std::int32_t index) const;

    std::vector<std::int32_t> FValues;
};
