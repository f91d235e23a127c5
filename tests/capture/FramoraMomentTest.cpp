// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the moment in the window: pictures above the position bar where the pointer is (and
// where a click then goes), going to a typed time or picture number, and the status line.
#include "FramoraTestSupport.h"

#include "capture/UMomentEntry.h"
#include "capture/USeekBarPictures.h"
#include "framework/InputBox.h"

#include <QLabel>
#include <QMouseEvent>
#include <QTest>

namespace {

using FramoraMoment = FramoraWindow;
using namespace TestMovies;

constexpr int PictureMs = 1000 / FrameRate;

void SettleBar(TSeekBarPictures& bar)
{
    QElapsedTimer waited;
    waited.start();
    while (!bar.Settled() && waited.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_TRUE(bar.Settled()) << "the bar's decoder did not answer in a minute";
}

void MoveOver(QWidget& widget, QPoint at)
{
    QMouseEvent move(QEvent::MouseMove, at, widget.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &move);
}

} // namespace

TEST_F(FramoraMoment, ThePointerOverTheBarShowsThePlaceAndAClickGoesThere)
{
    Form->show();
    OpenPausedAt(0);
    TSeekBarPictures& bar = Form->SeekBarPictures();
    QSlider& slider = *Form->TrackBar1;
    const TBarPicturePopup& popup = bar.Popup();
    ASSERT_TRUE(bar.Pictures().IsOpen());
    for (const int x : {slider.width() / 5, slider.width() / 2, slider.width() * 4 / 5, 0, slider.width() - 1}) {
        const QPoint at(x, slider.height() / 2);
        const int place = SliderValueAt(slider, x);
        MoveOver(slider, at);
        EXPECT_TRUE(popup.isVisible()) << x;
        EXPECT_EQ(bar.HoverMs(), place) << x;
        EXPECT_EQ(popup.Time(), MomentTime(place)) << x;
        SettleBar(bar);
        EXPECT_EQ(popup.Picture().size(), QSize(160, 120)) << x;
        EXPECT_LT(popup.geometry().bottom(), slider.mapToGlobal(QPoint(0, 0)).y()) << "above the bar";
        // The click lands on the place the picture showed.
        QTest::mouseClick(&slider, Qt::LeftButton, Qt::NoModifier, at);
        EXPECT_EQ(Position(), place) << x;
    }
    Settle();
    // A place's key frame is kept: asked again, it is at hand.
    MoveOver(slider, QPoint(slider.width() / 2, slider.height() / 2));
    EXPECT_TRUE(bar.Settled());
    EXPECT_FALSE(popup.Picture().isNull());

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&slider, &leave);
    EXPECT_FALSE(popup.isVisible());
    EXPECT_EQ(bar.HoverMs(), -1);
}

TEST_F(FramoraMoment, NoMovieNoPicturesAndTheyCloseWithTheMovie)
{
    Form->show();
    QSlider& slider = *Form->TrackBar1;
    MoveOver(slider, QPoint(slider.width() / 2, slider.height() / 2));
    EXPECT_FALSE(Form->SeekBarPictures().Popup().isVisible());
    EXPECT_FALSE(Form->GoToTime1->isEnabled());

    OpenPausedAt(0);
    EXPECT_TRUE(Form->GoToTime1->isEnabled());
    MoveOver(slider, QPoint(slider.width() / 2, slider.height() / 2));
    EXPECT_TRUE(Form->SeekBarPictures().Popup().isVisible());
    // A folder is no movie: the one open stays, and so do its pictures.
    TMessageBoxScript boxes;
    Form->OpenMovie(LockDir.path());
    EXPECT_TRUE(Form->SeekBarPictures().Pictures().IsOpen());
    // An opening that fails leaves no movie, and the bar's decoder closes too.
    const QString bad = LockDir.filePath(QStringLiteral("not-a-movie.mp4"));
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    EXPECT_FALSE(Open(bad).isEmpty());
    EXPECT_FALSE(Form->SeekBarPictures().Pictures().IsOpen());
    EXPECT_FALSE(Form->SeekBarPictures().Popup().isVisible());
    EXPECT_FALSE(Form->GoToTime1->isEnabled());
    SettleBar(Form->SeekBarPictures());
}

TEST_F(FramoraMoment, GoingToAPictureNumberShowsItExactlyAndPausesPlayback)
{
    ASSERT_TRUE(Open(FixturePath(LongGopH264)).isEmpty());
    Tick(100);
    ASSERT_EQ(Form->CurrentPlayState(), TPlayState::Playing);
    EXPECT_TRUE(Form->lblMoment->text().isEmpty()) << "no status line while playing";
    // Exact whatever the setting says: picture 242 lies before the key frame at 250.
    Form->ExactPosition1->setChecked(false);
    {
        TInputBoxScript entries({QStringLiteral("#242")});
        Form->GoToTime1->trigger();
    }
    Settle();
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Paused);
    EXPECT_EQ(ShownStamp(), 242);
    EXPECT_EQ(Position(), 242 * PictureMs);
    EXPECT_EQ(Form->lblCurPos->text(), FormatPlayTime(242 * PictureMs));
    EXPECT_EQ(Form->lblMoment->text(), QStringLiteral("#242  00:09.680  320×240  25 fps  H.264"));

    // Playing again clears the status line; after a pause it names the picture then shown (a
    // key frame's neighbour, with exact positions off), by its own number and time.
    ASSERT_TRUE(Form->actPlay->Execute());
    EXPECT_TRUE(Form->lblMoment->text().isEmpty());
    ASSERT_TRUE(Form->actPause->Execute());
    Form->TrackBar1->setValue(12000);
    Idle();
    const int shown = ShownStamp();
    EXPECT_NE(shown, 12000 / PictureMs);
    EXPECT_TRUE(Form->lblMoment->text().startsWith(QStringLiteral("#%1  %2").arg(shown).arg(MomentTime(shown * PictureMs))))
        << Form->lblMoment->text().toStdString() << " for " << shown;
}

TEST_F(FramoraMoment, AMalformedEntrySaysWhatItTakesAndAsksAgain)
{
    OpenPausedAt(0);
    TMessageBoxScript boxes;
    TInputBoxScript entries({QStringLiteral("1:75"), QStringLiteral("12.5"), QStringLiteral(" 00:15.02 ")});
    Form->GoToTime1Click();
    Settle();
    ASSERT_EQ(boxes.Texts().size(), 2);
    for (const QString& text : boxes.Texts())
        for (const char* form : {"01:23:45.678", "01:23", "83.5s", "#2087"})
            EXPECT_TRUE(text.contains(QLatin1String(form))) << text.toStdString();
    EXPECT_TRUE(boxes.Texts()[0].contains(QStringLiteral("1:75")));
    // Each question starts from what was typed, so that a slip is mended, not typed again.
    ASSERT_EQ(entries.Asked().size(), 3);
    EXPECT_EQ(entries.Asked()[1].Text, QStringLiteral("1:75"));
    EXPECT_EQ(ShownStamp(), 375);
    EXPECT_EQ(Form->lblCurPos->text(), FormatPlayTime(15000));

    // Cancelled, and past the end: nothing moves; the end shows the last picture.
    const int before = Position();
    TInputBoxScript cancel;
    Form->GoToTime1Click();
    EXPECT_EQ(Position(), before);
    Form->GoToTime(std::int64_t{1} << 40);
    EXPECT_EQ(Position(), Form->TrackBar1->maximum());
    TMovieDecoder reference;
    reference.SetExact(true);
    ASSERT_TRUE(reference.Open(QFile::encodeName(FixturePath(LongGopH264)).toStdString()));
    ASSERT_TRUE(reference.DecodeFrame(reference.Duration() - 1));
    EXPECT_EQ(ShownStamp(), StampOf(reference.Bitmap()));
}

TEST_F(FramoraMoment, ADragKeepsThePicturesFollowingUntilTheReleaseAndSettingsMakeThemAgain)
{
    Form->show();
    OpenPausedAt(0);
    TSeekBarPictures& bar = Form->SeekBarPictures();
    QSlider& slider = *Form->TrackBar1;
    const QPoint start(slider.width() / 4, slider.height() / 2);
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, start);
    ASSERT_TRUE(slider.isSliderDown());
    const QPoint along(slider.width() * 3 / 4, slider.height() / 2);
    QMouseEvent drag(QEvent::MouseMove, along, slider.mapToGlobal(along), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&slider, &drag);
    EXPECT_EQ(bar.HoverMs(), SliderValueAt(slider, along.x()));
    // The pointer leaves the bar while it holds the handle: the pictures stay with it.
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&slider, &leave);
    EXPECT_TRUE(bar.Popup().isVisible());
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, along);
    EXPECT_FALSE(bar.Popup().isVisible());
    Settle();
    SettleBar(bar);

    // A picture of the place made with other settings is not the one to show.
    MoveOver(slider, along);
    EXPECT_TRUE(bar.Settled()) << "the place's picture is at hand";
    Form->ToneMapping1->setChecked(!Form->ToneMapping1->isChecked());
    Settle();
    MoveOver(slider, along);
    EXPECT_FALSE(bar.Settled()) << "made again with the new settings";
    SettleBar(bar);
    EXPECT_EQ(bar.Popup().Picture().size(), QSize(160, 120));
}
