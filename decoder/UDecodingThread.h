// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TDecodingThread: a TMovieDecoder on a thread of its own, so that the thread that asks never
// decodes, converts a full picture or waits on a decoder. Requests are posted; each is answered
// once through the answer function given at construction: on the decoding thread, or, for a
// request replaced while it waited, on the thread that posted the newer one (a window passes
// every answer on to its own thread).
//
// The latest request wins: a position request stops the one running at its next packet, and a
// request still waiting is answered as replaced when a newer one of its kind comes. A request
// for the full picture shown (a capture, a copy) is never replaced, and the requests before it
// are no longer stopped, so that it gets the picture that was asked for when it was posted. A
// request for the sharpest picture around a time is a capture too: nothing replaces it, and only
// an opening (or the thread's end) stops it.
#include "decoder/UDisplayPicture.h"
#include "decoder/UMovieSubtitles.h"
#include "decoder/UPictureSettings.h"
#include "decoder/USharpestPicture.h"
#include "framework/TBitmap.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TMovieDecoder;

enum class TDecodingKind {
    Open,        // opens FileName, closing the movie before (an empty FileName only closes)
    Position,    // the picture at TimeMs
    NextPicture, // one picture on from the one shown
    PreviousPicture,
    ShownPicture, // the picture shown at full size: the last answered request's
    // The sharpest picture within RangeMs of TimeMs in the same scene, at full size and, as a
    // capture stores it, upright (Stored); the decoder is left showing it.
    SharpestPicture,
    // A small upright picture of the key frame at or before TimeMs, at PreviewSize turned
    // upright: a look at a place of the movie for the position bar, on a decoder of its own
    // (what it shows is not what the window shows).
    BarPicture
};

struct TDecodingRequest {
    TDecodingKind Kind = TDecodingKind::Position;
    std::string FileName;  // Open
    std::int32_t TimeMs = 0; // Position, SharpestPicture
    std::int32_t RangeMs = 0; // SharpestPicture, either way
    bool Exact = false;
    TPictureSettings Settings;
    // The size pictures are drawn at (TMovieDecoder::SetPreviewSize); empty for none.
    QSize PreviewSize;
    // ShownPicture and SharpestPicture: made upright, and at the display aspect when Scaling says, as a capture
    // stores it (MakeDisplayedPicture), so that the asking thread does not.
    bool Upright = false;
    TAspectScaling Scaling = TAspectScaling::Coded;
    std::uint64_t Serial = 0; // given by Post
};

// What is known of a movie once it is open.
struct TMovieFacts {
    std::string FileName;
    std::int32_t Duration = 0;
    QSize CodedSize;
    std::vector<TSubtitleStreamInfo> SubtitleStreams;
    double FrameRate = 0;  // pictures a second; 0 when the movie states none
    std::string Codec;     // FFmpeg's short name of the video codec ("h264")
};

struct TDecodingAnswer {
    enum class TOutcome {
        Shown,    // a picture came; for Open, the movie is open
        Failed,   // no picture (or no movie): what was shown stays
        Replaced, // a newer request took its place, or the thread was stopping
        FirstLook // not the answer yet: the key frame on the way to an exact picture
    };
    TDecodingKind Kind = TDecodingKind::Position;
    TOutcome Outcome = TOutcome::Failed;
    std::uint64_t Serial = 0;
    // The picture at its coded size, or at the preview size (Preview set) when the request
    // made it so; a first look is always at the preview size when one was asked.
    TBitmap Picture;
    bool Preview = false;
    std::int32_t FrameTimeMs = -1;
    TPictureSettings Settings; // what the picture was made with
    QSize CodedSize;
    TDisplayTransform Display;
    // SharpestPicture: the picture made as a capture stores it (Picture is as coded, to show),
    // and how it was chosen.
    TBitmap Stored;
    TSharpestPicture Sharpest;
    // Open: the movie's facts, or why it would not open.
    TMovieFacts Facts;
    std::string OpenError;
};

class TDecodingThread {
public:
    using TAnswer = std::function<void(std::shared_ptr<TDecodingAnswer>)>;
    // decoder is the decoder the thread works with (its settings are the caller's, made before);
    // onStart, when given, runs first on the new thread (its priority, say).
    TDecodingThread(std::unique_ptr<TMovieDecoder> decoder, TAnswer answer, std::function<void()> onStart = {});
    // Stops the request running at its next packet, answers none of the others and joins.
    ~TDecodingThread();
    TDecodingThread(const TDecodingThread&) = delete;
    TDecodingThread& operator=(const TDecodingThread&) = delete;

    // Queues request and answers its serial (counting from 1).
    std::uint64_t Post(TDecodingRequest request);

private:
    void Run();
    void Serve(TDecodingRequest& request);
    void ServeOpen(const TDecodingRequest& request, TDecodingAnswer& answer);
    void ServePicture(const TDecodingRequest& request, TDecodingAnswer& answer);
    void ServeSharpest(const TDecodingRequest& request, TDecodingAnswer& answer);
    void Describe(TDecodingAnswer& answer) const;
    void ServeBarPicture(const TDecodingRequest& request, TDecodingAnswer& answer);
    void ReplaceWaiting(TDecodingKind kind);
    bool CaptureWaits() const;

    std::unique_ptr<TMovieDecoder> FDecoder;
    TAnswer FAnswer;
    mutable std::mutex FLock;
    std::condition_variable FWork;
    std::deque<TDecodingRequest> FWaiting;     // under FLock
    TDecodingKind FRunning = TDecodingKind::Open; // under FLock, while FBusy
    bool FBusy = false;                          // under FLock
    bool FQuit = false;                          // under FLock
    std::uint64_t FLastSerial = 0;               // under FLock
    std::atomic<bool> FStop{false};
    std::thread FThread;
};
