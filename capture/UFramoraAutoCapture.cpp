// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic capture: a still of every scene, or one every few seconds, found by a scan of the
// open movie that runs on a thread of its own with its own decoder, each still added to the scene
// list through the capture's own path as it arrives.
#include "capture/UFramora.h"
#include "capture/UFramoraPrivate.h"

#include "capture/UAutoCaptureDialog.h"
#include "decoder/UMovieDecoder.h"
#include "decoder/USceneScanner.h"
#include "decoder/USharpestPicture.h"
#include "framework/MessageBox.h"
#include "framework/TBitmap.h"
#include "framework/ThreadPriority.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QPointer>
#include <QProgressDialog>
#include <QSlider>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace {

using capture_detail::MaxSceneCount;

const char* const ProgressTitle = QT_TRANSLATE_NOOP("TfrmFramora", "自動キャプチャ");
const char* const ProgressText = QT_TRANSLATE_NOOP("TfrmFramora", "動画を調べています...");
const char* const CancelText = QT_TRANSLATE_NOOP("TfrmFramora", "キャンセル");
const char* const LimitMessage =
    QT_TRANSLATE_NOOP("TfrmFramora", "シーンが%1個になったため、%2 の位置で自動キャプチャを終了しました。");
const char* const UnreadableMessage = QT_TRANSLATE_NOOP("TfrmFramora", "動画を読み取れませんでした。");
// With the sharpest option, a scene's still is the sharpest picture this long from its cut.
constexpr std::int32_t SharpestSceneStartMs = 2000;

} // namespace

// The scan in progress. The worker hands over one picture at a time and waits until the window
// has taken it, so that a scan stopped at the scene limit or cancelled has not run far ahead.
struct TfrmFramora::TAutoCapture {
    std::uint64_t Scan = 0;
    std::int32_t StartMs = 0;
    std::int32_t LastTimeMs = -1; // the last still added; -1 before the first
    bool LimitReached = false;
    bool Cancelled = false;
    QPointer<QProgressDialog> Progress; // closed when the scan ends; it deletes itself then

    std::mutex Lock;
    std::condition_variable_any Taken;
    int InFlight = 0; // under Lock: pictures sent and not yet taken
    // Declared last: it stops and joins first, while the rest is still there.
    std::jthread Worker;
};

void TfrmFramora::TAutoCaptureEnd::operator()(TAutoCapture* scan) const
{
    delete scan;
}

void TfrmFramora::AutoCapture1Popup()
{
    const bool can = FrameShown && !MoviePath.isEmpty() && !AutoCapture && SceneCount < MaxSceneCount && !SceneListBusy();
    CaptureScenes1->setEnabled(can);
    CaptureEvery1->setEnabled(can);
}

bool TfrmFramora::AutoCaptureRunning() const
{
    return AutoCapture != nullptr;
}

void TfrmFramora::CaptureScenes1Click()
{
    StartAutoCapture(static_cast<int>(TAutoCaptureMode::Scenes));
}

void TfrmFramora::CaptureEvery1Click()
{
    StartAutoCapture(static_cast<int>(TAutoCaptureMode::Interval));
}

void TfrmFramora::StartAutoCapture(int Mode)
{
    if (AutoCapture || MoviePath.isEmpty() || !FrameShown || SceneCount >= MaxSceneCount || SceneListBusy())
        return;
    const auto mode = static_cast<TAutoCaptureMode>(Mode);
    const std::optional<TAutoCaptureChoice> choice = AskAutoCapture(this, mode, DefaultAutoCaptureChoice());
    if (!choice)
        return;

    auto scan = std::unique_ptr<TAutoCapture, TAutoCaptureEnd>(new TAutoCapture);
    scan->Scan = ++AutoCaptureScans;
    scan->StartMs = choice->FromCurrent ? TrackBar1->value() : 0;
    const std::int32_t duration = std::max(1, TrackBar1->maximum());

    auto* progress = new QProgressDialog(tr(ProgressText), tr(CancelText), 0, std::max(1, duration - scan->StartMs), this);
    progress->setObjectName(QStringLiteral("AutoCaptureProgress"));
    progress->setWindowTitle(tr(ProgressTitle));
    progress->setWindowModality(Qt::NonModal);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(0);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    connect(progress, &QProgressDialog::canceled, this, &TfrmFramora::CancelAutoCapture);
    scan->Progress = progress;

    // The worker reads nothing of the window: its own decoder on the same file, and messages
    // queued to the window thread.
    const std::string path = QFile::encodeName(MoviePath).toStdString();
    const std::uint64_t id = scan->Scan;
    const std::int32_t start = scan->StartMs;
    const TAutoCaptureChoice chosen = *choice;
    // The stills are the window's captures: made as the window makes its pictures, and their
    // provenance names the window's settings.
    const TDeinterlace deinterlace = FrameSettings.Deinterlace;
    const bool toneMapping = FrameSettings.ToneMapping;
    TAutoCapture* shared = scan.get();
    scan->Worker = std::jthread([this, shared, path, id, start, mode, chosen, deinterlace,
                                 toneMapping](std::stop_token stop) {
        LowerThisThreadPriority();
        // A stop ends the decoder's call in progress (the opening included) at its next packet,
        // so that the window's join of this thread is short whatever the scan is doing.
        std::atomic<bool> stopped{false};
        const std::stop_callback raise(stop, [&stopped] { stopped = true; });
        TMovieDecoder decoder;
        decoder.SetStopSignal(&stopped);
        decoder.SetDeinterlace(deinterlace);
        decoder.SetToneMapping(toneMapping);
        TSceneScanner scanner(decoder);
        // The sharpest of a scene's start is found by a second decoder: the scan reads on with
        // the first.
        std::unique_ptr<TMovieDecoder> chooser;
        if (chosen.Sharpest && mode == TAutoCaptureMode::Scenes) {
            chooser = std::make_unique<TMovieDecoder>();
            chooser->SetStopSignal(&stopped);
            chooser->SetDeinterlace(deinterlace);
            chooser->SetToneMapping(toneMapping);
            if (!chooser->Open(path))
                chooser.reset();
        }
        const auto found = [&](const TSceneScanner::TFound& picture) {
            {
                std::unique_lock lock(shared->Lock);
                if (!shared->Taken.wait(lock, stop, [shared] { return shared->InFlight == 0; }))
                    return false;
                ++shared->InFlight;
            }
            // A copy of its own: the decoder renders the next picture into the same rows.
            QImage copy = picture.Picture.Image().copy();
            TDisplayTransform display = picture.Display;
            std::int32_t time = picture.TimeMs;
            std::optional<TSharpestPicture> sharpest;
            if (chooser)
                sharpest = SharpestPicture::Find(*chooser, picture.MarkMs, picture.MarkMs + SharpestSceneStartMs,
                                                 picture.TimeMs);
            if (sharpest) {
                copy = chooser->Bitmap().Image().copy();
                display = chooser->DisplayTransform();
                time = sharpest->TimeMs;
            }
            QMetaObject::invokeMethod(
                this, [this, id, copy, display, time, sharpest] { AutoCaptureFound(id, copy, display, time, sharpest); },
                Qt::QueuedConnection);
            return !stop.stop_requested();
        };
        const auto progress = [this, id](std::int32_t position) {
            QMetaObject::invokeMethod(this, [this, id, position] { AutoCaptureProgress(id, position); },
                                      Qt::QueuedConnection);
        };
        bool read = decoder.Open(path);
        if (read) {
            read = mode == TAutoCaptureMode::Scenes
                ? scanner.ScanScenes(start, SceneDetection::TSettings{chosen.Threshold}, stop, found, progress)
                : scanner.ScanIntervals(start, static_cast<std::int32_t>(chosen.IntervalSeconds * 1000), stop,
                                        found, progress);
        }
        QMetaObject::invokeMethod(this, [this, id, read] { AutoCaptureEnded(id, read); }, Qt::QueuedConnection);
    });
    AutoCapture = std::move(scan);
    progress->show();
}

void TfrmFramora::AutoCaptureFound(std::uint64_t Scan, const QImage& Picture, const TDisplayTransform& Display,
                                   std::int32_t TimeMs, const std::optional<TSharpestPicture>& Sharpest)
{
    if (!AutoCapture || AutoCapture->Scan != Scan)
        return;
    // In line with the captures asked before it, and with its subtitles: the scan waits for it
    // to be taken.
    TPictureUse use;
    use.Frame.Image() = Picture;
    use.Display = Display;
    use.TimeMs = TimeMs;
    use.Use = [this, Scan, Sharpest](const TBitmap& frame, const TDisplayTransform& display, std::int32_t timeMs) {
        AutoCaptureTaken(Scan, frame, display, timeMs, Sharpest);
    };
    UsePicture(std::move(use));
}

void TfrmFramora::AutoCaptureTaken(std::uint64_t Scan, const TBitmap& Frame, const TDisplayTransform& Display,
                                   std::int32_t TimeMs, const std::optional<TSharpestPicture>& Sharpest)
{
    if (!AutoCapture || AutoCapture->Scan != Scan)
        return;
    TAutoCapture& scan = *AutoCapture;
    if (!scan.Cancelled && !scan.LimitReached) {
        if (Sharpest ? AddSharpestScene(StoredPicture(Frame, Display), TimeMs, *Sharpest) : AddScene(Frame, Display, TimeMs))
            scan.LastTimeMs = TimeMs;
        if (SceneCount >= MaxSceneCount) {
            scan.LimitReached = true;
            scan.Worker.request_stop();
        }
    }
    {
        std::lock_guard lock(scan.Lock);
        --scan.InFlight;
    }
    scan.Taken.notify_all();
}

void TfrmFramora::AutoCaptureProgress(std::uint64_t Scan, std::int32_t PositionMs)
{
    if (!AutoCapture || AutoCapture->Scan != Scan || !AutoCapture->Progress)
        return;
    AutoCapture->Progress->setValue(std::clamp(PositionMs - AutoCapture->StartMs, 0, AutoCapture->Progress->maximum()));
}

void TfrmFramora::AutoCaptureEnded(std::uint64_t Scan, bool Read)
{
    if (!AutoCapture || AutoCapture->Scan != Scan)
        return;
    const bool limitReached = AutoCapture->LimitReached;
    const bool cancelled = AutoCapture->Cancelled;
    const std::int32_t lastMs = AutoCapture->LastTimeMs;
    StopAutoCapture();
    if (limitReached)
        MessageBox(this, tr(LimitMessage).arg(MaxSceneCount).arg(FormatPlayTime(lastMs)), Caption(), TMsgButtons::OK);
    else if (!Read && !cancelled)
        MessageBox(this, tr(UnreadableMessage), Caption(), TMsgButtons::OK);
    UpdateCommands();
}

void TfrmFramora::CancelAutoCapture()
{
    if (!AutoCapture)
        return;
    AutoCapture->Cancelled = true;
    AutoCapture->Worker.request_stop();
}

void TfrmFramora::StopAutoCapture()
{
    if (!AutoCapture)
        return;
    AutoCapture->Worker.request_stop();
    AutoCapture->Worker.join();
    if (QProgressDialog* progress = AutoCapture->Progress) {
        // Closing it must not read as a cancel of the next scan.
        progress->disconnect(this);
        progress->close();
    }
    AutoCapture.reset();
}
