// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Open and save dialogs with the properties a form sets at design time. Filters are written the
// classic way, "description|*.a;*.b|description|*.c", and FilterIndex counts from 1. Tests install
// a TFileDialogScript to answer in place of the user.
#include "framework/TAnswerScript.h"

#include <QFlags>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QFileDialog;
class QWidget;

enum class TOpenOption : unsigned {
    ofReadOnly = 1u << 0,
    ofOverwritePrompt = 1u << 1,
    ofHideReadOnly = 1u << 2,
    ofNoChangeDir = 1u << 3,
    ofShowHelp = 1u << 4,
    ofNoValidate = 1u << 5,
    ofAllowMultiSelect = 1u << 6,
    ofExtensionDifferent = 1u << 7,
    ofPathMustExist = 1u << 8,
    ofFileMustExist = 1u << 9,
    ofCreatePrompt = 1u << 10,
    ofShareAware = 1u << 11,
    ofNoReadOnlyReturn = 1u << 12,
    ofNoTestFileCreate = 1u << 13,
    ofNoNetworkButton = 1u << 14,
    ofNoLongNames = 1u << 15,
    ofOldStyleDialog = 1u << 16,
    ofNoDereferenceLinks = 1u << 17,
    ofEnableIncludeNotify = 1u << 18,
    ofEnableSizing = 1u << 19,
    ofDontAddToRecent = 1u << 20,
    ofForceShowHidden = 1u << 21,
};
Q_DECLARE_FLAGS(TOpenOptions, TOpenOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TOpenOptions)

enum class TFileDialogKind { Open, Save };

// "desc|*.a;*.b|desc2|*.c" -> {"desc (*.a *.b)", "desc2 (*.c)"}. A trailing description without
// patterns is dropped, as is an empty pair.
QStringList QtNameFilters(const QString& filter);

// What a script is asked, and what it answers.
struct TFileDialogRequest {
    TFileDialogKind Kind = TFileDialogKind::Open;
    QString Title;
    QString Filter;
    int FilterIndex = 1;
    TOpenOptions Options;
    QString InitialDir;
    QString FileName;
    QString DefaultExt;
    // The folder the dialog opens in: InitialDir when set, else the folder of an absolute
    // FileName, else the dialog's own choice (empty).
    QString StartFolder() const;
};

struct TFileDialogAnswer {
    bool Accepted = false;
    QStringList Files;    // the first is FileName
    int FilterIndex = 0;  // 0 keeps the dialog's FilterIndex
    static TFileDialogAnswer Cancel() { return {}; }
    static TFileDialogAnswer Choose(const QString& file, int filterIndex = 0) { return {true, {file}, filterIndex}; }
};

class TOpenDialog : public QObject {
    Q_OBJECT
public:
    explicit TOpenDialog(QWidget* owner = nullptr);
    ~TOpenDialog() override;

    QString Title;
    QString Filter;
    int FilterIndex = 1;
    TOpenOptions Options = TOpenOptions(TOpenOption::ofHideReadOnly) | TOpenOption::ofEnableSizing;
    QString InitialDir;
    QString FileName;
    QString DefaultExt;
    // All chosen files (several only with ofAllowMultiSelect).
    QStringList Files;

    // Shows the dialog modally over the owner; true when the user chose a file, which is then in
    // FileName (and Files) with FilterIndex set to the filter in use.
    bool Execute();

    // Whether dialogs are first asked as the desktop's own dialog (falling back to Qt's own when
    // the desktop offers none). Off by default; ofOldStyleDialog always uses Qt's own.
    static bool NativeDialogs();
    static void SetNativeDialogs(bool on);

    // What the dialog would be asked now, as a script sees it.
    TFileDialogRequest Request() const;

protected:
    explicit TOpenDialog(TFileDialogKind kind, QWidget* owner);

private:
    void Configure(QFileDialog& dialog) const;
    bool Accept(const TFileDialogAnswer& answer);

    TFileDialogKind FKind;
};

class TSaveDialog : public TOpenDialog {
    Q_OBJECT
public:
    explicit TSaveDialog(QWidget* owner = nullptr);
};

// While one exists, dialogs ask it instead of the user (see TAnswerScript); once its queue is
// empty it answers Cancel.
class TFileDialogScript : public TAnswerScript<TFileDialogRequest, TFileDialogAnswer> {
public:
    explicit TFileDialogScript(QList<TFileDialogAnswer> answers = {});
    explicit TFileDialogScript(TAnswerFn answer);
};
