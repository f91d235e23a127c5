// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/InputBox.h"

#include <QInputDialog>

namespace {

std::optional<QString> Cancel(const TInputBoxRequest&)
{
    return std::nullopt;
}

} // namespace

TInputBoxScript::TInputBoxScript(QList<std::optional<QString>> answers)
    : TAnswerScript(std::move(answers), Cancel)
{
}

std::optional<QString> InputBox(QWidget* parent, const QString& caption, const QString& prompt, const QString& text)
{
    if (auto* script = TInputBoxScript::Current())
        return script->Answer({parent, caption, prompt, text});
    QInputDialog dialog(parent);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(prompt);
    dialog.setTextValue(text);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}
