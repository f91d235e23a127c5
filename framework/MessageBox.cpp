// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/MessageBox.h"

#include <QAbstractButton>
#include <QKeySequence>
#include <QMessageBox>

namespace {
TMsgResult DefaultAnswer(TMsgButtons buttons)
{
    return buttons == TMsgButtons::YesNo || buttons == TMsgButtons::YesNoCancel ? TMsgResult::Yes
                                                                                  : TMsgResult::OK;
}

TMsgResult PressDefaultButton(const TMessageBoxRequest& request)
{
    return DefaultAnswer(request.Buttons);
}

QMessageBox::StandardButtons StandardButtonsFor(TMsgButtons buttons)
{
    switch (buttons) {
    case TMsgButtons::OK:
        return QMessageBox::Ok;
    case TMsgButtons::OKCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case TMsgButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case TMsgButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon QtIconFor(TMsgIcon icon)
{
    switch (icon) {
    case TMsgIcon::None:
        return QMessageBox::NoIcon;
    case TMsgIcon::Information:
        return QMessageBox::Information;
    case TMsgIcon::Question:
        return QMessageBox::Question;
    case TMsgIcon::Warning:
        return QMessageBox::Warning;
    case TMsgIcon::Error:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

TMsgResult ResultFor(int pressed, TMsgButtons buttons)
{
    switch (pressed) {
    case QMessageBox::Ok:
        return TMsgResult::OK;
    case QMessageBox::Yes:
        return TMsgResult::Yes;
    case QMessageBox::No:
        return TMsgResult::No;
    case QMessageBox::Cancel:
        return TMsgResult::Cancel;
    default:
        // Closed without a button (Esc, the title bar): the box's way of saying no.
        return buttons == TMsgButtons::OK ? TMsgResult::OK
               : buttons == TMsgButtons::YesNo ? TMsgResult::No
                                               : TMsgResult::Cancel;
    }
}

// Some translations of Qt's "&Yes" and "&No" drop the mnemonic (Japanese: はい, いいえ), and with
// it the key that answers the box; it is put back in the form those languages write it.
void KeepAnswerKey(QMessageBox& box, QMessageBox::StandardButton which, QChar key)
{
    QAbstractButton* button = box.button(which);
    if (!button || !QKeySequence::mnemonic(button->text()).isEmpty())
        return;
    button->setText(button->text() + QStringLiteral("(&") + key + QLatin1Char(')'));
}

} // namespace

TMsgResult MessageBox(QWidget* parent, const QString& text, const QString& caption, TMsgButtons buttons,
                      TMsgIcon icon, const QString& informative)
{
    const TMessageBoxRequest request{parent, text, caption, buttons, icon, informative};
    if (auto* script = TMessageBoxScript::Current())
        return script->Answer(request);

    QMessageBox box(QtIconFor(icon), caption, text, StandardButtonsFor(buttons), parent);
    box.setInformativeText(informative);
    box.setDefaultButton(buttons == TMsgButtons::OK || buttons == TMsgButtons::OKCancel ? QMessageBox::Ok
                                                                                         : QMessageBox::Yes);
    KeepAnswerKey(box, QMessageBox::Yes, QLatin1Char('Y'));
    KeepAnswerKey(box, QMessageBox::No, QLatin1Char('N'));
    return ResultFor(box.exec(), buttons);
}

TMessageBoxScript::TMessageBoxScript(QList<TMsgResult> answers)
    : TAnswerScript(std::move(answers), PressDefaultButton)
{
}

TMessageBoxScript::TMessageBoxScript(TAnswerFn answer)
    : TAnswerScript(std::move(answer), PressDefaultButton)
{
}

QStringList TMessageBoxScript::Texts() const
{
    QStringList texts;
    for (const auto& request : Asked())
        texts.append(request.Text);
    return texts;
}
