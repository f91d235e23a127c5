// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UDecodingThread.h"

#include "decoder/UMovieDecoder.h"

#include <algorithm>
#include <utility>

namespace {

using TOutcome = TDecodingAnswer::TOutcome;

// A request whose picture becomes a scene: it gets the picture it was posted for.
bool IsCapture(TDecodingKind kind)
{
    return kind == TDecodingKind::ShownPicture || kind == TDecodingKind::SharpestPicture;
}

bool IsStep(TDecodingKind kind)
{
    return kind == TDecodingKind::NextPicture || kind == TDecodingKind::PreviousPicture;
}

// What a newer request of kind makes pointless when it is still waiting: an opening ends every
// request of the movie before; a position, the positions and steps before it; a step, only the
// step waiting before it (the step after a position starts from that position's picture).
bool ReplacedBy(TDecodingKind waiting, TDecodingKind newer)
{
    switch (newer) {
    case TDecodingKind::Open:
        return !IsCapture(waiting);
    case TDecodingKind::BarPicture:
        return waiting == TDecodingKind::BarPicture;
    case TDecodingKind::Position:
        return waiting == TDecodingKind::Position || IsStep(waiting);
    case TDecodingKind::NextPicture:
    case TDecodingKind::PreviousPicture:
        return IsStep(waiting);
    case TDecodingKind::ShownPicture:
    case TDecodingKind::SharpestPicture:
        return false;
    }
    return false;
}

// Whether a newer request of kind stops the one running: a position or an opening stops a
// position or a step (a step is stopped by no other step: holding the key would then never
// show one). Nothing stops an opening or a full picture; the search for the sharpest picture,
// which may take a while, ends for another movie.
bool StoppedBy(TDecodingKind running, TDecodingKind newer)
{
    if (running == TDecodingKind::SharpestPicture)
        return newer == TDecodingKind::Open;
    const bool stoppable = running == TDecodingKind::Position || IsStep(running);
    return stoppable && (newer == TDecodingKind::Position || newer == TDecodingKind::Open);
}

} // namespace

TDecodingThread::TDecodingThread(std::unique_ptr<TMovieDecoder> decoder, TAnswer answer, std::function<void()> onStart)
    : FDecoder(std::move(decoder)), FAnswer(std::move(answer))
{
    FDecoder->SetStopSignal(&FStop);
    FThread = std::thread([this, onStart = std::move(onStart)] {
        if (onStart)
            onStart();
        Run();
    });
}

TDecodingThread::~TDecodingThread()
{
    {
        const std::lock_guard lock(FLock);
        FQuit = true;
        FWaiting.clear();
        FStop = true;
    }
    FWork.notify_one();
    FThread.join();
    FDecoder->SetStopSignal(nullptr);
}

std::uint64_t TDecodingThread::Post(TDecodingRequest request)
{
    std::vector<std::shared_ptr<TDecodingAnswer>> replaced;
    std::uint64_t serial = 0;
    {
        const std::lock_guard lock(FLock);
        serial = request.Serial = ++FLastSerial;
        // Requests behind a full picture's request are what the user asked after it: the ones
        // before it keep their place, so that it gets the picture that was shown when it came.
        const auto firstReplaceable = std::find_if(FWaiting.rbegin(), FWaiting.rend(), [](const TDecodingRequest& waiting) {
                                          return IsCapture(waiting.Kind);
                                      }).base();
        for (auto at = firstReplaceable; at != FWaiting.end();) {
            if (!ReplacedBy(at->Kind, request.Kind)) {
                ++at;
                continue;
            }
            auto answer = std::make_shared<TDecodingAnswer>();
            answer->Kind = at->Kind;
            answer->Serial = at->Serial;
            answer->Outcome = TOutcome::Replaced;
            replaced.push_back(std::move(answer));
            at = FWaiting.erase(at);
        }
        if (FBusy && StoppedBy(FRunning, request.Kind) && !CaptureWaits())
            FStop = true;
        FWaiting.push_back(std::move(request));
    }
    FWork.notify_one();
    for (auto& answer : replaced)
        FAnswer(std::move(answer));
    return serial;
}

bool TDecodingThread::CaptureWaits() const
{
    return std::any_of(FWaiting.begin(), FWaiting.end(),
                       [](const TDecodingRequest& waiting) { return IsCapture(waiting.Kind); });
}

void TDecodingThread::Run()
{
    for (;;) {
        TDecodingRequest request;
        {
            std::unique_lock lock(FLock);
            FWork.wait(lock, [this] { return FQuit || !FWaiting.empty(); });
            if (FQuit)
                return;
            request = std::move(FWaiting.front());
            FWaiting.pop_front();
            FRunning = request.Kind;
            FBusy = true;
            // A stop meant for the request before this one.
            FStop = false;
        }
        Serve(request);
        const std::lock_guard lock(FLock);
        FBusy = false;
    }
}

void TDecodingThread::Serve(TDecodingRequest& request)
{
    auto answer = std::make_shared<TDecodingAnswer>();
    answer->Kind = request.Kind;
    answer->Serial = request.Serial;
    try {
        if (request.Kind == TDecodingKind::Open)
            ServeOpen(request, *answer);
        else if (request.Kind == TDecodingKind::SharpestPicture)
            ServeSharpest(request, *answer);
        else if (request.Kind == TDecodingKind::BarPicture)
            ServeBarPicture(request, *answer);
        else
            ServePicture(request, *answer);
    } catch (...) {
        // A picture that cannot be made leaves the one before on screen.
        answer->Outcome = TOutcome::Failed;
        answer->Picture.SetSize(0, 0);
    }
    if (FStop && answer->Outcome == TOutcome::Failed)
        answer->Outcome = TOutcome::Replaced;
    FAnswer(std::move(answer));
}

void TDecodingThread::ServeOpen(const TDecodingRequest& request, TDecodingAnswer& answer)
{
    TMovieDecoder& decoder = *FDecoder;
    if (request.FileName.empty()) {
        decoder.Close();
        return;
    }
    if (!decoder.Open(request.FileName)) {
        answer.OpenError = decoder.OpenError();
        return;
    }
    answer.Outcome = TOutcome::Shown;
    answer.Facts = {decoder.FileName(), decoder.Duration(), QSize(decoder.Width(), decoder.Height()),
                    decoder.SubtitleStreams(), decoder.FrameRate(), decoder.CodecName()};
    answer.CodedSize = answer.Facts.CodedSize;
    answer.Display = decoder.DisplayTransform();
}

void TDecodingThread::ServePicture(const TDecodingRequest& request, TDecodingAnswer& answer)
{
    TMovieDecoder& decoder = *FDecoder;
    if (!decoder.IsOpen())
        return;
    bool shown = true;
    if (request.Kind != TDecodingKind::ShownPicture) {
        decoder.SetExact(request.Exact);
        decoder.SetDeinterlace(request.Settings.Deinterlace);
        decoder.SetToneMapping(request.Settings.ToneMapping);
        decoder.SetPreviewSize(request.PreviewSize);
        decoder.SetFirstLook([this, &request, &decoder](const QImage& look, std::int32_t timeMs) {
            auto first = std::make_shared<TDecodingAnswer>();
            first->Kind = request.Kind;
            first->Outcome = TOutcome::FirstLook;
            first->Serial = request.Serial;
            first->Picture.SetPixelFormat(TPixelFormat::pf24bit);
            first->Picture.Image() = look;
            first->Preview = look.width() != decoder.Width() || look.height() != decoder.Height();
            first->FrameTimeMs = timeMs;
            first->Settings = request.Settings;
            first->CodedSize = QSize(decoder.Width(), decoder.Height());
            first->Display = decoder.DisplayTransform();
            FAnswer(std::move(first));
        });
        shown = request.Kind == TDecodingKind::Position   ? decoder.DecodeFrame(request.TimeMs)
              : request.Kind == TDecodingKind::NextPicture ? decoder.DecodeNextFrame()
                                                           : decoder.DecodePreviousFrame();
        decoder.SetFirstLook({});
    }
    if (!shown)
        return;
    // The answer shares the decoder's rows: the decoder writes its next picture into rows of
    // its own while these are held (TBitmap::HasRowsWithRoom), so a copy here would only cost
    // a picture's worth of fresh memory per answer.
    const bool preview = request.Kind != TDecodingKind::ShownPicture && !decoder.Preview().Empty();
    if (request.Kind == TDecodingKind::ShownPicture && request.Upright)
        MakeDisplayedPicture(decoder.Bitmap(), decoder.DisplayTransform(), request.Scaling, answer.Picture);
    else
        answer.Picture.Share(preview ? decoder.Preview() : decoder.Bitmap());
    if (answer.Picture.Empty())
        return;
    answer.Preview = preview;
    Describe(answer);
}

void TDecodingThread::ServeSharpest(const TDecodingRequest& request, TDecodingAnswer& answer)
{
    TMovieDecoder& decoder = *FDecoder;
    if (!decoder.IsOpen())
        return;
    decoder.SetDeinterlace(request.Settings.Deinterlace);
    decoder.SetToneMapping(request.Settings.ToneMapping);
    const std::optional<TSharpestPicture> sharpest = SharpestPicture::Around(decoder, request.TimeMs, request.RangeMs);
    if (!sharpest)
        return;
    // Shown at full size: the picture on screen is the one stored.
    answer.Picture.Assign(decoder.Bitmap());
    if (request.Upright)
        MakeDisplayedPicture(decoder.Bitmap(), decoder.DisplayTransform(), request.Scaling, answer.Stored);
    else
        answer.Stored.Assign(decoder.Bitmap());
    if (answer.Picture.Empty() || answer.Stored.Empty())
        return;
    answer.Sharpest = *sharpest;
    Describe(answer);
}

// The rest of a picture's answer, from the picture the decoder shows.
void TDecodingThread::Describe(TDecodingAnswer& answer) const
{
    const TMovieDecoder& decoder = *FDecoder;
    answer.FrameTimeMs = decoder.FrameTimeMs();
    answer.Settings = {decoder.Deinterlace(), decoder.ToneMapping()};
    answer.CodedSize = QSize(decoder.Width(), decoder.Height());
    answer.Display = decoder.DisplayTransform();
    answer.Outcome = TOutcome::Shown;
}

void TDecodingThread::ServeBarPicture(const TDecodingRequest& request, TDecodingAnswer& answer)
{
    TMovieDecoder& decoder = *FDecoder;
    if (!decoder.IsOpen() || request.PreviewSize.isEmpty())
        return;
    decoder.SetDeinterlace(request.Settings.Deinterlace);
    decoder.SetToneMapping(request.Settings.ToneMapping);
    decoder.SetPreviewSize(request.PreviewSize);
    if (!decoder.DecodeKeyFrame(request.TimeMs))
        return;
    // A movie no larger than the picture asked for (or one the AVIFile service reads) comes at
    // its coded size: it is brought to that size here, off the asking thread.
    TBitmap sized;
    const TBitmap& made = decoder.Preview().Empty() ? decoder.Bitmap() : decoder.Preview();
    if (made.Empty())
        return;
    sized.SetPixelFormat(TPixelFormat::pf24bit);
    sized.Image() = made.Image().size() == request.PreviewSize
        ? made.Image().copy()
        : made.Image()
              .scaled(request.PreviewSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
              .convertToFormat(QImage::Format_BGR888);
    // Sized in the coded orientation at the display aspect: only the turn and mirror remain.
    MakeDisplayedPicture(sized, decoder.DisplayTransform(), TAspectScaling::Coded, answer.Picture);
    if (answer.Picture.Empty())
        return;
    answer.FrameTimeMs = decoder.FrameTimeMs();
    answer.Settings = {decoder.Deinterlace(), decoder.ToneMapping()};
    answer.CodedSize = QSize(decoder.Width(), decoder.Height());
    answer.Display = decoder.DisplayTransform();
    answer.Outcome = TOutcome::Shown;
}
