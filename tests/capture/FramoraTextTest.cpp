// SPDX-License-Identifier: GPL-3.0-or-later
// Pure helpers of the capture window: the time display and the step units.
#include "capture/UFramora.h"

#include <gtest/gtest.h>

namespace {

TEST(FramoraText, FormatPlayTime)
{
    const struct {
        std::int32_t Ms;
        const char* Text;
    } cases[] = {
        {0, "00:00:00.00"},
        {9, "00:00:00.00"},
        {10, "00:00:00.01"},
        {999, "00:00:00.99"},
        {59999, "00:00:59.99"},
        {60000, "00:01:00.00"},
        {3723450, "01:02:03.45"},
        {359999999, "99:59:59.99"},
        {360000000, "00:00:00.00"},   // hours wrap at 100
        {363723450, "01:02:03.45"},
        {INT32_MAX, "96:31:23.64"},
        {-1, "--:--:--.--"},
        {INT32_MIN, "--:--:--.--"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatPlayTime(c.Ms).toStdString(), c.Text) << c.Ms;
}

TEST(FramoraText, StepUnits)
{
    const std::int32_t expected[] = {600000, 60000, 20000, 10000, 5000, 2000, 1000, 500};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(StepUnitMs(i), expected[i]) << i;
    EXPECT_EQ(StepUnitMs(-1), 0);
    EXPECT_EQ(StepUnitMs(8), 0);
}

} // namespace
