// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/FAbout.h"

#include "ui_FAbout.h"

#include "shell/Filever.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QSvgRenderer>
#include <QToolButton>
#include <QUrl>

const QString MakerURL = QStringLiteral("https://framora.example.org/");
const QString FFmpegURL = QStringLiteral("https://ffmpeg.org/");

namespace {

const QString AboutCaption = QStringLiteral("Framora");
const QString ApplicationName = QStringLiteral("Framora");
const QString CopyrightLine = QStringLiteral("Copyright (C) 2026 The Framora developers");
const QString FormFontName = QStringLiteral("ＭＳ Ｐゴシック");
constexpr int FormFontHeight = -12;
constexpr int ClientWidth = 387;
constexpr int ClientHeight = 180;
const QString DefaultVersionText = QStringLiteral("1.0.0.0");
const QString PictureResource = QStringLiteral(":/framora.svg");
const QString LinkColour = QStringLiteral("blue");

// A label that reads as a link (blue, underlined) and reports its clicks.
template <class Handler>
void MakeLink(QLabel* label, const QString& text, TfrmAbout* form, Handler handler)
{
    label->setTextFormat(Qt::RichText);
    label->setText(QStringLiteral("<a href=\"#\" style=\"color:%1; text-decoration:underline\">%2</a>")
                       .arg(LinkColour, text.toHtmlEscaped()));
    label->setOpenExternalLinks(false);
    label->setCursor(Qt::PointingHandCursor);
    QObject::connect(label, &QLabel::linkActivated, form, [form, handler] { (form->*handler)(); });
}

} // namespace

QPixmap ApplicationPicture(int size)
{
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QSvgRenderer renderer(PictureResource);
    QPainter painter(&picture);
    renderer.render(&painter);
    return picture;
}

QString ProductVersionText(const QString& programFile)
{
    TFileVer fileVer(programFile);
    TProductVersion version;
    if (!fileVer.GetProductVersion(version))
        return DefaultVersionText;
    return QStringLiteral("%1.%2").arg(version.Major).arg(version.Minor) +
           QStringLiteral(".%1.%2").arg(version.Release).arg(version.Build);
}

void OpenURL(QWidget*, const QString& address)
{
    QDesktopServices::openUrl(QUrl(address));
}

TfrmAbout::TfrmAbout(QWidget* owner) : TForm(owner), ui(std::make_unique<Ui::TfrmAbout>())
{
    ui->setupUi(this);
    gpVersion = ui->gpVersion;
    txtAppName = ui->txtAppName;
    txtCopyright = ui->txtCopyright;
    SpeedButton1 = ui->SpeedButton1;
    lblFFMpeg = ui->lblFFMpeg;
    urlFFMpeg = ui->urlFFMpeg;
    lblLGPL = ui->lblLGPL;
    lblLicence = ui->lblLicence;
    btnOk = ui->btnOk;

    SetCaption(AboutCaption);
    setFont(FormFont(FormFontName, FormFontHeight));
    // A dialog frame with no title-bar buttons, above every other window.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    SetPosition(TPosition::poScreenCenter);
    SetDefaultButton(btnOk);
    SetCancelButton(btnOk);

    MakeLink(txtAppName, ApplicationName, this, &TfrmAbout::txtAppNameClick);
    MakeLink(txtCopyright, CopyrightLine, this, &TfrmAbout::txtAppNameClick);
    MakeLink(urlFFMpeg, FFmpegURL, this, &TfrmAbout::urlFFMpegClick);
    SpeedButton1->setIcon(ApplicationPicture());
    connect(SpeedButton1, &QToolButton::clicked, this, &TfrmAbout::txtAppNameClick);
    btnOk->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    connect(btnOk, &QPushButton::clicked, this, [this] { SetModalResult(mrOk); });
    FormCreate();
    // The design size at least, and as large as the texts need in the language and at the scale
    // the box is shown in: a fixed design size cut them on the right.
    setFixedSize(sizeHint().expandedTo(QSize(ClientWidth, ClientHeight)));
}

TfrmAbout::~TfrmAbout() = default;

void TfrmAbout::FormCreate()
{
    gpVersion->setTitle(ProductVersionText(QCoreApplication::applicationFilePath()));
}

void TfrmAbout::txtAppNameClick()
{
    OpenURL(this, MakerURL);
}

void TfrmAbout::urlFFMpegClick()
{
    OpenURL(this, FFmpegURL);
}
