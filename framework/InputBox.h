// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one entry point for asking the user for a line of text. Normally a modal QInputDialog; when
// a test installs a script, the script answers instead and every request is recorded.
#include "framework/TAnswerScript.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

// The text typed, or none when the user cancelled; text is what the line holds at first.
std::optional<QString> InputBox(QWidget* parent, const QString& caption, const QString& prompt,
                                const QString& text = QString());

struct TInputBoxRequest {
    QPointer<QWidget> Parent;
    QString Caption;
    QString Prompt;
    QString Text;
};

// While one exists, InputBox asks it instead of showing a dialog (see TAnswerScript); once its
// queue is empty it cancels.
class TInputBoxScript : public TAnswerScript<TInputBoxRequest, std::optional<QString>> {
public:
    explicit TInputBoxScript(QList<std::optional<QString>> answers = {});
};
