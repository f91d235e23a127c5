// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Commands: a TAction is a QAction with an execute handler and an update handler. Update handlers
// run whenever the event loop goes idle and right before the command executes, so a command's
// Enabled state is fresh at the moment it is used; a command whose update disables it does not
// run, whether a button, a menu, a shortcut or code asked for it.
#include <QAction>
#include <QKeySequence>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

class QAbstractButton;
class TAction;
class TActionList;

using TActionEvent = std::function<void(TAction* sender)>;

class TAction : public QAction {
    Q_OBJECT
public:
    // A command in list (which owns it), named name (the objectName).
    TAction(TActionList* list, const QString& name, const QString& caption = {}, const QString& hint = {});
    ~TAction() override;

    QString Caption() const { return text(); }
    void SetCaption(const QString& caption) { setText(caption); }
    // The hint is shown as tool-tip and status tip of everything bound to the command.
    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint);
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool enabled) { setEnabled(enabled); }
    bool Visible() const { return isVisible(); }
    void SetVisible(bool visible) { setVisible(visible); }

    TActionEvent OnExecute;
    TActionEvent OnUpdate;

    // Runs the update handler (if any).
    void Update();
    // Runs the update handler, then the execute handler if the command is still enabled.
    // Answers whether the execute handler ran.
    bool Execute();

    TActionList* ActionList() const { return FList; }

private:
    friend class TActionList;
    QPointer<TActionList> FList;
};

class TActionList : public QObject {
    Q_OBJECT
public:
    explicit TActionList(QObject* owner = nullptr);
    ~TActionList() override;

    const QList<TAction*>& Actions() const { return FActions; }
    int Count() const { return static_cast<int>(FActions.size()); }
    TAction* Find(const QString& name) const;

    // Runs every command's update handler, in the order the commands were added.
    void UpdateAll();

    // Idle updates can be switched off (for example while a form is being torn down).
    bool IdleUpdates() const { return FIdleUpdates; }
    void SetIdleUpdates(bool on) { FIdleUpdates = on; }

private:
    friend class TAction;
    void Add(TAction* action);
    void Remove(TAction* action);

    QList<TAction*> FActions;
    int FIdleHandler = 0;
    bool FIdleUpdates = true;
};

// Binds a push button, tool button or check box to a command: the button shows the command's
// caption, follows its Enabled and Visible states, and a click executes it (update first). A
// tool-tip the button already carries when bound is its own and stays; otherwise the command's
// hint is shown. Either way the command's shortcuts follow it (see HintWithShortcuts). A button
// hidden when bound stays hidden (its visibility is its own).
void BindAction(QAbstractButton* button, TAction* action);

// A hint with the keys that reach the same command: "hint (Ctrl+O)", "hint (Ins, C)"; the hint
// alone when there are none.
QString HintWithShortcuts(const QString& hint, const QList<QKeySequence>& keys);
