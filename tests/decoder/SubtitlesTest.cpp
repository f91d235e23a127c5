// SPDX-License-Identifier: GPL-3.0-or-later
// Subtitles drawn into stills: each kind of subtitle source shows its events exactly while their
// times cover the picture's, whatever order pictures are asked for in, and damage gives no
// subtitles instead of a failure.
#include "decoder/UMovieDecoder.h"
#include "decoder/UMovieSubtitles.h"
#include "fixtures/SubtitleMovies.h"
#include "fixtures/TestMovies.h"
#include "support/GrabRun.h"
#include "support/SlowInputs.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace SubtitleMovies;

constexpr auto IndexWait = std::chrono::seconds(30);
// A channel that moves by more than this was drawn on, not left by rounding.
constexpr int ChangedLevel = 24;
// Fewer changed pixels than this is no line of text.
constexpr int TextPixels = 150;

std::string Fixture(const std::string& name)
{
    return std::string(FRAMORA_FIXTURE_DIR) + "/" + name;
}

QSize DisplaySize(const TMovieDecoder& decoder)
{
    return DisplayGeometry::DisplayedSize(QSize(decoder.Width(), decoder.Height()), decoder.DisplayTransform(),
                                          TAspectScaling::Display);
}

int ChangedPixels(const TBitmap& before, const TBitmap& after, int fromRow = 0)
{
    int changed = 0;
    for (int y = fromRow; y < before.Height(); ++y) {
        const std::uint8_t* a = before.ScanLine(y);
        const std::uint8_t* b = after.ScanLine(y);
        for (int x = 0; x < before.Width(); ++x) {
            for (int c = 0; c < 3; ++c) {
                if (std::abs(a[x * 3 + c] - b[x * 3 + c]) > ChangedLevel) {
                    ++changed;
                    break;
                }
            }
        }
    }
    return changed;
}

// The shown picture on the decoder with the subtitles of its time drawn in, and how many pixels
// they changed (all of them in the lower part of the picture).
struct TStill {
    TBitmap Picture;
    int Changed = 0;
};

TStill StillOnDecoder(const TMovieDecoder& decoder, TMovieSubtitles& subtitles)
{
    TBitmap plain;
    MakeDisplayedPicture(decoder.Bitmap(), decoder.DisplayTransform(), TAspectScaling::Display, plain);
    TStill still;
    still.Picture = plain;
    EXPECT_TRUE(subtitles.WaitForIndex(decoder.FrameTimeMs(), IndexWait));
    subtitles.Draw(still.Picture, decoder.FrameTimeMs(), DisplaySize(decoder));
    still.Changed = ChangedPixels(plain, still.Picture);
    EXPECT_EQ(ChangedPixels(plain, still.Picture, RegionTop), still.Changed) << "drawn above the lower third";
    return still;
}

bool Shown(std::int32_t ms)
{
    return (ms >= FirstStartMs && ms < FirstStartMs + EventMs) || (ms >= SecondStartMs && ms < SecondStartMs + EventMs);
}

struct TSource {
    const char* Name;
    std::string Movie;
    int SubtitleNumber; // among the movie's subtitle streams; -1: the file below
    std::string File;
};

void Open(const TSource& source, TMovieDecoder& decoder, TMovieSubtitles& subtitles)
{
    ASSERT_TRUE(decoder.Open(source.Movie)) << source.Name;
    if (source.SubtitleNumber < 0) {
        subtitles.OpenFile(source.File);
        return;
    }
    const std::vector<TSubtitleStreamInfo> streams = decoder.SubtitleStreams();
    ASSERT_LT(source.SubtitleNumber, static_cast<int>(streams.size())) << source.Name;
    subtitles.OpenStream(source.Movie, streams[static_cast<std::size_t>(source.SubtitleNumber)]);
}

std::vector<TSource> Sources()
{
    return {
        {"SubRip in Matroska", Fixture(TextMkv), 0, {}},
        {"ASS in Matroska", Fixture(TextMkv), 1, {}},
        {"mov_text in MP4", Fixture(MovText), 0, {}},
        {"SubRip file beside", Fixture(Beside), -1, Fixture(BesideSrt)},
        {"WebVTT file beside", Fixture(Beside), -1, Fixture(BesideVtt)},
        {"ASS file beside", Fixture(Beside), -1, Fixture(BesideAss)},
        {"DVD subpictures", Fixture(std::string(DvdFolder) + "/" + DvdVob), 0, {}},
        {"DVB subtitles", Fixture(Dvb), 0, {}},
        {"PGS in Matroska", Fixture(PgsMkv), 0, {}},
    };
}

TEST(Subtitles, EverySourceShowsItsEventsExactlyWhileTheyCoverThePicture)
{
    // Forward and backward seeks, each landing inside or outside an event whose packet lies
    // before the request.
    const std::int32_t requests[] = {6000, 1520, 8000, 520, 2960, 5000, 3040, 1000, 960, 6960, 7000};
    for (const TSource& source : Sources()) {
        TMovieDecoder decoder;
        TMovieSubtitles subtitles;
        Open(source, decoder, subtitles);
        decoder.SetExact(true);
        for (const std::int32_t ms : requests) {
            ASSERT_TRUE(decoder.DecodeFrame(ms)) << source.Name << " at " << ms;
            ASSERT_EQ(decoder.FrameTimeMs(), ms) << source.Name;
            const TStill still = StillOnDecoder(decoder, subtitles);
            if (Shown(ms))
                EXPECT_GT(still.Changed, TextPixels) << source.Name << " at " << ms;
            else
                EXPECT_EQ(still.Changed, 0) << source.Name << " at " << ms;
        }
        // The index reads on past the last request; on a loaded machine it may not be there yet.
        EXPECT_TRUE(subtitles.WaitForWholeIndex(IndexWait) && subtitles.IndexComplete()) << source.Name;
        EXPECT_FALSE(subtitles.Failed()) << source.Name;
        EXPECT_EQ(subtitles.EventCount(), 2u) << source.Name;
    }
}

TEST(Subtitles, StepsAndThePlaybackPathShowTheEventOfThePicturesOwnTime)
{
    for (const TSource& source : Sources()) {
        TMovieDecoder decoder;
        TMovieSubtitles subtitles;
        Open(source, decoder, subtitles);
        // The playback path lands near the request; the picture's own time decides.
        for (const std::int32_t ms : {5500, 1200, 7300}) {
            ASSERT_TRUE(decoder.DecodeFrame(ms)) << source.Name;
            EXPECT_EQ(StillOnDecoder(decoder, subtitles).Changed > 0, Shown(decoder.FrameTimeMs()))
                << source.Name << " at " << decoder.FrameTimeMs();
        }
        decoder.SetExact(true);
        ASSERT_TRUE(decoder.DecodeFrame(FirstStartMs + EventMs - 80));
        for (int step = 0; step < 4; ++step) {
            ASSERT_TRUE(decoder.DecodeNextFrame());
            EXPECT_EQ(StillOnDecoder(decoder, subtitles).Changed > 0, Shown(decoder.FrameTimeMs()))
                << source.Name << " stepped to " << decoder.FrameTimeMs();
        }
        for (int step = 0; step < 4; ++step) {
            ASSERT_TRUE(decoder.DecodePreviousFrame());
            EXPECT_EQ(StillOnDecoder(decoder, subtitles).Changed > 0, Shown(decoder.FrameTimeMs()))
                << source.Name << " stepped back to " << decoder.FrameTimeMs();
        }
    }
}

TEST(Subtitles, FilesBesideAMovieAreFoundByItsBaseName)
{
    QTemporaryDir dir;
    const auto touch = [&](const QString& name) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    };
    const auto path = [&](const QString& name) { return dir.filePath(name).toStdString(); };
    touch(QStringLiteral("film.mkv"));
    EXPECT_EQ(SubtitleFiles::FileBeside(path(QStringLiteral("film.mkv"))), "");
    touch(QStringLiteral("film.vtt"));
    touch(QStringLiteral("film.ass"));
    touch(QStringLiteral("other.srt"));
    EXPECT_EQ(SubtitleFiles::FileBeside(path(QStringLiteral("film.mkv"))), path(QStringLiteral("film.ass")));
    touch(QStringLiteral("film.srt"));
    EXPECT_EQ(SubtitleFiles::FileBeside(path(QStringLiteral("film.mkv"))), path(QStringLiteral("film.srt")));
    // A folder with the name is no file.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("clip.srt")));
    EXPECT_EQ(SubtitleFiles::FileBeside(path(QStringLiteral("clip.mp4"))), "");

    touch(QStringLiteral("VTS_02_0.IFO"));
    const struct {
        const char* Vob;
        bool HasIfo;
    } vobs[] = {{"VTS_02_1.VOB", true}, {"vts_02_3.vob", true}, {"VTS_03_1.VOB", false},
                {"VIDEO_TS.VOB", false}, {"VTS_02_1.MKV", false}};
    for (const auto& vob : vobs)
        EXPECT_EQ(SubtitleFiles::IfoBeside(path(QString::fromLatin1(vob.Vob))).empty(), !vob.HasIfo) << vob.Vob;
}

TEST(Subtitles, DvdSubpicturesTakeTheirColoursFromTheTitleSetsIfo)
{
    const std::string vob = Fixture(std::string(DvdFolder) + "/" + DvdVob);
    TMovieDecoder decoder;
    TMovieSubtitles subtitles;
    ASSERT_TRUE(decoder.Open(vob));
    subtitles.OpenStream(vob, decoder.SubtitleStreams().at(0));
    decoder.SetExact(true);
    ASSERT_TRUE(decoder.DecodeFrame(FirstStartMs + 500));
    const TStill still = StillOnDecoder(decoder, subtitles);
    ASSERT_GT(still.Changed, TextPixels);
    // Inside the block, over the red bar: the IFO's green, not the encoder's white.
    const QColor inside = still.Picture.Image().pixelColor(80, 200);
    EXPECT_GT(inside.green(), inside.red() + 60) << inside.name().toStdString();
    EXPECT_GT(inside.green(), inside.blue() + 60) << inside.name().toStdString();
}

TEST(Subtitles, TextIsLaidOutForTheShownProportionsOnACodedPicture)
{
    TMovieDecoder decoder;
    TMovieSubtitles subtitles;
    ASSERT_TRUE(decoder.Open(Fixture(Beside)));
    subtitles.OpenFile(Fixture(BesideSrt));
    decoder.SetExact(true);
    ASSERT_TRUE(decoder.DecodeFrame(FirstStartMs + 500));
    ASSERT_TRUE(subtitles.WaitForIndex(FirstStartMs + 500, IndexWait));
    const auto textWidth = [&](QSize display) {
        TBitmap picture(decoder.Bitmap());
        TBitmap plain(picture);
        subtitles.Draw(picture, decoder.FrameTimeMs(), display);
        int left = picture.Width(), right = -1;
        for (int y = RegionTop; y < picture.Height(); ++y)
            for (int x = 0; x < picture.Width(); ++x)
                if (picture.Image().pixel(x, y) != plain.Image().pixel(x, y)) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        return right - left;
    };
    const int square = textWidth(QSize(TestMovies::Width, TestMovies::Height));
    // Shown twice as wide, the coded picture gets text half as wide, which the stretch restores.
    const int wide = textWidth(QSize(2 * TestMovies::Width, TestMovies::Height));
    EXPECT_NEAR(wide, square / 2, square / 8);
}

TEST(Subtitles, ALineIsTheSameAtItsSizeWhateverSizesWereDrawnBetween)
{
    TMovieSubtitles subtitles;
    subtitles.OpenFile(Fixture(BesideSrt));
    const std::int32_t ms = FirstStartMs + 500;
    ASSERT_TRUE(subtitles.WaitForIndex(ms, IndexWait));
    const QSize display(TestMovies::Width, TestMovies::Height);
    const auto lineAt = [&](QSize size) { return subtitles.Overlay(size, ms, display); };
    const QSize preview(TestMovies::Width * 3 / 2, TestMovies::Height * 3 / 2);
    const QSize capture(TestMovies::Width * 3, TestMovies::Height * 3);
    const QImage first = lineAt(capture);
    ASSERT_FALSE(first.isNull());
    const QImage firstPreview = lineAt(preview);
    // Preview and capture take turns, then a third size comes between them.
    EXPECT_EQ(lineAt(capture), first);
    EXPECT_EQ(lineAt(preview), firstPreview);
    EXPECT_EQ(lineAt(display).size(), display);
    EXPECT_EQ(lineAt(capture), first);
    EXPECT_EQ(lineAt(preview), firstPreview);
}

// Counts the subtitles' own log lines while it lives.
class TSubtitleLog {
public:
    TSubtitleLog()
    {
        Lines = 0;
        av_log_set_callback(Count);
    }
    ~TSubtitleLog() { av_log_set_callback(av_log_default_callback); }
    TSubtitleLog(const TSubtitleLog&) = delete;
    TSubtitleLog& operator=(const TSubtitleLog&) = delete;
    static inline std::atomic<int> Lines{0};

private:
    static void Count(void*, int level, const char* format, va_list arguments)
    {
        char line[1024];
        std::vsnprintf(line, sizeof line, format, arguments);
        if (level <= AV_LOG_ERROR && std::string(line).rfind("subtitles:", 0) == 0)
            ++Lines;
    }
};

TEST(Subtitles, DamagedSubtitlesGiveNoSubtitlesAndOneLogLine)
{
    QTemporaryDir dir;
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return dir.filePath(name).toStdString();
    };
    QByteArray noise(4096, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 7919 + 13) % 251);
    // Damaged Matroska: the subtitles' bytes overwritten in the middle of the file.
    QFile original(QString::fromStdString(Fixture(TextMkv)));
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    QByteArray movie = original.readAll();
    for (qsizetype at = movie.size() / 4; at < movie.size() * 3 / 4; at += 997)
        movie[at] = static_cast<char>(movie[at] ^ 0x5A);
    const std::string damagedMovie = write(QStringLiteral("damaged.mkv"), movie);

    const struct {
        const char* Name;
        std::string File;
        bool Failed;
    } cases[] = {
        {"noise named .srt", write(QStringLiteral("noise.srt"), noise), true},
        {"empty .ass", write(QStringLiteral("empty.ass"), QByteArray()), true},
        {"missing file", dir.filePath(QStringLiteral("gone.srt")).toStdString(), true},
        {"a movie without subtitles", Fixture(TestMovies::LongGopH264), true},
    };
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(Fixture(Beside)));
    decoder.SetExact(true);
    for (const auto& c : cases) {
        const TSubtitleLog log;
        TMovieSubtitles subtitles;
        subtitles.OpenFile(c.File);
        ASSERT_TRUE(decoder.DecodeFrame(FirstStartMs + 500)) << c.Name;
        EXPECT_EQ(StillOnDecoder(decoder, subtitles).Changed, 0) << c.Name;
        EXPECT_TRUE(subtitles.WaitForWholeIndex(IndexWait) && subtitles.IndexComplete()) << c.Name;
        EXPECT_EQ(subtitles.Failed(), c.Failed) << c.Name;
        EXPECT_EQ(TSubtitleLog::Lines.load(), 1) << c.Name;
    }
    // A damaged stream inside a movie: pictures keep coming, whatever subtitles survive.
    const TSubtitleLog log;
    TMovieDecoder damaged;
    if (damaged.Open(damagedMovie)) {
        damaged.SetExact(true);
        for (const TSubtitleStreamInfo& stream : damaged.SubtitleStreams()) {
            TMovieSubtitles subtitles;
            subtitles.OpenStream(damagedMovie, stream);
            for (const std::int32_t ms : {6000, 1500, 8000}) {
                if (damaged.DecodeFrame(ms))
                    StillOnDecoder(damaged, subtitles);
            }
            EXPECT_TRUE(subtitles.WaitForIndex(SubtitleMovies::Frames * 40, IndexWait));
        }
    }
    EXPECT_LE(TSubtitleLog::Lines.load(), 2);
}

TEST(Subtitles, ClosingWhileTheIndexIsReadEndsAtOnce)
{
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(Fixture(TextMkv)));
    for (int i = 0; i < 20; ++i) {
        TMovieSubtitles subtitles;
        subtitles.OpenStream(Fixture(TextMkv), decoder.SubtitleStreams().at(static_cast<std::size_t>(i % 2)));
        if (i % 3 == 0)
            subtitles.OpenFile(Fixture(BesideSrt)); // the first index is stopped for the next
    }
}

// Closing never waits for the reading, whatever it is busy with: a probe through a long damaged
// stretch, a long stream, libass's font scan. The reading still ends soon after, in the
// background.
TEST(Subtitles, ClosingReturnsAtOnceAndTheReadingEndsBehindIt)
{
    QTemporaryDir folder;
    const std::string damaged = QDir(folder.path()).filePath(QStringLiteral("long-damage.vob")).toStdString();
    WriteLongDamage(damaged);
    const int logLevel = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    // The long movie is written only by builds with benchmarks (the sanitizer build has none).
    const std::string stream = std::filesystem::exists(Fixture(Long)) ? Fixture(Long) : Fixture(TextMkv);
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(stream));
    const std::vector<TSubtitleStreamInfo> streams = decoder.SubtitleStreams();
    ASSERT_FALSE(streams.empty());
    const struct {
        const char* Name;
        std::function<void(TMovieSubtitles&)> Open;
    } cases[] = {
        {"a long damaged stretch", [&](TMovieSubtitles& s) { s.OpenFile(damaged); }},
        {"a long stream", [&](TMovieSubtitles& s) { s.OpenStream(stream, streams.front()); }},
        {"a text file (fonts)", [&](TMovieSubtitles& s) { s.OpenFile(Fixture(BesideAss)); }},
    };
    for (const auto& c : cases) {
        TMovieSubtitles subtitles;
        c.Open(subtitles);
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // into the reading
        const auto started = std::chrono::steady_clock::now();
        subtitles.Close();
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << c.Name;
        EXPECT_FALSE(subtitles.IsOpen());
        // Not the deadline of a read (ten seconds): the stop reached it.
        const auto ended = started + std::chrono::seconds(5);
        while (TMovieSubtitles::ClosedStillReading() > 0 && std::chrono::steady_clock::now() < ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(TMovieSubtitles::ClosedStillReading(), 0u) << c.Name;
    }
    av_log_set_level(logLevel);
}

// framora-grab --subtitles and --sub-file: the pictures inside an event differ from the same
// pictures without subtitles, those outside do not.
TEST(Subtitles, FramoraGrabDrawsTheChosenSubtitles)
{
    QTemporaryDir dir;
    const auto grab = [&](const QString& folder, const QString& movie, const QStringList& options) {
        QStringList arguments = options;
        arguments << QString::fromStdString(Fixture(movie.toStdString())) << dir.filePath(folder)
                  << QStringLiteral("1500") << QStringLiteral("3500");
        const TGrabRun run = Grab(arguments);
        EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    };
    const auto picture = [&](const QString& folder, const char* ms) {
        return QImage(dir.filePath(folder + QStringLiteral("/") + QLatin1String(ms) + QStringLiteral(".bmp")));
    };
    grab(QStringLiteral("off"), QString::fromLatin1(TextMkv), {QStringLiteral("--subtitles"), QStringLiteral("off")});
    grab(QStringLiteral("ass"), QString::fromLatin1(TextMkv), {QStringLiteral("--subtitles"), QStringLiteral("2")});
    grab(QStringLiteral("file"), QString::fromLatin1(Beside),
         {QStringLiteral("--sub-file"), QString::fromStdString(Fixture(BesideSrt))});
    grab(QStringLiteral("bare"), QString::fromLatin1(Beside), {});
    EXPECT_NE(picture(QStringLiteral("off"), "1500"), picture(QStringLiteral("ass"), "1500"));
    EXPECT_EQ(picture(QStringLiteral("off"), "3500"), picture(QStringLiteral("ass"), "3500"));
    EXPECT_NE(picture(QStringLiteral("bare"), "1500"), picture(QStringLiteral("file"), "1500"));
    EXPECT_EQ(picture(QStringLiteral("bare"), "3500"), picture(QStringLiteral("file"), "3500"));

    // A contact sheet: its 2 x 2 tiles lie at 1245, 3735, 6225 and 8715 ms, two of them inside
    // the events.
    for (const QString& choice : {QStringLiteral("off"), QStringLiteral("1")}) {
        const TGrabRun sheet = Grab({QStringLiteral("--subtitles"), choice, QStringLiteral("--sheet"), QStringLiteral("2x2"),
                                     QString::fromStdString(Fixture(TextMkv)), dir.filePath(choice + QStringLiteral(".png"))});
        EXPECT_EQ(sheet.ExitCode, 0) << sheet.Err.toStdString();
    }
    EXPECT_NE(QImage(dir.filePath(QStringLiteral("off.png"))), QImage(dir.filePath(QStringLiteral("1.png"))));

    const TGrabRun missing = Grab({QStringLiteral("--subtitles"), QStringLiteral("3"),
                                   QString::fromStdString(Fixture(TextMkv)), dir.filePath(QStringLiteral("x")),
                                   QStringLiteral("1500")});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_TRUE(missing.Err.contains(QStringLiteral("no subtitle stream 3"))) << missing.Err.toStdString();
    for (const QString& wrong : {QStringLiteral("0"), QStringLiteral("two"), QStringLiteral("-1")}) {
        const TGrabRun usage = Grab({QStringLiteral("--subtitles"), wrong, QString::fromStdString(Fixture(TextMkv)),
                                     dir.filePath(QStringLiteral("x")), QStringLiteral("1500")});
        EXPECT_EQ(usage.ExitCode, 2) << wrong.toStdString();
    }
}

// Subtitles asked for and lost do not pass for done: a file without any gives the pictures and
// exit 3, a file that cannot be read is as one that is not there (exit 1).
TEST(Subtitles, FramoraGrabSaysWhenTheSubtitlesAskedForAreNotThere)
{
    QTemporaryDir dir;
    const auto write = [&](const char* name, const QByteArray& bytes) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    };
    const struct {
        const char* Name;
        QByteArray Bytes;
        int ExitCode;
        const char* Said;
        bool Written;
    } cases[] = {
        {"none.vtt", QByteArrayLiteral("WEBVTT\n\n"), 3, "holds no subtitles", true},
        {"zeros.srt", QByteArray(4096, '\0'), 1, "not a subtitle file that can be read", false},
    };
    for (const auto& c : cases) {
        const QString out = dir.filePath(QString::fromLatin1(c.Name) + QStringLiteral(".out"));
        const TGrabRun run = Grab({QStringLiteral("--sub-file"), write(c.Name, c.Bytes),
                                   QString::fromStdString(Fixture(Beside)), out, QStringLiteral("1500")});
        EXPECT_EQ(run.ExitCode, c.ExitCode) << c.Name << run.Err.toStdString();
        EXPECT_TRUE(run.Err.contains(QLatin1String(c.Said))) << c.Name << run.Err.toStdString();
        EXPECT_EQ(QFile::exists(out + QStringLiteral("/1500.bmp")), c.Written) << c.Name;
    }
}

// Subtitle times saturate: a damaged stream's time far out of range gives the end of the range,
// never INT64_MIN to subtract from.
TEST(SubtitleTime, TimesSaturateInsteadOfWrappingRound)
{
    constexpr std::int64_t Max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t Min = std::numeric_limits<std::int64_t>::min();
    const struct {
        std::int64_t Value;
        int Num, Den;
        std::int64_t Ms;
    } times[] = {
        {90000, 1, 90000, 1000},
        {-45, 1, 90000, -1},   // rounded to nearest
        {1234, 1, 1000, 1234},
        {Max / 2, 1, 1, Max},  // seconds beyond any millisecond count
        {Min / 2, 1, 1, Min},
        {Min, 1, 1000, Min},   // no time at all
        {5, 0, 1000, Min},     // no time base
    };
    for (const auto& t : times)
        EXPECT_EQ(SubtitleTime::ToMs(t.Value, t.Num, t.Den), t.Ms) << t.Value << " " << t.Num << "/" << t.Den;
    const struct {
        std::int64_t A, B, Difference;
    } differences[] = {
        {5000, 1000, 4000}, {Min, 1000, Min}, {Min + 5, 10, Min}, {Max, -1, Max}, {-1, Max, Min}, {0, Min, Max},
    };
    for (const auto& d : differences)
        EXPECT_EQ(SubtitleTime::Difference(d.A, d.B), d.Difference) << d.A << " - " << d.B;
}

// A bitmap rectangle shows only within the canvas its stream addresses, so that a track whose
// canvas is smaller than its rectangles (a VobSub "size: 64x64" with 720x100 pictures) costs no
// more than the picture it is drawn on.
TEST(SubtitleGeometry, BitmapsAreClippedToTheirCanvasBeforeTheyAreScaled)
{
    const struct {
        QRect Place;
        QSize Canvas, Size;
        QRect Source, Target;
    } cases[] = {
        // A DVD subtitle on a 720 x 480 canvas, drawn at 1280 x 720.
        {{100, 400, 520, 60}, {720, 480}, {1280, 720}, {0, 0, 520, 60}, {178, 600, 924, 90}},
        // Drawn at the canvas's own size: as it is.
        {{10, 20, 30, 40}, {720, 576}, {720, 576}, {0, 0, 30, 40}, {10, 20, 30, 40}},
        // The canvas says 64 x 64, the rectangles are 720 x 100: 64 x 64 of them, the picture.
        {{0, 0, 720, 100}, {64, 64}, {1280, 720}, {0, 0, 64, 64}, {0, 0, 1280, 720}},
        // Partly past the right edge.
        {{600, 10, 200, 20}, {720, 480}, {720, 480}, {0, 0, 120, 20}, {600, 10, 120, 20}},
        // Wholly outside, or nothing to draw on.
        {{800, 10, 20, 20}, {720, 480}, {720, 480}, {}, {}},
        {{10, 10, 20, 20}, {720, 480}, {}, {}, {}},
    };
    for (const auto& c : cases) {
        const SubtitleGeometry::TBitmapPlacement placed = SubtitleGeometry::PlaceBitmap(c.Place, c.Canvas, c.Size);
        EXPECT_EQ(placed.Source, c.Source) << c.Place.x() << "," << c.Place.y() << " on " << c.Canvas.width();
        EXPECT_EQ(placed.Target, c.Target) << c.Place.x() << "," << c.Place.y() << " on " << c.Canvas.width();
        EXPECT_LE(std::int64_t{placed.Target.width()} * placed.Target.height(),
                  std::int64_t{c.Size.width() + 1} * (c.Size.height() + 1));
    }
}

// A text event its stream gives no end (the last line of a MicroDVD file) is shown, as players
// show it: until the next event, and a few seconds at most.
TEST(Subtitles, ATextEventWithoutAnEndIsShownForAFewSeconds)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("open-end.sub"));
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        // 25 pictures a second: the first line from 1 s (to the next, as FFmpeg ends it), the
        // last from 4 s without an end.
        out.write("{1}{1}25.000\n{25}{}First line\n{100}{}Last line\n");
    }
    TMovieSubtitles subtitles;
    subtitles.OpenFile(file.toStdString());
    ASSERT_TRUE(subtitles.WaitForWholeIndex(std::chrono::seconds(20)));
    ASSERT_FALSE(subtitles.Failed());
    ASSERT_EQ(subtitles.EventCount(), 2u);
    const auto shows = [&](std::int32_t ms) {
        TBitmap picture;
        picture.SetPixelFormat(TPixelFormat::pf24bit);
        picture.SetSize(320, 240);
        picture.Image().fill(Qt::black);
        return subtitles.Draw(picture, ms, QSize(320, 240));
    };
    const struct {
        std::int32_t Ms;
        bool Shown;
    } times[] = {{500, false}, {2000, true}, {4500, true}, {8500, true}, {9500, false}, {60000, false}};
    for (const auto& t : times)
        EXPECT_EQ(shows(t.Ms), t.Shown) << t.Ms;
}

} // namespace
