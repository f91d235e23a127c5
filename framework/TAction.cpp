#include "framework/TAction.h"

#include "framework/IdleHandlers.h"

#include <QAbstractButton>

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
          FOwnHint(!button->toolTip().isEmpty()), FOwnVisibility(button->isHidden())
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
        if (!FOwnHint) {
            FButton->setToolTip(FAction->Hint());
            FButton->setStatusTip(FAction->statusTip());
        }
        FButton->setEnabled(FAction->Enabled());
        if (!FOwnVisibility && FButton->isHidden() == FAction->Visible())
            FButton->setVisible(FAction->Visible());
    }

    QPointer<QAbstractButton> FButton;
    QPointer<TAction> FAction;
    const bool FOwnHint;
    const bool FOwnVisibility;
};
} // namespace

void BindAction(QAbstractButton* button, TAction* action)
{
    new TButtonActionLink(button, action); // owned by the button
}
