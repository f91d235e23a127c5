// SPDX-License-Identifier: GPL-3.0-or-later
// framora-grab: the movie decoder from the command line (usage in UGrabOptions.h). One decoder
// serves every request in the order given, so rising times read on as playback does.
#include "imagestore/UGraphicFormats.h"
#include "decoder/UFFmpegLog.h"
#include "decoder/UMovieDecoder.h"
#include "decoder/UMovieSubtitles.h"
#include "decoder/USceneScanner.h"
#include "decoder/USharpestPicture.h"
#include "framework/QtMessageLog.h"
#include "imagestore/UImageFile.h"
#include "shell/UCommandLine.h"
#include "grab/UContactSheet.h"
#include "grab/UGrabOptions.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr int ExitOpened = 0;
constexpr int ExitNotOpened = 1;
constexpr int ExitNotWritten = 1;
// The other pictures are still written, but a script must not take the run for complete.
constexpr int ExitSomeTimeFailed = 3;

void PutLE(std::vector<char>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A plain 24-bit BMP: bottom-up rows, blue-green-red, each row padded to 4 bytes.
QByteArray EncodeBmp(const TBitmap& bitmap)
{
    const std::uint32_t width = static_cast<std::uint32_t>(bitmap.Width());
    const std::uint32_t height = static_cast<std::uint32_t>(bitmap.Height());
    const std::uint32_t stride = (width * 3 + 3) & ~3u;
    const std::uint32_t imageSize = stride * height;
    constexpr std::uint32_t headersSize = 14 + 40;
    std::vector<char> out;
    out.reserve(headersSize + imageSize);
    out.push_back('B');
    out.push_back('M');
    PutLE(out, headersSize + imageSize, 4);
    PutLE(out, 0, 4);
    PutLE(out, headersSize, 4);
    PutLE(out, 40, 4);
    PutLE(out, width, 4);
    PutLE(out, height, 4);
    PutLE(out, 1, 2);  // planes
    PutLE(out, 24, 2); // bits per pixel
    PutLE(out, 0, 4);  // BI_RGB
    PutLE(out, imageSize, 4);
    PutLE(out, 2835, 4); // 72 dpi
    PutLE(out, 2835, 4);
    PutLE(out, 0, 4);
    PutLE(out, 0, 4);
    for (std::uint32_t row = height; row-- > 0;) {
        const auto* line = reinterpret_cast<const char*>(bitmap.ScanLine(static_cast<int>(row)));
        out.insert(out.end(), line, line + width * 3);
        out.insert(out.end(), stride - width * 3, '\0');
    }
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

void Report(const QString& line)
{
    std::fprintf(stderr, "framora-grab: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

// Where the picture on the decoder came from, as the window writes it into saved scenes.
TProvenance ProvenanceOf(const TMovieDecoder& decoder, const TGrabOptions& options, const TBitmap& picture,
                         const TSharpestPicture* sharpest)
{
    TProvenance provenance;
    provenance.Movie = QFileInfo(options.Movie).fileName();
    provenance.PositionMs = decoder.FrameTimeMs();
    provenance.CodedSize = QSize(decoder.Width(), decoder.Height());
    provenance.ShownSize = QSize(picture.Width(), picture.Height());
    provenance.Settings = {{QStringLiteral("DisplaySize"), options.Coded ? QStringLiteral("off") : QStringLiteral("on")}};
    for (const auto& [name, word] : SettingWords({decoder.Deinterlace(), decoder.ToneMapping()}))
        provenance.Settings.append({QString::fromStdString(name), QString::fromStdString(word)});
    if (sharpest) {
        provenance.Settings.append({QStringLiteral("Choice"), QStringLiteral("sharpest")});
        provenance.Settings.append({QStringLiteral("Sharpness"), QString::number(sharpest->Score, 'f', 1)});
    }
    provenance.Creator = FramoraNameAndVersion();
    return provenance;
}

// Every format goes to a temporary name that is renamed into place once whole, as the window
// saves: a failed write (a full disk, a file-size limit) leaves nothing under the final name.
bool WritePicture(const TBitmap& bitmap, const std::filesystem::path& path, TGrabFormat format,
                  const TProvenance& provenance, QString& error)
{
    const QString file = QString::fromStdString(path.string());
    if (format == TGrabFormat::Bmp)
        return WriteWholeFile(file, EncodeBmp(bitmap), error);
    QString metadataError;
    if (!WriteImageFile(bitmap.Image(), file, &provenance, error, metadataError))
        return false;
    if (!metadataError.isEmpty())
        Report(QStringLiteral("%1: written without its provenance: %2").arg(file, metadataError));
    return true;
}

QSize DisplaySize(const TMovieDecoder& decoder)
{
    return DisplayGeometry::DisplayedSize(QSize(decoder.Width(), decoder.Height()), decoder.DisplayTransform(),
                                          TAspectScaling::Display);
}

// The picture the decoder rendered last, as options ask for it, with the subtitles of its time
// when they are on.
const TBitmap& Picture(const TMovieDecoder& decoder, const TGrabOptions& options, TBitmap& shown,
                       TMovieSubtitles& subtitles)
{
    if (!subtitles.IsOpen() && options.Coded)
        return decoder.Bitmap();
    if (options.Coded)
        shown.Assign(decoder.Bitmap());
    else
        MakeDisplayedPicture(decoder.Bitmap(), decoder.DisplayTransform(), TAspectScaling::Display, shown);
    if (subtitles.IsOpen()) {
        subtitles.WaitForIndex(decoder.FrameTimeMs(), TMovieSubtitles::UnattendedIndexWait);
        subtitles.Draw(shown, decoder.FrameTimeMs(), DisplaySize(decoder));
    }
    return shown;
}

// Writes the picture the decoder rendered last to target; says why when it cannot.
bool WriteGrabbed(const TMovieDecoder& decoder, const TGrabOptions& options, const std::filesystem::path& target,
                  TBitmap& shown, TMovieSubtitles& subtitles, const TSharpestPicture* sharpest)
{
    const TBitmap& picture = Picture(decoder, options, shown, subtitles);
    QString error;
    if (WritePicture(picture, target, options.PictureFormat(), ProvenanceOf(decoder, options, picture, sharpest), error))
        return true;
    Report(QStringLiteral("cannot write %1: %2").arg(QString::fromStdString(target.string()), error));
    return false;
}

// The pictures of one run: OUTDIR/MARK.<extension>, each reported as "MARK ok FILE at T" or
// "MARK failed".
class TPictureFiles {
public:
    TPictureFiles(const TGrabOptions& options, TMovieSubtitles& subtitles)
        : FOptions(options)
        , FSubtitles(subtitles)
        , FOutDir(options.OutDir.toStdString())
        , FExtension("." + GrabFormatExtension(options.PictureFormat()).toStdString())
    {
        std::error_code error;
        std::filesystem::create_directories(FOutDir, error);
    }

    // A mark that gave no picture.
    void Missed(std::int32_t mark)
    {
        std::printf("%d failed\n", mark);
        std::fflush(stdout);
        FAllWritten = false;
    }

    // Writes the picture the decoder rendered last, when it rendered one for mark (chosen as the
    // sharpest when sharpest is given).
    void Write(const TMovieDecoder& decoder, std::int32_t mark, bool decoded, const TSharpestPicture* sharpest = nullptr)
    {
        const std::filesystem::path target = FOutDir / (std::to_string(mark) + FExtension);
        const bool written = decoded && WriteGrabbed(decoder, FOptions, target, FShown, FSubtitles, sharpest);
        // The picture's own time, because it may lie away from the mark (--fast, a scene's still,
        // the sharpest).
        if (written && sharpest)
            std::printf("%d ok %s at %d sharpness %.1f\n", mark, target.c_str(), decoder.FrameTimeMs(), sharpest->Score);
        else if (written)
            std::printf("%d ok %s at %d\n", mark, target.c_str(), decoder.FrameTimeMs());
        else
            std::printf("%d failed\n", mark);
        std::fflush(stdout);
        FAllWritten = FAllWritten && written;
    }

    bool AllWritten() const { return FAllWritten; }

private:
    const TGrabOptions& FOptions;
    TMovieSubtitles& FSubtitles;
    const std::filesystem::path FOutDir;
    const std::string FExtension;
    TBitmap FShown;
    bool FAllWritten = true;
};

// The sharpest picture around ms put on decoder and written for mark.
void WriteSharpest(TPictureFiles& files, TMovieDecoder& decoder, std::int32_t mark, std::int32_t ms,
                   std::int32_t rangeMs)
{
    const std::optional<TSharpestPicture> sharpest = SharpestPicture::Around(decoder, ms, rangeMs);
    files.Write(decoder, mark, sharpest.has_value(), sharpest ? &*sharpest : nullptr);
}

int GrabPictures(TMovieDecoder& decoder, const TGrabOptions& options, TMovieSubtitles& subtitles)
{
    TPictureFiles files(options, subtitles);
    for (std::int32_t ms : options.Times) {
        if (options.SharpestRangeMs)
            WriteSharpest(files, decoder, ms, ms, *options.SharpestRangeMs);
        else
            files.Write(decoder, ms, decoder.DecodeFrame(ms));
    }
    return files.AllWritten() ? ExitOpened : ExitSomeTimeFailed;
}

// A picture of every scene or interval, each named by its mark (the cut, or the interval time).
int GrabAutomatic(TMovieDecoder& decoder, const TGrabOptions& options, TMovieSubtitles& subtitles)
{
    TPictureFiles files(options, subtitles);
    TSceneScanner scanner(decoder);
    // Interval times that gave no picture get their line in time order, before the next found.
    std::size_t missedSaid = 0;
    const auto sayMissed = [&] {
        for (; missedSaid < scanner.MissedMs().size(); ++missedSaid)
            files.Missed(scanner.MissedMs()[missedSaid]);
    };
    // The sharpest around each still is looked for with a decoder of its own: the scan reads on
    // with the first.
    std::unique_ptr<TMovieDecoder> chooser;
    if (options.SharpestRangeMs) {
        chooser = std::make_unique<TMovieDecoder>();
        chooser->SetDeinterlace(options.Pictures.Deinterlace);
        chooser->SetToneMapping(options.Pictures.ToneMapping);
        if (!chooser->Open(decoder.FileName()))
            chooser.reset();
    }
    const auto write = [&](const TSceneScanner::TFound& found) {
        sayMissed();
        if (chooser)
            WriteSharpest(files, *chooser, found.MarkMs, found.TimeMs, *options.SharpestRangeMs);
        else
            files.Write(decoder, found.MarkMs, true);
        return true;
    };
    if (options.SharpestRangeMs && !chooser) {
        Report(QStringLiteral("%1: cannot open the movie a second time to choose pictures").arg(options.Movie));
        return ExitNotOpened;
    }
    const bool read = options.SceneThreshold
        ? scanner.ScanScenes(0, SceneDetection::TSettings{*options.SceneThreshold}, {}, write)
        : scanner.ScanIntervals(0, *options.EveryMs, {}, write);
    sayMissed();
    if (!read) {
        Report(QStringLiteral("%1: no picture could be read").arg(options.Movie));
        return ExitSomeTimeFailed;
    }
    // A read that failed or ran out of time is not the end of the movie: what lies after it was
    // never looked at.
    if (scanner.CutShort()) {
        Report(QStringLiteral("%1: reading stopped at %2, before the end of the movie")
                   .arg(options.Movie, ContactSheet::TimeLabel(scanner.ReachedMs())));
        return ExitSomeTimeFailed;
    }
    return files.AllWritten() ? ExitOpened : ExitSomeTimeFailed;
}

int GrabSheet(TMovieDecoder& decoder, const TGrabOptions& options, TMovieSubtitles& subtitles)
{
    const ContactSheet::TSheet sheet = ContactSheet::Make(
        decoder, QFileInfo(options.Movie).fileName(), *options.Sheet,
        [](int number, int count, std::int32_t ms) {
            Report(QStringLiteral("picture %1 of %2 at %3").arg(number).arg(count).arg(ContactSheet::TimeLabel(ms)));
        },
        !options.Coded, subtitles.IsOpen() ? &subtitles : nullptr);
    if (sheet.Image.isNull()) {
        Report(QStringLiteral("%1: the movie has no length to space pictures over").arg(options.Movie));
        return ExitNotWritten;
    }
    for (std::int32_t ms : sheet.Missing)
        Report(QStringLiteral("no picture at %1").arg(ContactSheet::TimeLabel(ms)));
    const QString format = GrabFormatExtension(options.SheetFormat()).toUpper();
    if (!sheet.Image.save(options.SheetFile, format.toLatin1().constData())) {
        Report(QStringLiteral("cannot write %1").arg(options.SheetFile));
        return ExitNotWritten;
    }
    std::printf("sheet ok %s\n", options.SheetFile.toLocal8Bit().constData());
    // A sheet with empty tiles is written, but a script must not take it for a whole one.
    return sheet.Missing.empty() ? ExitOpened : ExitSomeTimeFailed;
}

// The subtitles asked for; false, said why, when the movie has no such stream or the file is
// not there.
bool OpenSubtitles(const TMovieDecoder& decoder, const TGrabOptions& options, TMovieSubtitles& subtitles)
{
    if (!options.SubtitleFile.isEmpty()) {
        const std::string file = options.SubtitleFile.toLocal8Bit().toStdString();
        std::error_code error;
        if (!std::filesystem::is_regular_file(file, error)) {
            Report(QStringLiteral("%1: no such subtitle file").arg(options.SubtitleFile));
            return false;
        }
        subtitles.OpenFile(file);
    } else if (options.SubtitleStream) {
        const std::vector<TSubtitleStreamInfo> streams = decoder.SubtitleStreams();
        if (*options.SubtitleStream > static_cast<int>(streams.size())) {
            Report(QStringLiteral("%1: no subtitle stream %2 (the movie has %3)")
                       .arg(options.Movie)
                       .arg(*options.SubtitleStream)
                       .arg(streams.size()));
            return false;
        }
        subtitles.OpenStream(decoder.FileName(), streams[static_cast<std::size_t>(*options.SubtitleStream - 1)]);
    }
    return true;
}

// The subtitles asked for, once their index is read: pictures without them are written, but a
// run whose subtitles were lost (a damaged stream, a file without any) must not pass for done.
int SubtitleOutcome(const TGrabOptions& options, const TMovieSubtitles& subtitles)
{
    if (!subtitles.IsOpen())
        return ExitOpened;
    subtitles.WaitForWholeIndex(TMovieSubtitles::UnattendedIndexWait);
    const QString what = options.SubtitleFile.isEmpty()
        ? QStringLiteral("%1: subtitle stream %2").arg(options.Movie).arg(options.SubtitleStream.value_or(0))
        : options.SubtitleFile;
    if (subtitles.Failed()) {
        Report(QStringLiteral("%1 could not be read; the pictures have no subtitles").arg(what));
        return ExitSomeTimeFailed;
    }
    if (subtitles.IndexComplete() && subtitles.EventCount() == 0) {
        Report(QStringLiteral("%1 holds no subtitles; the pictures have none").arg(what));
        return ExitSomeTimeFailed;
    }
    return ExitOpened;
}

// A subtitle file that cannot be read at all is as a file that is not there.
bool SubtitleFileReadable(const TGrabOptions& options, const TMovieSubtitles& subtitles)
{
    if (options.SubtitleFile.isEmpty() || !subtitles.IsOpen())
        return true;
    subtitles.WaitForIndex(0, TMovieSubtitles::UnattendedIndexWait);
    if (!subtitles.Failed())
        return true;
    Report(QStringLiteral("%1: not a subtitle file that can be read").arg(options.SubtitleFile));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const TGrabOptions options = ParseGrabCommandLine(CommandLineArguments(argc, argv));
    if (AnsweredWithoutRunning(options))
        return options.ExitCode();
    const TGraphicFormats formats;
    // Past a file-size limit a write fails (EFBIG) and is reported, instead of killing the tool.
    std::signal(SIGXFSZ, SIG_IGN);
    InstallFFmpegLog("framora-grab", options.Verbose ? TFFmpegLogLevel::Everything : TFFmpegLogLevel::ErrorsOnly);
    InstallQtMessageLog("framora-grab", options.Verbose);
    // Pictures are written and sheets drawn off screen; no window system is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int applicationArgc = 1;
    QGuiApplication application(applicationArgc, argv);

    const std::string movie = options.Movie.toLocal8Bit().toStdString();
    TMovieDecoder decoder;
    decoder.SetExact(!options.Fast);
    // Only times that go back are served by the pictures a request keeps behind it.
    decoder.SetKeepsPicturesBehind(!options.SceneThreshold && !options.EveryMs && !options.Sheet
                                   && !std::is_sorted(options.Times.begin(), options.Times.end()));
    decoder.SetDeinterlace(options.Pictures.Deinterlace);
    decoder.SetToneMapping(options.Pictures.ToneMapping);
    std::error_code error;
    if (!std::filesystem::is_regular_file(movie, error)) {
        std::fprintf(stderr, "framora-grab: %s: no such file\n", movie.c_str());
        return ExitNotOpened;
    }
    if (!decoder.Open(movie)) {
        std::fprintf(stderr, "framora-grab: %s: not a movie the decoder can open\n", movie.c_str());
        return ExitNotOpened;
    }
    const QSize shown = DisplayGeometry::DisplayedSize(QSize(decoder.Width(), decoder.Height()),
                                                       decoder.DisplayTransform(), TAspectScaling::Display);
    std::printf("size %dx%d display %dx%d duration %d\n", decoder.Width(), decoder.Height(), shown.width(),
                shown.height(), decoder.Duration());
    std::fflush(stdout);
    TMovieSubtitles subtitles;
    if (!OpenSubtitles(decoder, options, subtitles) || !SubtitleFileReadable(options, subtitles))
        return ExitNotOpened;
    const int grabbed = options.SceneThreshold || options.EveryMs ? GrabAutomatic(decoder, options, subtitles)
                        : options.Sheet                           ? GrabSheet(decoder, options, subtitles)
                                                                  : GrabPictures(decoder, options, subtitles);
    const int subtitled = SubtitleOutcome(options, subtitles);
    return grabbed != ExitOpened ? grabbed : subtitled;
}
