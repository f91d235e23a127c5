#include "capture/UFramora.h"

#include "ui_UFramora.h"

#include "capture/UDesktop.h"

#include "browser/FImageBrowser.h"
#include "components/UFormPanel.h"
#include "decoder/UMovieDecoder.h"
#include "framework/MessageBox.h"
#include "framework/TAction.h"
#include "framework/TApplication.h"
#include "framework/TBitmap.h"
#include "framework/Drives.h"
#include "framework/TOpenDialog.h"
#include "framework/TPaintBox.h"
#include "framework/TPopupMenu.h"
#include "imagestore/UCoordUtil.h"
#include "imagestore/UCustomImagePack.h"
#include "imagestore/UPictureEX.h"
#include "shell/FAbout.h"
#include "shell/Pathutil.h"
#include "shell/UHtmlHelp.h"
#include "shell/UNewCommDlg.h"
#include "shell/UExecuteCheck.h"

#include <QActionGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <array>

namespace {

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
constexpr int InitialStepUnitIndex = 3; // "10秒"
constexpr std::array<std::int32_t, 8> StepUnits{600000, 60000, 20000, 10000, 5000, 2000, 1000, 500};
constexpr int MaxSceneCount = 32;
constexpr TCIPCacheLimit SceneCacheLimit = 40; // above the scene maximum: no scene is ever evicted
constexpr unsigned SceneThumbnailSize = 100;
const QString SceneCaption = QStringLiteral("No.%1");
const QString DeleteOneQuestion = QStringLiteral("No.%1を削除します。よろしいですか？");
const QString DeleteAllQuestion = QStringLiteral("すべて削除します。よろしいですか？");
const QString SavedMessage = QStringLiteral("ファイルを保存しました");
const QString SaveFailedMessage = QStringLiteral("%1を保存できませんでした。");

const QString NegativePlayTime = QStringLiteral("--:--:--.--");
const QString PictureSizeFormat = QStringLiteral("%1 x %2");
const QString OpenFailedMessage = QStringLiteral("動画シーンの取得ができませんでした。");

const QString OpenDialogTitle = QStringLiteral("動画ファイルの選択");
const QString OpenDialogFilter = QStringLiteral(
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
const QString VideoTsFolder = QStringLiteral("video_ts");
const QString VobPattern = QStringLiteral("*.vob");
const QString MenuVobName = QStringLiteral("video_ts.vob");
const QString MenuVobSuffix = QStringLiteral("_0.vob");
// The drive items carry their device besides their name, which changes as discs are mounted.
constexpr char DriveDeviceProperty[] = "device";
const QString NoVideoDiscMessage = QStringLiteral("Videoモードで作成したDVDをセットしてください");

constexpr int OkExitCode = 0;
constexpr int CancelExitCode = 1;
const QString CloseQuestion = QStringLiteral("終了します。よろしいですか？");
const QString UnsavedCloseQuestion = QStringLiteral("保存していないシーンがあります。終了します。よろしいですか？");

const QString SaveStampPattern = QStringLiteral("yyyyMMddHHmmss_");
const QString DefaultSaveExtension = QStringLiteral(".bmp");
const QString SceneNumberFormat = QStringLiteral("%1");
constexpr int SceneNumberDigits = 3;
constexpr int JpegQuality = 95;
const QStringList JpegExtensions{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("jpe"),
                                 QStringLiteral("jfif")};

const QString SaveDialogTitle = QStringLiteral("キャプチャイメージの保存");
const QString SaveDialogFilter = QStringLiteral("ビットマップ (*.bmp)|*.bmp|すべてのファイル(*.*)|*.*");

struct TCommandText {
    const char* Name;
    const char* Caption;
    const char* Hint;
};
// Order of ActionList1, which is also the order of the idle updates.
constexpr TCommandText CommandTexts[] = {
    {"actCapture", "キャプチャの追加⇒", "シーンリストの最後にキャプチャ画像を追加します。"},
    {"actDelete1", "1つ削除", "選択しているキャプチャ画像を1つ削除します"},
    {"actDeleteAll", "全部削除", "キャプチャ画像をすべて削除します"},
    {"actPlay", "再生", "動画の再生を開始します"},
    {"actPause", "一時停止", "動画を一時停止します"},
    {"actRewind", "先頭へ", "動画の先頭へ戻ります"},
    {"actStepNext", "", "次のコマへ"},
    {"actStepPrev", "", "前のコマへ"},
    {"actFrameNext", "", "1フレーム進みます"},
    {"actFramePrev", "", "1フレーム戻ります"},
    {"actSaveImage", "保存", ""},
};

// A menu caption shown as it is: '&' would otherwise mark a hot key.
QString PlainMenuText(const QString& text)
{
    QString escaped = text;
    return escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// The picture of a scene as an image: a bitmap as it is, any other graphic (the error picture)
// drawn on white at its own size.
QImage PictureImage(const TPicture& picture)
{
    const TGraphic* graphic = picture.Graphic();
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(graphic))
        return bitmap->Image();
    if (!graphic || graphic->Empty())
        return {};
    TBitmap drawn;
    drawn.Assign(*graphic);
    return drawn.Image();
}

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

QString FormatPlayTime(std::int32_t Ms)
{
    if (Ms < 0)
        return NegativePlayTime;
    const auto two = [](std::int32_t value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); };
    const std::int32_t hundredths = (Ms / 10) % 100;
    const std::int32_t seconds = (Ms / 1000) % 60;
    const std::int32_t minutes = (Ms / 60000) % 60;
    const std::int32_t hours = (Ms / 3600000) % 100;
    return two(hours) + QLatin1Char(':') + two(minutes) + QLatin1Char(':') + two(seconds) + QLatin1Char('.') +
           two(hundredths);
}

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

std::int32_t StepUnitMs(int Index)
{
    if (Index < 0 || Index >= static_cast<int>(StepUnits.size()))
        return 0;
    return StepUnits[static_cast<std::size_t>(Index)];
}

TfrmFramora::TfrmFramora(QWidget* owner) : TForm(owner), ui(std::make_unique<Ui::TfrmFramora>())
{
    ui->setupUi(this);
    BindComponents();
    CreateCommands();
    SetWindowProperties();
    ConnectHandlers();
    FormCreate();
    Desktop = new TFramoraDesktop(*this);
}

TfrmFramora::~TfrmFramora()
{
    FormDestroy();
}

void TfrmFramora::BindComponents()
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
    Panel1 = ui->Panel1;
    PaintBox1 = ui->PaintBox1;
    btnStepPrev = ui->btnStepPrev;
    TrackBar1 = ui->TrackBar1;
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
    MainMenu1 = ui->MainMenu1;
    File1 = ui->File1;
    AboutA1 = ui->AboutA1;
    Exit1 = ui->Exit1;
    Setting1 = ui->Setting1;
    SaveDisplaySize1 = ui->SaveDisplaySize1;
    ExactPosition1 = ui->ExactPosition1;

    OpenDialog1 = new TOpenDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->Title = OpenDialogTitle;
    OpenDialog1->Filter = OpenDialogFilter;
    OpenDialog1->FilterIndex = 1;
    OpenDialog1->Options = TOpenOptions(TOpenOption::ofHideReadOnly) | TOpenOption::ofPathMustExist |
                           TOpenOption::ofFileMustExist | TOpenOption::ofEnableSizing;

    SavePictureDialog1 = new TSaveDialog(this);
    SavePictureDialog1->setObjectName(QStringLiteral("SavePictureDialog1"));
    SavePictureDialog1->Title = SaveDialogTitle;
    SavePictureDialog1->Filter = SaveDialogFilter;

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
        new TAction(ActionList1, QString::fromUtf8(text.Name), QString::fromUtf8(text.Caption),
                    QString::fromUtf8(text.Hint));
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
    PaintBox1->OnPaint = [this](QPainter& canvas) { PaintBox1Paint(canvas); };
    connect(TrackBar1, &QSlider::valueChanged, this, &TfrmFramora::TrackBar1Change);
    connect(Timer2, &QTimer::timeout, this, &TfrmFramora::Timer2Timer);

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
    FrameShown = false;
    SceneCount = 0;
    // The drive menu.
    FillDriveMenu();
    // The step unit.
    cmbStepUnit->setCurrentIndex(InitialStepUnitIndex);
    // The decoder.
    Decoder = std::make_unique<TMovieDecoder>();
    // The play origin.
    PlayOrigin = GetTickCount();
    // Qt paints every widget through a backing store, so the preview is double-buffered as long
    // as nothing asks it to paint on screen.
    Panel1->setAttribute(Qt::WA_PaintOnScreen, false);
    // One instance at a time.
    if (IsAlreadyRunning(FramoraGuardName)) {
        MessageBox(this, AlreadyRunningMessage, Caption(), TMsgButtons::OK);
        FClosedDuringCreate = close();
    }
}

void TfrmFramora::FormClose()
{
    Timer2->stop();
}

void TfrmFramora::FormDestroy()
{
    Timer2->stop();
    FrameBitmap.reset();
    Browser.reset();
    Decoder.reset();
}

void TfrmFramora::OpenMovie(const QString& Path)
{
    Timer2->stop();
    TimerBusy = false;
    Rendering = false;
    const QFileInfo file(Path);
    if (file.exists() && !file.isDir()) {
        PlayState = TPlayState::Paused;
        FrameShown = false;
        TrackBar1->setEnabled(false);
        if (Decoder->Open(LocalPath(Path))) {
            TrackBar1->setValue(0);
            TrackBar1->setMinimum(0);
            // A length the container does not know counts as 0: the bar's range never goes below 0.
            TrackBar1->setMaximum(std::max(0, Decoder->Duration()));
            lblCurPos->setText(FormatPlayTime(0));
            lblStopPos->setText(FormatPlayTime(TrackBar1->maximum()));
            PlayState = TPlayState::Playing;
            LastShownPos = -1;
            MoviePath = Path;
            Timer2->start();
            TrackBar1->setEnabled(true);
            PlayOrigin = GetTickCount();
            lblPicSize->setText(PictureSizeFormat.arg(Decoder->Width()).arg(Decoder->Height()));
            Panel1->update();
            if (Desktop)
                Desktop->MovieOpened(Path);
        } else {
            PlayState = TPlayState::Paused;
            MoviePath.clear();
            lblPicSize->clear();
            lblCurPos->clear();
            lblStopPos->clear();
            MessageBox(this, OpenFailedMessage, Caption(), TMsgButtons::OK);
        }
    }
    edFileName->setText(FileNamePart(MoviePath));
}

void TfrmFramora::btnSelectFileClick()
{
    const auto newDialogs = EnableNewCommDlg();
    if (OpenDialog1->Execute())
        OpenMovie(OpenDialog1->FileName);
}

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
        MessageBox(this, NoVideoDiscMessage, Caption(), TMsgButtons::OK);
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

void TfrmFramora::btnOKClick()
{
    TApplication::SetExitCode(OkExitCode);
    close();
}

void TfrmFramora::btnCancelClick()
{
    TApplication::SetExitCode(CancelExitCode);
    close();
}

void TfrmFramora::Exit1Click()
{
    TApplication::SetExitCode(OkExitCode);
    close();
}

void TfrmFramora::FormCloseQuery(bool& CanClose)
{
    // Unsaved scenes would be lost for good, so that question is asked whatever the command line.
    if (HasUnsavedScenes()) {
        CanClose = MessageBox(this, UnsavedCloseQuestion, Caption(), TMsgButtons::OKCancel) == TMsgResult::OK;
        return;
    }
    if (FStartedWithParameters) {
        CanClose = true;
        return;
    }
    CanClose = MessageBox(this, CloseQuestion, Caption(), TMsgButtons::OKCancel) == TMsgResult::OK;
}

void TfrmFramora::AboutA1Click()
{
    TfrmAbout about(this);
    about.ShowModal();
}

bool TfrmFramora::FormHelp(std::uint16_t Command, std::int32_t Data, bool& CallHelp)
{
    CallHelp = false;
    return ShowHtmlHelp(Command, Data);
}

void TfrmFramora::btnHelpClick()
{
    if (HelpContext() != 0)
        TApplication::HelpContext(HelpContext());
    else
        TApplication::HelpCommand(HELP_FINDER, 0);
}

void TfrmFramora::PaintBox1Paint(QPainter& canvas)
{
    if (Rendering || !FrameBitmap || FrameBitmap->Empty())
        return;
    const QSize shown = DisplayGeometry::DisplayedSize(QSize(FrameBitmap->Width(), FrameBitmap->Height()),
                                                       FrameDisplay, TAspectScaling::Display);
    const TRect target{0, 0, Panel1->width(), Panel1->height()};
    const TRect source{0, 0, shown.width(), shown.height()};
    const QRectF fitted = ToQRect(FitRectCentered(source, target));
    canvas.setRenderHint(QPainter::SmoothPixmapTransform);
    if (FrameDisplay.Rotation == 0) {
        canvas.drawImage(fitted, FrameBitmap->Image());
        return;
    }
    // The coded picture is drawn turned into its place: playback makes no upright copy of each
    // picture.
    const QSizeF coded = FrameDisplay.Rotation == 180 ? fitted.size() : fitted.size().transposed();
    canvas.translate(fitted.center());
    canvas.rotate(FrameDisplay.Rotation);
    canvas.drawImage(QRectF(QPointF(-coded.width() / 2, -coded.height() / 2), coded), FrameBitmap->Image());
}

void TfrmFramora::actPlayExecute(TAction*)
{
    PlayState = TPlayState::Playing;
    Timer2->start();
    PlayOrigin = GetTickCount() - static_cast<std::uint32_t>(TrackBar1->value());
}

void TfrmFramora::actPlayUpdate(TAction* sender)
{
    sender->SetEnabled(FrameShown && TrackBar1->value() <= TrackBar1->maximum() && PlayState == TPlayState::Paused);
}

void TfrmFramora::actPauseExecute(TAction*)
{
    PlayState = TPlayState::Paused;
    Timer2->stop();
}

void TfrmFramora::actPauseUpdate(TAction* sender)
{
    sender->SetEnabled(FrameShown && PlayState == TPlayState::Playing);
}

void TfrmFramora::actRewindExecute(TAction*)
{
    TrackBar1->setValue(0);
    lblCurPos->setText(FormatPlayTime(0));
    PlayOrigin = GetTickCount();
}

void TfrmFramora::actRewindUpdate(TAction* sender)
{
    sender->SetEnabled(FrameShown && (PlayState == TPlayState::Paused || PlayState == TPlayState::Playing));
}

bool TfrmFramora::StepEnabled() const
{
    return FrameShown && PlayState == TPlayState::Paused;
}

void TfrmFramora::actStepNextExecute(TAction*)
{
    StepPosition(+1);
}

void TfrmFramora::actStepNextUpdate(TAction* sender)
{
    sender->SetEnabled(StepEnabled());
    cmbStepUnit->setEnabled(actStepNext->Enabled());
}

void TfrmFramora::actStepPrevExecute(TAction*)
{
    StepPosition(-1);
}

void TfrmFramora::actStepPrevUpdate(TAction* sender)
{
    sender->SetEnabled(StepEnabled());
    cmbStepUnit->setEnabled(actStepNext->Enabled());
}

void TfrmFramora::actFrameNextExecute(TAction*)
{
    StepPicture(+1);
}

void TfrmFramora::actFramePrevExecute(TAction*)
{
    StepPicture(-1);
}

void TfrmFramora::actFrameStepUpdate(TAction* sender)
{
    sender->SetEnabled(StepEnabled());
}

void TfrmFramora::CreateSceneBrowser()
{
    Browser = std::make_unique<TfrmImageBrowser>(this);
    Browser->SetUseLoaderThread(false);
    Browser->ListView1->SetMultiSelect(true);
    FormPanel1->SetForm(Browser.get());
    Browser->SetImageSource(CustomImagePack1);
    Browser->SetThumbnailSize(SceneThumbnailSize);
}

void TfrmFramora::cipOrgGetCount(TObject*, std::int32_t& Count)
{
    Count = SceneCount;
}

void TfrmFramora::CustomImagePack1GetCount(TObject*, std::int32_t& Count)
{
    Count = cipOrg->GetCount();
}

void TfrmFramora::CustomImagePack1GetImage(TObject*, TPictureEx& Picture, std::int32_t No)
{
    cipOrg->SafeGetImage(Picture, No);
}

void TfrmFramora::CustomImagePack1Change(TObject*)
{
    RefreshSceneList();
}

void TfrmFramora::RefreshSceneList()
{
    lblPicNum->setText(QString::number(SceneCount));
    QStringList captions;
    for (int n = 1; n <= SceneCount; ++n)
        captions.append(SceneCaption.arg(n));
    if (Browser)
        Browser->SetCaptions(captions);
}

void TfrmFramora::UpdateCommands()
{
    ActionList1->UpdateAll();
}

void TfrmFramora::StoreScene(const TPicture& picture, std::int32_t index)
{
    cipOrg->StoreImage(picture, index);
}

void TfrmFramora::actCaptureUpdate(TAction* sender)
{
    sender->SetEnabled(SceneCount < MaxSceneCount && FrameShown);
}

void TfrmFramora::actCaptureExecute(TAction*)
{
    if (SceneCount >= MaxSceneCount)
        return;
    ++SceneCount;
    {
        // The stored picture holds its own copy: playback replacing FrameBitmap leaves it alone.
        TBitmap stored;
        MakeStoredPicture(stored);
        TPictureEx picture;
        picture.SetGraphic(&stored);
        StoreScene(picture, SceneCount - 1);
    }
    FScenesUnsaved = true;
    CustomImagePack1->Reset();
    RefreshSceneList();
    Browser->SelectImage(SceneCount - 1);
    UpdateCommands();
}

void TfrmFramora::MakeStoredPicture(TBitmap& Stored) const
{
    MakeDisplayedPicture(*FrameBitmap, FrameDisplay,
                         SaveDisplaySize1->isChecked() ? TAspectScaling::Display : TAspectScaling::Coded, Stored);
}

void TfrmFramora::actDelete1Update(TAction* sender)
{
    sender->SetEnabled(SceneCount > 0 && Browser->SelectedIndex() >= 0);
}

void TfrmFramora::actDelete1Execute(TAction*)
{
    const std::int32_t k = Browser->SelectedIndex();
    if (k < 0)
        return;
    if (MessageBox(this, DeleteOneQuestion.arg(k + 1), Caption(), TMsgButtons::OKCancel) != TMsgResult::OK)
        return;
    for (std::int32_t j = k + 1; j < SceneCount; ++j) {
        TPictureEx picture;
        cipOrg->SafeGetImage(picture, j);
        StoreScene(picture, j - 1);
    }
    StoreScene(TPictureEx(), SceneCount - 1);
    --SceneCount;
    CustomImagePack1->Reset();
    RefreshSceneList();
    UpdateCommands();
}

void TfrmFramora::actDeleteAllUpdate(TAction* sender)
{
    sender->SetEnabled(SceneCount > 0);
}

void TfrmFramora::actDeleteAllExecute(TAction*)
{
    if (MessageBox(this, DeleteAllQuestion, Caption(), TMsgButtons::OKCancel) == TMsgResult::OK) {
        for (std::int32_t i = 0; i < SceneCount; ++i)
            StoreScene(TPictureEx(), i);
        SceneCount = 0;
        CustomImagePack1->Reset();
        RefreshSceneList();
    }
    UpdateCommands();
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
    if (Desktop)
        Desktop->ScenesSaved(SavePictureDialog1->FileName);
    MessageBox(this, SavedMessage, Caption(), TMsgButtons::OK);
}

QImage TfrmFramora::ClipboardImage()
{
    if (const std::int32_t k = Browser->SelectedIndex(); k >= 0 && k < SceneCount) {
        TPictureEx picture;
        CustomImagePack1->SafeGetImage(picture, k);
        return PictureImage(picture);
    }
    if (!FrameShown)
        return QImage();
    // What a capture would store.
    TBitmap stored;
    MakeStoredPicture(stored);
    return stored.Image();
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

void TfrmFramora::StepPosition(int Direction)
{
    const std::int64_t unit = StepUnitMs(cmbStepUnit->currentIndex());
    // In 64 bits: a step near the end of the 32-bit range must clamp, not wrap.
    const std::int64_t target = Direction * unit + TrackBar1->value();
    const std::int64_t clamped = std::clamp<std::int64_t>(target, 0, std::max(0, TrackBar1->maximum()));
    TrackBar1->setValue(static_cast<int>(clamped));
}

// The bar follows the picture's own time; the picture is on screen already, so the bar's change
// decodes nothing.
void TfrmFramora::StepPicture(int Direction)
{
    if (Rendering || !Decoder->IsOpen())
        return;
    {
        Rendering = true;
        const auto done = qScopeGuard([this] { Rendering = false; });
        if (!(Direction > 0 ? Decoder->DecodeNextFrame() : Decoder->DecodePreviousFrame()))
            return;
        TakeDecodedPicture();
    }
    LastShownPos = std::clamp(Decoder->FrameTimeMs(), 0, std::max(0, TrackBar1->maximum()));
    TrackBar1->setValue(LastShownPos);
    lblCurPos->setText(FormatPlayTime(Decoder->FrameTimeMs()));
    PaintBox1->update();
}

void TfrmFramora::Timer2Timer()
{
    if (TimerBusy)
        return;
    TimerBusy = true;
    const auto done = qScopeGuard([this] { TimerBusy = false; });
    if (!Decoder->IsOpen())
        return;
    std::int32_t elapsed = static_cast<std::int32_t>(TickDiff(PlayOrigin, GetTickCount()));
    bool atEnd = false;
    if (elapsed >= TrackBar1->maximum()) {
        elapsed = TrackBar1->maximum();
        atEnd = true;
    } else if (elapsed < 0) {
        elapsed = 0;
    }
    if (PlayState != TPlayState::Playing)
        return;
    if (atEnd) {
        // A movie shorter than one tick ends before a tick could move the bar, so nothing of it
        // has been shown and Rewind and Pause would stay disabled: show its picture first.
        if (LastShownPos < 0)
            ShowOpeningPicture();
        actRewind->Execute();
        actPause->Execute();
    } else {
        TrackBar1->setValue(elapsed);
    }
}

void TfrmFramora::TrackBar1Change()
{
    if (PositionChanging)
        return;
    PositionChanging = true;
    const auto done = qScopeGuard([this] { PositionChanging = false; });
    if (!Decoder || !Decoder->IsOpen())
        return;
    const std::int32_t pos = TrackBar1->value();
    PlayOrigin = GetTickCount() - static_cast<std::uint32_t>(pos);
    lblCurPos->setText(FormatPlayTime(pos));
    if (pos != LastShownPos) {
        LastShownPos = pos;
        ShowFrameAtPosition();
        FrameShown = true;
    }
}

void TfrmFramora::ShowOpeningPicture()
{
    LastShownPos = TrackBar1->value();
    ShowFrameAtPosition();
    FrameShown = true;
}

void TfrmFramora::TakeDecodedPicture()
{
    auto picture = std::make_unique<TBitmap>();
    picture->Assign(Decoder->Bitmap());
    FrameBitmap = std::move(picture);
    FrameDisplay = Decoder->DisplayTransform();
    FrameShown = true;
}

void TfrmFramora::ShowFrameAtPosition()
{
    if (Rendering || !Decoder->IsOpen())
        return;
    Rendering = true;
    const auto done = qScopeGuard([this] { Rendering = false; });
    try {
        std::int32_t pos = TrackBar1->value();
        FrameShown = false;
        // The decoder is never asked for the very end.
        if (pos >= Decoder->Duration())
            pos = Decoder->Duration() - 1;
        // Exact while paused; playback keeps reading forward.
        Decoder->SetExact(ExactPosition1->isChecked() && PlayState != TPlayState::Playing);
        if (Decoder->DecodeFrame(pos)) {
            TakeDecodedPicture();
            if (Decoder->Exact())
                lblCurPos->setText(FormatPlayTime(Decoder->FrameTimeMs()));
        }
        PaintBox1->update();
    } catch (...) {
        // A picture that cannot be made leaves the previous one on screen.
    }
}
