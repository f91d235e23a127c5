// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// File information for the browser's file-list mode: the desktop's icon and type name of a
// file, cached per upper-case extension, and the shared icon lists those icon indices point into.
#include <QIcon>
#include <QString>

#include <functional>
#include <vector>

class TImageList;
class TListView;

// What the desktop says about a file. IconIndex points into both system image lists.
struct TShFileInfo {
    QIcon Icon;
    int IconIndex = -1;
    QString TypeName;
};

// Asks the desktop (icon provider and MIME database) about one file. A path it cannot
// describe gets the generic file icon and type.
TShFileInfo ShellFileInfo(const QString& path);

// The process-wide icon lists (16 and 32 pixels) that ShellFileInfo's icon indices address.
TImageList& SystemImageList(bool smallIcons);

// From the last "." of the file-name part, dot included, in upper case; "" without one.
QString ExtensionKey(const QString& path);

class TExFileInfo {
public:
    using TShellQuery = std::function<TShFileInfo(const QString& path)>;
    explicit TExFileInfo(TShellQuery shell = ShellFileInfo);

    // The first file seen with an extension decides the answer for every later one.
    void GetInfo(const QString& path, TShFileInfo& info);
    int CachedCount() const { return static_cast<int>(FKeys.size()); }

    static void AttachSmallSystemImageList(TListView& listView);
    static void AttachLargeSystemImageList(TListView& listView);

private:
    TShellQuery FShell;
    std::vector<QString> FKeys; // FKeys[i] belongs to FRecords[i]
    std::vector<TShFileInfo> FRecords;
};
