// framora-grab --scenes and --every run as a program: one file per scene or interval, named by
// its time, and a line for each.
#include "StampedMovies.h"
#include "fixtures/SceneMovies.h"
#include "support/GrabRun.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
