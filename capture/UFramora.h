// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The capture window: the program's main window. It shows the movie preview with its playback
// controls, the file selection strip and (with the scene store) the scene list, opens movies and
// drives playback from a wall-clock timer through the one position-change handler. What it does
// as a desktop application (shortcuts, drops, settings kept between runs) is a layer of its own
// that listens to its signals.
#include "decoder/UDecodingThread.h"
#include "decoder/UDisplayPicture.h"
#include "decoder/UPictureSettings.h"
#include "framework/TForm.h"
#include "framework/TickCount.h"
#include "imagestore/UImageFile.h"

#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QActionGroup;
class QComboBox;
class QDateTime;
class QImage;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPainter;
class QProgressDialog;
class QPushButton;
class QSlider;
class QStatusBar;
class QTimer;
class QToolButton;
class TAction;
class TCustomImagePack;
class TFormPanel;
class TfrmImageBrowser;
class TObject;
class TPicture;
class TPictureEx;
class TActionList;
class TBitmap;
class TMovieSubtitles;
struct TSubtitleStreamInfo;
class TOpenDialog;
class TPaintBox;
class TSaveDialog;
class TSeekBarPictures;

namespace Ui {
class TfrmFramora;
}

enum class TPlayState { Idle = 0, Paused = 2, Playing = 3 };

// Hours:minutes:seconds.hundredths, two digits each, hours modulo 100; "--:--:--.--" below 0.
QString FormatPlayTime(std::int32_t Ms);
// The 字幕 menu's name for a movie's subtitle stream (number counts from 1): its language in
// Japanese (else its code as the file gives it), its title and its codec: "日本語 (ass)".
QString SubtitleStreamLabel(const TSubtitleStreamInfo& stream, int number);

// The step of each item of the step unit box, in milliseconds; 0 for an index out of range.
std::int32_t StepUnitMs(int Index);

// Saving scenes. The proposal for the save dialog: the folder of the dialog's last file name (none
// at first) and the local time as "yyyymmddhhnnss_" with ".bmp".
QString SaveStamp(const QDateTime& now);
QString ProposedSaveName(const QString& lastFileName, const QDateTime& now);
// The file of scene index p (0-based) for the confirmed name: its base, the scene number in
// three digits, the scene's position as "_HH-MM-SS.mmm" when one is given, its extension (".bmp"
// when it has none).
QString SceneFileName(const QString& confirmedName, int p, std::optional<std::int32_t> positionMs = std::nullopt);
// Writes picture in the format fileName's extension names (PNG, JPEG at quality 95, lossless
// WebP, TIFF, BMP for any other) under a temporary name in the same folder, renamed into place
// once complete; on failure answers false with the reason in error and leaves no file of that
// name behind. Provenance, when given, goes inside (all formats but BMP); when it cannot, the
// picture is still written and metadataError says why.
bool SaveSceneFile(const QImage& picture, const QString& fileName, QString& error,
                   const TProvenance* provenance = nullptr, QString* metadataError = nullptr);

// "No.3  00:01:23.456  movie.mkv": a scene's number, the time it was captured at and its movie.
QString SceneHint(int p, const TProvenance& origin);

class TfrmFramora : public TForm {
    Q_OBJECT
public:
    explicit TfrmFramora(QWidget* owner = nullptr);
    ~TfrmFramora() override;

    // Components, named as in the form description.
    QStatusBar* StatusBar1;
    QFrame* ShadowPanel1;
    QGroupBox* gbSetting;
    QLabel* Label2;
    QLineEdit* edFileName;
    QToolButton* btnSelectFile;
    QToolButton* btnSearchDisc;
    QToolButton* btnSelectDrive;
    QToolButton* btnSelectVob;
    QGroupBox* GroupBox1;
    QLabel* Label3;
    QLabel* lblPicSize;
    QFrame* Panel1;
    TPaintBox* PaintBox1;
    QToolButton* btnStepPrev;
    QSlider* TrackBar1;
    QToolButton* btnStepNext;
    QComboBox* cmbStepUnit;
    QLabel* lblCurPos;
    QLabel* lblStopPos;
    QToolButton* btnPlay;
    QToolButton* btnPause;
    QToolButton* btnRewind;
    QToolButton* btnFramePrev;
    QToolButton* btnFrameNext;
    QToolButton* btnCapture;
    QGroupBox* gbSelectedFrame;
    QLabel* Label5;
    QLabel* lblPicNum;
    TFormPanel* FormPanel1;
    QPushButton* btnDeleteAll;
    QPushButton* btnDelete;
    QPushButton* btnSaveImage;
    QPushButton* btnOK;
    QPushButton* btnCancel;
    QFrame* pnlHelp;
    QToolButton* btnHelp;
    QMenuBar* MainMenu1;
    QMenu* File1;
    QAction* AboutA1;
    QAction* Exit1;
    QMenu* Setting1;
    // Checked: captures are scaled to the display aspect; else they keep the coded size.
    QAction* SaveDisplaySize1;
    QAction* PositionInFileName1;
    // Checked: while paused, positions show the last picture at or before their time.
    QAction* ExactPosition1;
    // Automatic capture (UFramoraAutoCapture.cpp).
    QMenu* AutoCapture1;
    QAction* CaptureScenes1;
    QAction* CaptureEvery1;
    // The deinterlacing choice: three exclusive items.
    QMenu* Deinterlace1;
    QAction* DeinterlaceAuto1;
    QAction* DeinterlaceAlways1;
    QAction* DeinterlaceNever1;
    // Checked: HDR pictures are tone-mapped to SDR, wide-gamut ones brought to BT.709.
    QAction* ToneMapping1;
    TDeinterlace DeinterlaceChoice() const;
    void SetDeinterlaceChoice(TDeinterlace mode);
    // Subtitles (UFramoraSubtitles.cpp): なし, then each subtitle stream of the movie and a
    // subtitle file beside it; back to なし for each movie.
    QMenu* Subtitles1;
    QAction* SubtitlesNone1;
    // Finding a moment (UFramoraMoment.cpp): 移動 > 指定した時刻へ移動... (Ctrl+G), and the
    // status line's number, time, size, rate and codec of the paused picture.
    QMenu* Move1 = nullptr;
    QAction* GoToTime1 = nullptr;
    QLabel* lblMoment = nullptr;

    TOpenDialog* OpenDialog1;
    TSaveDialog* SavePictureDialog1;
    TActionList* ActionList1;
    TAction* actCapture;
    TAction* actDelete1;
    TAction* actDeleteAll;
    TAction* actPlay;
    TAction* actPause;
    TAction* actRewind;
    TAction* actStepNext;
    TAction* actStepPrev;
    TAction* actFrameNext;
    TAction* actFramePrev;
    TAction* actSaveImage;
    // The sharpest still (UFramoraSharpest.cpp): its command and its range, in the キャプチャ menu.
    TAction* actCaptureSharpest = nullptr;
    QMenu* Capture1 = nullptr;
    QMenu* SharpestRange1 = nullptr;
    QTimer* Timer2;
    TCustomImagePack* CustomImagePack1;
    TCustomImagePack* cipOrg;
    QMenu* mnuDrvList;
    QMenu* mnuVobList;

    // Event handlers.
    void FormCreate();
    void FormClose();
    void FormDestroy();
    void btnSelectFileClick();
    void btnSearchDiscClick();
    void btnSelectDriveClick();
    void btnSelectVobClick();
    void PaintBox1Paint(QPainter& canvas);
    void TrackBar1Change();
    void Timer2Timer();
    void actPlayExecute(TAction* sender);
    void actPlayUpdate(TAction* sender);
    void actPauseExecute(TAction* sender);
    void actPauseUpdate(TAction* sender);
    void actRewindExecute(TAction* sender);
    void actRewindUpdate(TAction* sender);
    void actStepNextExecute(TAction* sender);
    void actStepNextUpdate(TAction* sender);
    void actStepPrevExecute(TAction* sender);
    void actStepPrevUpdate(TAction* sender);
    // One picture forward or back, whatever the step unit.
    void actFrameNextExecute(TAction* sender);
    void actFramePrevExecute(TAction* sender);
    void actFrameStepUpdate(TAction* sender);
    // The scene list: capturing, deleting and saving scenes.
    void cipOrgGetCount(TObject* Sender, std::int32_t& Count);
    void CustomImagePack1GetCount(TObject* Sender, std::int32_t& Count);
    void CustomImagePack1GetImage(TObject* Sender, TPictureEx& Picture, std::int32_t No);
    void CustomImagePack1Change(TObject* Sender);
    void actCaptureUpdate(TAction* sender);
    void actCaptureExecute(TAction* sender);
    void actCaptureSharpestUpdate(TAction* sender);
    void actCaptureSharpestExecute(TAction* sender);
    // How far either way of the picture on screen the sharpest is looked for.
    std::int32_t SharpestRangeMs() const;
    void SetSharpestRangeMs(std::int32_t ms);
    void actDelete1Update(TAction* sender);
    void actDelete1Execute(TAction* sender);
    void actDeleteAllUpdate(TAction* sender);
    void actDeleteAllExecute(TAction* sender);
    void actSaveImageUpdate(TAction* sender);
    void actSaveImageExecute(TAction* sender);
    void RefreshSceneList();
    void UpdateCommands();
    void SaveScenes();
    std::int32_t CurrentSceneCount() const { return SceneCount; }
    TfrmImageBrowser& SceneBrowser() const { return *Browser; }
    // A save writes its files on a thread of its own. Whether one runs; a stop between files
    // (the files written stay); a wait for its end that keeps the event loop running (tests).
    bool SaveRunning() const;
    void CancelSave();
    void WaitForSave();
    // A save or a restore runs: the commands that change the scene list rest meanwhile.
    bool SceneListBusy() const;

    // The disc side: optical drives and the VOB files of a DVD-Video disc.
    void FillDriveMenu();
    void CheckDriveItem(QAction* Sender);
    void mnuVobListPopup();
    void ListVobFiles(const QString& Drive);
    void OpenVobItem(QAction* Sender);

    // Window commands: leaving with an exit code, the close question, About and help.
    void btnOKClick();
    void btnCancelClick();
    void Exit1Click();
    void FormCloseQuery(bool& CanClose);
    void AboutA1Click();
    bool FormHelp(std::uint16_t Command, std::int32_t Data, bool& CallHelp);
    void btnHelpClick();
    // Whether the program was started with a parameter (which spares the close question); read
    // from the command line at creation.
    bool StartedWithParameters() const { return FStartedWithParameters; }
    void SetStartedWithParameters(bool on) { FStartedWithParameters = on; }
    // Scenes captured and not saved since: closing then always asks.
    bool HasUnsavedScenes() const { return SceneCount > 0 && FScenesUnsaved; }
    // Puts back a scene kept from an earlier run at the end of the list, as it was stored; it
    // counts as not saved. False when the list is full or the picture is empty.
    bool RestoreScene(const QImage& Picture, const TProvenance& Origin);
    // How many more scenes the list takes.
    std::int32_t FreeSceneCount() const;
    // Set while kept scenes are being put back one by one.
    void SetRestoringScenes(bool on);

    // Automatic capture: a scan of the open movie on a thread of its own, each picture it finds
    // added to the scene list, with a progress window that can cancel it.
    void CaptureScenes1Click();
    void CaptureEvery1Click();
    void AutoCapture1Popup();
    bool AutoCaptureRunning() const;
    void CancelAutoCapture();

    // Asks for a time or a picture number and shows that picture exactly, paused.
    void GoToTime1Click();
    // Shows the picture at timeMs exactly (clamped into the movie), pausing playback.
    void GoToTime(std::int64_t timeMs);
    // The pictures above the position bar.
    TSeekBarPictures& SeekBarPictures() const { return *BarPictures; }

    void OpenMovie(const QString& Path);
    void StepPosition(int Direction);
    void StepPicture(int Direction);
    void ShowFrameAtPosition();

    // What the desktop layer and the tests read of the window's state.
    TPlayState CurrentPlayState() const { return PlayState; }
    bool IsFrameShown() const { return FrameShown; }
    // The picture on screen as drawn, when playback made it at that size; null otherwise.
    const TBitmap* CurrentPreview() const { return FramePreview.get(); }
    // The picture on screen as the window holds it: at its coded size, else the preview.
    const TBitmap& PictureOnScreen() const { return FramePicture(); }
    // The picture on screen is a first look on the way to the exact picture asked for: the time
    // shown is the look's, greyed.
    bool IsPictureApproximate() const { return FrameApproximate; }
    // Hands the picture on screen to use, at its coded size, with how it is meant to be shown
    // and its time in the movie, once the decoding thread has made it and the chosen subtitles
    // are indexed as far as its time; uses run in the order they were asked.
    using TShownPictureUse = std::function<void(const TBitmap& Frame, const TDisplayTransform& Display, std::int32_t TimeMs)>;
    void UseShownPicture(TShownPictureUse use);
    // Hands use what a copy puts on the clipboard: the first selected scene at full size at
    // once, else (later) the picture of the movie on screen as a capture would store it; nothing
    // when there is neither.
    void UseClipboardImage(std::function<void(const QImage&)> use);
    // Every request to the decoding thread is answered and every use of a picture is done:
    // scripts and tests wait for this before they look.
    bool PicturesSettled() const;
    const QString& CurrentMoviePath() const { return MoviePath; }
    std::int32_t LastShownPosition() const { return LastShownPos; }
    std::uint32_t PlayOriginTick() const { return PlayOrigin; }
    // The settings the picture on screen was made with.
    const TPictureSettings& FramePictureSettings() const { return FrameSettings; }
    // True when the window was closed while it was being created (another instance runs): the
    // program then ends without showing it.
    bool ClosedDuringCreate() const { return FClosedDuringCreate; }

signals:
    // The movie at path was opened (by dialog, drop or command line).
    void MovieOpened(const QString& path);
    // Scenes were saved as file (the first of them).
    void ScenesSaved(const QString& file);
    // The scene list changed: picture (as stored) appended with its origin, the scene at index
    // deleted (the later ones move down), every scene deleted.
    void SceneAdded(const QImage& picture, const TProvenance& origin);
    void SceneDeleted(int index);
    void AllScenesDeleted();
    // The user chose another range for the sharpest still.
    void SharpestRangeChanged(int ms);

private:
    void BindComponents();
    void BindSettingControls();
    void BindPlaybackControls();
    void BindSceneControls();
    void BindMenu();
    void CreateDialogs();
    // The timer, the image packs and the disc menus.
    void CreateNonVisualComponents();
    void CreateCommands();
    void ConnectHandlers();
    void SetWindowProperties();
    bool StepEnabled() const;
    void ShowOpeningPicture();
    // The decoding thread's answers, taken on the window thread (UFramoraPlayback.cpp).
    void TakeAnswer(const std::shared_ptr<TDecodingAnswer>& answer);
    void MovieOpenAnswered(const TDecodingAnswer& answer);
    void PictureAnswered(const TDecodingAnswer& answer);
    void ShowPicture(const TDecodingAnswer& answer);
    TDecodingRequest PictureRequest(TDecodingKind kind) const;
    // Whether a position asked now is shown exactly.
    bool PositionsExact() const;
    std::uint64_t Post(TDecodingRequest request);
    // Shows the time of the picture on screen; greyed while it is a first look.
    void ShowPictureTime(std::int32_t timeMs, bool approximate);
    // The picture on screen at its coded size when the window holds it, else the preview.
    const TBitmap& FramePicture() const;
    // Uses of pictures (captures, copies, automatic captures) wait in order for their picture
    // and for the subtitle index to reach its time.
    struct TPictureUse {
        std::uint64_t Serial = 0; // the request its picture comes with; 0 once it is here
        TBitmap Frame;
        TDisplayTransform Display;
        std::int32_t TimeMs = 0;
        TShownPictureUse Use;
    };
    void UsePicture(TPictureUse use);
    void FinishPictureUses();
    bool SubtitlesReachedTime(std::int32_t timeMs) const;
    // The size a picture of coded size, shown as display says, is drawn at in the preview,
    // measured in its coded orientation (what the decoder scales to).
    QSize DrawnCodedSize(QSize coded, const TDisplayTransform& display) const;
    QRectF FittedFrameRect(QSize coded, const TDisplayTransform& display) const;
    void PopupBelow(QMenu* menu, QWidget* button);
    QString CheckedDrive() const;
    // The picture a capture stores: the picture on screen upright, and at the display aspect
    // when SaveDisplaySize1 is checked.
    void MakeStoredPicture(const TBitmap& Frame, const TDisplayTransform& Display, TBitmap& Stored) const;
    TBitmap StoredPicture(const TBitmap& Frame, const TDisplayTransform& Display) const;

    // Finding a moment (UFramoraMoment.cpp).
    void CreateMomentParts();
    void OpenBarPictures();
    void RefreshMomentStatus();

    // Subtitles (UFramoraSubtitles.cpp).
    void CreateSubtitleMenu();
    void FillSubtitleMenu();
    void SubtitleChosen(QAction* item);
    // Subtitles are chosen (not なし) and their index is open.
    bool SubtitlesShown() const;
    // Draws the chosen subtitles of the picture at timeMs into a stored picture (the index has
    // reached that time: the picture's use waited for it).
    void DrawSubtitles(TBitmap& Stored, std::int32_t TimeMs) const;
    // Makes the preview's subtitle layer for the picture on screen again.
    void RefreshSubtitleOverlay();
    void SubtitleIndexTick();
    void PaintSubtitles(QPainter& canvas);
    QSize FrameDisplaySize() const;

    std::unique_ptr<Ui::TfrmFramora> ui;

    struct TAutoCapture;
    struct TAutoCaptureEnd {
        void operator()(TAutoCapture* scan) const;
    };
    void StartAutoCapture(int Mode);
    // Sharpest: how the picture was chosen, when it was chosen as the sharpest of its scene's start.
    void AutoCaptureFound(std::uint64_t Scan, const QImage& Picture, const TDisplayTransform& Display,
                          std::int32_t TimeMs, const std::optional<TSharpestPicture>& Sharpest);
    void AutoCaptureTaken(std::uint64_t Scan, const TBitmap& Frame, const TDisplayTransform& Display,
                          std::int32_t TimeMs, const std::optional<TSharpestPicture>& Sharpest);
    void AutoCaptureProgress(std::uint64_t Scan, std::int32_t PositionMs);
    void AutoCaptureEnded(std::uint64_t Scan, bool Read);
    // Stops the scan in progress and waits for its thread; what it still sends is dropped.
    void StopAutoCapture();

    void CreateSceneBrowser();
    void StoreScene(const TPicture& picture, std::int32_t index);
    // The file scene p is saved as under the name the save dialog confirmed.
    QString SceneSaveName(std::int32_t p) const;
    // False when a numbered file of the save exists and the user keeps it (selected: the
    // browser's selection, -1 for every scene).
    bool MayOverwrite(std::int32_t selected);
    // Where a scene made now of the open movie's picture at timeMs came from (stored: the
    // picture the scene keeps).
    TProvenance FrameOrigin(const TBitmap& stored, std::int32_t timeMs) const;
    // Appends Frame, shown as Display says, to the scene list as a capture does; false at the
    // scene limit. Captures not finished yet count as scenes already.
    // TimeMs: the picture's own time in the movie, which the scene keeps.
    bool AddScene(const TBitmap& Frame, const TDisplayTransform& Display, std::int32_t TimeMs);
    // Appends a picture made as a capture stores it, drawing the subtitles of TimeMs into it.
    bool AddStoredScene(TBitmap Stored, std::int32_t TimeMs);
    // The same for the sharpest picture found: its provenance says so, with its score.
    bool AddSharpestScene(TBitmap Stored, std::int32_t TimeMs, const TSharpestPicture& Sharpest);
    void CreateSharpestCommand();
    void SharpestAnswered(const std::shared_ptr<TDecodingAnswer>& answer);
    // Asks the decoding thread for the picture on screen, as a capture stores it when stored.
    void AskShownPicture(TShownPictureUse use, bool stored);
    // Appends Stored, which the list keeps as it is, with the origin it came from.
    bool AppendScene(const TBitmap& Stored, const TProvenance& Origin);
    // Saving on the save's thread (UFramoraSave.cpp).
    struct TSceneSave;
    struct TSceneSaveEnd {
        void operator()(TSceneSave* save) const;
    };
    void StartSave(std::int32_t selected);
    std::unique_ptr<QProgressDialog> NewSaveProgress(std::size_t total);
    void SceneSaveEnded(std::uint64_t Save);
    // Stops the save in progress between files and waits for its thread; nothing is said.
    void StopSave();

    // Fields in declaration order.
    std::unique_ptr<TfrmImageBrowser> Browser; // hosted in FormPanel1
    std::int32_t SceneCount = 0;
    QString MoviePath;                      // empty when no movie is open
    bool FrameShown = false;                // the preview shows the open movie's picture
    // The picture on screen at its coded size; replaced whole, never in place. Null while
    // FramePreview alone is taken: the decoding thread still holds the picture and makes it
    // when a capture or a copy asks.
    std::unique_ptr<TBitmap> FrameBitmap;
    std::unique_ptr<TBitmap> FramePreview;  // the picture on screen at the size drawn; may be null
    QSize FrameSize;                        // the coded size of the picture on screen
    TDisplayTransform FrameDisplay;         // how the picture on screen is meant to be shown
    TPictureSettings FrameSettings;         // what the picture on screen was made with
    bool FrameApproximate = false;          // the picture on screen is a first look
    TPlayState PlayState = TPlayState::Idle;
    std::int32_t LastShownPos = 0;          // -1 after an opening, so any position is shown
    TMovieFacts Movie;                      // the movie open; an empty FileName for none
    // Declared after what its answers reach: it goes first, and no answer comes after.
    std::unique_ptr<TDecodingThread> Decoding;
    // The position bar's pictures, on a decoder of their own; opened with the movie.
    std::unique_ptr<TSeekBarPictures> BarPictures;
    std::uint64_t ShownSerial = 0;          // the latest picture request: older answers are late
    std::uint64_t OpeningSerial = 0;        // the opening awaited; 0 for none
    QString OpeningPath;                    // what it opens
    std::uint64_t PlaybackSerial = 0;       // the tick's request in progress; 0 for none
    int RequestsInFlight = 0;               // posted and not answered
    QSize PreviewRemadeFor;                 // the size a paused preview was last made again at
    std::deque<TPictureUse> PictureUses;
    QTimer* PictureUseTimer = nullptr;      // runs while a use waits for the subtitle index
    std::uint32_t PlayOrigin = 0;           // tick at which position 0 would have been shown
    std::unique_ptr<TMovieSubtitles> Subtitles; // the subtitles last chosen, kept under なし
    QAction* SubtitlesIndexedFor = nullptr; // the item whose subtitles Subtitles holds
    QActionGroup* SubtitleChoices = nullptr;
    QList<QAction*> SubtitleItems;          // the movie's own items after なし
    std::int32_t FrameMovieMs = 0;          // the movie time of FrameBitmap, for its subtitles
    QImage FrameSubtitles;                  // the preview's subtitle layer at the shown size
    QTimer* SubtitleIndexTimer = nullptr;   // runs while the shown time waits for the index

    // Re-entrancy marks: a nested call through the message loop is dropped, not queued.
    bool TimerBusy = false;                 // Timer2Timer runs
    bool PositionChanging = false;          // TrackBar1Change runs

    bool FClosedDuringCreate = false;
    bool FSecondInstance = false; // another instance holds the guard: this one ends without asking
    bool FStartedWithParameters = false;
    bool FScenesUnsaved = false;            // set by a capture, cleared by a save of every scene
    std::vector<TProvenance> SceneOrigins;  // where each scene came from, in scene order
    QActionGroup* DriveGroup = nullptr;     // makes the drive items radio items; lives with the window
    std::unique_ptr<TAutoCapture, TAutoCaptureEnd> AutoCapture; // the scan in progress; null when none
    std::uint64_t AutoCaptureScans = 0;     // scans started; tells late messages of a stopped scan
    std::unique_ptr<TSceneSave, TSceneSaveEnd> SceneSave; // the save in progress; null when none
    std::uint64_t SceneSaves = 0;           // saves started; tells late messages of a stopped save
    bool RestoringScenes = false;           // kept scenes are being put back
};
