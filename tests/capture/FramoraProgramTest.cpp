// SPDX-License-Identifier: GPL-3.0-or-later
// The framora program itself, run as a child: the single-instance guard across processes and the
// window picture it saves on request.
#include "FramoraTestSupport.h"

#include "imagestore/UGraphicFormats.h"
#include "framework/TPicture.h"
#include "imagestore/USafetyBitmap.h"
#include "shell/UExecuteCheck.h"

#include <QImage>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

namespace {

constexpr int ProgramTimeoutMs = 30000;
const QByteArray AlreadyRunningLine = QByteArrayLiteral("framora: message: Framora: すでに実行中です。");
const QByteArray ShownLine = QByteArrayLiteral("framora: shown");

// Runs the program under test with its guard in lockDir and its message boxes answered.
class TProgram {
public:
    explicit TProgram(const QString& lockDir, const QStringList& extra = {},
                      const QStringList& arguments = {FixturePath(TestMovies::Sample)})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("FRAMORA_LOCK_DIR"), lockDir);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), lockDir); // its settings stay in the test
        environment.insert(QStringLiteral("FRAMORA_ANSWER_BOXES"), QStringLiteral("1"));
        environment.remove(QStringLiteral("FRAMORA_GRAB"));
        for (const QString& assignment : extra)
            environment.insert(assignment.section(QLatin1Char('='), 0, 0), assignment.section(QLatin1Char('='), 1));
        Process.setProcessEnvironment(environment);
        Process.setProcessChannelMode(QProcess::SeparateChannels);
        Process.setReadChannel(QProcess::StandardError); // where the program reports
        Process.start(QStringLiteral(FRAMORA_BINARY_DIR "/framora"), arguments);
    }

    ~TProgram()
    {
        if (Process.state() != QProcess::NotRunning) {
            Process.kill();
            Process.waitForFinished();
        }
    }

    // Reads the program's messages until one of them is line (or the program ends).
    bool WaitForLine(const QByteArray& line)
    {
        while (!Output.contains(line)) {
            if (!Process.waitForReadyRead(ProgramTimeoutMs))
                return Output.append(Process.readAllStandardError()).contains(line);
            Output += Process.readAllStandardError();
        }
        return true;
    }

    bool Finish()
    {
        const bool finished = Process.waitForFinished(ProgramTimeoutMs);
        Output += Process.readAllStandardError();
        return finished;
    }

    QProcess Process;
    QByteArray Output;
};

class FramoraProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Locks.isValid());
        qputenv("FRAMORA_LOCK_DIR", Locks.path().toLocal8Bit());
    }
    void TearDown() override { qunsetenv("FRAMORA_LOCK_DIR"); }

    QTemporaryDir Locks;
};

// What the program's entry holds for its run: pictures load through the safe classes, and
// only while it runs.
TEST(ProgramStart, RegistersThePictureClassesForTheRun)
{
    {
        const TGraphicFormats formats;
        EXPECT_EQ(TPicture::FindByExtension(QStringLiteral("bmp")), &TSafetyBitmap::StaticClass());
        EXPECT_EQ(TPicture::FindByExtension(QStringLiteral("jpg")), &TSafetyJPEGImage::StaticClass());
        EXPECT_EQ(TPicture::FindByClipboardFormat(CF_DIB), &TSafetyBitmap::StaticClass());
    }
    EXPECT_NE(TPicture::FindByExtension(QStringLiteral("bmp")), &TSafetyBitmap::StaticClass());
}

TEST_F(FramoraProgram, ASecondStartReportsAlreadyRunningAndEnds)
{
    TExecuteBlocker first(FramoraGuardName);
    ASSERT_TRUE(first.Acquired());

    TProgram second(Locks.path());
    ASSERT_TRUE(second.Finish()) << second.Output.constData();
    EXPECT_EQ(second.Process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.Output.count(AlreadyRunningLine), 1) << second.Output.constData();
    EXPECT_FALSE(second.Output.contains(ShownLine)) << "the window must never be shown";
}

TEST_F(FramoraProgram, AKilledInstanceLeavesTheGuardFree)
{
    {
        TProgram first(Locks.path());
        ASSERT_TRUE(first.WaitForLine(ShownLine)) << first.Output.constData();
        EXPECT_FALSE(first.Output.contains(AlreadyRunningLine));
        TExecuteBlocker probe(FramoraGuardName);
        EXPECT_FALSE(probe.Acquired()) << "the running program holds the guard";

        first.Process.kill(); // SIGKILL: no chance to release anything itself
        ASSERT_TRUE(first.Finish());
        EXPECT_EQ(first.Process.exitStatus(), QProcess::CrashExit);
    }

    // The next start runs as a first instance; it also saves its window on request.
    const QString picture = Locks.filePath(QStringLiteral("window.png"));
    TProgram next(Locks.path(), {QStringLiteral("FRAMORA_GRAB=") + picture, QStringLiteral("FRAMORA_GRAB_AFTER_MS=300")});
    ASSERT_TRUE(next.Finish()) << next.Output.constData();
    EXPECT_EQ(next.Process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(next.Process.exitCode(), 0);
    EXPECT_TRUE(next.Output.contains(ShownLine)) << next.Output.constData();
    EXPECT_FALSE(next.Output.contains(AlreadyRunningLine));
    const QImage window(picture);
    ASSERT_FALSE(window.isNull());
    EXPECT_GE(window.width(), 792); // the design client, below the menu bar
    EXPECT_GE(window.height(), 554);
}

// Started from the build folder, the program sets the guide's page in its own language as the
// help file, and the page is there.
TEST_F(FramoraProgram, TheHelpFileIsTheGuidesPageInTheWindowsLanguage)
{
    for (const char* language : {"ja", "en"}) {
        const QString page = QStringLiteral(FRAMORA_BINARY_DIR "/guide/%1/index.html").arg(QLatin1String(language));
        TProgram program(Locks.path(), {QStringLiteral("LANGUAGE=") + QLatin1String(language),
                                        QStringLiteral("FRAMORA_GRAB=") + Locks.filePath(QStringLiteral("w.png")),
                                        QStringLiteral("FRAMORA_GRAB_AFTER_MS=0")});
        ASSERT_TRUE(program.Finish()) << program.Output.constData();
        EXPECT_TRUE(program.Output.contains(QByteArrayLiteral("framora: help ") + page.toUtf8() + '\n'))
            << program.Output.constData();
        EXPECT_TRUE(QFileInfo(page).isFile()) << page.toStdString();
    }
}

TEST_F(FramoraProgram, ASecondStartHandsItsMovieToTheRunningWindowOrEndsWithoutAsking)
{
    TProgram first(Locks.path());
    ASSERT_TRUE(first.WaitForLine(ShownLine)) << first.Output.constData();

    // Named as a desktop entry names it: the running window opens it and this start says nothing.
    const QString movie = FixturePath(TestMovies::LongGopH264);
    TProgram handing(Locks.path(), {}, {movie});
    ASSERT_TRUE(handing.Finish()) << handing.Output.constData();
    EXPECT_EQ(handing.Process.exitCode(), 0);
    EXPECT_FALSE(handing.Output.contains("framora: message:")) << handing.Output.constData();
    EXPECT_FALSE(handing.Output.contains(ShownLine));
    EXPECT_TRUE(first.WaitForLine("framora: handed " + movie.toUtf8())) << first.Output.constData();

    // Without a movie: the one message, and the start ends with no question after it.
    TProgram bare(Locks.path(), {}, {});
    ASSERT_TRUE(bare.Finish()) << bare.Output.constData();
    EXPECT_EQ(bare.Output.count("framora: message:"), 1) << bare.Output.constData();
    EXPECT_EQ(bare.Output.count(AlreadyRunningLine), 1) << bare.Output.constData();
    EXPECT_FALSE(bare.Output.contains(ShownLine));
}

} // namespace
