// SPDX-License-Identifier: GPL-3.0-or-later
// Movies shown and captured as they are meant to be seen: phone movies upright, DVD titles at
// their display aspect.
#include "FramoraTestSupport.h"

#include "browser/FImageBrowser.h"
#include "framework/TOpenDialog.h"
#include "imagestore/UCustomImagePack.h"
#include "imagestore/UPictureEX.h"

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QTest>

namespace {

using namespace TestMovies;

class FramoraDisplay : public FramoraWindow {
protected:
    // Opens movie, paused on its picture at 400 ms.
    void OpenPaused(const char* movie)
    {
        ASSERT_TRUE(Open(FixturePath(movie)).isEmpty()) << movie;
        Tick(100);
        Idle();
        ASSERT_TRUE(Form->actPause->Execute());
        Form->TrackBar1->setValue(400);
        Idle();
        ASSERT_TRUE(Form->IsFrameShown());
    }

    QImage Scene(int index)
    {
        TPictureEx picture;
        Form->CustomImagePack1->SafeGetImage(picture, index);
        auto* bitmap = dynamic_cast<TBitmap*>(picture.Graphic());
        return bitmap ? bitmap->Image().convertToFormat(QImage::Format_RGB32) : QImage();
    }
};

int StampOf(const QImage& image)
{
    return FrameStamp::Read(image.width(), image.height(), [&](int x, int y) { return qGray(image.pixel(x, y)); });
}

TEST_F(FramoraDisplay, CapturesAreUprightAndAtTheDisplayAspectWhenAsked)
{
    EXPECT_TRUE(Form->SaveDisplaySize1->isChecked()) << "on by default";
    const struct {
        const char* Movie;
        bool DisplaySize;
        QSize Stored;
        bool StampReads; // upright and not enlarged across the stamp
    } cases[] = {
        {Rotated[0], true, {Height, Width}, true},
        {Rotated[1], true, {Width, Height}, true},
        {Rotated[2], false, {Height, Width}, true},
        {Anamorphic16x9, true, {853, DvdHeight}, false},
        {Anamorphic16x9, false, {DvdWidth, DvdHeight}, true},
        {Anamorphic4x3, true, {DvdWidth, 540}, true},
        // Transposed by its display matrix: a turn and a mirror.
        {"transposed.mp4", true, {Width, Height}, true},
    };
    for (const auto& c : cases) {
        OpenPaused(c.Movie);
        Form->SaveDisplaySize1->setChecked(c.DisplaySize);
        const int index = Form->CurrentSceneCount();
        ASSERT_TRUE(Capture());
        const QImage stored = Scene(index);
        EXPECT_EQ(stored.size(), c.Stored) << c.Movie << " " << c.DisplaySize;
        EXPECT_EQ(StampOf(stored) >= 0, c.StampReads) << c.Movie << " " << c.DisplaySize;
        // The size label gives the coded size.
        const TBitmap& coded = ShownFrame();
        EXPECT_TRUE(Form->lblPicSize->text().endsWith(QStringLiteral("%1 x %2").arg(coded.Width()).arg(coded.Height())))
            << Form->lblPicSize->text().toStdString();
        // With no scene selected, the clipboard gets what a capture stores.
        Form->SceneBrowser().SelectImage(-1);
        EXPECT_EQ(ClipboardImage().convertToFormat(QImage::Format_RGB32), stored) << c.Movie;
    }

    // Saving writes the stored pictures.
    QTemporaryDir out;
    TMessageBoxScript boxes;
    TFileDialogScript dialogs({TFileDialogAnswer::Choose(out.filePath("scene_.png"))});
    ASSERT_TRUE(Form->actSaveImage->Execute());
    Form->WaitForSave();
    EXPECT_EQ(QImage(out.filePath("scene_001.png")).size(), cases[0].Stored);
    EXPECT_EQ(QImage(out.filePath("scene_004.png")).size(), cases[3].Stored);
}

// The preview is fitted from the shown size and centred; a phone movie stands upright in it
// (the stamp's white start block at the top left, the red bar at the bottom left).
TEST_F(FramoraDisplay, PreviewIsFittedFromTheShownSize)
{
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    const struct {
        const char* Movie;
        double Aspect;
    } cases[] = {{Rotated[0], 240.0 / 320}, {Rotated[2], 240.0 / 320}, {Anamorphic16x9, 853.0 / 480},
                 {"transposed.mp4", 320.0 / 240}, {"transposed-270.mp4", 320.0 / 240}, {"upside-down.mp4", 320.0 / 240}};
    for (const auto& c : cases) {
        OpenPaused(c.Movie);
        const QImage shot = Form->Panel1->grab().toImage();
        QRect box;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (shot.pixelColor(x, y) != QColor(Qt::black))
                    box |= QRect(x, y, 1, 1);
        ASSERT_FALSE(box.isEmpty()) << c.Movie;
        EXPECT_NEAR(double(box.width()) / box.height(), c.Aspect, 0.03) << c.Movie;
        EXPECT_NEAR(box.left(), shot.width() - 1 - box.right(), 2) << c.Movie;
        EXPECT_EQ(box.height() == shot.height() || box.width() == shot.width(), true) << c.Movie;
        EXPECT_GT(qGray(shot.pixel(box.left() + 2, box.top() + 2)), 200) << c.Movie;
        const QColor corner = shot.pixelColor(box.left() + 3, box.bottom() - 3);
        EXPECT_GT(corner.red(), 150) << c.Movie;
        EXPECT_LT(corner.blue(), 100) << c.Movie;
    }
}

// Playing a movie larger than the preview, the window draws a picture the decoder made at the
// size drawn; a capture is still made from the full picture, pixel for pixel what it is when the
// window is large enough to show the picture full size. The preview on screen is that picture.
TEST_F(FramoraDisplay, PlaybackPreviewIsMadeAtTheSizeDrawnAndCapturesStayFullSize)
{
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    const auto playAndCapture = [this](const char* movie) {
        EXPECT_TRUE(Open(FixturePath(movie)).isEmpty()) << movie;
        for (int tick = 0; tick < 12; ++tick)
            Tick(97);
        const int index = Form->CurrentSceneCount();
        EXPECT_TRUE(Capture()) << movie;
        return Scene(index);
    };
    for (const char* movie : {Anamorphic16x9, Sample}) {
        const QImage previewed = playAndCapture(movie);
        const TBitmap* preview = Form->CurrentPreview();
        ASSERT_NE(preview, nullptr) << movie;
        EXPECT_LT(preview->Width(), ShownFrame().Width()) << movie;
        const QImage shot = Form->Panel1->grab().toImage();
        EXPECT_GT(qGray(shot.pixel(shot.width() / 2, shot.height() / 2)), 0) << "the preview is drawn";

        const QSize designed = Form->size();
        Form->resize(3000, 2000);
        QCoreApplication::sendPostedEvents();
        const QImage full = playAndCapture(movie);
        EXPECT_EQ(Form->CurrentPreview(), nullptr) << movie;
        EXPECT_EQ(full, previewed) << movie;
        Form->resize(designed);
        QCoreApplication::sendPostedEvents();
    }
}

} // namespace
