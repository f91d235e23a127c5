// SPDX-License-Identifier: GPL-3.0-or-later
// framora-grab's automatic capture options: --scenes with or without its threshold, --every.
#include "decoder/USceneScanner.h"
#include "grab/UGrabOptions.h"

#include <gtest/gtest.h>

namespace {

TEST(GrabOptions, AutomaticCapture)
{
    const struct {
        QStringList Arguments;
        TCommandLineOutcome Outcome;
        std::optional<double> Threshold;
        std::optional<std::int32_t> EveryMs;
    } cases[] = {
        {{"--scenes", "m.avi", "out"}, TCommandLineOutcome::Run, SceneDetection::DefaultThreshold, {}},
        {{"--scenes", "12", "m.avi", "out"}, TCommandLineOutcome::Run, 12.0, {}},
        {{"--scenes=40.5", "m.avi", "out"}, TCommandLineOutcome::Run, 40.5, {}},
        {{"m.avi", "out", "--scenes"}, TCommandLineOutcome::Run, SceneDetection::DefaultThreshold, {}},
        {{"--format", "png", "--scenes", "m.avi", "out"}, TCommandLineOutcome::Run, SceneDetection::DefaultThreshold, {}},
        {{"--every", "2", "m.avi", "out"}, TCommandLineOutcome::Run, {}, 2000},
        {{"--every=0.5", "m.avi", "out"}, TCommandLineOutcome::Run, {}, 500},
        {{"--scenes", "0", "m.avi", "out"}, TCommandLineOutcome::UsageError, {}, {}},
        {{"--scenes", "300", "m.avi", "out"}, TCommandLineOutcome::UsageError, {}, {}},
        {{"--scenes=many", "m.avi", "out"}, TCommandLineOutcome::UsageError, {}, {}},
        {{"--every", "0", "m.avi", "out"}, TCommandLineOutcome::UsageError, {}, {}},
        {{"--every", "-2", "m.avi", "out"}, TCommandLineOutcome::UsageError, {}, {}},
        {{"--every", "two", "m.avi", "out"}, TCommandLineOutcome::UsageError, {}, {}},
        {{"--every", "1e9", "m.avi", "out"}, TCommandLineOutcome::UsageError, {}, {}},
        {{"--every"}, TCommandLineOutcome::UsageError, {}, {}},
        {{"--scenes", "--every", "2", "m.avi", "out"}, TCommandLineOutcome::UsageError, {}, {}},
        {{"--scenes", "m.avi", "out", "1000"}, TCommandLineOutcome::UsageError, {}, {}},
        {{"--every", "2", "m.avi"}, TCommandLineOutcome::UsageError, {}, {}},
    };
    for (const auto& c : cases) {
        const TGrabOptions options = ParseGrabCommandLine(QStringList{"framora-grab"} + c.Arguments);
        const std::string name = c.Arguments.join(' ').toStdString();
        ASSERT_EQ(options.Outcome, c.Outcome) << name << "\n" << options.Text.toStdString();
        if (c.Outcome != TCommandLineOutcome::Run)
            continue;
        EXPECT_EQ(options.Movie, "m.avi") << name;
        EXPECT_EQ(options.OutDir, "out") << name;
        EXPECT_TRUE(options.Times.empty()) << name;
        EXPECT_EQ(options.SceneThreshold, c.Threshold) << name;
        EXPECT_EQ(options.EveryMs, c.EveryMs) << name;
    }
}

TEST(GrabOptions, HelpNamesAutomaticCapture)
{
    const QString help = ParseGrabCommandLine({"framora-grab", "--help"}).Text;
    EXPECT_TRUE(help.contains("--scenes")) << help.toStdString();
    EXPECT_TRUE(help.contains("--every <SECONDS>")) << help.toStdString();
    EXPECT_FALSE(help.contains("scene-threshold")) << help.toStdString();
}

} // namespace
