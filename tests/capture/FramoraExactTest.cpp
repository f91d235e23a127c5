// SPDX-License-Identifier: GPL-3.0-or-later
// Exact positioning in the window: while paused every way of moving shows the last picture at or
// before the position, and the time shown is the picture's; playback reads forward as before.
#include "FramoraTestSupport.h"

#include "decoder/UMovieDecoder.h"
#include "framework/TAction.h"

#include <QComboBox>
#include <QLabel>
#include <QToolButton>

namespace {

using FramoraExact = FramoraWindow;

} // namespace

TEST_F(FramoraExact, PausedMovesShowThePictureAtThePosition)
{
    OpenPausedAt(15010);
    EXPECT_TRUE(Form->ExactPosition1->isChecked());
    EXPECT_EQ(ShownStamp(), 375); // inside the last GOP, which the seek path cannot reach
    EXPECT_EQ(Form->lblCurPos->text(), FormatPlayTime(15000));

    // Half a second back from just past the key frame at 10 s lands before it, not on it.
    Form->TrackBar1->setValue(10200);
    Form->cmbStepUnit->setCurrentText(QStringLiteral("0.5秒"));
    ASSERT_TRUE(Form->actStepPrev->Execute());
    EXPECT_EQ(ShownStamp(), 242);
    EXPECT_EQ(Form->lblCurPos->text(), FormatPlayTime(9680));

    ASSERT_TRUE(Form->actRewind->Execute());
    EXPECT_EQ(ShownStamp(), 0);

    // Unchecked, the same step shows the key frame the seek path lands on.
    Form->ExactPosition1->setChecked(false);
    Form->TrackBar1->setValue(10200);
    ASSERT_TRUE(Form->actStepPrev->Execute());
    EXPECT_EQ(Position(), 9700);
    EXPECT_EQ(ShownStamp(), 250);
    EXPECT_EQ(Form->lblCurPos->text(), FormatPlayTime(9700));
}

TEST_F(FramoraExact, SinglePictureStepsFollowTheStepCommands)
{
    ASSERT_TRUE(Open(FixturePath(TestMovies::LongGopH264)).isEmpty());
    Tick(2000);
    Idle();
    // Playing: like the steps, the single-picture commands are off, and pictures come from the
    // forward path.
    EXPECT_FALSE(Form->actFrameNext->Enabled());
    EXPECT_FALSE(Form->actFramePrev->Execute());

    ASSERT_TRUE(Form->actPause->Execute());
    Idle();
    EXPECT_TRUE(Form->btnFrameNext->isEnabled());
    const int shown = ShownStamp();
    ASSERT_TRUE(Form->actFrameNext->Execute());
    EXPECT_EQ(ShownStamp(), shown + 1);
    EXPECT_EQ(Position(), (shown + 1) * 40);
    EXPECT_EQ(Form->lblCurPos->text(), FormatPlayTime((shown + 1) * 40));
    // The bar's own change after a step decodes nothing more: the picture stays.
    EXPECT_EQ(Form->LastShownPosition(), Position());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Form->actFramePrev->Execute());
        Idle(); // presses come apart: each is a step of its own
    }
    EXPECT_EQ(ShownStamp(), shown - 2);

    // They step by one picture with the exact item unchecked too.
    Form->ExactPosition1->setChecked(false);
    ASSERT_TRUE(Form->actFrameNext->Execute());
    EXPECT_EQ(ShownStamp(), shown - 1);
}
