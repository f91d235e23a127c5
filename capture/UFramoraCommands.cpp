// SPDX-License-Identifier: GPL-3.0-or-later
// The window's own commands: leaving with an exit code, the question before closing, the About
// box and help.
#include "capture/UFramora.h"

#include "framework/MessageBox.h"
#include "framework/TApplication.h"
#include "shell/FAbout.h"
#include "shell/UHtmlHelp.h"

#include <QDir>

namespace {

constexpr int OkExitCode = 0;
constexpr int CancelExitCode = 1;
const char* const CloseQuestion = QT_TRANSLATE_NOOP("TfrmFramora", "終了します。よろしいですか？");
const char* const GuideNotOpened = QT_TRANSLATE_NOOP("TfrmFramora", "ヘルプを開くブラウザーがありません。利用の手引きはここにあります:\n%1");
const char* const GuideMissing = QT_TRANSLATE_NOOP("TfrmFramora", "利用の手引きが見つかりません。インストールされていれば、ここにあります:\n%1");
const char* const UnsavedCloseQuestion = QT_TRANSLATE_NOOP("TfrmFramora", "保存していないシーンがあります。終了します。よろしいですか？");

} // namespace

void TfrmFramora::btnOKClick()
{
    TApplication::SetExitCode(OkExitCode);
    close();
}

void TfrmFramora::btnCancelClick()
{
    TApplication::SetExitCode(CancelExitCode);
    close();
}

void TfrmFramora::Exit1Click()
{
    TApplication::SetExitCode(OkExitCode);
    close();
}

void TfrmFramora::FormCloseQuery(bool& CanClose)
{
    if (FSecondInstance) {
        CanClose = true;
        return;
    }
    // Unsaved scenes would be lost for good, so that question is asked whatever the command line.
    if (HasUnsavedScenes()) {
        CanClose = MessageBox(this, tr(UnsavedCloseQuestion), Caption(), TMsgButtons::OKCancel) == TMsgResult::OK;
        return;
    }
    if (FStartedWithParameters) {
        CanClose = true;
        return;
    }
    CanClose = MessageBox(this, tr(CloseQuestion), Caption(), TMsgButtons::OKCancel) == TMsgResult::OK;
}

void TfrmFramora::AboutA1Click()
{
    TfrmAbout about(this);
    about.ShowModal();
}

bool TfrmFramora::FormHelp(std::uint16_t Command, std::int32_t Data, bool& CallHelp)
{
    CallHelp = false;
    const THelpResult result = ShowApplicationHelp(Command, Data);
    // Without a page on screen the user still learns where to read it.
    if (result == THelpResult::NoBrowser || result == THelpResult::Missing) {
        const char* const text = result == THelpResult::NoBrowser ? GuideNotOpened : GuideMissing;
        MessageBox(this, tr(text).arg(QDir::toNativeSeparators(TApplication::HelpFile())), Caption(), TMsgButtons::OK);
    }
    return result != THelpResult::NoHelpFile;
}

void TfrmFramora::btnHelpClick()
{
    if (HelpContext() != 0)
        TApplication::HelpContext(HelpContext());
    else
        TApplication::HelpCommand(HELP_FINDER, 0);
}
