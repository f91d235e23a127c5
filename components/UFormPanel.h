// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A panel that hosts a whole form as a child: the form loses its frame, is docked into the
// panel, fills it (within AlignOffset) and is shown. Hosting another form, or none, or the
// panel's going, releases the previous one: it is hidden, undocked into a window of its own
// again and closed; what closing means is the form's own affair, the panel never destroys it.
// With TrapHelp on, a help request (F1) that reaches the surrounding form while that form has
// no help context of its own shows the hosted form's topic.
#include "components/PaintPanel.h"
#include "components/UHookComponent.h"
#include "framework/TForm.h"

#include <QPointer>

class TFormPanel : public TPaintPanel {
    Q_OBJECT
public:
    explicit TFormPanel(QWidget* owner = nullptr);
    ~TFormPanel() override;

    TForm* Form() const { return FForm; }
    void SetForm(TForm* form);

    bool TrapHelp() const { return FTrapHelp; }
    void SetTrapHelp(bool trap);
    // The listener registered with the send-message hook list while TrapHelp is on.
    void HelpHook(const TMessageRecord& message);

protected:
    void Paint() override {}

private:
    // The form this panel sits in; null while it sits in none.
    TForm* ParentForm() const;
    // Without a send hook, the surrounding form carries the hosted form's help context instead.
    bool HelpFallback() const { return FTrapHelp && !SendHooksAllowed(); }
    void ReleaseForm();
    void DockForm(TForm* form);

    QPointer<TForm> FForm;
    QPointer<QWidget> FFormOwner;      // the hosted form's parent before it was docked
    Qt::WindowFlags FFormFlags;        // its window flags then
    bool FTrapHelp = false;
};
