// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// While an enabler lives, the program's open and save dialogs are asked as the desktop's own
// dialog first (its portal or platform theme), falling back to Qt's own dialog where the desktop
// offers none. Commands take one just before they show a dialog and hold it to their end; the
// last reference released puts back what was there before.
#include <memory>

class TNewCommDlgEnabler {
public:
    TNewCommDlgEnabler();
    ~TNewCommDlgEnabler();
    TNewCommDlgEnabler(const TNewCommDlgEnabler&) = delete;
    TNewCommDlgEnabler& operator=(const TNewCommDlgEnabler&) = delete;

private:
    bool FPreviousNative; // what the dialogs were asked as before this enabler
};

std::shared_ptr<TNewCommDlgEnabler> EnableNewCommDlg();
