// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The About box: the application's name, the maker's copyright line, the product version read
// from the program file's version record, and the FFmpeg notices, with links to the maker's and
// the FFmpeg project's web pages.
#include "framework/TForm.h"

#include <QPixmap>
#include <QString>

#include <memory>

class QGroupBox;
class QLabel;
class QPushButton;
class QToolButton;
class QUrl;

namespace Ui {
class TfrmAbout;
}

inline constexpr int ApplicationPictureSize = 48;

// The application's picture at size x size pixels (transparent where it is not drawn).
QPixmap ApplicationPicture(int size = ApplicationPictureSize);

// The version text of a program file: "major.minor.release.build" from its version record,
// "1.0.0.0" when it has none.
QString ProductVersionText(const QString& programFile);

// Opens an address with the desktop's handler for web pages; the result is not checked.
void OpenURL(QWidget* owner, const QString& address);

extern const QString MakerURL;
extern const QString FFmpegURL;

class TfrmAbout : public TForm {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* owner = nullptr);
    ~TfrmAbout() override;

    QGroupBox* gpVersion;
    QLabel* txtAppName;
    QLabel* txtCopyright;
    QToolButton* SpeedButton1;
    QLabel* lblFFMpeg;
    QLabel* urlFFMpeg;
    QLabel* lblLGPL;
    QLabel* lblLicence;
    QPushButton* btnOk;

    void FormCreate();
    void txtAppNameClick();
    void urlFFMpegClick();

private:
    std::unique_ptr<Ui::TfrmAbout> ui;
};
