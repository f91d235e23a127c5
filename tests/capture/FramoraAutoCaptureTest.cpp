// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic capture from the window: the menu commands, their dialog, the scan on its own thread
// feeding the scene list, cancelling it, and the scene limit.
#include "FramoraTestSupport.h"

#include "capture/UAutoCaptureDialog.h"
#include "decoder/USceneScanner.h"
#include "fixtures/SceneMovies.h"
#include "fixtures/SharpMovies.h"
#include "imagestore/UPictureEX.h"
#include "support/RecipeMovie.h"
#include "support/SlowInputs.h"

#include <QDir>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <filesystem>

namespace {

constexpr int PictureMs = 1000 / TestMovies::FrameRate;
constexpr int ScanTimeLimitMs = 60000;
constexpr int StillOffset = SceneDetection::DefaultStillOffset;

class FramoraAutoCapture : public FramoraWindow {
protected:
    void OpenPaused(const char* movie, int ms = 0)
    {
        ASSERT_TRUE(Open(FixturePath(movie)).isEmpty());
        Tick(100);
        Idle();
        ASSERT_TRUE(Form->actPause->Execute());
        Form->TrackBar1->setValue(ms);
        Idle();
    }

    // Chooses the command from the menu as a user does, the dialog answered with choice.
    void Run(QAction* command, std::optional<TAutoCaptureChoice> choice)
    {
        TAutoCaptureScript dialog({choice});
        emit Form->AutoCapture1->aboutToShow();
        ASSERT_TRUE(command->isEnabled());
        command->trigger();
        Asked = dialog.Asked().size();
    }

    bool WaitForEnd() { return QTest::qWaitFor([&] { return !Form->AutoCaptureRunning(); }, ScanTimeLimitMs); }

    static TAutoCaptureChoice Scenes(bool fromCurrent = false)
    {
        TAutoCaptureChoice choice = DefaultAutoCaptureChoice();
        choice.FromCurrent = fromCurrent;
        return choice;
    }

    qsizetype Asked = 0;
};

TEST_F(FramoraAutoCapture, ScenesGoIntoTheSceneListInTimeOrder)
{
    OpenPaused(SceneMovies::Joined);
    TMessageBoxScript boxes;
    Run(Form->CaptureScenes1, Scenes());
    EXPECT_EQ(Asked, 1);
    ASSERT_TRUE(WaitForEnd());
    QList<int> expected{0};
    for (int cut : SceneMovies::Cuts)
        expected.append(cut + StillOffset);
    EXPECT_EQ(SceneStamps(), expected);
    EXPECT_TRUE(boxes.Texts().isEmpty()) << boxes.Texts().join('\n').toStdString();
    // Scenes like any captured: unsaved, and the progress window gone.
    EXPECT_TRUE(Form->HasUnsavedScenes());
    QTest::qWait(0);
    EXPECT_EQ(Form->findChild<QProgressDialog*>("AutoCaptureProgress"), nullptr);
}

TEST_F(FramoraAutoCapture, TheSharpestOfEachScenesStartInsteadOfThePictureAfterItsCut)
{
    using SharpMovies::Cut;
    std::vector<TProvenance> origins;
    QObject::connect(Form.get(), &TfrmFramora::SceneAdded,
                     [&origins](const QImage&, const TProvenance& origin) { origins.push_back(origin); });
    OpenPaused(SharpMovies::Alternating);
    // Off by default: the picture a few after the cut, blurred here.
    EXPECT_FALSE(DefaultAutoCaptureChoice().Sharpest);
    Run(Form->CaptureScenes1, Scenes());
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(SceneStamps(), (QList<int>{0, Cut + StillOffset}));

    TAutoCaptureChoice sharpest = Scenes();
    sharpest.Sharpest = true;
    Run(Form->CaptureScenes1, sharpest);
    ASSERT_TRUE(WaitForEnd());
    const QList<int> stamps = SceneStamps();
    ASSERT_EQ(stamps.size(), 4);
    EXPECT_EQ(stamps[2], 0);
    // The sharp picture nearest the still, in the scene after the cut.
    EXPECT_EQ(stamps[3] % 2, 0);
    EXPECT_LE(std::abs(stamps[3] - (Cut + StillOffset)), 1);
    EXPECT_GE(stamps[3], Cut);
    ASSERT_EQ(origins.size(), 4u);
    EXPECT_EQ(origins[3].PositionMs, stamps[3] * PictureMs);
    EXPECT_TRUE(origins[3].Settings.contains({QStringLiteral("Choice"), QStringLiteral("sharpest")}));
    EXPECT_FALSE(origins[1].Settings.contains({QStringLiteral("Choice"), QStringLiteral("sharpest")}));
}

TEST_F(FramoraAutoCapture, IntervalsFromThePositionOnScreen)
{
    OpenPaused(TestMovies::Mpeg4Avi, 3000);
    TAutoCaptureChoice choice = DefaultAutoCaptureChoice();
    choice.FromCurrent = true;
    choice.IntervalSeconds = 2;
    Run(Form->CaptureEvery1, choice);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(SceneStamps(), (QList<int>{75, 125, 175, 225}));
}

TEST_F(FramoraAutoCapture, CancelledInTheDialogNothingStarts)
{
    OpenPaused(SceneMovies::Joined);
    Run(Form->CaptureScenes1, std::nullopt);
    EXPECT_FALSE(Form->AutoCaptureRunning());
    EXPECT_EQ(Form->CurrentSceneCount(), 0);
}

TEST_F(FramoraAutoCapture, CancelStopsTheScanAndKeepsWhatItFound)
{
    OpenPaused(SceneMovies::Many);
    Run(Form->CaptureScenes1, Scenes());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form->CurrentSceneCount() >= 2; }, ScanTimeLimitMs));
    auto* progress = Form->findChild<QProgressDialog*>("AutoCaptureProgress");
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isVisible());
    // The window answers while the scan runs.
    EXPECT_TRUE(Form->actFrameNext->Execute());
    auto* cancel = progress->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    cancel->click();
    ASSERT_TRUE(WaitForEnd());
    const QList<int> stamps = SceneStamps();
    EXPECT_LT(stamps.size(), SceneMovies::ManyScenes / 2);
    for (int i = 1; i < stamps.size(); ++i)
        EXPECT_EQ(stamps[i], i * SceneMovies::ManyShotFrames + StillOffset);
    // A new scan may start.
    emit Form->AutoCapture1->aboutToShow();
    EXPECT_TRUE(Form->CaptureScenes1->isEnabled());
}

TEST_F(FramoraAutoCapture, StopsAtTheSceneLimitAndSaysWhere)
{
    OpenPaused(SceneMovies::Many);
    ASSERT_TRUE(Capture()); // one scene already there
    TMessageBoxScript boxes;
    Run(Form->CaptureScenes1, Scenes());
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(Form->CurrentSceneCount(), 32);
    const QList<int> stamps = SceneStamps();
    const int last = 30 * SceneMovies::ManyShotFrames + StillOffset;
    EXPECT_EQ(stamps.back(), last);
    ASSERT_EQ(boxes.Texts().size(), 1);
    EXPECT_EQ(boxes.Texts()[0],
              QStringLiteral("シーンが32個になったため、%1 の位置で自動キャプチャを終了しました。")
                  .arg(FormatPlayTime(last * PictureMs)));
    emit Form->AutoCapture1->aboutToShow();
    EXPECT_FALSE(Form->CaptureScenes1->isEnabled());
}

TEST_F(FramoraAutoCapture, OpeningAnotherMovieEndsTheScan)
{
    OpenPaused(SceneMovies::Many);
    Run(Form->CaptureScenes1, Scenes());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form->CurrentSceneCount() >= 1; }, ScanTimeLimitMs));
    OpenPaused(SceneMovies::Joined);
    EXPECT_FALSE(Form->AutoCaptureRunning());
    const int kept = Form->CurrentSceneCount();
    QTest::qWait(50);
    EXPECT_EQ(Form->CurrentSceneCount(), kept);
}

// Stopping a scan waits for none of its reads, however far it got: here its own opening reads
// on for seconds (the file was replaced by a long damaged one after the window opened it). Both
// opening another movie and the window going stop it.
TEST_F(FramoraAutoCapture, StoppingTheScanWaitsForNoRead)
{
    QTemporaryDir folder;
    const std::filesystem::path movie = QDir(folder.path()).filePath(QStringLiteral("movie.vob")).toStdString();
    const std::filesystem::path damaged = QDir(folder.path()).filePath(QStringLiteral("damaged.vob")).toStdString();
    const int logLevel = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    for (const bool windowGoes : {false, true}) {
        std::filesystem::copy_file(FixturePath(TestMovies::ProgramStream).toStdString(), movie,
                                   std::filesystem::copy_options::overwrite_existing);
        ASSERT_TRUE(Open(QString::fromStdString(movie.string())).isEmpty());
        Tick(100);
        Idle();
        ASSERT_TRUE(Form->actPause->Execute());
        // The window's decoder keeps reading the file it opened; the scan opens the new one.
        WriteLongDamage(damaged);
        std::filesystem::rename(damaged, movie);
        Run(Form->CaptureScenes1, Scenes());
        ASSERT_TRUE(Form->AutoCaptureRunning());
        QTest::qWait(200); // into the opening
        const auto started = std::chrono::steady_clock::now();
        if (windowGoes) {
            Form.reset();
        } else {
            OpenPaused(SceneMovies::Joined);
            EXPECT_FALSE(Form->AutoCaptureRunning());
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1))
            << (windowGoes ? "the window going" : "another movie");
    }
    av_log_set_level(logLevel);
}

// The scan's stills are the window's captures: made with the window's picture settings (here an
// HDR movie that is not tone-mapped), which their provenance names.
TEST_F(FramoraAutoCapture, StillsAreMadeWithTheWindowsPictureSettings)
{
    TMovieRecipe recipe;
    recipe.Encoder = avcodec_find_encoder_by_name("libx265") ? "libx265" : "libx264";
    recipe.Options = recipe.Encoder == "libx265" ? "x265-params=log-level=error" : "profile=high10";
    recipe.Format = AV_PIX_FMT_YUV420P10LE;
    recipe.Transfer = AVCOL_TRC_SMPTE2084;
    recipe.Primaries = AVCOL_PRI_BT2020;
    recipe.Matrix = AVCOL_SPC_BT2020_NCL;
    recipe.Sample = [](int, int plane, int x, int) { return plane ? 512 : 400 + x; };
    QTemporaryDir folder;
    const QString movie = folder.filePath(QStringLiteral("pq.mkv"));
    ASSERT_TRUE(WriteMovie(movie.toStdString(), recipe));
    Form->ToneMapping1->setChecked(false);
    Form->DeinterlaceNever1->setChecked(true);
    ASSERT_TRUE(Open(movie).isEmpty());
    Tick(100);
    Idle();
    ASSERT_TRUE(Form->actPause->Execute());
    Form->TrackBar1->setValue(0);
    Idle();
    ASSERT_TRUE(Capture());
    TAutoCaptureChoice choice = DefaultAutoCaptureChoice();
    choice.IntervalSeconds = 1;
    Run(Form->CaptureEvery1, choice);
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(Form->CurrentSceneCount(), 2);
    const auto scene = [this](int index) {
        TPictureEx picture;
        Form->CustomImagePack1->SafeGetImage(picture, index);
        auto* bitmap = dynamic_cast<TBitmap*>(picture.Graphic());
        return bitmap ? bitmap->Image().convertToFormat(QImage::Format_RGB32) : QImage();
    };
    const QImage captured = scene(0);
    ASSERT_FALSE(captured.isNull());
    EXPECT_EQ(scene(1), captured);
}

TEST_F(FramoraAutoCapture, NothingToScanWithoutAMovie)
{
    emit Form->AutoCapture1->aboutToShow();
    EXPECT_FALSE(Form->CaptureScenes1->isEnabled());
    EXPECT_FALSE(Form->CaptureEvery1->isEnabled());
}

} // namespace
