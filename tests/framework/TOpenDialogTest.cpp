// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TOpenDialog.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
const QString MovieFilter = QStringLiteral(
    "動画ファイル|*.avi;*.wmv;*.asf;*.m1v;*.m2v;*.mp4;*.m4v;*.mp4v;*.mov;*.mpg;*.mpeg;*.3gp;*.3g2;*.rm;*.rmvb;*.flv;*.vob;*.dv|"
    "AVI形式(.avi)|*.avi|WMV形式(.wmv;.asf)|*.wmv;*.asf|"
    "MPEG形式(.m1v;.m2v;.mp4;.m4v;.mp4v;.mov;.mpg;.mpeg;.3gp;.3g2)|*.m1v;*.m2v;*.mp4;*.m4v;*.mp4v;*.mov;*.mpg;*.mpeg;*.3gp;*.3g2|"
    "RM形式(.rm;.rmvb)|*.rm;*.rmvb|FLV形式(.flv)|*.flv|VOB形式(.vob)|*.vob|Digital Video形式(.dv)|*.dv|すべての形式(*.*)|*.*");
}

TEST(QtNameFilters, ConvertsClassicFilters)
{
    struct TCase {
        QString Filter;
        QStringList Expected;
    };
    const TCase cases[] = {
        {QStringLiteral("ビットマップ (*.bmp)|*.bmp|すべてのファイル(*.*)|*.*"),
         {QStringLiteral("ビットマップ (*.bmp) (*.bmp)"), QStringLiteral("すべてのファイル(*.*) (*.*)")}},
        {QStringLiteral("WMV|*.wmv; *.asf"), {QStringLiteral("WMV (*.wmv *.asf)")}},
        {QStringLiteral("no patterns||odd|*.x|dangling"), {QStringLiteral("odd (*.x)")}},
        {QString(), {}},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(QtNameFilters(c.Filter), c.Expected) << c.Filter.toStdString();

    const QStringList movie = QtNameFilters(MovieFilter);
    ASSERT_EQ(movie.size(), 9);
    EXPECT_TRUE(movie[0].startsWith(QStringLiteral("動画ファイル (*.avi *.wmv *.asf *.m1v")));
    EXPECT_EQ(movie[8], QStringLiteral("すべての形式(*.*) (*.*)"));
}

TEST(TFileDialogScript, AnswersTheDialogAndRecordsWhatItWasAsked)
{
    TOpenDialog dialog;
    dialog.Title = QStringLiteral("動画ファイルの選択");
    dialog.Filter = MovieFilter;
    dialog.Options = TOpenOptions(TOpenOption::ofHideReadOnly) | TOpenOption::ofPathMustExist |
                     TOpenOption::ofFileMustExist | TOpenOption::ofEnableSizing;
    dialog.FileName = QStringLiteral("/old.avi");

    TFileDialogScript script({TFileDialogAnswer::Cancel(), TFileDialogAnswer::Choose(QStringLiteral("/m/a.mp4"), 4)});
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, QStringLiteral("/old.avi"));
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, QStringLiteral("/m/a.mp4"));
    EXPECT_EQ(dialog.Files, QStringList{QStringLiteral("/m/a.mp4")});
    EXPECT_EQ(dialog.FilterIndex, 4);
    EXPECT_FALSE(dialog.Execute()) << "an empty queue cancels";

    ASSERT_EQ(script.Asked().size(), 3);
    const TFileDialogRequest& first = script.Asked()[0];
    EXPECT_EQ(first.Kind, TFileDialogKind::Open);
    EXPECT_EQ(first.Title, QStringLiteral("動画ファイルの選択"));
    EXPECT_EQ(first.Filter, MovieFilter);
    EXPECT_EQ(first.FilterIndex, 1);
    EXPECT_TRUE(first.Options.testFlag(TOpenOption::ofFileMustExist));
    EXPECT_EQ(first.FileName, QStringLiteral("/old.avi"));
    EXPECT_EQ(script.Asked()[1].FileName, QStringLiteral("/old.avi"));

    TSaveDialog save;
    save.Execute();
    EXPECT_EQ(script.Asked()[2].Kind, TFileDialogKind::Open);
    EXPECT_EQ(script.Asked().size(), 4);
    EXPECT_EQ(script.Asked()[3].Kind, TFileDialogKind::Save);
}

TEST(TOpenDialog, RealDialogIsConfiguredAndReportsTheChoice)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString movie = folder.filePath(QStringLiteral("clip.mp4"));
    QFile(movie).open(QIODevice::WriteOnly);

    TOpenDialog dialog;
    dialog.Title = QStringLiteral("動画ファイルの選択");
    dialog.Filter = MovieFilter;
    dialog.FilterIndex = 2;
    dialog.Options = TOpenOptions(TOpenOption::ofHideReadOnly) | TOpenOption::ofFileMustExist;
    dialog.InitialDir = folder.path();

    QString title;
    QStringList filters;
    QString selectedFilter;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QTimer::singleShot(0, [&] {
        auto* shown = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(shown, nullptr);
        title = shown->windowTitle();
        filters = shown->nameFilters();
        selectedFilter = shown->selectedNameFilter();
        mode = shown->fileMode();
        shown->selectNameFilter(shown->nameFilters().value(3)); // the user picks the MPEG filter
        shown->selectFile(movie);
        QMetaObject::invokeMethod(shown, "accept");
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(title, QStringLiteral("動画ファイルの選択"));
    EXPECT_EQ(filters, QtNameFilters(MovieFilter));
    // Qt names the selected filter in full or, with the details hidden, by its description.
    EXPECT_TRUE(selectedFilter.startsWith(QStringLiteral("AVI形式(.avi)"))) << selectedFilter.toStdString();
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
    EXPECT_EQ(dialog.FileName, movie);
    EXPECT_EQ(dialog.FilterIndex, 4);
}
