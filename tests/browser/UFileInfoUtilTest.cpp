// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/UFileInfoUtil.h"
#include "framework/TImageList.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(FileInfoUtil, ExtensionKeyIsTheUpperCaseTailOfTheFileName)
{
    const struct {
        const char* path;
        const char* key;
    } rows[] = {
        {"report.TXT", ".TXT"},
        {"/home/u/notes.txt", ".TXT"},
        {"archive.tar.gz", ".GZ"},
        {"/dir.with.dots/README", ""},
        {"noext", ""},
        {".hidden", ".HIDDEN"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ExtensionKey(row.path), QString(row.key)) << row.path;
}

TEST(FileInfoUtil, OneShellQueryPerExtensionTheFirstFileDeciding)
{
    QStringList asked;
    TExFileInfo info([&](const QString& path) {
        asked << path;
        return TShFileInfo{QIcon(), static_cast<int>(asked.size()), path};
    });
    TShFileInfo record;
    info.GetInfo("report.TXT", record);
    info.GetInfo("notes.txt", record);
    EXPECT_EQ(record.TypeName, "report.TXT");
    info.GetInfo("Makefile", record);
    info.GetInfo("LICENSE", record);
    EXPECT_EQ(record.TypeName, "Makefile");

    EXPECT_EQ(asked, (QStringList{"report.TXT", "Makefile"}));
    EXPECT_EQ(info.CachedCount(), 2);
}

TEST(FileInfoUtil, DesktopAnswerNamesTheTypeAndIndexesBothIconLists)
{
    QTemporaryDir dir;
    const QString text = dir.filePath("a.txt");
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("plain words\n");
    file.close();

    const TShFileInfo first = ShellFileInfo(text);
    EXPECT_FALSE(first.TypeName.isEmpty());
    ASSERT_GE(first.IconIndex, 0);
    EXPECT_LT(first.IconIndex, SystemImageList(true).Count());
    EXPECT_EQ(SystemImageList(true).Count(), SystemImageList(false).Count());
    // A second file of the same type takes no new slot; a missing file is still answered.
    const int count = SystemImageList(false).Count();
    EXPECT_EQ(ShellFileInfo(dir.filePath("b.txt")).IconIndex, first.IconIndex);
    EXPECT_EQ(SystemImageList(false).Count(), count);
    EXPECT_GE(ShellFileInfo(dir.filePath("missing.nothing")).IconIndex, 0);
}
