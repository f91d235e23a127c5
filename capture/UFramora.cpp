// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/UFramora.h"

#include "ui_UFramora.h"

#include "capture/UFramoraPrivate.h"
#include "capture/USeekBarPictures.h"

#include "browser/FImageBrowser.h"
#include "decoder/UMovieDecoder.h"
#include "framework/TickCount.h"
#include "framework/MessageBox.h"
#include "framework/TAction.h"
#include "framework/TBitmap.h"
#include "framework/TOpenDialog.h"
#include "framework/TPaintBox.h"
#include "framework/TrackBarStyle.h"
#include "imagestore/UCustomImagePack.h"
#include "imagestore/UPictureEX.h"
#include "shell/UExecuteCheck.h"
#include "shell/UNewCommDlg.h"

#include <QActionGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <string>

namespace {

using capture_detail::SceneCacheLimit;

const QString FormCaption = QStringLiteral("Framora");
const QString FormFontName = QStringLiteral("ＭＳ Ｐゴシック");
constexpr int FormFontHeight = -12;
constexpr int DesignClientWidth = 792;
constexpr int DesignClientHeight = 554;
// The window's outer size at design: the design client inside its frame, caption and menu.
constexpr int DesignWindowWidth = 800;
constexpr int DesignWindowHeight = 600;
constexpr int MinimumWindowWidth = 800;
constexpr int MinimumWindowHeight = 600;
constexpr int StatusBarHeight = 19;
constexpr int FormHelpContext = 6007;

constexpr int PlaybackTickMs = 97;
// How often a capture waiting for the subtitle index looks again.
constexpr int PictureUsePollMs = 50;
constexpr int InitialStepUnitIndex = 3; // "10秒"
const QString PictureSizeFormat = QStringLiteral("%1 x %2");
const char* const OpenFailedMessage = QT_TRANSLATE_NOOP("TfrmFramora", "動画シーンの取得ができませんでした。");
// The second line of OpenFailedMessage: the file and what the movie libraries said of it.
const QString OpenFailedReason = QStringLiteral("%1: %2");
const char* const FolderNotMovieMessage = QT_TRANSLATE_NOOP("TfrmFramora", "%1 はフォルダーです。動画ファイルを指定してください。");

const char* const OpenDialogTitle = QT_TRANSLATE_NOOP("TfrmFramora", "動画ファイルの選択");
const char* const OpenDialogFilter = QT_TRANSLATE_NOOP("TfrmFramora",
    "動画ファイル|*.avi;*.wmv;*.asf;*.m1v;*.m2v;*.mp4;*.m4v;*.mp4v;*.mov;*.mpg;*.mpeg;*.3gp;*.3g2;*.rm;*.rmvb;*.flv;*.vob;*.dv"
    ";*.mkv;*.webm;*.ts;*.m2ts;*.mts;*.ogv;*.ogg"
    "|AVI形式(.avi)|*.avi"
    "|WMV形式(.wmv;.asf)|*.wmv;*.asf"
    "|MPEG形式(.m1v;.m2v;.mp4;.m4v;.mp4v;.mov;.mpg;.mpeg;.3gp;.3g2)|*.m1v;*.m2v;*.mp4;*.m4v;*.mp4v;*.mov;*.mpg;*.mpeg;*.3gp;*.3g2"
    "|RM形式(.rm;.rmvb)|*.rm;*.rmvb"
    "|FLV形式(.flv)|*.flv"
    "|VOB形式(.vob)|*.vob"
    "|Digital Video形式(.dv)|*.dv"
    "|すべての形式(*.*)|*.*");

const char* const SaveDialogTitle = QT_TRANSLATE_NOOP("TfrmFramora", "キャプチャイメージの保存");
// Every format saving writes, the Part's bitmap first; all files last, as dialogs list them.
const char* const SaveDialogFilter = QT_TRANSLATE_NOOP("TfrmFramora", "ビットマップ (*.bmp)|*.bmp|PNG (*.png)|*.png|"
                                                "JPEG (*.jpg)|*.jpg;*.jpeg|WebP (*.webp)|*.webp|TIFF (*.tif)|*.tif;*.tiff|"
                                                "すべてのファイル(*.*)|*.*");

struct TCommandText {
    const char* Name;
    const char* Caption;
    const char* Hint;
};
// Order of ActionList1, which is also the order of the idle updates.
constexpr TCommandText CommandTexts[] = {
    {"actCapture", QT_TRANSLATE_NOOP("TfrmFramora", "キャプチャの追加⇒"), QT_TRANSLATE_NOOP("TfrmFramora", "シーンリストの最後にキャプチャ画像を追加します。")},
    {"actDelete1", QT_TRANSLATE_NOOP("TfrmFramora", "1つ削除"), QT_TRANSLATE_NOOP("TfrmFramora", "選択しているキャプチャ画像を1つ削除します")},
    {"actDeleteAll", QT_TRANSLATE_NOOP("TfrmFramora", "全部削除"), QT_TRANSLATE_NOOP("TfrmFramora", "キャプチャ画像をすべて削除します")},
    {"actPlay", QT_TRANSLATE_NOOP("TfrmFramora", "再生"), QT_TRANSLATE_NOOP("TfrmFramora", "動画の再生を開始します")},
    {"actPause", QT_TRANSLATE_NOOP("TfrmFramora", "一時停止"), QT_TRANSLATE_NOOP("TfrmFramora", "動画を一時停止します")},
    {"actRewind", QT_TRANSLATE_NOOP("TfrmFramora", "先頭へ"), QT_TRANSLATE_NOOP("TfrmFramora", "動画の先頭へ戻ります")},
    {"actStepNext", "", QT_TRANSLATE_NOOP("TfrmFramora", "次のコマへ")},
    {"actStepPrev", "", QT_TRANSLATE_NOOP("TfrmFramora", "前のコマへ")},
    {"actFrameNext", "", QT_TRANSLATE_NOOP("TfrmFramora", "1フレーム進みます")},
    {"actFramePrev", "", QT_TRANSLATE_NOOP("TfrmFramora", "1フレーム戻ります")},
    {"actSaveImage", QT_TRANSLATE_NOOP("TfrmFramora", "保存"), ""},
    {"actCaptureSharpest", QT_TRANSLATE_NOOP("TfrmFramora", "ベストショットをキャプチャ"),
     QT_TRANSLATE_NOOP("TfrmFramora", "表示中の画像の前後から、同じシーンで最もシャープな画像をシーンリストに追加します。")},
};

// The file-name part of a path: what follows the last delimiter.
QString FileNamePart(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

std::string LocalPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

} // namespace

TfrmFramora::TfrmFramora(QWidget* owner) : TForm(owner), ui(std::make_unique<Ui::TfrmFramora>())
{
    ui->setupUi(this);
    BindComponents();
    CreateCommands();
    SetWindowProperties();
    ConnectHandlers();
    FormCreate();
}

TfrmFramora::~TfrmFramora()
{
    FormDestroy();
}

void TfrmFramora::BindComponents()
{
    BindSettingControls();
    BindPlaybackControls();
    BindSceneControls();
    BindMenu();
    CreateDialogs();
    CreateNonVisualComponents();
}

void TfrmFramora::BindSettingControls()
{
    StatusBar1 = ui->StatusBar1;
    ShadowPanel1 = ui->ShadowPanel1;
    gbSetting = ui->gbSetting;
    Label2 = ui->Label2;
    edFileName = ui->edFileName;
    btnSelectFile = ui->btnSelectFile;
    btnSearchDisc = ui->btnSearchDisc;
    btnSelectDrive = ui->btnSelectDrive;
    btnSelectVob = ui->btnSelectVob;
    GroupBox1 = ui->GroupBox1;
    Label3 = ui->Label3;
    lblPicSize = ui->lblPicSize;
}

void TfrmFramora::BindPlaybackControls()
{
    Panel1 = ui->Panel1;
    PaintBox1 = ui->PaintBox1;
    btnStepPrev = ui->btnStepPrev;
    TrackBar1 = ui->TrackBar1;
    SetClickToPosition(*TrackBar1);
    btnStepNext = ui->btnStepNext;
    cmbStepUnit = ui->cmbStepUnit;
    lblCurPos = ui->lblCurPos;
    lblStopPos = ui->lblStopPos;
    btnPlay = ui->btnPlay;
    btnPause = ui->btnPause;
    btnRewind = ui->btnRewind;
    btnFramePrev = ui->btnFramePrev;
    btnFrameNext = ui->btnFrameNext;
    btnCapture = ui->btnCapture;
}

void TfrmFramora::BindSceneControls()
{
    gbSelectedFrame = ui->gbSelectedFrame;
    Label5 = ui->Label5;
    lblPicNum = ui->lblPicNum;
    FormPanel1 = ui->FormPanel1;
    btnDeleteAll = ui->btnDeleteAll;
    btnDelete = ui->btnDelete;
    btnSaveImage = ui->btnSaveImage;
    btnOK = ui->btnOK;
    btnCancel = ui->btnCancel;
    pnlHelp = ui->pnlHelp;
    btnHelp = ui->btnHelp;
}

void TfrmFramora::BindMenu()
{
    MainMenu1 = ui->MainMenu1;
    File1 = ui->File1;
    AboutA1 = ui->AboutA1;
    Exit1 = ui->Exit1;
    Setting1 = ui->Setting1;
    SaveDisplaySize1 = ui->SaveDisplaySize1;
    PositionInFileName1 = ui->PositionInFileName1;
    ExactPosition1 = ui->ExactPosition1;
    AutoCapture1 = ui->AutoCapture1;
    CaptureScenes1 = ui->CaptureScenes1;
    CaptureEvery1 = ui->CaptureEvery1;
    Deinterlace1 = ui->Deinterlace1;
    DeinterlaceAuto1 = ui->DeinterlaceAuto1;
    DeinterlaceAlways1 = ui->DeinterlaceAlways1;
    DeinterlaceNever1 = ui->DeinterlaceNever1;
    ToneMapping1 = ui->ToneMapping1;
    Subtitles1 = ui->Subtitles1;
    SubtitlesNone1 = ui->SubtitlesNone1;
    auto* deinterlaceGroup = new QActionGroup(this);
    deinterlaceGroup->setExclusive(true);
    for (QAction* item : {DeinterlaceAuto1, DeinterlaceAlways1, DeinterlaceNever1})
        deinterlaceGroup->addAction(item);
}

void TfrmFramora::CreateDialogs()
{
    OpenDialog1 = new TOpenDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->Title = tr(OpenDialogTitle);
    OpenDialog1->Filter = tr(OpenDialogFilter);
    OpenDialog1->FilterIndex = 1;
    OpenDialog1->Options = TOpenOptions(TOpenOption::ofHideReadOnly) | TOpenOption::ofPathMustExist |
                           TOpenOption::ofFileMustExist | TOpenOption::ofEnableSizing;

    SavePictureDialog1 = new TSaveDialog(this);
    SavePictureDialog1->setObjectName(QStringLiteral("SavePictureDialog1"));
    SavePictureDialog1->Title = tr(SaveDialogTitle);
    SavePictureDialog1->Filter = tr(SaveDialogFilter);
}

void TfrmFramora::CreateNonVisualComponents()
{
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(PlaybackTickMs);

    CustomImagePack1 = new TCustomImagePack(this);
    CustomImagePack1->setObjectName(QStringLiteral("CustomImagePack1"));
    CustomImagePack1->SetCacheLimit(SceneCacheLimit);
    cipOrg = new TCustomImagePack(this);
    cipOrg->setObjectName(QStringLiteral("cipOrg"));
    cipOrg->SetCacheLimit(SceneCacheLimit);

    mnuDrvList = new QMenu(this);
    mnuDrvList->setObjectName(QStringLiteral("mnuDrvList"));
    DriveGroup = new QActionGroup(this);
    DriveGroup->setExclusive(true);
    mnuVobList = new QMenu(this);
    mnuVobList->setObjectName(QStringLiteral("mnuVobList"));
}

void TfrmFramora::CreateCommands()
{
    ActionList1 = new TActionList(this);
    ActionList1->setObjectName(QStringLiteral("ActionList1"));
    for (const TCommandText& text : CommandTexts)
        new TAction(ActionList1, QString::fromUtf8(text.Name), tr(text.Caption),
                    tr(text.Hint));
    actCapture = ActionList1->Find(QStringLiteral("actCapture"));
    actDelete1 = ActionList1->Find(QStringLiteral("actDelete1"));
    actDeleteAll = ActionList1->Find(QStringLiteral("actDeleteAll"));
    actPlay = ActionList1->Find(QStringLiteral("actPlay"));
    actPause = ActionList1->Find(QStringLiteral("actPause"));
    actRewind = ActionList1->Find(QStringLiteral("actRewind"));
    actStepNext = ActionList1->Find(QStringLiteral("actStepNext"));
    actStepPrev = ActionList1->Find(QStringLiteral("actStepPrev"));
    actFrameNext = ActionList1->Find(QStringLiteral("actFrameNext"));
    actFramePrev = ActionList1->Find(QStringLiteral("actFramePrev"));
    actSaveImage = ActionList1->Find(QStringLiteral("actSaveImage"));
    CreateSharpestCommand();

    BindAction(btnCapture, actCapture);
    BindAction(btnDelete, actDelete1);
    BindAction(btnDeleteAll, actDeleteAll);
    BindAction(btnPlay, actPlay);
    BindAction(btnPause, actPause);
    BindAction(btnRewind, actRewind);
    BindAction(btnStepNext, actStepNext);
    BindAction(btnStepPrev, actStepPrev);
    BindAction(btnFrameNext, actFrameNext);
    BindAction(btnFramePrev, actFramePrev);
    BindAction(btnSaveImage, actSaveImage);

    // Pictures of the speed buttons: the style's own media and file symbols.
    const QStyle* look = style();
    btnPlay->setIcon(look->standardIcon(QStyle::SP_MediaPlay));
    btnPause->setIcon(look->standardIcon(QStyle::SP_MediaPause));
    btnRewind->setIcon(look->standardIcon(QStyle::SP_MediaSkipBackward));
    btnStepNext->setIcon(look->standardIcon(QStyle::SP_MediaSeekForward));
    btnStepPrev->setIcon(look->standardIcon(QStyle::SP_MediaSeekBackward));
    btnFrameNext->setIcon(look->standardIcon(QStyle::SP_ArrowRight));
    btnFramePrev->setIcon(look->standardIcon(QStyle::SP_ArrowLeft));
    btnCapture->setIcon(look->standardIcon(QStyle::SP_DialogSaveButton));
    btnSelectFile->setIcon(look->standardIcon(QStyle::SP_DialogOpenButton));
    btnSearchDisc->setIcon(look->standardIcon(QStyle::SP_DriveDVDIcon));
    btnSelectDrive->setArrowType(Qt::DownArrow);
    btnSelectVob->setArrowType(Qt::DownArrow);
    btnSelectFile->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    btnSearchDisc->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
}

void TfrmFramora::SetWindowProperties()
{
    SetCaption(FormCaption);
    setFont(FormFont(FormFontName, FormFontHeight));
    SetHelpContext(FormHelpContext);
    SetPosition(TPosition::poScreenCenter);
    SetDefaultButton(btnOK);
    SetCancelButton(btnCancel);
    StatusBar1->setFixedHeight(StatusBarHeight);

    // The preview is a black panel; the paint box on it draws only the fitted picture.
    QPalette black = Panel1->palette();
    black.setColor(QPalette::Window, Qt::black);
    Panel1->setPalette(black);
    Panel1->setAutoFillBackground(true);
    QPalette face = edFileName->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    edFileName->setPalette(face);

    // Anchors take the design geometry of the .ui, so they are set before the window first
    // changes size; the central area is the design client less the status line.
    AnchorChildren(centralWidget(), QSize(DesignClientWidth, DesignClientHeight - StatusBarHeight));
    SetClientSize(DesignClientWidth, DesignClientHeight);
    // The minimum is an outer size; Qt applies a minimum to the inside, so the design frame's
    // share comes off and the window can be exactly as small as its design.
    SetClientMinimumSize(MinimumWindowWidth - (DesignWindowWidth - DesignClientWidth),
                         MinimumWindowHeight - (DesignWindowHeight - DesignClientHeight));
}

void TfrmFramora::ConnectHandlers()
{
    OnClose = [this](QObject*, TCloseAction&) { FormClose(); };
    OnCloseQuery = [this](QObject*, bool& canClose) { FormCloseQuery(canClose); };
    OnHelp = [this](std::uint16_t command, std::int32_t data, bool& callHelp) {
        return FormHelp(command, data, callHelp);
    };
    connect(btnOK, &QPushButton::clicked, this, &TfrmFramora::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmFramora::btnCancelClick);
    connect(btnHelp, &QToolButton::clicked, this, &TfrmFramora::btnHelpClick);
    connect(AboutA1, &QAction::triggered, this, &TfrmFramora::AboutA1Click);
    connect(Exit1, &QAction::triggered, this, &TfrmFramora::Exit1Click);
    connect(btnSelectFile, &QToolButton::clicked, this, &TfrmFramora::btnSelectFileClick);
    connect(btnSearchDisc, &QToolButton::clicked, this, &TfrmFramora::btnSearchDiscClick);
    connect(btnSelectDrive, &QToolButton::clicked, this, &TfrmFramora::btnSelectDriveClick);
    connect(btnSelectVob, &QToolButton::clicked, this, &TfrmFramora::btnSelectVobClick);
    connect(mnuVobList, &QMenu::aboutToShow, this, &TfrmFramora::mnuVobListPopup);
    connect(mnuDrvList, &QMenu::aboutToShow, this, &TfrmFramora::FillDriveMenu);
    PaintBox1->OnPaint = [this](QPainter& canvas) {
        PaintBox1Paint(canvas);
        PaintSubtitles(canvas);
    };
    connect(TrackBar1, &QSlider::valueChanged, this, &TfrmFramora::TrackBar1Change);
    // A drag shows the key frames near the pointer; where it ends, the exact picture follows.
    connect(TrackBar1, &QSlider::sliderReleased, this, [this] {
        if (PlayState == TPlayState::Paused && ExactPosition1->isChecked())
            ShowFrameAtPosition();
    });
    connect(Timer2, &QTimer::timeout, this, &TfrmFramora::Timer2Timer);
    connect(CaptureScenes1, &QAction::triggered, this, &TfrmFramora::CaptureScenes1Click);
    connect(CaptureEvery1, &QAction::triggered, this, &TfrmFramora::CaptureEvery1Click);
    connect(AutoCapture1, &QMenu::aboutToShow, this, &TfrmFramora::AutoCapture1Popup);
    // A picture setting changes what the paused picture looks like: it is made again at once.
    // During playback the next tick brings it.
    const auto remakePicture = [this] {
        if (PlayState != TPlayState::Playing)
            ShowFrameAtPosition();
    };
    for (QAction* item : {DeinterlaceAuto1, DeinterlaceAlways1, DeinterlaceNever1})
        connect(item, &QAction::toggled, this, [remakePicture](bool on) {
            if (on) // the item left unchecked says nothing new
                remakePicture();
        });
    connect(ToneMapping1, &QAction::toggled, this, remakePicture);

    const auto bind = [this](TAction* action, void (TfrmFramora::*execute)(TAction*),
                             void (TfrmFramora::*update)(TAction*)) {
        if (execute)
            action->OnExecute = [this, execute](TAction* sender) { (this->*execute)(sender); };
        if (update)
            action->OnUpdate = [this, update](TAction* sender) { (this->*update)(sender); };
    };
    bind(actPlay, &TfrmFramora::actPlayExecute, &TfrmFramora::actPlayUpdate);
    bind(actPause, &TfrmFramora::actPauseExecute, &TfrmFramora::actPauseUpdate);
    bind(actRewind, &TfrmFramora::actRewindExecute, &TfrmFramora::actRewindUpdate);
    bind(actStepNext, &TfrmFramora::actStepNextExecute, &TfrmFramora::actStepNextUpdate);
    bind(actStepPrev, &TfrmFramora::actStepPrevExecute, &TfrmFramora::actStepPrevUpdate);
    bind(actFrameNext, &TfrmFramora::actFrameNextExecute, &TfrmFramora::actFrameStepUpdate);
    bind(actFramePrev, &TfrmFramora::actFramePrevExecute, &TfrmFramora::actFrameStepUpdate);
    bind(actCapture, &TfrmFramora::actCaptureExecute, &TfrmFramora::actCaptureUpdate);
    bind(actCaptureSharpest, &TfrmFramora::actCaptureSharpestExecute, &TfrmFramora::actCaptureSharpestUpdate);
    bind(actDelete1, &TfrmFramora::actDelete1Execute, &TfrmFramora::actDelete1Update);
    bind(actDeleteAll, &TfrmFramora::actDeleteAllExecute, &TfrmFramora::actDeleteAllUpdate);
    bind(actSaveImage, &TfrmFramora::actSaveImageExecute, &TfrmFramora::actSaveImageUpdate);
    cipOrg->OnGetCount = [this](TObject* sender, std::int32_t& count) { cipOrgGetCount(sender, count); };
    CustomImagePack1->OnGetCount = [this](TObject* sender, std::int32_t& count) {
        CustomImagePack1GetCount(sender, count);
    };
    CustomImagePack1->OnGetImage = [this](TObject* sender, TPictureEx& picture, std::int32_t no) {
        CustomImagePack1GetImage(sender, picture, no);
    };
    CustomImagePack1->OnChange = [this](TObject* sender) { CustomImagePack1Change(sender); };
}

void TfrmFramora::FormCreate()
{
    FStartedWithParameters = QCoreApplication::arguments().size() > 1;
    // The scene browser.
    CreateSceneBrowser();
    // Empty texts.
    MoviePath.clear();
    edFileName->clear();
    lblPicSize->clear();
    lblCurPos->clear();
    lblStopPos->clear();
    lblPicNum->setText(QStringLiteral("0"));
    // The frame bitmap.
    FrameBitmap = std::make_unique<TBitmap>();
    FramePreview.reset();
    FrameSize = QSize();
    FrameShown = false;
    SceneCount = 0;
    // The drive menu.
    FillDriveMenu();
    // The step unit.
    cmbStepUnit->setCurrentIndex(InitialStepUnitIndex);
    // The decoder, on a thread of its own; its answers come to this thread.
    Decoding = std::make_unique<TDecodingThread>(std::make_unique<TMovieDecoder>(),
                                                 [this](std::shared_ptr<TDecodingAnswer> answer) {
                                                     QMetaObject::invokeMethod(
                                                         this, [this, answer] { TakeAnswer(answer); },
                                                         Qt::QueuedConnection);
                                                 });
    PictureUseTimer = new QTimer(this);
    PictureUseTimer->setInterval(PictureUsePollMs);
    connect(PictureUseTimer, &QTimer::timeout, this, &TfrmFramora::FinishPictureUses);
    CreateSubtitleMenu();
    CreateMomentParts();
    // The play origin.
    PlayOrigin = GetTickCount();
    // Qt paints every widget through a backing store, so the preview is double-buffered as long
    // as nothing asks it to paint on screen.
    Panel1->setAttribute(Qt::WA_PaintOnScreen, false);
    // One instance at a time.
    if (IsAlreadyRunning(FramoraGuardName)) {
        MessageBox(this, QCoreApplication::translate(AlreadyRunningContext, AlreadyRunningMessage), Caption(), TMsgButtons::OK);
        // The guard holds whatever the user answers: a second start that asked whether to end
        // could be talked into a second window.
        FSecondInstance = true;
        FClosedDuringCreate = close();
    }
}

void TfrmFramora::FormClose()
{
    Timer2->stop();
    // A save in progress ends between files before the window goes.
    StopSave();
}

void TfrmFramora::FormDestroy()
{
    // First: what it is doing stops at its next packet, and nothing it answers is taken after.
    Decoding.reset();
    BarPictures.reset();
    StopAutoCapture();
    StopSave();
    Timer2->stop();
    FrameBitmap.reset();
    FramePreview.reset();
    FrameSize = QSize();
    Browser.reset();
    Subtitles.reset();
}

void TfrmFramora::OpenMovie(const QString& Path)
{
    StopAutoCapture();
    Timer2->stop();
    TimerBusy = false;
    const QFileInfo file(Path);
    if (file.isDir()) {
        // A folder named on the command line (or dropped) would otherwise leave an empty window
        // without a word.
        MessageBox(this, tr(FolderNotMovieMessage).arg(QDir::toNativeSeparators(Path)), Caption(), TMsgButtons::OK);
    } else if (file.exists()) {
        PlayState = TPlayState::Paused;
        FrameShown = false;
        TrackBar1->setEnabled(false);
        Movie = {};
        OpenBarPictures();
        RefreshMomentStatus();
        TDecodingRequest request;
        request.Kind = TDecodingKind::Open;
        request.FileName = LocalPath(Path);
        OpeningPath = Path;
        OpeningSerial = Post(std::move(request));
        return;
    }
    edFileName->setText(FileNamePart(MoviePath));
}

void TfrmFramora::MovieOpenAnswered(const TDecodingAnswer& answer)
{
    if (answer.Serial != OpeningSerial)
        return;
    OpeningSerial = 0;
    const QString path = OpeningPath;
    if (answer.Outcome == TDecodingAnswer::TOutcome::Shown) {
        Movie = answer.Facts;
        FrameDisplay = answer.Display;
        TrackBar1->setValue(0);
        TrackBar1->setMinimum(0);
        // A length the container does not know counts as 0: the bar's range never goes below 0.
        TrackBar1->setMaximum(std::max(0, Movie.Duration));
        ShowPictureTime(0, false);
        lblStopPos->setText(FormatPlayTime(TrackBar1->maximum()));
        PlayState = TPlayState::Playing;
        LastShownPos = -1;
        MoviePath = path;
        Timer2->start();
        TrackBar1->setEnabled(true);
        PlayOrigin = GetTickCount();
        lblPicSize->setText(PictureSizeFormat.arg(Movie.CodedSize.width()).arg(Movie.CodedSize.height()));
        OpenBarPictures();
        RefreshMomentStatus();
        FillSubtitleMenu();
        Panel1->update();
        edFileName->setText(FileNamePart(MoviePath));
        emit MovieOpened(path);
        return;
    }
    PlayState = TPlayState::Paused;
    MoviePath.clear();
    FillSubtitleMenu();
    lblPicSize->clear();
    lblCurPos->clear();
    lblStopPos->clear();
    edFileName->setText(FileNamePart(MoviePath));
    const QString reason = QString::fromStdString(answer.OpenError);
    const QString name = QDir::toNativeSeparators(path);
    MessageBox(this, tr(OpenFailedMessage) + QLatin1Char('\n') + (reason.isEmpty() ? name : OpenFailedReason.arg(name, reason)),
               Caption(), TMsgButtons::OK);
}

void TfrmFramora::btnSelectFileClick()
{
    const auto newDialogs = EnableNewCommDlg();
    if (OpenDialog1->Execute())
        OpenMovie(OpenDialog1->FileName);
}
