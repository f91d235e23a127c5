// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TOpenDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QWidget>

namespace {
bool& NativeDialogsFlag()
{
    static bool native = false;
    return native;
}
} // namespace

namespace {
struct TFilterPair {
    QString Description;
    QStringList Patterns;
};

QList<TFilterPair> FilterPairs(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QList<TFilterPair> pairs;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns.append(pattern.trimmed());
        if (!patterns.isEmpty())
            pairs.append({parts[i].trimmed(), patterns});
    }
    return pairs;
}

// The 1-based index of the filter the dialog reports as selected; Qt reports either the whole
// filter or, with its details hidden, only the description. 0 when none matches.
int SelectedFilterIndex(const QString& filter, const QString& selected)
{
    const QList<TFilterPair> pairs = FilterPairs(filter);
    const QStringList filters = QtNameFilters(filter);
    for (qsizetype i = 0; i < pairs.size(); ++i)
        if (filters[i] == selected || pairs[i].Description == selected.trimmed())
            return static_cast<int>(i) + 1;
    return 0;
}
} // namespace

QStringList QtNameFilters(const QString& filter)
{
    QStringList filters;
    for (const TFilterPair& pair : FilterPairs(filter))
        filters.append(pair.Description + QStringLiteral(" (") + pair.Patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')'));
    return filters;
}

TOpenDialog::TOpenDialog(QWidget* owner) : TOpenDialog(TFileDialogKind::Open, owner) {}

QString TFileDialogRequest::StartFolder() const
{
    if (!InitialDir.isEmpty())
        return InitialDir;
    const QFileInfo current(FileName);
    return !FileName.isEmpty() && current.isAbsolute() ? current.absolutePath() : QString();
}

TOpenDialog::TOpenDialog(TFileDialogKind kind, QWidget* owner) : QObject(owner), FKind(kind) {}

TOpenDialog::~TOpenDialog() = default;

bool TOpenDialog::NativeDialogs()
{
    return NativeDialogsFlag();
}

void TOpenDialog::SetNativeDialogs(bool on)
{
    NativeDialogsFlag() = on;
}

TFileDialogRequest TOpenDialog::Request() const
{
    return {FKind, Title, Filter, FilterIndex, Options, InitialDir, FileName, DefaultExt};
}

void TOpenDialog::Configure(QFileDialog& dialog) const
{
    dialog.setWindowTitle(Title);
    dialog.setAcceptMode(FKind == TFileDialogKind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (FKind == TFileDialogKind::Open)
        dialog.setFileMode(Options.testFlag(TOpenOption::ofAllowMultiSelect) ? QFileDialog::ExistingFiles
                           : Options.testFlag(TOpenOption::ofFileMustExist) ? QFileDialog::ExistingFile
                                                                             : QFileDialog::AnyFile);
    else
        dialog.setFileMode(QFileDialog::AnyFile);

    const QStringList filters = QtNameFilters(Filter);
    if (!filters.isEmpty()) {
        // The patterns are what Qt filters by; the user sees the descriptions as written.
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.value(qBound(1, FilterIndex, int(filters.size())) - 1));
    }
    dialog.setOption(QFileDialog::DontUseNativeDialog,
                     !NativeDialogs() || Options.testFlag(TOpenOption::ofOldStyleDialog));
    dialog.setOption(QFileDialog::DontResolveSymlinks, Options.testFlag(TOpenOption::ofNoDereferenceLinks));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !Options.testFlag(TOpenOption::ofOverwritePrompt));
    dialog.setOption(QFileDialog::ReadOnly, Options.testFlag(TOpenOption::ofReadOnly));
    if (Options.testFlag(TOpenOption::ofForceShowHidden))
        dialog.setFilter(dialog.filter() | QDir::Hidden);
    dialog.setSizeGripEnabled(Options.testFlag(TOpenOption::ofEnableSizing));
    if (!DefaultExt.isEmpty())
        dialog.setDefaultSuffix(DefaultExt);

    const QString directory = Request().StartFolder();
    if (!directory.isEmpty())
        dialog.setDirectory(directory);
    if (!FileName.isEmpty())
        dialog.selectFile(QFileInfo(FileName).fileName());
}

bool TOpenDialog::Accept(const TFileDialogAnswer& answer)
{
    if (!answer.Accepted || answer.Files.isEmpty())
        return false;
    Files = answer.Files;
    FileName = Files.first();
    if (answer.FilterIndex > 0)
        FilterIndex = answer.FilterIndex;
    return true;
}

bool TOpenDialog::Execute()
{
    if (auto* script = TFileDialogScript::Current())
        return Accept(script->Answer(Request()));

    QFileDialog dialog(qobject_cast<QWidget*>(parent()));
    Configure(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    return Accept({true, dialog.selectedFiles(), SelectedFilterIndex(Filter, dialog.selectedNameFilter())});
}

TSaveDialog::TSaveDialog(QWidget* owner) : TOpenDialog(TFileDialogKind::Save, owner) {}

namespace {
TFileDialogAnswer CancelAnswer(const TFileDialogRequest&)
{
    return TFileDialogAnswer::Cancel();
}
} // namespace

TFileDialogScript::TFileDialogScript(QList<TFileDialogAnswer> answers)
    : TAnswerScript(std::move(answers), CancelAnswer)
{
}

TFileDialogScript::TFileDialogScript(TAnswerFn answer) : TAnswerScript(std::move(answer), CancelAnswer) {}
