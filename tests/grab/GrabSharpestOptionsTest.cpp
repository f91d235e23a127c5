// SPDX-License-Identifier: GPL-3.0-or-later
// framora-grab --sharpest: its range in seconds, and the modes it goes with.
#include "grab/UGrabOptions.h"

#include <gtest/gtest.h>

namespace {

TEST(GrabOptions, Sharpest)
{
    const struct {
        QStringList Arguments;
        TCommandLineOutcome Outcome;
        std::optional<std::int32_t> RangeMs;
    } cases[] = {
        {{"m.avi", "out", "1000"}, TCommandLineOutcome::Run, {}},
        {{"--sharpest", "0.5", "m.avi", "out", "1000"}, TCommandLineOutcome::Run, 500},
        {{"--sharpest=0.2", "m.avi", "out", "1000", "2s"}, TCommandLineOutcome::Run, 200},
        {{"--sharpest", "2", "--scenes", "m.avi", "out"}, TCommandLineOutcome::Run, 2000},
        {{"--scenes", "12", "--sharpest", "1", "m.avi", "out"}, TCommandLineOutcome::Run, 1000},
        {{"--sharpest", "0.19", "m.avi", "out", "1000"}, TCommandLineOutcome::UsageError, {}},
        {{"--sharpest", "2.01", "m.avi", "out", "1000"}, TCommandLineOutcome::UsageError, {}},
        {{"--sharpest", "-1", "m.avi", "out", "1000"}, TCommandLineOutcome::UsageError, {}},
        {{"--sharpest", "nan", "m.avi", "out", "1000"}, TCommandLineOutcome::UsageError, {}},
        {{"--sharpest", "half", "m.avi", "out", "1000"}, TCommandLineOutcome::UsageError, {}},
        {{"--sharpest", "0.5", "--fast", "m.avi", "out", "1000"}, TCommandLineOutcome::UsageError, {}},
        {{"--sharpest", "0.5", "--every", "2", "m.avi", "out"}, TCommandLineOutcome::UsageError, {}},
        {{"--sharpest", "0.5", "--sheet", "2x2", "m.avi", "out.png"}, TCommandLineOutcome::UsageError, {}},
        {{"--sharpest", "0.5", "m.avi", "out"}, TCommandLineOutcome::UsageError, {}},
    };
    for (const auto& c : cases) {
        const TGrabOptions options = ParseGrabCommandLine(QStringList{"framora-grab"} + c.Arguments);
        const std::string name = c.Arguments.join(' ').toStdString();
        ASSERT_EQ(options.Outcome, c.Outcome) << name << "\n" << options.Text.toStdString();
        if (c.Outcome == TCommandLineOutcome::Run) {
            EXPECT_EQ(options.SharpestRangeMs, c.RangeMs) << name;
        }
    }
    const QString help = ParseGrabCommandLine({"framora-grab", "--help"}).Text;
    EXPECT_TRUE(help.contains("--sharpest <SECONDS>")) << help.toStdString();
}

} // namespace
