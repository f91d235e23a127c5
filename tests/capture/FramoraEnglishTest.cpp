// SPDX-License-Identifier: GPL-3.0-or-later
// The window made while the English translation is installed: its texts are English wherever
// they come from (the form, the command table, the dialogs, the questions it asks), which only
// holds when each text is translated as it is shown rather than when the program starts.
#include "FramoraTestSupport.h"

#include "browser/FImageBrowser.h"
#include "framework/TListView.h"
#include "framework/TOpenDialog.h"
#include "shell/ULanguage.h"

#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include <optional>

namespace {

class FramoraEnglish : public FramoraWindow {
protected:
    void SetUp() override
    {
        English.emplace(TUiLanguage::English);
        FramoraWindow::SetUp();
    }

    void TearDown() override
    {
        FramoraWindow::TearDown();
        English.reset();
    }

    std::optional<TUiTranslation> English;
};

TEST_F(FramoraEnglish, FormCommandsAndDialogsSpeakEnglish)
{
    EXPECT_EQ(Form->btnPlay->text(), QStringLiteral("Play"));
    EXPECT_EQ(Form->btnCapture->text(), QStringLiteral("Capture ⇒"));
    EXPECT_EQ(Form->actCapture->Hint(), QStringLiteral("Adds the picture on screen to the end of the scene list."));
    EXPECT_EQ(Form->Setting1->title(), QStringLiteral("&Settings"));
    EXPECT_EQ(Form->OpenDialog1->Title, QStringLiteral("Open Movie File"));
    EXPECT_TRUE(Form->OpenDialog1->Filter.startsWith(QStringLiteral("Movie files|*.avi;")));
    EXPECT_EQ(Form->SavePictureDialog1->Title, QStringLiteral("Save Captured Pictures"));
}

TEST_F(FramoraEnglish, QuestionsAndMessagesSpeakEnglish)
{
    QTemporaryDir folder;
    const QString bad = folder.filePath(QStringLiteral("not-a-movie.mp4"));
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    const QStringList failed = Open(bad);
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed[0].section(QLatin1Char('\n'), 0, 0), QStringLiteral("Could not get the movie's pictures."));
    EXPECT_EQ(Open(folder.path()), QStringList{folder.path() + QStringLiteral(" is a folder. Choose a movie file.")});
    OpenPausedAt(0);
    ASSERT_TRUE(Capture());
    TMessageBoxScript boxes({TMsgResult::Cancel, TMsgResult::Cancel});
    Form->actDelete1->Execute();
    Form->actDeleteAll->Execute();
    EXPECT_EQ(boxes.Texts(), (QStringList{QStringLiteral("Delete No.1. Are you sure?"),
                                          QStringLiteral("Delete all scenes. Are you sure?")}));

    // The saved message counts in the plural English needs.
    const auto save = [&](const char* name) {
        TMessageBoxScript saved;
        TFileDialogScript dialogs({TFileDialogAnswer::Choose(folder.filePath(QString::fromLatin1(name)))});
        Form->actSaveImage->Execute();
        Form->WaitForSave();
        return saved.Texts();
    };
    EXPECT_EQ(save("one_.png"), QStringList{QStringLiteral("1 file has been saved.\nFolder: ") + folder.path()});
    ASSERT_TRUE(Capture());
    Form->SceneBrowser().ListView1->ClearSelection();
    EXPECT_EQ(save("two_.png"), QStringList{QStringLiteral("2 files have been saved.\nFolder: ") + folder.path()});
}

} // namespace
