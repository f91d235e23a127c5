// SPDX-License-Identifier: GPL-3.0-or-later
// The 字幕 menu: what it lists for a movie, that it starts at なし for each movie, and that the
// chosen subtitles reach the preview, captures and the clipboard.
#include "FramoraTestSupport.h"

#include "decoder/UMovieSubtitles.h"
#include "fixtures/SubtitleMovies.h"
#include "framework/TPaintBox.h"
#include "imagestore/UCustomImagePack.h"
#include "imagestore/UPictureEX.h"

#include <QAction>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

namespace {

using namespace SubtitleMovies;

class FramoraSubtitles : public FramoraWindow {
protected:
    void OpenPaused(const QString& movie, int ms)
    {
        ASSERT_TRUE(Open(movie).isEmpty());
        Tick(100);
        Idle();
        ASSERT_TRUE(Form->actPause->Execute());
        Form->TrackBar1->setValue(ms);
        Idle();
        ASSERT_TRUE(Form->IsFrameShown());
    }

    QStringList MenuTexts() const
    {
        QStringList texts;
        for (const QAction* item : Form->Subtitles1->actions())
            texts << item->text();
        return texts;
    }

    QAction* Item(int index) const { return Form->Subtitles1->actions().value(index); }

    QImage Scene(int index)
    {
        TPictureEx picture;
        Form->CustomImagePack1->SafeGetImage(picture, index);
        auto* bitmap = dynamic_cast<TBitmap*>(picture.Graphic());
        return bitmap ? bitmap->Image().convertToFormat(QImage::Format_RGB32) : QImage();
    }

    QImage Preview() const { return Form->PaintBox1->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

TEST(SubtitleStreamLabel, NamesLanguageTitleAndCodec)
{
    const struct {
        TSubtitleStreamInfo Stream;
        int Number;
        const char* Label;
    } cases[] = {
        {{0, "jpn", "", "ass", false}, 1, "日本語 (ass)"},
        {{0, "ja", "", "subrip", false}, 1, "日本語 (subrip)"},
        {{0, "ENG", "Commentary", "subrip", false}, 2, "英語 Commentary (subrip)"},
        {{0, "fin", "", "hdmv_pgs_subtitle", true}, 3, "fin (hdmv_pgs_subtitle)"},
        {{0, "und", "", "dvd_subtitle", true}, 2, "字幕 2 (dvd_subtitle)"},
        {{0, "", "Signs", "ass", false}, 4, "Signs (ass)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SubtitleStreamLabel(c.Stream, c.Number), QString::fromUtf8(c.Label));
}

TEST_F(FramoraSubtitles, MenuListsTheMoviesStreamsAndTheFileBesideAndStartsAtNoneForEachMovie)
{
    ASSERT_TRUE(Open(FixturePath(TextMkv)).isEmpty());
    EXPECT_EQ(MenuTexts(), QStringList({QStringLiteral("なし"), QStringLiteral("日本語 (subrip)"),
                                        QStringLiteral("英語 Styled (ass)")}));
    EXPECT_TRUE(Item(0)->isChecked());
    Item(2)->trigger();
    EXPECT_TRUE(Item(2)->isChecked());
    EXPECT_FALSE(Item(0)->isChecked());

    ASSERT_TRUE(Open(FixturePath(Beside)).isEmpty());
    EXPECT_EQ(MenuTexts(), QStringList({QStringLiteral("なし"), QStringLiteral("subs-beside.srt (ファイル)")}));
    EXPECT_TRUE(Item(0)->isChecked());
    ASSERT_TRUE(Open(FixturePath(TestMovies::LongGopH264)).isEmpty());
    EXPECT_EQ(MenuTexts(), QStringList({QStringLiteral("なし")}));
    EXPECT_TRUE(Item(0)->isChecked());
}

TEST_F(FramoraSubtitles, ChosenSubtitlesReachThePreviewCapturesAndTheClipboard)
{
    const int inside = FirstStartMs + 500;
    const int outside = FirstStartMs + EventMs + 500;
    OpenPaused(FixturePath(TextMkv), inside);
    const QImage bare = Preview();
    const QImage bareCopy = ClipboardImage(); // no scene yet: the picture on screen

    Item(1)->trigger();
    // The preview gets its subtitle once the index reaches the picture's time.
    QTRY_VERIFY_WITH_TIMEOUT(Preview() != bare, 10000);
    const QImage withLine = Preview();
    const QImage copied = ClipboardImage();
    EXPECT_NE(copied, bareCopy);
    ASSERT_TRUE(Capture());
    Item(0)->trigger();
    ASSERT_TRUE(Capture());
    EXPECT_EQ(Scene(0), copied.convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(Scene(1), bareCopy.convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(Preview(), bare);

    // Chosen again, the line comes back with the picture, not after the stream is read anew;
    // another stream is read for itself.
    Item(1)->trigger();
    EXPECT_EQ(Preview(), withLine);
    Item(2)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(Preview() != bare && Preview() != withLine, 10000);
    Item(0)->trigger();

    // Outside the event, nothing is drawn.
    Form->TrackBar1->setValue(outside);
    Idle();
    const QImage plainOutside = Preview();
    Item(1)->trigger();
    ASSERT_TRUE(Capture());
    EXPECT_EQ(Preview(), plainOutside);
    Item(0)->trigger();
    ASSERT_TRUE(Capture());
    EXPECT_EQ(Scene(2), Scene(3));
}

// A regression: while a movie plays, the picture on screen may exist only at the size drawn,
// and choosing subtitles then read the full picture that was not made yet.
TEST_F(FramoraSubtitles, SubtitlesChosenWhilePlayingReachThePreviewDrawnAtItsOwnSize)
{
    QTemporaryDir dir;
    const QString movie = dir.filePath(QStringLiteral("film.mp4"));
    ASSERT_TRUE(QFile::link(FixturePath(TestMovies::Sample), movie));
    QFile lines(dir.filePath(QStringLiteral("film.srt")));
    ASSERT_TRUE(lines.open(QIODevice::WriteOnly));
    lines.write("1\n00:00:00,000 --> 00:01:00,000\nA line while it plays\n");
    lines.close();
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    ASSERT_TRUE(Open(movie).isEmpty());
    for (int tick = 0; tick < 12; ++tick)
        Tick(97);
    ASSERT_TRUE(Form->IsFrameShown());
    ASSERT_NE(Form->CurrentPreview(), nullptr) << "the panel is no smaller than the movie";
    const QImage bare = Preview();
    Item(1)->trigger(); // the file beside the movie
    QTRY_VERIFY_WITH_TIMEOUT(Preview() != bare, 10000);
}

} // namespace
