// SPDX-License-Identifier: GPL-3.0-or-later
// The window with its decoder on a thread of its own: captures asked while a picture is on its way
// get that picture, in the order asked; playback drops a tick rather than queue pictures; a drag
// of the bar shows the playback path's pictures and the exact picture where it ends.
#include "FramoraTestSupport.h"

#include "browser/FImageBrowser.h"

#include <QLabel>

namespace {

using FramoraDecoding = FramoraWindow;
constexpr int PictureMs = 1000 / TestMovies::FrameRate;

TEST_F(FramoraDecoding, CapturesAskedBeforeTheirPictureCameGetItInTheOrderAsked)
{
    OpenPausedAt(0);
    // No idle moment between them: each capture is asked while the picture before it is being
    // found, and must get that picture, not the one on screen when it was asked.
    for (const int ms : {9000, 3000, 15000}) {
        Form->TrackBar1->setValue(ms);
        Form->actCaptureExecute(nullptr);
    }
    EXPECT_EQ(SceneStamps(), (QList<int>{9000 / PictureMs, 3000 / PictureMs, 15000 / PictureMs}));
    EXPECT_FALSE(Form->IsPictureApproximate());
    EXPECT_TRUE(Form->lblCurPos->isEnabled());
    EXPECT_EQ(Form->lblCurPos->text(), FormatPlayTime(15000));
    // A copy asked in the same breath is the picture asked for too.
    Form->TrackBar1->setValue(6000);
    Form->SceneBrowser().SelectImage(-1);
    TBitmap copied;
    copied.Image() = ClipboardImage().convertToFormat(TBitmap::QtFormatFor(TPixelFormat::pf24bit));
    EXPECT_EQ(StampOf(copied), 6000 / PictureMs);
}

TEST_F(FramoraDecoding, CapturesWaitingTakeTheirPlacesAtTheSceneLimit)
{
    OpenPausedAt(1000);
    for (int i = 0; i < 40; ++i)
        Form->actCaptureExecute(nullptr);
    Settle();
    EXPECT_EQ(Form->CurrentSceneCount(), 32);
}

TEST_F(FramoraDecoding, PlaybackDropsATickWhileItsPictureIsMade)
{
    ASSERT_TRUE(Open(FixturePath(TestMovies::LongGopH264)).isEmpty());
    Tick(1000);
    ASSERT_EQ(Position(), 1000);
    // The next tick's picture is asked for and not taken yet: the tick after it moves nothing.
    Now += 97;
    Form->Timer2Timer();
    EXPECT_EQ(Position(), 1097);
    Now += 97;
    Form->Timer2Timer();
    EXPECT_EQ(Position(), 1097);
    Settle();
    Now += 97;
    Form->Timer2Timer();
    EXPECT_EQ(Position(), 1291) << "the clock went on meanwhile";
    Settle();
    EXPECT_EQ(ShownStamp(), ReferenceStamp(TestMovies::LongGopH264, {1000, 1097, 1291}));
}

TEST_F(FramoraDecoding, ADragShowsPlaybackPicturesAndItsEndTheExactPicture)
{
    OpenPausedAt(0);
    Form->TrackBar1->setSliderDown(true);
    Form->TrackBar1->setSliderPosition(4000);
    Settle();
    // The playback path's picture, which reads on within a budget and asks for no exactness:
    // the time shown is the bar's, not greyed.
    EXPECT_NE(ShownStamp(), 4000 / PictureMs);
    EXPECT_TRUE(Form->lblCurPos->isEnabled());
    Form->TrackBar1->setSliderDown(false);
    Settle();
    EXPECT_EQ(ShownStamp(), 4000 / PictureMs);
    EXPECT_EQ(Form->lblCurPos->text(), FormatPlayTime(4000));
}

TEST_F(FramoraDecoding, AnotherMovieOpenedWhileAPictureIsFoundShowsOnlyItsOwn)
{
    OpenPausedAt(0);
    Form->TrackBar1->setValue(19000);
    ASSERT_TRUE(Open(FixturePath(TestMovies::Mpeg4Avi)).isEmpty());
    Tick(100);
    EXPECT_EQ(Form->CurrentMoviePath(), FixturePath(TestMovies::Mpeg4Avi));
    EXPECT_EQ(ShownStamp(), ReferenceStamp(TestMovies::Mpeg4Avi, {100}));
}

} // namespace
