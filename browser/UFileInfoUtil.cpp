// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/UFileInfoUtil.h"

#include "framework/TImageList.h"
#include "framework/TListView.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>

#include <algorithm>

namespace {

constexpr int kSmallIconSize = 16;
constexpr int kLargeIconSize = 32;

// Icon indices by MIME type name, so that one type takes one slot in the system lists.
QHash<QString, int>& IconIndexByType()
{
    static QHash<QString, int> indices;
    return indices;
}

} // namespace

TImageList& SystemImageList(bool smallIcons)
{
    static TImageList small(nullptr, kSmallIconSize, kSmallIconSize);
    static TImageList large(nullptr, kLargeIconSize, kLargeIconSize);
    return smallIcons ? small : large;
}

TShFileInfo ShellFileInfo(const QString& path)
{
    const QFileInfo file(path);
    const QMimeType type = QMimeDatabase().mimeTypeForFile(file);
    TShFileInfo info;
    info.Icon = QFileIconProvider().icon(file);
    if (info.Icon.isNull())
        info.Icon = QIcon::fromTheme(type.genericIconName());
    info.TypeName = type.comment();
    auto& indices = IconIndexByType();
    auto found = indices.constFind(type.name());
    if (found == indices.constEnd()) {
        SystemImageList(true).Add(info.Icon);
        found = indices.insert(type.name(), SystemImageList(false).Add(info.Icon));
    }
    info.IconIndex = *found;
    return info;
}

QString ExtensionKey(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot).toUpper();
}

TExFileInfo::TExFileInfo(TShellQuery shell) : FShell(std::move(shell)) {}

void TExFileInfo::GetInfo(const QString& path, TShFileInfo& info)
{
    const QString key = ExtensionKey(path);
    const auto found = std::find(FKeys.begin(), FKeys.end(), key);
    if (found != FKeys.end()) {
        info = FRecords[static_cast<std::size_t>(found - FKeys.begin())];
        return;
    }
    info = FShell(path);
    FKeys.push_back(key);
    FRecords.push_back(info);
}

void TExFileInfo::AttachSmallSystemImageList(TListView& listView)
{
    listView.SetSmallImages(&SystemImageList(true));
}

void TExFileInfo::AttachLargeSystemImageList(TListView& listView)
{
    listView.SetLargeImages(&SystemImageList(false));
}
