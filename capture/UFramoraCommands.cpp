// The window's own commands: leaving with an exit code, the question before closing, the About
// box and help.
#include "capture/UFramora.h"

#include "framework/MessageBox.h"
#include "framework/TApplication.h"
#include "shell/FAbout.h"
#include "shell/UHtmlHelp.h"

namespace {

constexpr int OkExitCode = 0;
constexpr int CancelExitCode = 1;
const QString CloseQuestion = QStringLiteral("終了します。よろしいですか？");
const QString UnsavedCloseQuestion = QStringLiteral("保存していないシーンがあります。終了します。よろしいですか？");

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
    // Unsaved scenes would be lost for good, so that question is asked whatever the command line.
    if (HasUnsavedScenes()) {
        CanClose = MessageBox(this, UnsavedCloseQuestion, Caption(), TMsgButtons::OKCancel) == TMsgResult::OK;
        return;
    }
    if (FStartedWithParameters) {
        CanClose = true;
        return;
    }
    CanClose = MessageBox(this, CloseQuestion, Caption(), TMsgButtons::OKCancel) == TMsgResult::OK;
}

void TfrmFramora::AboutA1Click()
{
    TfrmAbout about(this);
    about.ShowModal();
}

bool TfrmFramora::FormHelp(std::uint16_t Command, std::int32_t Data, bool& CallHelp)
{
    CallHelp = false;
    return ShowHtmlHelp(Command, Data);
}

void TfrmFramora::btnHelpClick()
{
    if (HelpContext() != 0)
        TApplication::HelpContext(HelpContext());
    else
        TApplication::HelpCommand(HELP_FINDER, 0);
}
