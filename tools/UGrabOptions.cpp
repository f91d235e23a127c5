#include "tools/UGrabOptions.h"

#include <QFileInfo>

#include <limits>

namespace {

const QString Program = QStringLiteral("framora-grab");

std::optional<std::int32_t> ParseMs(const QString& text)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

} // namespace

std::optional<TGrabFormat> GrabFormatNamed(const QString& name)
{
    const QString lower = name.toLower();
    if (lower == QLatin1String("bmp"))
        return TGrabFormat::Bmp;
    if (lower == QLatin1String("png"))
        return TGrabFormat::Png;
    if (lower == QLatin1String("jpg") || lower == QLatin1String("jpeg"))
        return TGrabFormat::Jpg;
    return std::nullopt;
}

QString GrabFormatExtension(TGrabFormat format)
{
    switch (format) {
    case TGrabFormat::Png:
        return QStringLiteral("png");
    case TGrabFormat::Jpg:
        return QStringLiteral("jpg");
    case TGrabFormat::Bmp:
        break;
    }
    return QStringLiteral("bmp");
}

TGrabFormat TGrabOptions::SheetFormat() const
{
    if (Format)
        return *Format;
    return GrabFormatNamed(QFileInfo(SheetFile).suffix()).value_or(TGrabFormat::Png);
}

TGrabOptions ParseGrabCommandLine(const QStringList& arguments)
{
    TCommandLine line(Program,
                      QStringLiteral("Writes the pictures of a movie at the times given (milliseconds, in "
                                     "that order, one decoder reading on), or a contact sheet of it, as the "
                                     "movie is meant to be shown. Prints the movie's coded and shown sizes "
                                     "and its length first."),
                      QStringLiteral("MOVIE OUTDIR MS [MS ...] | --sheet COLUMNSxROWS MOVIE OUT"));
    const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("Picture format: png, jpg or bmp (default)."),
                                    QStringLiteral("png|jpg|bmp"));
    const QCommandLineOption sheet(QStringLiteral("sheet"),
                                   QStringLiteral("Writes one contact sheet of COLUMNS x ROWS pictures at evenly "
                                                  "spaced times to OUT instead."),
                                   QStringLiteral("COLUMNSxROWS"));
    const QCommandLineOption coded(QStringLiteral("coded"),
                                   QStringLiteral("Pictures as coded: not turned upright, not scaled to the "
                                                  "display aspect."));
    const QCommandLineOption exact(QStringLiteral("exact"),
                                   QStringLiteral("Takes the last picture shown at or before each time "
                                                  "instead of the next key frame, and prints its own time."));
    line.Parser().addOption(format);
    line.Parser().addOption(sheet);
    line.Parser().addOption(coded);
    line.Parser().addOption(exact);
    line.Parser().addPositionalArgument(QStringLiteral("MOVIE"), QStringLiteral("The movie."));
    line.Parser().addPositionalArgument(QStringLiteral("OUTDIR"), QStringLiteral("Folder for the pictures (created)."));
    line.Parser().addPositionalArgument(QStringLiteral("MS"), QStringLiteral("Times in milliseconds."));

    TGrabOptions options;
    static_cast<TCommandLineResult&>(options) = line.Parse(arguments);
    if (options.Outcome != TCommandLineOutcome::Run)
        return options;
    const auto fail = [&](const QString& reason) {
        static_cast<TCommandLineResult&>(options) = line.UsageError(reason);
        return options;
    };
    if (line.Parser().isSet(format)) {
        options.Format = GrabFormatNamed(line.Parser().value(format));
        if (!options.Format)
            return fail(QStringLiteral("not a picture format: %1").arg(line.Parser().value(format)));
    }
    options.Coded = line.Parser().isSet(coded);
    options.Exact = line.Parser().isSet(exact);
    const QStringList positional = line.PositionalArguments();
    if (line.Parser().isSet(sheet)) {
        options.Sheet = ContactSheet::ParseGrid(line.Parser().value(sheet));
        if (!options.Sheet)
            return fail(QStringLiteral("not a grid of 1 to %1 columns and 1 to %2 rows: %3")
                            .arg(ContactSheet::MaxColumns)
                            .arg(ContactSheet::MaxRows)
                            .arg(line.Parser().value(sheet)));
        if (positional.size() != 2)
            return fail(QStringLiteral("a sheet takes a movie and one output file"));
        options.Movie = positional[0];
        options.SheetFile = positional[1];
        return options;
    }
    if (positional.size() < 3)
        return fail(QStringLiteral("a movie, an output folder and at least one time are needed"));
    options.Movie = positional[0];
    options.OutDir = positional[1];
    for (const QString& text : positional.mid(2)) {
        const std::optional<std::int32_t> ms = ParseMs(text);
        if (!ms)
            return fail(QStringLiteral("not a time in milliseconds: %1").arg(text));
        options.Times.push_back(*ms);
    }
    return options;
}
