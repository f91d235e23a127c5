// SPDX-License-Identifier: GPL-3.0-or-later
// Leaving the window: exit codes, the close question, Enter and Esc; About and help.
#include "FramoraTestSupport.h"
#include "support/UrlCatcher.h"

#include "framework/TApplication.h"
#include "framework/TOpenDialog.h"
#include "shell/FAbout.h"
#include "shell/UHelpGuide.h"
#include "shell/UHtmlHelp.h"
#include "shell/ULanguage.h"
#include "shell/UNewCommDlg.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

namespace {

const QString CloseQuestion = QStringLiteral("終了します。よろしいですか？");

class FramoraCommands : public FramoraWindow {
protected:
    void SetUp() override
    {
        FramoraWindow::SetUp();
        TApplication::SetExitCode(-1);
        Form->show();
    }
    void TearDown() override
    {
        TApplication::SetExitCode(0);
        FramoraWindow::TearDown();
    }
};

TEST_F(FramoraCommands, ExitCodesWithAndWithoutParameters)
{
    const struct {
        const char* Name;
        std::function<void(TfrmFramora&)> Command;
        int ExitCode;
    } commands[] = {
        {"OK", [](TfrmFramora& f) { f.btnOK->click(); }, 0},
        {"Cancel", [](TfrmFramora& f) { f.btnCancel->click(); }, 1},
        {"Exit", [](TfrmFramora& f) { f.Exit1->trigger(); }, 0},
        {"Enter", [](TfrmFramora& f) { QTest::keyClick(&f, Qt::Key_Return); }, 0},
        {"Esc", [](TfrmFramora& f) { QTest::keyClick(&f, Qt::Key_Escape); }, 1},
    };
    for (const bool parameters : {false, true})
        for (const auto& command : commands) {
            Form->SetStartedWithParameters(parameters);
            Form->show();
            TApplication::SetExitCode(-1);
            TMessageBoxScript boxes;
            command.Command(*Form);
            const std::string what = std::string(command.Name) + (parameters ? " with parameters" : "");
            EXPECT_EQ(TApplication::ExitCode(), command.ExitCode) << what;
            EXPECT_FALSE(Form->isVisible()) << what;
            EXPECT_EQ(boxes.Texts(), parameters ? QStringList() : QStringList{CloseQuestion}) << what;
        }
}

TEST_F(FramoraCommands, RefusedQuestionKeepsTheWindowAndTheExitCodeJustSet)
{
    Form->SetStartedWithParameters(false);
    {
        TMessageBoxScript boxes({TMsgResult::Cancel});
        Form->btnCancel->click();
    }
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(TApplication::ExitCode(), 1);
    TMessageBoxScript boxes({TMsgResult::OK});
    Form->close(); // the title bar's close box
    EXPECT_FALSE(Form->isVisible());
    EXPECT_EQ(TApplication::ExitCode(), 1);
}

TEST_F(FramoraCommands, AboutIsModalAndHelpGoesToTheHelpBridge)
{
    QString aboutCaption;
    bool wasModal = false;
    QTimer::singleShot(0, [&] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* about = qobject_cast<TfrmAbout*>(window); about && about->isVisible()) {
                aboutCaption = about->gpVersion->title();
                wasModal = about->IsModal() && about->isModal();
                about->btnOk->click();
            }
    });
    Form->AboutA1->trigger();
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(aboutCaption.isEmpty());

    // With a help file set, F1 and the help button reach the help bridge with the window's context.
    TUrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
    TApplication::SetMainForm(Form.get());
    QTemporaryDir folder;
    const QString page = folder.filePath(QStringLiteral("index.html"));
    QFile(page).open(QIODevice::WriteOnly);
    TApplication::SetHelpFile(page);
    QTest::keyClick(Form.get(), Qt::Key_F1);
    Form->btnHelp->click();
    TApplication::SetHelpFile({});
    Form->btnHelp->click(); // no help file: nothing
    TApplication::SetMainForm(nullptr);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(catcher.Opened.size(), 2);
    bool callHelp = true;
    EXPECT_FALSE(Form->FormHelp(HELP_CONTEXT, 6007, callHelp));
    EXPECT_FALSE(callHelp);
}

// F1 opens the guide's page in the language the window speaks; when no browser takes it, or the
// guide is not installed, the window says where it is, in that language too.
TEST_F(FramoraCommands, F1OpensTheGuideInTheWindowsLanguageOrSaysWhereItIs)
{
    QTemporaryDir root;
    for (const char* language : {"ja", "en"}) {
        QDir(root.path()).mkpath(QString::fromLatin1(language));
        QFile(root.filePath(QString::fromLatin1(language) + QStringLiteral("/index.html"))).open(QIODevice::WriteOnly);
    }
    QList<QUrl> opened;
    bool browserTakes = true;
    SetHelpBrowser([&](const QUrl& url) {
        opened.append(url);
        return browserTakes;
    });
    TApplication::SetMainForm(Form.get());
    struct TCase {
        TUiLanguage Language;
        QString Page;
        QString NoBrowser;
        QString Missing;
    };
    const TCase cases[] = {
        {TUiLanguage::Japanese, root.filePath(QStringLiteral("ja/index.html")),
         QStringLiteral("ヘルプを開くブラウザーがありません。利用の手引きはここにあります:\n"),
         QStringLiteral("利用の手引きが見つかりません。インストールされていれば、ここにあります:\n")},
        {TUiLanguage::English, root.filePath(QStringLiteral("en/index.html")),
         QStringLiteral("No browser is there to open the help. The user's guide is here:\n"),
         QStringLiteral("The user's guide is not there. When it is installed, it is here:\n")},
    };
    for (const TCase& c : cases) {
        const TUiTranslation translation(c.Language);
        TApplication::SetHelpFile(GuidePage({root.path()}, c.Language));
        TMessageBoxScript boxes;
        opened.clear();
        browserTakes = true;
        QTest::keyClick(Form.get(), Qt::Key_F1);
        EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(c.Page)});
        EXPECT_TRUE(boxes.Texts().isEmpty());

        browserTakes = false;
        QTest::keyClick(Form.get(), Qt::Key_F1);
        const QString gone = root.filePath(QStringLiteral("gone/index.html"));
        TApplication::SetHelpFile(gone);
        QTest::keyClick(Form.get(), Qt::Key_F1);
        EXPECT_EQ(boxes.Texts(), (QStringList{c.NoBrowser + c.Page, c.Missing + gone}));
    }
    TApplication::SetHelpFile({});
    TApplication::SetMainForm(nullptr);
    SetHelpBrowser({});
}

TEST_F(FramoraCommands, TheOpenCommandAsksForTheDesktopsDialogWhileItRuns)
{
    TOpenDialog::SetNativeDialogs(false);
    bool nativeWhileAsked = false;
    TFileDialogScript dialogs([&](const TFileDialogRequest&) {
        nativeWhileAsked = TOpenDialog::NativeDialogs();
        return TFileDialogAnswer::Cancel();
    });
    Form->btnSelectFile->click();
    EXPECT_TRUE(nativeWhileAsked);
    EXPECT_FALSE(TOpenDialog::NativeDialogs());
    {
        const auto outer = EnableNewCommDlg();
        {
            const auto inner = EnableNewCommDlg();
        }
        EXPECT_TRUE(TOpenDialog::NativeDialogs());
    }
    EXPECT_FALSE(TOpenDialog::NativeDialogs());
}

} // namespace
