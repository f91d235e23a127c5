// SPDX-License-Identifier: GPL-3.0-or-later
#include "components/UWorkProgress.h"

#include <QProgressDialog>

std::unique_ptr<QProgressDialog> NewWorkProgress(QWidget* parent, const TWorkProgressTexts& texts, int total,
                                                 int delayMs)
{
    auto progress = std::make_unique<QProgressDialog>(texts.Text, texts.Cancel, 0, total, parent);
    progress->setObjectName(texts.ObjectName);
    progress->setWindowTitle(texts.Title);
    // Non-modal: a modal one would run the event loop inside every setValue.
    progress->setWindowModality(Qt::NonModal);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(delayMs);
    // Starts the delay after which it shows itself.
    progress->setValue(0);
    return progress;
}
