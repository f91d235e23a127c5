// SPDX-License-Identifier: GPL-3.0-or-later
#include "grab/UGrabOptions.h"

#include "decoder/USceneScanner.h"
#include "decoder/USharpestPicture.h"
#include "decoder/UTypedTime.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace {

const QString Program = QStringLiteral("framora-grab");

std::optional<std::int32_t> InRange(std::int64_t ms)
{
    if (ms > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(ms);
}

// The threshold may follow --scenes as its own argument or after '='; QCommandLineParser knows no
// optional values, so it is moved to an option of its own first.
const QString ScenesName = QStringLiteral("--scenes");
const QString ThresholdName = QStringLiteral("scene-threshold");
constexpr double MaxThreshold = 255;
// A container holds far fewer streams than this; a larger number is a typo.
constexpr int MaxSubtitleStream = 1000;

bool IsNumber(const QString& text)
{
    bool ok = false;
    text.toDouble(&ok);
    return ok;
}

QStringList WithSceneThreshold(const QStringList& arguments)
{
    QStringList out;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.startsWith(ScenesName + QLatin1Char('='))) {
            out << ScenesName << QStringLiteral("--") + ThresholdName << argument.mid(ScenesName.size() + 1);
        } else if (argument == ScenesName && i + 1 < arguments.size() && IsNumber(arguments[i + 1])) {
            out << ScenesName << QStringLiteral("--") + ThresholdName << arguments[++i];
        } else {
            out << argument;
        }
    }
    return out;
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
    if (lower == QLatin1String("webp"))
        return TGrabFormat::Webp;
    if (lower == QLatin1String("tif") || lower == QLatin1String("tiff"))
        return TGrabFormat::Tiff;
    return std::nullopt;
}

QString GrabFormatExtension(TGrabFormat format)
{
    switch (format) {
    case TGrabFormat::Png:
        return QStringLiteral("png");
    case TGrabFormat::Jpg:
        return QStringLiteral("jpg");
    case TGrabFormat::Webp:
        return QStringLiteral("webp");
    case TGrabFormat::Tiff:
        return QStringLiteral("tif");
    case TGrabFormat::Bmp:
        break;
    }
    return QStringLiteral("bmp");
}

std::optional<std::int32_t> ParseGrabTime(const QString& text)
{
    // Bare digits are milliseconds, twelve at most: past the 32-bit range already.
    static const QRegularExpression milliseconds(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{1,12}")));
    if (milliseconds.match(text).hasMatch())
        return InRange(text.toLongLong());
    if (const std::optional<std::int64_t> ms = ParseTypedTimeMs(text))
        return InRange(*ms);
    return std::nullopt;
}

TGrabFormat TGrabOptions::SheetFormat() const
{
    if (Format)
        return *Format;
    return GrabFormatNamed(QFileInfo(SheetFile).suffix()).value_or(TGrabFormat::Png);
}

namespace {

// framora-grab's options as QCommandLineParser declares them, in the order --help lists them.
struct TGrabOptionSet {
    QCommandLineOption Sharpest{QStringLiteral("sharpest"),
                                QStringLiteral("With times or --scenes: instead of each time's picture (or each scene's still), the "
                                               "sharpest picture within SECONDS (%1 to %2) either way, never across a scene cut; "
                                               "pictures without detail keep the one asked for. The line gives the chosen "
                                               "picture's time and its sharpness.")
                                    .arg(SharpestPicture::MinRangeMs / 1000.0)
                                    .arg(SharpestPicture::MaxRangeMs / 1000.0),
                                QStringLiteral("SECONDS")};
    QCommandLineOption Scenes{
        QStringLiteral("scenes"),
        QStringLiteral("Instead of times: a picture of every scene, the first at the start and each "
                       "other a few pictures after its cut. THRESHOLD (default %1, 0 to 255) is the "
                       "sensitivity: a cut is a picture whose score (change of colour plus change of "
                       "layout from the picture before) rises THRESHOLD above the mean of the pictures "
                       "before it; lower finds more. MS in the file name and first column is the cut's time.")
            .arg(SceneDetection::DefaultThreshold)};
    QCommandLineOption Threshold{ThresholdName, QString(), QStringLiteral("THRESHOLD")};
    QCommandLineOption Every{QStringLiteral("every"),
                             QStringLiteral("Instead of times: the picture shown every SECONDS (2, 0.5) "
                                            "from the start to the end."),
                             QStringLiteral("SECONDS")};
    QCommandLineOption Subtitles{QStringLiteral("subtitles"),
                                 QStringLiteral("Draws the movie's N-th subtitle stream (counting from 1) into "
                                                "the pictures, at the size they are written; off (the "
                                                "default) draws none."),
                                 QStringLiteral("N|off")};
    QCommandLineOption SubFile{QStringLiteral("sub-file"),
                               QStringLiteral("Draws the subtitles of FILE (.srt, .ass, .ssa, .vtt; times "
                                              "from the movie's start) into the pictures."),
                               QStringLiteral("FILE")};
    QCommandLineOption Format{QStringLiteral("format"),
                              QStringLiteral("Picture format: png, jpg, webp (lossless), tif or bmp (default). All but bmp "
                                             "carry the movie's name, the picture's time, its sizes and the program inside "
                                             "(XMP, EXIF)."),
                              QStringLiteral("png|jpg|webp|tif|bmp")};
    QCommandLineOption Deinterlace{QStringLiteral("deinterlace"),
                                   QStringLiteral("Deinterlacing: auto (pictures the movie flags "
                                                  "interlaced; the default), on (every picture) or off."),
                                   QStringLiteral("auto|on|off")};
    QCommandLineOption Tonemap{QStringLiteral("tonemap"),
                               QStringLiteral("HDR (PQ, HLG) pictures tone-mapped to SDR BT.709, and wide-gamut "
                                              "SDR pictures brought to BT.709 colours: on (the default) or off."),
                               QStringLiteral("on|off")};
    QCommandLineOption Sheet{QStringLiteral("sheet"),
                             QStringLiteral("Writes one contact sheet of COLUMNS x ROWS pictures at evenly "
                                            "spaced times to OUT instead."),
                             QStringLiteral("COLUMNSxROWS")};
    QCommandLineOption Coded{QStringLiteral("coded"),
                             QStringLiteral("Pictures as coded: not turned upright, not scaled to the "
                                            "display aspect.")};
    QCommandLineOption Fast{QStringLiteral("fast"),
                            QStringLiteral("Takes each picture as the window plays: a key frame near the "
                                           "time, or a short read on from the picture before. Quicker, "
                                           "but on movies with few key frames it may land seconds from "
                                           "the time asked (the printed time tells).")};
    QCommandLineOption Exact{QStringLiteral("exact"),
                             QStringLiteral("The last picture shown at or before each time: the default, "
                                            "accepted for older scripts.")};

    TGrabOptionSet()
    {
        Threshold.setFlags(QCommandLineOption::HiddenFromHelp);
    }
    std::vector<const QCommandLineOption*> InHelpOrder() const
    {
        return {&Sharpest, &Scenes, &Threshold, &Every, &Subtitles, &SubFile, &Format,
                &Deinterlace, &Tonemap, &Sheet, &Coded, &Fast, &Exact};
    }
};

// One reading of framora-grab's command line: each step takes what its options say into the
// options, or says what is wrong with them.
class TGrabCommandLine {
public:
    TGrabCommandLine();
    TGrabOptions Parse(const QStringList& arguments);

private:
    using TError = std::optional<QString>;

    bool IsSet(const QCommandLineOption& option) const { return FLine.Parser().isSet(option); }
    QString Value(const QCommandLineOption& option) const { return FLine.Parser().value(option); }

    TError ReadFormat(TGrabOptions& options) const;
    TError ReadPictureSettings(TGrabOptions& options) const;
    TError ReadSubtitles(TGrabOptions& options) const;
    TError ReadPath(TGrabOptions& options) const;
    TError ReadSharpest(TGrabOptions& options) const;
    TError ReadSheet(TGrabOptions& options, const QStringList& positional) const;
    TError ReadAutomaticCapture(TGrabOptions& options, const QStringList& positional) const;
    TError ReadTimes(TGrabOptions& options, const QStringList& positional) const;

    TCommandLine FLine;
    TGrabOptionSet FOptions;
};

TGrabCommandLine::TGrabCommandLine()
    : FLine(Program,
            QStringLiteral("Writes the pictures of a movie at the times given (in that order, one "
                           "decoder reading on), or a contact sheet of it, as the movie is meant to "
                           "be shown. Prints the movie's coded and shown sizes and its length "
                           "first, then \"TIME ok FILE at T\" or \"TIME failed\" for each time, "
                           "T being the written picture's own time in milliseconds.\n"
                           "Each picture is the last one shown at or before its time. A time is "
                           "milliseconds (2000), seconds with their unit (83.5s) or "
                           "[HH:]MM:SS[.mmm] (01:23.5, 1:02:03.250); its file is OUTDIR/MS.bmp "
                           "(or .png, .jpg, .webp, .tif), MS the time in milliseconds.\n"
                           "Exit status: 0 done, 1 the movie or the subtitles asked for not opened "
                           "(or the sheet not written), 2 usage error, 3 some time gave no picture "
                           "(the others are written)."),
            QStringLiteral("MOVIE OUTDIR TIME [TIME ...] | --sheet COLUMNSxROWS MOVIE OUT | "
                           "--scenes [THRESHOLD] MOVIE OUTDIR | --every SECONDS MOVIE OUTDIR"))
{
    for (const QCommandLineOption* option : FOptions.InHelpOrder())
        FLine.Parser().addOption(*option);
    FLine.Parser().addPositionalArgument(QStringLiteral("MOVIE"), QStringLiteral("The movie."));
    FLine.Parser().addPositionalArgument(QStringLiteral("OUTDIR"), QStringLiteral("Folder for the pictures (created)."));
    FLine.Parser().addPositionalArgument(QStringLiteral("TIME"),
                                         QStringLiteral("Times: 2000 (milliseconds), 83.5s, 01:23.5, 1:02:03.250."));
}

TGrabOptions TGrabCommandLine::Parse(const QStringList& arguments)
{
    TGrabOptions options;
    static_cast<TCommandLineResult&>(options) = FLine.Parse(WithSceneThreshold(arguments));
    if (options.Outcome != TCommandLineOutcome::Run)
        return options;
    const QStringList positional = FLine.PositionalArguments();
    TError error = ReadFormat(options);
    for (const auto step : {&TGrabCommandLine::ReadPictureSettings, &TGrabCommandLine::ReadSubtitles,
                            &TGrabCommandLine::ReadPath, &TGrabCommandLine::ReadSharpest}) {
        if (!error)
            error = (this->*step)(options);
    }
    if (!error) {
        if (IsSet(FOptions.Sheet))
            error = ReadSheet(options, positional);
        else if (IsSet(FOptions.Scenes) || IsSet(FOptions.Every))
            error = ReadAutomaticCapture(options, positional);
        else
            error = ReadTimes(options, positional);
    }
    if (error)
        static_cast<TCommandLineResult&>(options) = FLine.UsageError(*error);
    return options;
}

TGrabCommandLine::TError TGrabCommandLine::ReadFormat(TGrabOptions& options) const
{
    if (!IsSet(FOptions.Format))
        return std::nullopt;
    options.Format = GrabFormatNamed(Value(FOptions.Format));
    if (!options.Format)
        return QStringLiteral("not a picture format: %1").arg(Value(FOptions.Format));
    return std::nullopt;
}

TGrabCommandLine::TError TGrabCommandLine::ReadPictureSettings(TGrabOptions& options) const
{
    if (IsSet(FOptions.Deinterlace)) {
        const std::optional<TDeinterlace> mode = DeinterlaceFromWord(Value(FOptions.Deinterlace).toStdString());
        if (!mode)
            return QStringLiteral("--deinterlace takes auto, on or off, not %1").arg(Value(FOptions.Deinterlace));
        options.Pictures.Deinterlace = *mode;
    }
    if (IsSet(FOptions.Tonemap)) {
        const QString word = Value(FOptions.Tonemap);
        if (word != QStringLiteral("on") && word != QStringLiteral("off"))
            return QStringLiteral("--tonemap takes on or off, not %1").arg(word);
        options.Pictures.ToneMapping = word == QStringLiteral("on");
    }
    return std::nullopt;
}

TGrabCommandLine::TError TGrabCommandLine::ReadSubtitles(TGrabOptions& options) const
{
    if (IsSet(FOptions.Subtitles)) {
        const QString word = Value(FOptions.Subtitles);
        bool ok = false;
        const int number = word.toInt(&ok);
        if (word != QStringLiteral("off") && (!ok || number < 1 || number > MaxSubtitleStream))
            return QStringLiteral("--subtitles takes a stream number from 1 or off, not %1").arg(word);
        if (word != QStringLiteral("off"))
            options.SubtitleStream = number;
    }
    if (IsSet(FOptions.SubFile)) {
        if (options.SubtitleStream)
            return QStringLiteral("--subtitles and --sub-file ask for different subtitles; give one");
        options.SubtitleFile = Value(FOptions.SubFile);
    }
    return std::nullopt;
}

TGrabCommandLine::TError TGrabCommandLine::ReadPath(TGrabOptions& options) const
{
    options.Coded = IsSet(FOptions.Coded);
    options.Fast = IsSet(FOptions.Fast);
    if (options.Fast && IsSet(FOptions.Exact))
        return QStringLiteral("--fast and --exact ask for different pictures; give one");
    return std::nullopt;
}

TGrabCommandLine::TError TGrabCommandLine::ReadSharpest(TGrabOptions& options) const
{
    if (!IsSet(FOptions.Sharpest))
        return std::nullopt;
    bool ok = false;
    const double ms = Value(FOptions.Sharpest).toDouble(&ok) * 1000;
    if (!ok || !(ms >= SharpestPicture::MinRangeMs && ms <= SharpestPicture::MaxRangeMs))
        return QStringLiteral("--sharpest takes %1 to %2 seconds, not %3")
            .arg(SharpestPicture::MinRangeMs / 1000.0)
            .arg(SharpestPicture::MaxRangeMs / 1000.0)
            .arg(Value(FOptions.Sharpest));
    if (options.Fast || IsSet(FOptions.Sheet) || IsSet(FOptions.Every))
        return QStringLiteral("--sharpest goes with times or --scenes, not with --fast, --sheet or --every");
    options.SharpestRangeMs = static_cast<std::int32_t>(std::lround(ms));
    return std::nullopt;
}

TGrabCommandLine::TError TGrabCommandLine::ReadSheet(TGrabOptions& options, const QStringList& positional) const
{
    options.Sheet = ContactSheet::ParseGrid(Value(FOptions.Sheet));
    if (!options.Sheet)
        return QStringLiteral("not a grid of 1 to %1 columns and 1 to %2 rows: %3")
            .arg(ContactSheet::MaxColumns)
            .arg(ContactSheet::MaxRows)
            .arg(Value(FOptions.Sheet));
    if (positional.size() != 2)
        return QStringLiteral("a sheet takes a movie and one output file");
    options.Movie = positional[0];
    options.SheetFile = positional[1];
    return std::nullopt;
}

TGrabCommandLine::TError TGrabCommandLine::ReadAutomaticCapture(TGrabOptions& options,
                                                                const QStringList& positional) const
{
    if (IsSet(FOptions.Scenes) && IsSet(FOptions.Every))
        return QStringLiteral("--scenes and --every ask for different pictures; give one");
    if (IsSet(FOptions.Scenes)) {
        options.SceneThreshold = SceneDetection::DefaultThreshold;
        if (IsSet(FOptions.Threshold)) {
            bool ok = false;
            const double value = Value(FOptions.Threshold).toDouble(&ok);
            if (!ok || !(value > 0 && value <= MaxThreshold))
                return QStringLiteral("not a scene threshold above 0 and at most %1: %2")
                    .arg(MaxThreshold)
                    .arg(Value(FOptions.Threshold));
            options.SceneThreshold = value;
        }
    } else {
        bool ok = false;
        const double ms = Value(FOptions.Every).toDouble(&ok) * 1000;
        if (!ok || !(ms >= 1 && ms <= std::numeric_limits<std::int32_t>::max()))
            return QStringLiteral("not a number of seconds for --every: %1").arg(Value(FOptions.Every));
        options.EveryMs = static_cast<std::int32_t>(std::lround(ms));
    }
    if (positional.size() != 2)
        return QStringLiteral("--scenes and --every take a movie and an output folder, no times");
    options.Movie = positional[0];
    options.OutDir = positional[1];
    return std::nullopt;
}

TGrabCommandLine::TError TGrabCommandLine::ReadTimes(TGrabOptions& options, const QStringList& positional) const
{
    if (positional.size() < 3)
        return QStringLiteral("a movie, an output folder and at least one time are needed");
    options.Movie = positional[0];
    options.OutDir = positional[1];
    for (const QString& text : positional.mid(2)) {
        const std::optional<std::int32_t> ms = ParseGrabTime(text);
        if (!ms)
            return QStringLiteral("not a time: '%1' (milliseconds as 2000, seconds as 83.5s, or "
                                  "[HH:]MM:SS[.mmm]; at most %2 ms)")
                .arg(text)
                .arg(std::numeric_limits<std::int32_t>::max());
        options.Times.push_back(*ms);
    }
    return std::nullopt;
}

} // namespace

TGrabOptions ParseGrabCommandLine(const QStringList& arguments)
{
    return TGrabCommandLine().Parse(arguments);
}
