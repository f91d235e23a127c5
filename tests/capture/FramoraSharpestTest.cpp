// SPDX-License-Identifier: GPL-3.0-or-later
// The sharpest still from the window: the command stores the nearest sharp picture of the scene
// on screen, shows it, and says in its provenance how it was chosen; the range is a setting.
#include "FramoraTestSupport.h"

#include "fixtures/SharpMovies.h"

#include <QMenu>

namespace {

constexpr int PictureMs = 1000 / TestMovies::FrameRate;

class FramoraSharpest : public FramoraWindow {
protected:
    void SetUp() override
    {
        FramoraWindow::SetUp();
        QObject::connect(Form.get(), &TfrmFramora::SceneAdded,
                         [this](const QImage&, const TProvenance& origin) { Origins.push_back(origin); });
    }

    // Opens movie and pauses on picture.
    void PausedOn(const char* movie, int picture)
    {
        ASSERT_TRUE(Open(FixturePath(movie)).isEmpty());
        Tick(100);
        Idle();
        ASSERT_TRUE(Form->actPause->Execute());
        Form->TrackBar1->setValue(picture * PictureMs);
        Idle();
    }

    QString Setting(const TProvenance& origin, const char* name) const
    {
        for (const auto& [key, value] : origin.Settings)
            if (key == QLatin1String(name))
                return value;
        return {};
    }

    std::vector<TProvenance> Origins;
};

TEST_F(FramoraSharpest, StoresAndShowsTheNearestSharpPictureOfTheSceneOnScreen)
{
    using SharpMovies::Cut;
    PausedOn(SharpMovies::Alternating, 10);
    for (const int anchor : {11, 47, 49, 50, 51, 52}) {
        SCOPED_TRACE(anchor);
        Form->TrackBar1->setValue(anchor * PictureMs);
        Idle();
        ASSERT_EQ(ShownStamp(), anchor);
        ASSERT_TRUE(Form->actCaptureSharpest->Execute());
        const QList<int> stamps = SceneStamps();
        ASSERT_FALSE(stamps.isEmpty());
        const int chosen = stamps.back();
        EXPECT_EQ(chosen % 2, 0);
        EXPECT_LE(std::abs(chosen - anchor), 1);
        EXPECT_EQ(chosen < Cut, anchor < Cut);
        // The preview and the bar moved to it.
        EXPECT_EQ(ShownStamp(), chosen);
        EXPECT_EQ(Position(), chosen * PictureMs);
        ASSERT_FALSE(Origins.empty());
        EXPECT_EQ(Origins.back().PositionMs, chosen * PictureMs);
        EXPECT_EQ(Setting(Origins.back(), "Choice"), QStringLiteral("sharpest"));
        EXPECT_GT(Setting(Origins.back(), "Sharpness").toDouble(), 0.0);
    }
    EXPECT_EQ(Form->CurrentSceneCount(), 6);
    // A plain capture says nothing of a choice.
    ASSERT_TRUE(Capture());
    EXPECT_TRUE(Setting(Origins.back(), "Choice").isEmpty());
}

TEST_F(FramoraSharpest, AFlatMovieStoresThePictureOnScreen)
{
    PausedOn(SharpMovies::Flat, 20);
    ASSERT_TRUE(Form->actCaptureSharpest->Execute());
    Settle();
    ASSERT_EQ(Form->CurrentSceneCount(), 1);
    EXPECT_EQ(Origins.back().PositionMs, 20 * PictureMs);
    EXPECT_EQ(Position(), 20 * PictureMs);
}

TEST_F(FramoraSharpest, TheRangeIsAChoiceOfFour)
{
    EXPECT_EQ(Form->SharpestRangeMs(), 500);
    QList<int> offered;
    for (const QAction* item : Form->SharpestRange1->actions())
        offered.append(item->data().toInt());
    EXPECT_EQ(offered, (QList<int>{200, 500, 1000, 2000}));
    int told = 0;
    QObject::connect(Form.get(), &TfrmFramora::SharpestRangeChanged, [&told](int ms) { told = ms; });
    Form->SharpestRange1->actions().back()->trigger();
    EXPECT_EQ(Form->SharpestRangeMs(), 2000);
    EXPECT_EQ(told, 2000);
    // A kept range no longer offered goes to the nearest offered.
    struct Row {
        int Kept, Used;
    } const rows[] = {{700, 500}, {800, 1000}, {0, 200}, {99999, 2000}, {1000, 1000}};
    for (const Row& row : rows) {
        Form->SetSharpestRangeMs(row.Kept);
        EXPECT_EQ(Form->SharpestRangeMs(), row.Used) << row.Kept;
    }
    // Nothing to capture before a movie is open.
    Idle();
    EXPECT_FALSE(Form->actCaptureSharpest->Enabled());
}

} // namespace
