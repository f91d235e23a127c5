// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Pop-up menus shown at a screen point. Normally the menu runs modally until the user picks an
// item or dismisses it; when a test installs a TPopupMenuScript, the script answers instead: the
// menu is built as for showing (its aboutToShow runs), then the item with the answered text is
// triggered, or none for an empty answer.
#include "framework/TAnswerScript.h"

#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>

class QAction;
class QMenu;

// Answers the triggered item; null when the menu was dismissed.
QAction* PopupMenu(QMenu* menu, const QPoint& at);

struct TPopupMenuRequest {
    QPointer<QMenu> Menu;
    QPoint At;
    QStringList Items; // the texts of the items as the menu held them when it showed
};

// Answers with the text of the item to choose; once its queue is empty it dismisses the menu.
class TPopupMenuScript : public TAnswerScript<TPopupMenuRequest, QString> {
public:
    explicit TPopupMenuScript(QList<QString> answers = {});
};
