// SPDX-License-Identifier: GPL-3.0-or-later
// The version record read back from program files (the real program, a file made here with a
// known record, files without one or with a damaged one) and the About box's links and picture.
#include "shell/FAbout.h"
#include "support/UrlCatcher.h"
#include "shell/Filever.h"
#include "shell/ULanguage.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

#include <elf.h>

#include <cstring>

namespace {

// A minimal 64-bit ELF file: a section-name table, one section named sectionName holding
// contents, and the section headers at the end.
QByteArray ElfWithSection(const char* sectionName, const QByteArray& contents)
{
    const QByteArray names = QByteArray(1, '\0') + ".shstrtab" + QByteArray(1, '\0') + sectionName + QByteArray(1, '\0');
    Elf64_Ehdr ehdr{};
    std::memcpy(ehdr.e_ident, ELFMAG, SELFMAG);
    ehdr.e_ident[EI_CLASS] = ELFCLASS64;
    ehdr.e_ident[EI_DATA] = ELFDATA2LSB;
    ehdr.e_ident[EI_VERSION] = EV_CURRENT;
    ehdr.e_type = ET_EXEC;
    ehdr.e_ehsize = sizeof ehdr;
    ehdr.e_shentsize = sizeof(Elf64_Shdr);
    ehdr.e_shnum = 3;
    ehdr.e_shstrndx = 1;
    const std::uint64_t namesAt = sizeof ehdr;
    const std::uint64_t contentsAt = namesAt + names.size();
    ehdr.e_shoff = contentsAt + contents.size();
    Elf64_Shdr sections[3]{};
    sections[1] = {1, SHT_STRTAB, 0, 0, namesAt, static_cast<std::uint64_t>(names.size()), 0, 0, 1, 0};
    sections[2] = {11, SHT_PROGBITS, SHF_ALLOC, 0, contentsAt, static_cast<std::uint64_t>(contents.size()), 0, 0, 4, 0};
    return QByteArray(reinterpret_cast<const char*>(&ehdr), sizeof ehdr) + names + contents +
           QByteArray(reinterpret_cast<const char*>(sections), sizeof sections);
}

QByteArray RecordBytes(const TFixedFileInfo& info)
{
    return QByteArray(reinterpret_cast<const char*>(&info), sizeof info);
}

class VersionFiles : public ::testing::Test {
protected:
    QString Write(const QString& name, const QByteArray& bytes)
    {
        const QString path = Dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    QTemporaryDir Dir;
};

TEST_F(VersionFiles, TheProgramCarriesTheProjectVersion)
{
    QString expected = QStringLiteral(FRAMORA_PROJECT_VERSION);
    while (expected.count(QLatin1Char('.')) < 3)
        expected += QStringLiteral(".0");
    EXPECT_EQ(ProductVersionText(QStringLiteral(FRAMORA_BINARY_DIR "/framora")), expected);
}

TEST_F(VersionFiles, ProductVersionComesFromTheRecordWithoutLeadingZeros)
{
    const QString file = Write("v", ElfWithSection(VersionSectionName, RecordBytes(MakeFixedFileInfo(2, 1, 3, 40))));
    EXPECT_EQ(ProductVersionText(file), QStringLiteral("2.1.3.40"));

    TFileVer fileVer(file);
    TProductVersion version;
    ASSERT_TRUE(fileVer.GetProductVersion(version));
    EXPECT_EQ(version.Major, 2);
    EXPECT_EQ(version.Build, 40);
    // A new name forgets what was loaded.
    fileVer.SetFileName(Dir.filePath("missing"));
    EXPECT_EQ(fileVer.FixedFileInfo(), nullptr);
}

TEST_F(VersionFiles, FilesWithoutASoundRecordShowTheDefault)
{
    const QByteArray good = ElfWithSection(VersionSectionName, RecordBytes(MakeFixedFileInfo(2, 1, 3, 40)));
    QByteArray lyingOffset = good;
    reinterpret_cast<Elf64_Ehdr*>(lyingOffset.data())->e_shoff = 0x7FFFFFFFFFFFull;
    QByteArray badSignature = RecordBytes(MakeFixedFileInfo(2, 1, 3, 40));
    badSignature[0] = 0;
    const QStringList files{
        Write("text", "not a program"),
        Write("other-section", ElfWithSection(".data", RecordBytes(MakeFixedFileInfo(2, 1, 3, 40)))),
        Write("short-record", ElfWithSection(VersionSectionName, "\xBD\x04\xEF\xFE")),
        Write("bad-signature", ElfWithSection(VersionSectionName, badSignature)),
        Write("lying-offset", lyingOffset),
        Write("truncated", good.left(good.size() - 10)),
        Dir.filePath("missing"),
        QCoreApplication::applicationFilePath(), // a program built without a record
    };
    for (const QString& file : files) {
        EXPECT_EQ(ProductVersionText(file), QStringLiteral("1.0.0.0")) << file.toStdString();
        TFileVer fileVer(file);
        TProductVersion untouched{9, 9, 9, 9};
        EXPECT_FALSE(fileVer.GetProductVersion(untouched));
        EXPECT_EQ(untouched.Major, 9);
    }
}

TEST(AboutBox, LinksOpenTheirPagesAndOkCloses)
{
    TUrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");
    {
        TfrmAbout about;
        EXPECT_EQ(about.gpVersion->title(), QStringLiteral("1.0.0.0")); // the test program has no record
        EXPECT_EQ(about.SpeedButton1->icon().pixmap(48, 48).toImage().pixelColor(24, 24).alpha(), 255);
        about.txtAppName->linkActivated(QStringLiteral("#"));
        about.txtCopyright->linkActivated(QStringLiteral("#"));
        about.SpeedButton1->click();
        about.urlFFMpeg->linkActivated(QStringLiteral("#"));
        EXPECT_EQ(catcher.Opened, (QList<QUrl>{QUrl(MakerURL), QUrl(MakerURL), QUrl(MakerURL), QUrl(FFmpegURL)}));

        QMetaObject::invokeMethod(about.btnOk, &QPushButton::click, Qt::QueuedConnection);
        EXPECT_EQ(about.ShowModal(), mrOk);
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

// Nothing is cut: every text gets the width it asks for, in either language (and so at any
// scale, which only changes what the texts ask for).
TEST(AboutBox, EveryTextFitsInEitherLanguage)
{
    for (const TUiLanguage language : {TUiLanguage::Japanese, TUiLanguage::English}) {
        const TUiTranslation translation(language);
        TfrmAbout about;
        about.show();
        QCoreApplication::processEvents();
        for (const QLabel* label : about.findChildren<QLabel*>()) {
            EXPECT_GE(label->width(), label->sizeHint().width())
                << label->objectName().toStdString() << " " << label->text().toStdString();
            EXPECT_GE(label->height(), label->sizeHint().height()) << label->objectName().toStdString();
            EXPECT_LE(label->geometry().right(), about.gpVersion->contentsRect().right()) << label->objectName().toStdString();
        }
        EXPECT_GE(about.btnOk->width(), about.btnOk->sizeHint().width());
        EXPECT_GE(about.width(), 387);
        // The group box keeps a margin of the window: its title is not in the window's corner.
        EXPECT_GT(about.gpVersion->x(), 0);
        EXPECT_GT(about.gpVersion->y(), 0);
        about.close();
    }
}

} // namespace

// The box names the licence the program is given under, whatever language it speaks.
TEST(AboutBox, NamesTheLicenceInEitherLanguage)
{
    for (const TUiLanguage language : {TUiLanguage::Japanese, TUiLanguage::English}) {
        const TUiTranslation translation(language);
        TfrmAbout about;
        EXPECT_TRUE(about.lblLicence->text().contains(QStringLiteral("GPL-3.0-or-later")));
        EXPECT_TRUE(about.lblLicence->text().contains(QStringLiteral("GNU General Public License")));
        EXPECT_EQ(about.lblLicence->text().startsWith(QStringLiteral("Free")), language == TUiLanguage::English);
    }
}
