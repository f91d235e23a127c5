// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A form: a top-level window built from a Designer .ui file, with the behaviour forms share:
// caption, design client size, centring, the close question (CloseQuery/OnClose), modal showing
// with a ModalResult, default and cancel buttons (Enter, Esc), a help context with F1, and
// anchors that keep children's edges at their design distance from their parent's edges.
#include <QAbstractButton>
#include <QFlags>
#include <QFont>
#include <QMainWindow>
#include <QPointer>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>

class QEventLoop;

enum class TAnchorKind : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
Q_DECLARE_FLAGS(TAnchors, TAnchorKind)
Q_DECLARE_OPERATORS_FOR_FLAGS(TAnchors)

inline constexpr TAnchors akLeftTop = TAnchors(TAnchorKind::akLeft) | TAnchorKind::akTop;
inline constexpr TAnchors akAll =
    TAnchors(TAnchorKind::akLeft) | TAnchorKind::akTop | TAnchorKind::akRight | TAnchorKind::akBottom;

// Anchors child to its parent from now on. The child's current geometry is its design geometry
// and designParentSize the parent's design size (the parent's current size when left empty; give
// it for a parent whose size a layout sets later, such as a main window's central widget). An
// anchored edge keeps its distance to the same edge of the parent; with both edges of a direction
// anchored the child stretches; with neither, its centre keeps its proportional place.
void SetAnchors(QWidget* child, TAnchors anchors, QSize designParentSize = {});

// "akLeft,akTop,akRight" (separated by commas, '|' or spaces; the "ak" prefix optional).
TAnchors ParseAnchors(const QString& text);

// Anchors every descendant of root that carries the dynamic property "anchors" (set in the .ui).
// root's own children are anchored against rootDesignSize.
void AnchorChildren(QWidget* root, QSize rootDesignSize);

// The geometry an anchored child takes when its parent goes from designParentSize to parentSize.
QRect AnchoredGeometry(const QRect& design, TAnchors anchors, QSize designParentSize, QSize parentSize);

enum class TCloseAction { caNone, caHide, caFree, caMinimize };
enum class TPosition { poDesigned, poScreenCenter };

// Modal results; the values forms and buttons exchange.
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7 };

// A font as forms describe it: a face name and a height, negative for the character height in
// pixels, positive for the cell height. Windows face names are mapped onto the fonts installed
// here (see RegisterFontSubstitutions).
QFont FormFont(const QString& family, int height);
// Makes Qt stand local fonts in for the Windows face names forms ask for. Safe to call often.
void RegisterFontSubstitutions();

class TForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm(QWidget* owner = nullptr);
    ~TForm() override;

    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString& caption) { setWindowTitle(caption); }

    // Resizes the window so that the area below its menu bar is width x height.
    void SetClientSize(int width, int height);
    // The smallest client size the user can resize the form to.
    void SetClientMinimumSize(int width, int height);
    QSize ClientSize() const;

    TPosition Position() const { return FPosition; }
    void SetPosition(TPosition position) { FPosition = position; }
    // Moves the window to the centre of the available area of its screen.
    void CenterOnScreen();

    int HelpContext() const { return FHelpContext; }
    void SetHelpContext(int context) { FHelpContext = context; }

    // Enter presses the default button (unless a focused button takes it), Esc the cancel button.
    void SetDefaultButton(QAbstractButton* button) { FDefaultButton = button; }
    void SetCancelButton(QAbstractButton* button) { FCancelButton = button; }

    // The close question: every close request asks it; canClose starts true.
    std::function<void(QObject* sender, bool& canClose)> OnCloseQuery;
    // Told that the form closes; may change what closing does (default: hide).
    std::function<void(QObject* sender, TCloseAction& action)> OnClose;
    // Help requests (classic protocol: command 1 with a context, 11 for the contents). Clearing
    // callHelp keeps the framework from looking for help itself; answers whether help was shown.
    std::function<bool(std::uint16_t command, std::int32_t data, bool& callHelp)> OnHelp;
    // The form became the active window (a host that embeds the form may raise it itself).
    std::function<void(QObject* sender)> OnActivate;

    virtual bool CloseQuery();
    // Hands a help request to OnHelp; F1 sends the form's help context (or asks for the contents).
    bool HelpRequest(std::uint16_t command, std::int32_t data);

    // Shows the form modally and returns once ModalResult is set (or the form closes, which
    // answers mrCancel).
    int ShowModal();
    int ModalResult() const { return FModalResult; }
    // A non-zero result closes a modal form (the close question is asked; a refusal clears it).
    void SetModalResult(int result);
    bool IsModal() const { return FModalLoop != nullptr; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    TPosition FPosition = TPosition::poDesigned;
    int FHelpContext = 0;
    int FModalResult = mrNone;
    bool FPositioned = false;
    QEventLoop* FModalLoop = nullptr; // valid only while ShowModal runs
    QPointer<QAbstractButton> FDefaultButton;
    QPointer<QAbstractButton> FCancelButton;
};
