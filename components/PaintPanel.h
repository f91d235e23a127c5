// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A panel that paints itself (OnPaint, or a fill with its brush) and aligns its children inside
// its client rectangle shrunk by AlignOffset. BaseControl, when set, covers the whole client
// rectangle, insets ignored. Children take part in the alignment through SetAlign (or the
// dynamic property "align" of a .ui file: "alTop", "alBottom", "alLeft", "alRight", "alClient").
#include "components/UAlignOffset.h"
#include "components/UOriginalControl.h"

#include <QPointer>

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// Sets how child is aligned in its parent, and realigns the parent when it is a TPaintPanel.
void SetAlign(QWidget* child, TAlign align);
TAlign GetAlign(const QWidget* child);

class TPaintPanel : public TOriginalControl {
    Q_OBJECT
public:
    explicit TPaintPanel(QWidget* owner = nullptr);
    ~TPaintPanel() override;

    QWidget* BaseControl() const { return FBaseControl; }
    void SetBaseControl(QWidget* control);
    TAlignOffset& AlignOffset() { return FAlignOffset; }
    // Copies the offsets.
    void SetAlignOffset(const TAlignOffset& offset) { FAlignOffset.Assign(offset); }

    // Aligns the children now, unless a resize handler is running (then once after it).
    void Realign();

    TControlNotify OnPaint;
    TControlNotify OnResize;

protected:
    // Lays out the children in the client rectangle r.
    virtual void AlignControls(TRect r);
    void Paint() override;
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QPointer<QWidget> FBaseControl;
    QMetaObject::Connection FBaseDestroyed;
    TAlignOffset FAlignOffset;
    int FAlignSuspended = 0; // above 0 while a resize handler runs; it realigns once after
};
