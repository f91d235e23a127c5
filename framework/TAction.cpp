// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TAction.h"

#include "framework/IdleHandlers.h"

#include <QAbstractButton>
#include <QStringList>

TAction::TAction(TActionList* list, const QString& name, const QString& caption, const QString& hint)
    : QAction(caption, list), FList(list)
{
    setObjectName(name);
    SetHint(hint);
    if (list)
        list->Add(this);
    // Menus and shortcuts trigger the QAction; route them through the same check as code.
    connect(this, &QAction::triggered, this, [this] { Execute(); });
}

TAction::~TAction()
{
    if (FList)
        FList->Remove(this);
}

void TAction::SetHint(const QString& hint)
{
    setToolTip(hint);
    setStatusTip(hint);
}

void TAction::Update()
{
    if (OnUpdate)
        OnUpdate(this);
}

bool TAction::Execute()
{
    Update();
    if (!Enabled() || !OnExecute)
        return false;
    OnExecute(this);
    return true;
}

TActionList::TActionList(QObject* owner) : QObject(owner)
{
    FIdleHandler = AddIdleHandler([this] {
        if (FIdleUpdates)
            UpdateAll();
    });
}

TActionList::~TActionList()
{
    RemoveIdleHandler(FIdleHandler);
    // The commands are children and go with the list; they must not reach back into it.
    for (TAction* action : FActions)
        action->FList = nullptr;
}

TAction* TActionList::Find(const QString& name) const
{
    for (TAction* action : FActions)
        if (action->objectName() == name)
            return action;
    return nullptr;
}

void TActionList::UpdateAll()
{
    // An update handler may delete commands; walk a guarded copy.
    QList<QPointer<TAction>> actions;
    for (TAction* action : FActions)
        actions.append(action);
    for (const auto& action : actions)
        if (action)
            action->Update();
}

void TActionList::Add(TAction* action)
{
    FActions.append(action);
}

void TActionList::Remove(TAction* action)
{
    FActions.removeAll(action);
}

namespace {
// Keeps one button in step with one command for as long as both exist.
class TButtonActionLink : public QObject {
public:
    TButtonActionLink(QAbstractButton* button, TAction* action)
        : QObject(button), FButton(button), FAction(action),
          FOwnHint(button->toolTip()), FOwnVisibility(button->isHidden())
    {
        Apply();
        connect(action, &QAction::changed, this, &TButtonActionLink::Apply);
        connect(button, &QAbstractButton::clicked, this, [this] {
            if (FAction)
                FAction->Execute();
        });
    }

private:
    void Apply()
    {
        if (!FAction || !FButton)
            return;
        FButton->setText(FAction->Caption());
        if (FOwnHint.isEmpty()) {
            FButton->setToolTip(HintWithShortcuts(FAction->Hint(), FAction->shortcuts()));
            FButton->setStatusTip(FAction->statusTip());
        } else {
            FButton->setToolTip(HintWithShortcuts(FOwnHint, FAction->shortcuts()));
        }
        FButton->setEnabled(FAction->Enabled());
        if (!FOwnVisibility && FButton->isHidden() == FAction->Visible())
            FButton->setVisible(FAction->Visible());
    }

    QPointer<QAbstractButton> FButton;
    QPointer<TAction> FAction;
    const QString FOwnHint; // the button's own tool-tip when bound; empty for none
    const bool FOwnVisibility;
};
} // namespace

QString HintWithShortcuts(const QString& hint, const QList<QKeySequence>& keys)
{
    QStringList names;
    for (const QKeySequence& key : keys)
        if (!key.isEmpty())
            names.append(key.toString(QKeySequence::NativeText));
    if (names.isEmpty())
        return hint;
    const QString list = names.join(QStringLiteral(", "));
    return hint.isEmpty() ? list : QStringLiteral("%1 (%2)").arg(hint, list);
}

void BindAction(QAbstractButton* button, TAction* action)
{
    new TButtonActionLink(button, action); // owned by the button
}
