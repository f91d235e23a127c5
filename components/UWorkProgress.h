// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The progress window of work that runs beside the window (saving, restoring): not modal, shown
// only once the work has run for a while, and left open until its owner closes it.
#include <QString>

#include <memory>

class QProgressDialog;
class QWidget;

struct TWorkProgressTexts {
    QString ObjectName;
    QString Title;
    QString Text;
    QString Cancel;
};

// A progress window over total steps, at 0, that shows itself after delayMs; connecting its
// canceled signal is the caller's.
std::unique_ptr<QProgressDialog> NewWorkProgress(QWidget* parent, const TWorkProgressTexts& texts, int total,
                                                 int delayMs);
