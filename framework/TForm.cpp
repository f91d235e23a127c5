// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TForm.h"

#include "framework/MulDiv.h"
#include "framework/TApplication.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>

#include <cstdlib>

namespace {
// Follows one parent's resizes for one anchored child.
class TAnchorFollower : public QObject {
public:
    TAnchorFollower(QWidget* child, TAnchors anchors, QSize designParentSize)
        : QObject(child), FChild(child), FAnchors(anchors), FDesign(child->geometry()),
          FDesignParentSize(designParentSize)
    {
        child->parentWidget()->installEventFilter(this);
        Follow();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize && watched == FChild->parentWidget())
            Follow();
        return false;
    }

private:
    void Follow()
    {
        FChild->setGeometry(
            AnchoredGeometry(FDesign, FAnchors, FDesignParentSize, FChild->parentWidget()->size()));
    }

    QWidget* FChild; // our parent object, so it outlives us
    const TAnchors FAnchors;
    const QRect FDesign;
    const QSize FDesignParentSize;
};

// One direction of AnchoredGeometry: position and extent along an axis.
std::pair<int, int> AnchorAxis(int start, int extent, bool nearEdge, bool farEdge, int designParent, int parent)
{
    const int growth = parent - designParent;
    if (nearEdge && farEdge)
        return {start, extent + growth};
    if (farEdge)
        return {start + growth, extent};
    if (nearEdge)
        return {start, extent};
    // Neither edge: the centre keeps its proportional place.
    const int centre = start + extent / 2;
    return {MulDiv(centre, parent, designParent > 0 ? designParent : 1) - extent / 2, extent};
}
} // namespace

QRect AnchoredGeometry(const QRect& design, TAnchors anchors, QSize designParentSize, QSize parentSize)
{
    const auto [left, width] = AnchorAxis(design.x(), design.width(), anchors.testFlag(TAnchorKind::akLeft),
                                          anchors.testFlag(TAnchorKind::akRight), designParentSize.width(),
                                          parentSize.width());
    const auto [top, height] = AnchorAxis(design.y(), design.height(), anchors.testFlag(TAnchorKind::akTop),
                                          anchors.testFlag(TAnchorKind::akBottom), designParentSize.height(),
                                          parentSize.height());
    return QRect(left, top, qMax(0, width), qMax(0, height));
}

void SetAnchors(QWidget* child, TAnchors anchors, QSize designParentSize)
{
    if (!child || !child->parentWidget())
        return;
    const QSize designSize = designParentSize.isValid() ? designParentSize : child->parentWidget()->size();
    new TAnchorFollower(child, anchors, designSize); // owned by the child
}

TAnchors ParseAnchors(const QString& text)
{
    TAnchors anchors;
    static const QRegularExpression separators(QStringLiteral("[,|\\s]+"));
    for (QString word : text.split(separators, Qt::SkipEmptyParts)) {
        word = word.toLower();
        if (word.startsWith(QLatin1String("ak")))
            word = word.mid(2);
        if (word == QLatin1String("left"))
            anchors |= TAnchorKind::akLeft;
        else if (word == QLatin1String("top"))
            anchors |= TAnchorKind::akTop;
        else if (word == QLatin1String("right"))
            anchors |= TAnchorKind::akRight;
        else if (word == QLatin1String("bottom"))
            anchors |= TAnchorKind::akBottom;
    }
    return anchors;
}

void AnchorChildren(QWidget* root, QSize rootDesignSize)
{
    // Record every design size before anchoring anything: anchoring a parent may resize it.
    struct TPending {
        QWidget* Widget;
        TAnchors Anchors;
        QSize DesignParentSize;
    };
    QList<TPending> pending;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        const QVariant value = widget->property("anchors");
        if (!value.isValid() || !widget->parentWidget())
            continue;
        pending.append({widget, ParseAnchors(value.toString()),
                        widget->parentWidget() == root ? rootDesignSize : widget->parentWidget()->size()});
    }
    for (const TPending& entry : pending)
        SetAnchors(entry.Widget, entry.Anchors, entry.DesignParentSize);
}

void RegisterFontSubstitutions()
{
    static const bool done = [] {
        const QStringList proportionalGothic{QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")};
        const QStringList fixedGothic{QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP")};
        QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"), proportionalGothic);
        QFont::insertSubstitutions(QStringLiteral("MS PGothic"), proportionalGothic);
        QFont::insertSubstitutions(QStringLiteral("MS UI Gothic"), proportionalGothic);
        QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"), fixedGothic);
        QFont::insertSubstitutions(QStringLiteral("MS Gothic"), fixedGothic);
        return true;
    }();
    (void)done;
}

QFont FormFont(const QString& family, int height)
{
    RegisterFontSubstitutions();
    QFont font(family);
    // Pixels either way: the character height, or a cell height that includes internal leading,
    // which for these faces is close enough to the character height to treat alike.
    font.setPixelSize(std::abs(height) > 0 ? std::abs(height) : 12);
    return font;
}

TForm::TForm(QWidget* owner) : QMainWindow(owner)
{
    RegisterFontSubstitutions();
}

TForm::~TForm() = default;

void TForm::SetClientSize(int width, int height)
{
    const int menuHeight = menuWidget() ? menuWidget()->sizeHint().height() : 0;
    resize(width, height + menuHeight);
}

void TForm::SetClientMinimumSize(int width, int height)
{
    const int menuHeight = menuWidget() ? menuWidget()->sizeHint().height() : 0;
    setMinimumSize(width, height + menuHeight);
}

QSize TForm::ClientSize() const
{
    const int menuHeight = menuWidget() ? menuWidget()->height() : 0;
    return QSize(width(), height() - menuHeight);
}

void TForm::CenterOnScreen()
{
    const QScreen* target = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!target)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(target->availableGeometry().center());
    move(frame.topLeft());
}

bool TForm::CloseQuery()
{
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    return canClose;
}

bool TForm::HelpRequest(std::uint16_t command, std::int32_t data)
{
    if (!OnHelp)
        return false;
    // No help engine of its own stands behind the forms here, so a handler that leaves
    // callHelp set gets no further help either.
    bool callHelp = true;
    return OnHelp(command, data, callHelp);
}

int TForm::ShowModal()
{
    const Qt::WindowModality previousModality = windowModality();
    setWindowModality(Qt::ApplicationModal);
    FModalResult = mrNone;
    QEventLoop loop;
    FModalLoop = &loop;
    show();
    loop.exec();
    FModalLoop = nullptr;
    hide();
    setWindowModality(previousModality);
    return FModalResult;
}

void TForm::SetModalResult(int result)
{
    FModalResult = result;
    if (FModalLoop && result != mrNone)
        close();
}

void TForm::closeEvent(QCloseEvent* event)
{
    if (!CloseQuery()) {
        event->ignore();
        if (FModalLoop)
            FModalResult = mrNone;
        return;
    }
    TCloseAction action = TCloseAction::caHide;
    if (OnClose)
        OnClose(this, action);
    switch (action) {
    case TCloseAction::caNone:
        event->ignore();
        if (FModalLoop)
            FModalResult = mrNone;
        return;
    case TCloseAction::caMinimize:
        event->ignore();
        showMinimized();
        return;
    case TCloseAction::caFree:
        setAttribute(Qt::WA_DeleteOnClose);
        break;
    case TCloseAction::caHide:
        break;
    }
    event->accept();
    // A main form that was never shown leaves no last window to close; end the loop anyway.
    if (this == TApplication::MainForm() && !FModalLoop)
        TApplication::Terminate();
    if (FModalLoop) {
        if (FModalResult == mrNone)
            FModalResult = mrCancel;
        FModalLoop->quit();
    }
}

void TForm::keyPressEvent(QKeyEvent* event)
{
    const auto press = [event](QAbstractButton* button) {
        if (!button || !button->isEnabled() || !button->isVisible())
            return false;
        button->click();
        event->accept();
        return true;
    };
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (press(qobject_cast<QPushButton*>(focusWidget())) || press(FDefaultButton))
            return;
        break;
    case Qt::Key_Escape:
        if (press(FCancelButton))
            return;
        break;
    case Qt::Key_F1:
        if (FHelpContext != 0)
            HelpRequest(HELP_CONTEXT, FHelpContext);
        else
            HelpRequest(HELP_FINDER, 0);
        event->accept();
        return;
    default:
        break;
    }
    QMainWindow::keyPressEvent(event);
}

void TForm::changeEvent(QEvent* event)
{
    // Qt tells every widget of a window when the window is activated; a form hosted inside
    // another is activated by its host (the form panel), not by each activation of the window.
    if (event->type() == QEvent::ActivationChange && isWindow() && isActiveWindow() && OnActivate)
        OnActivate(this);
    QMainWindow::changeEvent(event);
}

void TForm::showEvent(QShowEvent* event)
{
    if (!FPositioned) {
        FPositioned = true;
        if (FPosition == TPosition::poScreenCenter)
            CenterOnScreen();
    }
    QMainWindow::showEvent(event);
}
