// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command-line front both programs share: --help and --version print and end with 0, an
// unknown option or a malformed value prints the usage and ends with 2, --verbose lets every
// library message through. Parsing needs no application object, so it runs before the window
// system is reached: `framora --help` works without a display.
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

enum class TCommandLineOutcome { Run, ShowHelp, ShowVersion, UsageError };

inline constexpr int UsageErrorExitCode = 2;

struct TCommandLineResult {
    TCommandLineOutcome Outcome = TCommandLineOutcome::Run;
    // Help and version text go to stdout, usage errors (reason, then usage) to stderr.
    QString Text;
    bool Verbose = false;

    // The exit code when the program ends here (everything but Run).
    int ExitCode() const { return Outcome == TCommandLineOutcome::UsageError ? UsageErrorExitCode : 0; }
};

// A program's arguments as main() received them, in the local encoding.
QStringList CommandLineArguments(int argc, char** argv);
// Prints what a parse answered instead of running (help and version on stdout, a usage error on
// stderr); true when there was such an answer and the program ends with ExitCode().
bool AnsweredWithoutRunning(const TCommandLineResult& result);

// The version every program of the build reports.
QString FramoraVersion();
// "Framora 1.2.3": how saved pictures name the program that made them.
QString FramoraNameAndVersion();

class TCommandLine {
public:
    // program names the program in usage lines and messages; synopsis follows it after
    // "[options]" in the usage line.
    TCommandLine(const QString& program, const QString& description, const QString& synopsis);

    // The program's own options; --help, --version and --verbose are already there.
    QCommandLineParser& Parser() { return FParser; }
    const QCommandLineParser& Parser() const { return FParser; }

    // Parses arguments (the first is the program path). A caller that finds a value it cannot
    // use reports it with UsageError.
    TCommandLineResult Parse(const QStringList& arguments);
    TCommandLineResult UsageError(const QString& reason) const;
    QString Usage() const;

    // Positional arguments as given, before any option parsing quirk (see Parse).
    QStringList PositionalArguments() const;

private:
    QString FProgram;
    QString FSynopsis;
    QCommandLineParser FParser;
    QCommandLineOption FHelp;
    QCommandLineOption FVersion;
    QCommandLineOption FVerbose;
};

// A path given on the command line, made absolute against the current folder.
QString AbsoluteArgumentPath(const QString& path);

// framora [--verbose] [MOVIE]: the window program's command line.
struct TFramoraCommandLine : TCommandLineResult {
    QString Movie; // absolute; empty when none was given
};
TFramoraCommandLine ParseFramoraCommandLine(const QStringList& arguments);
