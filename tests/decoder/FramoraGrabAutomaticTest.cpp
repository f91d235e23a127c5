// SPDX-License-Identifier: GPL-3.0-or-later
// framora-grab --scenes and --every run as a program: one file per scene or interval, named by
// its time, and a line for each.
#include "StampedMovies.h"
#include "fixtures/SceneMovies.h"
#include "fixtures/SharpMovies.h"
#include "support/GrabRun.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>

using namespace TestMovies;

namespace {

QString Movie(const char* name)
{
    return QString::fromStdString(MoviePath(name));
}

// The file names written and the "MS ok FILE at T" lines, past the size line.
void ExpectPictures(const TGrabRun& run, const QString& folder, const QStringList& marks)
{
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    ASSERT_EQ(run.Out.size(), marks.size() + 1) << run.Out.join('\n').toStdString();
    QStringList expected;
    for (int i = 0; i < marks.size(); ++i) {
        const QString file = folder + "/" + marks[i] + ".png";
        EXPECT_TRUE(run.Out[i + 1].startsWith(marks[i] + " ok " + file + " at ")) << run.Out[i + 1].toStdString();
        expected << marks[i] + ".png";
    }
    QStringList written = QDir(folder).entryList(QDir::Files);
    const auto ms = [](const QString& file) { return file.section(QLatin1Char('.'), 0, 0).toInt(); };
    std::sort(written.begin(), written.end(), [&](const QString& a, const QString& b) { return ms(a) < ms(b); });
    EXPECT_EQ(written, expected);
}

TEST(FramoraGrab, EverySecondsOverTheMovie)
{
    QTemporaryDir dir;
    const TGrabRun run = Grab({"--format", "png", "--every", "2", Movie(Mpeg4Avi), dir.path()});
    ExpectPictures(run, dir.path(), {"0", "2000", "4000", "6000", "8000"});
    EXPECT_TRUE(run.Out[3].endsWith(" at 4000"));
}

TEST(FramoraGrab, ScenesOfJoinedShots)
{
    QTemporaryDir dir;
    const TGrabRun run = Grab({"--scenes", "--format", "png", Movie(SceneMovies::Joined), dir.path()});
    QStringList marks{"0"};
    for (int cut : SceneMovies::Cuts)
        marks << QString::number(cut * 1000 / FrameRate);
    ExpectPictures(run, dir.path(), marks);
    // The still is a few pictures after its cut.
    EXPECT_TRUE(run.Out[2].endsWith(QString(" at %1").arg((SceneMovies::Cuts[0] + 3) * 1000 / FrameRate)))
        << run.Out[2].toStdString();
}

TEST(FramoraGrab, NoSceneLimitOnTheCommandLine)
{
    QTemporaryDir dir;
    // A threshold high enough for flat shots only; all forty are more than the window keeps.
    const TGrabRun run = Grab({"--scenes", "20", Movie(SceneMovies::Many), dir.path()});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out.size(), SceneMovies::ManyScenes + 1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), SceneMovies::ManyScenes);
}

} // namespace

namespace {

// "MS ok FILE at T sharpness S": T and S.
std::pair<int, double> ChosenOf(const QString& line)
{
    const QStringList words = line.split(QLatin1Char(' '));
    if (words.size() != 7 || words[3] != "at" || words[5] != "sharpness")
        return {-1, -1};
    return {words[4].toInt(), words[6].toDouble()};
}

TEST(FramoraGrab, SharpestAtEachTimeAndEachScene)
{
    constexpr int PictureMs = 1000 / FrameRate;
    QTemporaryDir dir;
    // On a blurred picture before the cut, on the one after it, and on a sharp one.
    const int pictures[] = {47, 49, 51, 60};
    QStringList arguments{"--sharpest", "0.5", "--format", "png", Movie(SharpMovies::Alternating), dir.path()};
    for (const int picture : pictures)
        arguments << QString::number(picture * PictureMs);
    const TGrabRun run = Grab(arguments);
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    ASSERT_EQ(run.Out.size(), qsizetype(1 + std::size(pictures))) << run.Out.join('\n').toStdString();
    for (std::size_t i = 0; i < std::size(pictures); ++i) {
        const auto [chosenMs, score] = ChosenOf(run.Out[int(i) + 1]);
        const int chosen = chosenMs / PictureMs;
        SCOPED_TRACE(run.Out[int(i) + 1].toStdString());
        EXPECT_EQ(chosen % 2, 0);
        EXPECT_LE(std::abs(chosen - pictures[i]), 1);
        EXPECT_EQ(chosen < SharpMovies::Cut, pictures[i] < SharpMovies::Cut);
        EXPECT_GT(score, 0);
    }

    QTemporaryDir scenes;
    const TGrabRun scan = Grab({"--sharpest", "0.2", "--scenes", Movie(SharpMovies::Alternating), scenes.path()});
    ASSERT_EQ(scan.ExitCode, 0) << scan.Err.toStdString();
    ASSERT_EQ(scan.Out.size(), 3) << scan.Out.join('\n').toStdString();
    // The start and the cut; each still is a sharp picture of its own scene.
    EXPECT_EQ(ChosenOf(scan.Out[1]).first / PictureMs % 2, 0);
    const int afterCut = ChosenOf(scan.Out[2]).first / PictureMs;
    EXPECT_EQ(afterCut % 2, 0);
    EXPECT_GE(afterCut, SharpMovies::Cut);
}

} // namespace
