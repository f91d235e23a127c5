// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/UNewCommDlg.h"

#include "framework/TOpenDialog.h"

TNewCommDlgEnabler::TNewCommDlgEnabler() : FPreviousNative(TOpenDialog::NativeDialogs())
{
    TOpenDialog::SetNativeDialogs(true);
}

TNewCommDlgEnabler::~TNewCommDlgEnabler()
{
    TOpenDialog::SetNativeDialogs(FPreviousNative);
}

std::shared_ptr<TNewCommDlgEnabler> EnableNewCommDlg()
{
    return std::make_shared<TNewCommDlgEnabler>();
}
