// SPDX-License-Identifier: GPL-3.0-or-later
// The disc side: the optical drives as radio items of a menu and the VOB files of the chosen
// drive's DVD-Video disc.
#include "capture/UFramora.h"

#include "framework/Drives.h"
#include "framework/MessageBox.h"
#include "framework/TPopupMenu.h"
#include "shell/Pathutil.h"

#include <QActionGroup>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QToolButton>

#include <algorithm>

namespace {

const QString VideoTsFolder = QStringLiteral("video_ts");
const QString VobPattern = QStringLiteral("*.vob");
const QString MenuVobName = QStringLiteral("video_ts.vob");
const QString MenuVobSuffix = QStringLiteral("_0.vob");
// The drive items carry their device besides their name, which changes as discs are mounted.
constexpr char DriveDeviceProperty[] = "device";
const char* const NoVideoDiscMessage = QT_TRANSLATE_NOOP("TfrmFramora", "Videoモードで作成したDVDをセットしてください");

// A menu caption shown as it is: '&' would otherwise mark a hot key.
QString PlainMenuText(const QString& text)
{
    QString escaped = text;
    return escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

// Built again whenever the drive menu opens or a search starts: discs come and go while the
// window is open. The drive the user chose stays chosen while it is still there.
void TfrmFramora::FillDriveMenu()
{
    const QAction* checkedItem = DriveGroup->checkedAction();
    const QString chosenDevice = checkedItem ? checkedItem->property(DriveDeviceProperty).toString() : QString();
    mnuDrvList->clear();
    const QList<TOpticalDrive> drives = OpticalDrives();
    const bool chosenIsThere = std::any_of(drives.begin(), drives.end(),
                                           [&](const TOpticalDrive& drive) { return drive.Device == chosenDevice; });
    for (const TOpticalDrive& drive : drives) {
        QAction* item = mnuDrvList->addAction(PlainMenuText(drive.Name));
        item->setData(drive.Name);
        item->setProperty(DriveDeviceProperty, drive.Device);
        item->setCheckable(true);
        item->setChecked(chosenIsThere ? drive.Device == chosenDevice : drive == drives.first());
        DriveGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, item] { CheckDriveItem(item); });
    }
    btnSearchDisc->setEnabled(!drives.isEmpty());
}

void TfrmFramora::CheckDriveItem(QAction* Sender)
{
    if (Sender)
        Sender->setChecked(true);
}

void TfrmFramora::PopupBelow(QMenu* menu, QWidget* button)
{
    PopupMenu(menu, button->mapToGlobal(QPoint(0, button->height())));
}

void TfrmFramora::btnSelectDriveClick()
{
    PopupBelow(mnuDrvList, btnSelectDrive);
}

void TfrmFramora::btnSearchDiscClick()
{
    FillDriveMenu();
    PopupBelow(mnuVobList, btnSearchDisc);
    if (mnuVobList->isEmpty())
        MessageBox(this, tr(NoVideoDiscMessage), Caption(), TMsgButtons::OK);
}

void TfrmFramora::btnSelectVobClick()
{
    PopupBelow(mnuVobList, btnSelectVob);
}

QString TfrmFramora::CheckedDrive() const
{
    for (const QAction* item : mnuDrvList->actions())
        if (item->isChecked())
            return item->data().toString();
    return {};
}

void TfrmFramora::mnuVobListPopup()
{
    mnuVobList->clear();
    const QString drive = CheckedDrive();
    if (!drive.isEmpty())
        ListVobFiles(drive);
}

void TfrmFramora::ListVobFiles(const QString& Drive)
{
    const QString videoTs = FindEntryIgnoringCase(Drive, VideoTsFolder);
    if (videoTs.isEmpty())
        return;
    // Discs list their folders in name order; sorting keeps that order on any file system.
    const QStringList names =
        QDir(JoinPath(Drive, videoTs))
            .entryList({VobPattern}, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDir::Name | QDir::IgnoreCase);
    for (const QString& name : names) {
        const QString lower = name.toLower();
        const qsizetype menuSuffixAt = lower.indexOf(MenuVobSuffix);
        if (lower == MenuVobName || (menuSuffixAt >= 0 && menuSuffixAt == lower.size() - MenuVobSuffix.size()))
            continue;
        QAction* item = mnuVobList->addAction(PlainMenuText(name));
        item->setData(name);
        connect(item, &QAction::triggered, this, [this, item] { OpenVobItem(item); });
    }
}

void TfrmFramora::OpenVobItem(QAction* Sender)
{
    if (!Sender)
        return;
    const QString drive = CheckedDrive();
    if (drive.isEmpty())
        return;
    const QString videoTs = FindEntryIgnoringCase(drive, VideoTsFolder);
    const QString path = JoinPath(JoinPath(drive, videoTs.isEmpty() ? VideoTsFolder : videoTs), Sender->data().toString());
    if (QFileInfo::exists(path))
        OpenMovie(path);
}
