// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/UCommandLine.h"

#include <QDir>
#include <QRegularExpression>

#include <cstdio>

namespace {

// QCommandLineParser reads every argument that starts with '-' as options, and "-1:30" as the
// unknown options 1, :, 3 and 0. No option starts with a digit, so such an argument is a value
// (a negative time the program refuses by name, a file name) and passes the parser behind this mark.
const QString NegativeNumberMark = QStringLiteral("\x1F");

bool StartsAsNegativeNumber(const QString& argument)
{
    static const QRegularExpression number(QStringLiteral("^-[0-9]"));
    return number.match(argument).hasMatch();
}

} // namespace

QString FramoraVersion()
{
    return QStringLiteral(FRAMORA_VERSION);
}

QString FramoraNameAndVersion()
{
    return QStringLiteral("Framora ") + FramoraVersion();
}

TCommandLine::TCommandLine(const QString& program, const QString& description, const QString& synopsis)
    : FProgram(program), FSynopsis(synopsis),
      FHelp({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help and exits.")),
      FVersion(QStringLiteral("version"), QStringLiteral("Shows the version and exits.")),
      FVerbose(QStringLiteral("verbose"), QStringLiteral("Shows every message of the movie libraries, not only errors."))
{
    FParser.setApplicationDescription(description);
    FParser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    FParser.addOption(FHelp);
    FParser.addOption(FVersion);
    FParser.addOption(FVerbose);
}

TCommandLineResult TCommandLine::Parse(const QStringList& arguments)
{
    QStringList shielded;
    for (const QString& argument : arguments)
        shielded.append(StartsAsNegativeNumber(argument) ? NegativeNumberMark + argument : argument);
    if (!FParser.parse(shielded))
        return UsageError(FParser.errorText());
    TCommandLineResult result;
    result.Verbose = FParser.isSet(FVerbose);
    if (FParser.isSet(FHelp)) {
        result.Outcome = TCommandLineOutcome::ShowHelp;
        result.Text = Usage();
    } else if (FParser.isSet(FVersion)) {
        result.Outcome = TCommandLineOutcome::ShowVersion;
        result.Text = QStringLiteral("%1 %2\n").arg(FProgram, FramoraVersion());
    }
    return result;
}

TCommandLineResult TCommandLine::UsageError(const QString& reason) const
{
    TCommandLineResult result;
    result.Outcome = TCommandLineOutcome::UsageError;
    result.Text = QStringLiteral("%1: %2\n").arg(FProgram, reason) + Usage();
    return result;
}

QString TCommandLine::Usage() const
{
    // The parser names the program after the running application, which need not exist yet.
    QString text = FParser.helpText();
    const qsizetype firstLineEnd = text.indexOf(QLatin1Char('\n'));
    return QStringLiteral("Usage: %1 [options] %2").arg(FProgram, FSynopsis) + text.mid(firstLineEnd);
}

QStringList TCommandLine::PositionalArguments() const
{
    QStringList arguments = FParser.positionalArguments();
    for (QString& argument : arguments)
        if (argument.startsWith(NegativeNumberMark))
            argument.remove(0, NegativeNumberMark.size());
    return arguments;
}

QString AbsoluteArgumentPath(const QString& path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

TFramoraCommandLine ParseFramoraCommandLine(const QStringList& arguments)
{
    TCommandLine line(QStringLiteral("framora"), QStringLiteral("Takes still pictures out of movies."),
                      QStringLiteral("[MOVIE]"));
    line.Parser().addPositionalArgument(QStringLiteral("MOVIE"), QStringLiteral("A movie to open and play at start."));
    TFramoraCommandLine result;
    static_cast<TCommandLineResult&>(result) = line.Parse(arguments);
    const QStringList movies = line.PositionalArguments();
    if (result.Outcome == TCommandLineOutcome::Run && !movies.isEmpty() && !movies.first().isEmpty())
        result.Movie = AbsoluteArgumentPath(movies.first());
    return result;
}

QStringList CommandLineArguments(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

bool AnsweredWithoutRunning(const TCommandLineResult& result)
{
    if (result.Outcome == TCommandLineOutcome::Run)
        return false;
    std::fputs(result.Text.toLocal8Bit().constData(),
               result.Outcome == TCommandLineOutcome::UsageError ? stderr : stdout);
    return true;
}
