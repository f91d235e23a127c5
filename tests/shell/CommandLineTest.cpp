// SPDX-License-Identifier: GPL-3.0-or-later
// The window program's command line, parsed as main() sees it.
#include "shell/UCommandLine.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

TEST(CommandLine, FramoraArguments)
{
    const QString here = QDir::currentPath();
    const struct {
        QStringList Arguments;
        TCommandLineOutcome Outcome;
        int ExitCode;
        QString Movie;
        bool Verbose;
    } cases[] = {
        {{}, TCommandLineOutcome::Run, 0, {}, false},
        {{"movie.mp4"}, TCommandLineOutcome::Run, 0, here + "/movie.mp4", false},
        {{"../a/./b.avi"}, TCommandLineOutcome::Run, 0, QDir::cleanPath(here + "/../a/b.avi"), false},
        {{"/films/x.mkv", "ignored.mkv"}, TCommandLineOutcome::Run, 0, "/films/x.mkv", false},
        {{"--verbose", "/films/x.mkv"}, TCommandLineOutcome::Run, 0, "/films/x.mkv", true},
        {{"/films/x.mkv", "--verbose"}, TCommandLineOutcome::Run, 0, "/films/x.mkv", true},
        {{"--help"}, TCommandLineOutcome::ShowHelp, 0, {}, false},
        {{"-h", "movie.mp4"}, TCommandLineOutcome::ShowHelp, 0, {}, false},
        {{"--version"}, TCommandLineOutcome::ShowVersion, 0, {}, false},
        {{"--bogus"}, TCommandLineOutcome::UsageError, 2, {}, false},
        {{"-x", "movie.mp4"}, TCommandLineOutcome::UsageError, 2, {}, false},
        {{"--verbose=yes"}, TCommandLineOutcome::UsageError, 2, {}, false},
    };
    for (const auto& c : cases) {
        const TFramoraCommandLine line = ParseFramoraCommandLine(QStringList{"/usr/bin/framora"} + c.Arguments);
        const std::string name = c.Arguments.join(' ').toStdString();
        EXPECT_EQ(line.Outcome, c.Outcome) << name;
        EXPECT_EQ(line.ExitCode(), c.ExitCode) << name;
        EXPECT_EQ(line.Movie, c.Movie) << name;
        EXPECT_EQ(line.Verbose, c.Verbose) << name;
    }
}

TEST(CommandLine, TextsNameTheProgram)
{
    const TFramoraCommandLine help = ParseFramoraCommandLine({"./framora", "--help"});
    EXPECT_TRUE(help.Text.startsWith("Usage: framora [options] [MOVIE]\n")) << help.Text.toStdString();
    EXPECT_TRUE(help.Text.contains("--verbose"));

    EXPECT_EQ(ParseFramoraCommandLine({"framora", "--version"}).Text, "framora " + FramoraVersion() + "\n");

    // A usage error says what was wrong, then shows the usage.
    const QStringList lines = ParseFramoraCommandLine({"framora", "--bogus"}).Text.split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], "framora: Unknown option 'bogus'.");
    EXPECT_EQ(lines[1], "Usage: framora [options] [MOVIE]");
}

} // namespace
