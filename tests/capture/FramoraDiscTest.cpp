// SPDX-License-Identifier: GPL-3.0-or-later
// The drive menu and the VOB menu over a mount table the test writes, with disc folders in
// temporary folders.
#include "FramoraTestSupport.h"

#include "framework/Drives.h"
#include "framework/TPopupMenu.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

namespace {

const QString NoVideoDisc = QStringLiteral("Videoモードで作成したDVDをセットしてください");

QStringList Captions(const QMenu* menu)
{
    QStringList captions;
    for (const QAction* item : menu->actions())
        captions.append(item->text());
    return captions;
}

// A mount table line for a file system mounted at mountPoint.
QByteArray MountLine(const QString& mountPoint, const char* type, const char* device)
{
    return "30 1 11:0 / " + QFile::encodeName(mountPoint).replace(' ', "\\040") + " ro - " + type + ' ' + device +
           " ro\n";
}

class FramoraDisc : public FramoraWindow {
protected:
    void SetUp() override
    {
        FramoraWindow::SetUp();
        ASSERT_TRUE(Media.isValid());
        DiscD = Media.path() + QStringLiteral("/disc D");
        DiscE = Media.path() + QStringLiteral("/discE");
        QDir().mkpath(DiscD);
        QDir().mkpath(DiscE);
    }
    void TearDown() override
    {
        FramoraWindow::TearDown();
        SetMountTableReader({});
        SetOpticalDeviceReader({});
    }

    // A new window that reads table as the machine's mount table.
    void Recreate(const QByteArray& table)
    {
        Form.reset();
        // The guard of the first window is held until the process ends: a new window of the
        // same process looks for its guard elsewhere.
        const QString locks = Media.path() + QStringLiteral("/locks%1").arg(++Windows);
        QDir().mkpath(locks);
        qputenv("FRAMORA_LOCK_DIR", QFile::encodeName(locks));
        SetMountTableReader([table] { return table; });
        SetOpticalDeviceReader([this] { return Devices; });
        Form = NewFramoraWindow();
    }

    QByteArray TwoDrives() const
    {
        return "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n" + MountLine(DiscD, "udf", "/dev/sr0") +
               MountLine(DiscE, "iso9660", "/dev/loop0");
    }

    static void WriteVobs(const QString& disc, const QStringList& names, const QString& folder = "VIDEO_TS")
    {
        QDir(disc).mkdir(folder);
        for (const QString& name : names) {
            QFile file(disc + QLatin1Char('/') + folder + QLatin1Char('/') + name);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
    }

    // Runs "DVDを検索" choosing item (none when empty); answers the texts of the boxes shown.
    QStringList Search(const QString& item = {})
    {
        TMessageBoxScript boxes;
        TPopupMenuScript menus({item});
        Form->btnSearchDisc->click();
        Settle();
        return boxes.Texts();
    }

    QTemporaryDir Media;
    QString DiscD, DiscE;
    QStringList Devices; // the optical drives the kernel lists
    int Windows = 0;
};

TEST_F(FramoraDisc, DriveMenuListsOpticalDrivesFirstChecked)
{
    Recreate(TwoDrives());
    EXPECT_EQ(Captions(Form->mnuDrvList), (QStringList{DiscD, DiscE}));
    EXPECT_TRUE(Form->mnuDrvList->actions()[0]->isChecked());
    EXPECT_FALSE(Form->mnuDrvList->actions()[1]->isChecked());
    EXPECT_TRUE(Form->btnSearchDisc->isEnabled());

    Recreate("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n");
    EXPECT_TRUE(Form->mnuDrvList->isEmpty());
    EXPECT_FALSE(Form->btnSearchDisc->isEnabled());
}

TEST_F(FramoraDisc, VobMenuLeavesOutMenuFilesAndFollowsTheCheckedDrive)
{
    WriteVobs(DiscD, {"VIDEO_TS.VOB", "VTS_01_0.VOB", "VTS_01_2.VOB", "VTS_01_1.VOB", "VTS_02_0.VOB", "VIDEO_TS.IFO"});
    WriteVobs(DiscE, {"vts_03_1.vob"}, QStringLiteral("video_ts"));
    Recreate(TwoDrives());

    TPopupMenuScript menus;
    Form->btnSelectVob->click();
    ASSERT_EQ(menus.Asked().size(), 1);
    EXPECT_EQ(menus.Asked()[0].Items, (QStringList{"VTS_01_1.VOB", "VTS_01_2.VOB"}));

    // Choosing the other drive lists its disc; choosing back lists the first again.
    TPopupMenuScript driveChoice({DiscE});
    Form->btnSelectDrive->click();
    Form->btnSelectVob->click();
    EXPECT_EQ(Captions(Form->mnuVobList), QStringList{"vts_03_1.vob"});
    EXPECT_FALSE(Form->mnuDrvList->actions()[0]->isChecked());
    driveChoice.Enqueue(DiscD);
    Form->btnSelectDrive->click();
    Form->btnSelectVob->click();
    EXPECT_EQ(Captions(Form->mnuVobList), (QStringList{"VTS_01_1.VOB", "VTS_01_2.VOB"}));
}

TEST_F(FramoraDisc, SearchWithoutOfferedFilesAsksForAVideoDisc)
{
    Recreate(TwoDrives());
    EXPECT_EQ(Search(), QStringList{NoVideoDisc}); // no video_ts folder
    WriteVobs(DiscD, {"VIDEO_TS.VOB", "VTS_01_0.VOB"});
    EXPECT_EQ(Search(), QStringList{NoVideoDisc}); // only menu files
}

TEST_F(FramoraDisc, ChoosingAVobOpensIt)
{
    WriteVobs(DiscD, {"VTS_01_1.VOB"});
    const QString vob = DiscD + QStringLiteral("/VIDEO_TS/VTS_01_2.VOB");
    ASSERT_TRUE(QFile::copy(FixturePath(TestMovies::ProgramStream), vob));
    Recreate(TwoDrives());

    EXPECT_TRUE(Search(QStringLiteral("VTS_01_2.VOB")).isEmpty());
    EXPECT_EQ(Form->CurrentMoviePath(), vob);
    EXPECT_EQ(Form->edFileName->text(), QStringLiteral("VTS_01_2.VOB"));
    EXPECT_EQ(Form->CurrentPlayState(), TPlayState::Playing);

    // A file gone by the time it is chosen opens nothing and says nothing.
    Form->mnuVobList->aboutToShow();
    QFile::remove(DiscD + QStringLiteral("/VIDEO_TS/VTS_01_1.VOB"));
    Form->OpenVobItem(Form->mnuVobList->actions().value(0));
    EXPECT_EQ(Form->CurrentMoviePath(), vob);
}

// A drive without a disc is listed and searched (asking for a disc), and a disc inserted into it
// after start is found at the next search, while the drive the user chose stays chosen.
TEST_F(FramoraDisc, EmptyDriveAsksForADiscAndADiscInsertedLaterIsFound)
{
    const QByteArray noDisc = "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n";
    Devices = {"/dev/sr0", "/dev/sr1"};
    Recreate(noDisc);
    EXPECT_EQ(Captions(Form->mnuDrvList), (QStringList{"/dev/sr0", "/dev/sr1"}));
    ASSERT_TRUE(Form->btnSearchDisc->isEnabled());
    EXPECT_EQ(Search(), QStringList{NoVideoDisc});

    TPopupMenuScript driveChoice({"/dev/sr1"});
    Form->btnSelectDrive->click();
    WriteVobs(DiscD, {"VTS_01_1.VOB"});
    SetMountTableReader([noDisc, this] { return noDisc + MountLine(DiscD, "udf", "/dev/sr1"); });
    TMessageBoxScript boxes;
    TPopupMenuScript menus;
    Form->btnSearchDisc->click();
    EXPECT_TRUE(boxes.Texts().isEmpty());
    ASSERT_EQ(menus.Asked().size(), 1);
    EXPECT_EQ(menus.Asked()[0].Items, QStringList{"VTS_01_1.VOB"});
    EXPECT_EQ(Captions(Form->mnuDrvList), (QStringList{"/dev/sr0", DiscD}));
    EXPECT_FALSE(Form->mnuDrvList->actions()[0]->isChecked());

    // With no drive at start, one that appears later is found when the drive menu opens.
    Devices.clear();
    Recreate(noDisc);
    EXPECT_FALSE(Form->btnSearchDisc->isEnabled());
    Devices = {"/dev/sr0"};
    TPopupMenuScript none;
    Form->btnSelectDrive->click();
    EXPECT_EQ(Captions(Form->mnuDrvList), QStringList{"/dev/sr0"});
    EXPECT_TRUE(Form->btnSearchDisc->isEnabled());
}

} // namespace
