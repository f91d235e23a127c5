// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TPopupMenu.h"

#include <QAction>
#include <QMenu>

namespace {
QString Dismiss(const TPopupMenuRequest&)
{
    return {};
}

QAction* ScriptedPopup(TAnswerScript<TPopupMenuRequest, QString>& script, QMenu* menu, const QPoint& at)
{
    emit menu->aboutToShow();
    QStringList items;
    for (const QAction* action : menu->actions())
        if (!action->isSeparator())
            items.append(action->text());
    const QString answer = script.Answer({menu, at, items});
    QAction* chosen = nullptr;
    for (QAction* action : menu->actions())
        if (!answer.isEmpty() && action->text() == answer && action->isEnabled()) {
            chosen = action;
            break;
        }
    emit menu->aboutToHide();
    if (chosen)
        chosen->trigger();
    return chosen;
}
} // namespace

QAction* PopupMenu(QMenu* menu, const QPoint& at)
{
    if (!menu)
        return nullptr;
    if (auto* script = TPopupMenuScript::Current())
        return ScriptedPopup(*script, menu, at);
    return menu->exec(at);
}

TPopupMenuScript::TPopupMenuScript(QList<QString> answers) : TAnswerScript(std::move(answers), Dismiss) {}
