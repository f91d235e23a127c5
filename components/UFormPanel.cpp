// SPDX-License-Identifier: GPL-3.0-or-later
#include "components/UFormPanel.h"

#include "framework/TApplication.h"

#include <QKeyEvent>

TFormPanel::TFormPanel(QWidget* owner) : TPaintPanel(owner)
{
    SetFullRepaint(false);
}

TFormPanel::~TFormPanel()
{
    SetTrapHelp(false);
    SetForm(nullptr);
}

TForm* TFormPanel::ParentForm() const
{
    return qobject_cast<TForm*>(window() == this ? nullptr : window());
}

void TFormPanel::SetForm(TForm* form)
{
    TForm* parentForm = ParentForm();
    if (FForm) {
        if (HelpFallback() && parentForm && FForm->HelpContext() == parentForm->HelpContext())
            parentForm->SetHelpContext(0);
        ReleaseForm();
    }
    FForm = form;
    if (!form)
        return;
    if (HelpFallback() && form->HelpContext() != 0 && parentForm && parentForm->HelpContext() == 0)
        parentForm->SetHelpContext(form->HelpContext());
    DockForm(form);
    SetAlign(form, TAlign::alClient);
    form->setGeometry(0, 0, width(), height());
    Realign();
    form->show();
    if (form->OnActivate)
        form->OnActivate(form);
}

void TFormPanel::ReleaseForm()
{
    TForm* form = FForm;
    FForm = nullptr;
    form->hide();
    // Back to a window of its own, owned as before it came (or by the surrounding form), so
    // that releasing it never leaves it without an owner.
    QWidget* owner = FFormOwner && FFormOwner != this && !isAncestorOf(FFormOwner) ? FFormOwner.data() : nullptr;
    if (!owner)
        owner = ParentForm();
    SetAlign(form, TAlign::alNone);
    form->setParent(owner, FFormFlags | Qt::Window);
    form->close();
}

void TFormPanel::DockForm(TForm* form)
{
    FFormOwner = form->parentWidget();
    FFormFlags = form->windowFlags() & ~Qt::WindowType_Mask;
    // A child widget has no frame: the form's border goes with its window.
    form->setParent(this, Qt::Widget);
    if (TForm* parentForm = ParentForm(); parentForm && parentForm->isVisible())
        parentForm->raise();
}

void TFormPanel::SetTrapHelp(bool trap)
{
    if (trap == FTrapHelp)
        return;
    FTrapHelp = trap;
    const THookListener listener = MakeHookListener<&TFormPanel::HelpHook>(this);
    if (trap)
        SendMessageHookList().AddHookListener(listener);
    else
        SendMessageHookList().RemoveHookListener(listener);
}

void TFormPanel::HelpHook(const TMessageRecord& message)
{
    if (message.Message != QEvent::KeyPress || static_cast<QKeyEvent*>(message.Event)->key() != Qt::Key_F1)
        return;
    TForm* parentForm = ParentForm();
    if (!FForm || FForm->HelpContext() == 0 || !parentForm || parentForm->HelpContext() != 0
        || message.Window != parentForm)
        return;
    TApplication::HelpContext(FForm->HelpContext());
}
