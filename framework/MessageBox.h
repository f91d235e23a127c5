// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one entry point for message boxes. Normally a modal QMessageBox; when a test installs a
// script, the script answers instead and every question asked is recorded.
#include "framework/TAnswerScript.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

enum class TMsgButtons { OK, OKCancel, YesNo, YesNoCancel };
enum class TMsgIcon { None, Information, Question, Warning, Error };
enum class TMsgResult { OK, Cancel, Yes, No };

// informative, when given, is shown under text in a smaller type (the details of a question).
// Yes and No answer to the Y and N keys whatever the language of their texts.
TMsgResult MessageBox(QWidget* parent, const QString& text, const QString& caption,
                      TMsgButtons buttons = TMsgButtons::OK, TMsgIcon icon = TMsgIcon::None,
                      const QString& informative = QString());

struct TMessageBoxRequest {
    QPointer<QWidget> Parent;
    QString Text;
    QString Caption;
    TMsgButtons Buttons = TMsgButtons::OK;
    TMsgIcon Icon = TMsgIcon::None;
    QString Informative;
};

// While one exists, MessageBox asks it instead of showing a box (see TAnswerScript); once its
// queue is empty it presses the box's default button (OK, or Yes).
class TMessageBoxScript : public TAnswerScript<TMessageBoxRequest, TMsgResult> {
public:
    explicit TMessageBoxScript(QList<TMsgResult> answers = {});
    // A function instead of a queue, for answers that depend on the question.
    explicit TMessageBoxScript(TAnswerFn answer);

    // The texts of every box asked, oldest first.
    QStringList Texts() const;
};
