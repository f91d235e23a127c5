// Saving scenes: the name the save dialog proposes, one file per scene, and writing each file
// whole or not at all.
#include "capture/UFramora.h"
#include "capture/UFramoraPrivate.h"

#include "browser/FImageBrowser.h"
#include "framework/MessageBox.h"
#include "framework/TAction.h"
#include "framework/TOpenDialog.h"
#include "imagestore/UCustomImagePack.h"
#include "imagestore/UPictureEX.h"
#include "shell/Pathutil.h"
#include "shell/UNewCommDlg.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

namespace {

using capture_detail::PictureImage;

const QString SavedMessage = QStringLiteral("ファイルを保存しました");
const QString SaveFailedMessage = QStringLiteral("%1を保存できませんでした。");

const QString SaveStampPattern = QStringLiteral("yyyyMMddHHmmss_");
const QString DefaultSaveExtension = QStringLiteral(".bmp");
const QString SceneNumberFormat = QStringLiteral("%1");
constexpr int SceneNumberDigits = 3;
constexpr int JpegQuality = 95;
const QStringList JpegExtensions{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("jpe"),
                                 QStringLiteral("jfif")};

} // namespace

QString SaveStamp(const QDateTime& now)
{
    return now.toString(SaveStampPattern);
}

QString ProposedSaveName(const QString& lastFileName, const QDateTime& now)
{
    const QString folder = lastFileName.left(lastFileName.lastIndexOf(QLatin1Char('/')) + 1);
    return IncludeTrailingBackslash(folder) + SaveStamp(now) + DefaultSaveExtension;
}

QString SceneFileName(const QString& confirmedName, int p)
{
    // The extension is what follows the last '.' of the file-name part, dot included.
    const qsizetype nameStart = confirmedName.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = confirmedName.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot >= nameStart;
    const QString base = hasExtension ? confirmedName.left(dot) : confirmedName;
    const QString extension = hasExtension ? confirmedName.mid(dot) : QString();
    return base + SceneNumberFormat.arg(p + 1, SceneNumberDigits, 10, QLatin1Char('0')) +
           (extension.isEmpty() || extension == QStringLiteral(".") ? DefaultSaveExtension : extension);
}

bool SaveSceneFile(const QImage& picture, const QString& fileName, QString& error)
{
    const QString extension = QFileInfo(fileName).suffix().toLower();
    const QByteArray format = extension == QStringLiteral("png") ? QByteArrayLiteral("png")
                              : JpegExtensions.contains(extension) ? QByteArrayLiteral("jpeg")
                                                                   : QByteArrayLiteral("bmp");
    // QSaveFile writes beside the target and renames over it only once everything is written.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    QImageWriter writer(&file, format);
    if (format == "jpeg")
        writer.setQuality(JpegQuality);
    if (!writer.write(picture)) {
        error = writer.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

void TfrmFramora::actSaveImageUpdate(TAction* sender)
{
    sender->SetEnabled(SceneCount > 0);
}

void TfrmFramora::actSaveImageExecute(TAction*)
{
    SaveScenes();
}

void TfrmFramora::SaveScenes()
{
    const auto newDialogs = EnableNewCommDlg();
    SavePictureDialog1->FileName = ProposedSaveName(SavePictureDialog1->FileName, QDateTime::currentDateTime());
    if (!SavePictureDialog1->Execute())
        return;
    const std::int32_t k = Browser->SelectedIndex();
    bool everyScene = true;
    for (std::int32_t p = 0; p < SceneCount; ++p) {
        if (k >= 0 && !Browser->ListView1->ItemSelected(p)) {
            everyScene = false;
            continue;
        }
        // The files written so far stay; the scenes stay in the list whatever happens.
        if (!SaveScene(p))
            return;
    }
    if (everyScene)
        FScenesUnsaved = false;
    emit ScenesSaved(SavePictureDialog1->FileName);
    MessageBox(this, SavedMessage, Caption(), TMsgButtons::OK);
}

bool TfrmFramora::SaveScene(std::int32_t p)
{
    TPictureEx picture;
    CustomImagePack1->SafeGetImage(picture, p);
    const QString name = SceneFileName(SavePictureDialog1->FileName, p);
    QString error;
    if (SaveSceneFile(PictureImage(picture), name, error))
        return true;
    MessageBox(this, SaveFailedMessage.arg(QDir::toNativeSeparators(name)) + QLatin1Char('\n') + error, Caption(),
               TMsgButtons::OK, TMsgIcon::Error);
    return false;
}
