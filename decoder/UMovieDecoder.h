// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TMovieDecoder: opens one movie at a time and renders the picture at a millisecond into a
// 24-bit bitmap it owns. FFmpeg is tried first; AVI files it refuses go to the AVIFile stand-in.
// Everything above this unit sees milliseconds and TBitmap only, never an FFmpeg type.
#include "decoder/UDisplayPicture.h"
#include "decoder/UMovieSubtitles.h"
#include "decoder/UMovieTime.h"
#include "decoder/UPictureSettings.h"
#include "framework/TBitmap.h"
#include "framework/TStream.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct AVFrame;

class TMovieDecoder {
public:
    TMovieDecoder();
    ~TMovieDecoder();
    TMovieDecoder(const TMovieDecoder&) = delete;
    TMovieDecoder& operator=(const TMovieDecoder&) = delete;

    bool Open(const std::string& FileName);
    // Why the last Open failed, as FFmpeg put it ("Invalid data found when processing input");
    // empty when it gave no reason.
    const std::string& OpenError() const { return FOpenError; }
    bool Close();
    // From time 0 to the end of the last picture, in milliseconds.
    std::int32_t Duration() const;
    std::int32_t Width() const;
    std::int32_t Height() const;
    bool DecodeFrame(std::int32_t TimeMs);
    // A look at the place rather than its picture: the key frame at or before TimeMs (the
    // first picture for a time before it), one seek and a few packets whatever the distance
    // between key frames. The preview size applies as for playback requests; the AVIFile
    // service, whose samples all stand alone, shows the picture at TimeMs.
    bool DecodeKeyFrame(std::int32_t TimeMs);

    // Exact positioning (off until set): a request shows the last picture presented at or before
    // its time, the first picture for a time before it and the last for a time past the end.
    // Off, a far request lands on the first key frame at or after its time, or in the movie's last
    // stretch, which has none after it, on the one before. Time 0 is the first picture shown
    // (an edit list may begin after pictures that are decoded but never shown).
    void SetExact(bool exact) { FExact = exact; }
    bool Exact() const { return FExact; }
    // Whether an exact request keeps pictures decoded on its way for the steps back that may
    // follow (on until set). A decoder that only reads on (a scan, stills at rising times) keeps
    // none: each one kept is fresh memory for the codec, and colder caches for what it decodes
    // next.
    void SetKeepsPicturesBehind(bool keeps);
    bool KeepsPicturesBehind() const;
    // What is done to decoded pictures before they become the bitmap (deinterlacing on flagged
    // pictures and tone mapping until set). A change empties the picture cache; the picture on
    // Bitmap stays until the next request.
    void SetDeinterlace(TDeinterlace mode);
    TDeinterlace Deinterlace() const;
    void SetToneMapping(bool on);
    bool ToneMapping() const;
    // One picture forward or back from the one on Bitmap, in either mode; at either end of the
    // movie the picture stays.
    bool DecodeNextFrame();
    bool DecodePreviousFrame();
    // When the picture on Bitmap is presented, in milliseconds from the movie's start, rounded up
    // so that a request for that time shows it again; -1 when there is none.
    std::int32_t FrameTimeMs() const;
    // Converted pictures around the position are kept up to this many bytes, so that stepping
    // back over them decodes nothing. Opening a movie empties the cache.
    void SetCacheLimit(std::int64_t bytes);
    std::int64_t CacheLimit() const;
    std::int64_t CachedBytes() const;
    // Pictures the codec has put out since the movie was opened: what requests cost.
    std::int64_t DecodedPictures() const;

    // A call into FFmpeg that may read (open, probe, seek, read) gives up after this long, so
    // that a damaged or endless input cannot hang the caller. Generous enough for a DVD drive
    // spinning up; tests shorten it.
    static constexpr int DefaultCallTimeLimitMs = 10000;
    void SetCallTimeLimit(int milliseconds);
    // A flag another thread raises to end the call in progress (an opening, a request, a step)
    // at its next packet: the call then answers false and leaves the picture on Bitmap as it
    // was. Null (the default) for none; the flag must outlive the decoder or be unset first.
    // Lowering it again is the caller's part, before its next call.
    void SetStopSignal(const std::atomic<bool>* stop);
    // Whether the stop signal is raised.
    bool StopAsked() const;
    // An exact request far from the pictures at hand first seeks to a key frame and decodes on
    // from it, which may take seconds: the key frame, at the preview size when one is set, is
    // handed here first with its time, as a look at the place while the picture asked for is
    // found. Empty (the default) for none. Called on the thread that made the request.
    using TFirstLook = std::function<void(const QImage& look, std::int32_t timeMs)>;
    void SetFirstLook(TFirstLook look);
    // Threads the codec decodes with, from the next opening: 0 (the default) one per processor
    // the process may use for pictures larger than 1080p, up to MovieTime::MaxDecodingThreads,
    // and one for the others (MovieTime::DecodingThreads). The pictures are the same
    // either way; only playback's reading on is measured in packets and reads further with more.
    void SetDecodingThreads(int count);
    // From the next opening, the codec is set for single key frames seen small (the position
    // bar's pictures): slice threads only, one per processor, so that no picture waits for the
    // ones after it, and no deblocking, which a picture a twentieth of its size does not show.
    // Off by default; exact pictures are not made this way.
    void SetLooksOnly(bool on);
    // Threads the open movie's codec decodes with; 0 when none is open (or the AVIFile service
    // decodes).
    int DecodingThreads() const;

    // A movie whose pictures have more pixels than this is not opened, and a picture that grows
    // past it is not decoded: a damaged or lying header costs nothing. 8K by default; the fuzzer
    // lowers it.
    static constexpr std::int64_t DefaultMaxPicturePixels = std::int64_t{7680} * 4320;
    void SetMaxPicturePixels(std::int64_t pixels);

    bool IsOpen() const { return FIsOpen; }
    // The picture shown, at the movie's coded size. After a playback request that made a
    // preview it is converted from the decoded picture, still held, when first asked for.
    const TBitmap& Bitmap() const;
    // The size pictures are drawn at, in the coded picture's orientation; empty (the default)
    // for none. Playback requests then convert a larger picture straight to that size, once,
    // into Preview, and leave Bitmap to be made when asked.
    void SetPreviewSize(QSize size);
    // The last request's picture at the preview size; empty when that request made none (exact
    // positioning, a picture no larger than the preview, the AVIFile service).
    const TBitmap& Preview() const { return *FPreview; }
    const std::string& FileName() const { return FFileName; }
    // How the movie's pictures are meant to be shown (Bitmap keeps the coded size): the
    // stream's display matrix, and the sample aspect of the container, else of the picture
    // decoded last (a DVD may switch between 4:3 and 16:9).
    // Identity when nothing is open and for the AVIFile service, which knows neither.
    TDisplayTransform DisplayTransform() const;
    // Whether the movie open (or open last) came through the AVIFile service.
    bool UsesAVIFile() const;
    // Pictures a second the movie states (its guessed frame rate); 0 when it states none or
    // nothing is open.
    double FrameRate() const;
    // FFmpeg's short name of the video codec ("h264", "mpeg2video"); empty when nothing is open.
    std::string CodecName() const;
    // The subtitle streams of the movie open, in container order; none for the AVIFile service.
    std::vector<TSubtitleStreamInfo> SubtitleStreams() const;

    // The decoder's helper owns every FFmpeg and AVIFile resource (see MovieDecoderState.h).
    struct TState;

    // Writes a Windows bitmap file image of a packed DIB (header, colour table or bit-field
    // masks, rows) into Stream and leaves it at position 0. The sizes are taken from the header,
    // so Block must be a picture the AVIFile frame getter handed out (or as trustworthy).
    static void WriteBitmapFileImage(TStream& Stream, const void* Block);

private:
    // Automatic capture reads every picture in turn, below the requests above.
    friend class TSceneScanner;

    // The FFmpeg input (UMovieReader.cpp).
    bool OpenWithFFmpeg(const std::string& FileName);
    // The sizes, the cache and the first picture of a movie whose codec is open.
    void TakeOpenedMovie(const std::string& FileName);
    // Keeps FFmpeg's text for status as the reason Open failed; false.
    bool OpenFailed(int status);
    // Frees what an FFmpeg opening created, in the order Close uses; safe on a partial opening.
    void ReleaseFFmpeg();
    bool ReadVideoPacket();
    bool DecodeVideoPacket();
    // At the end of the file: takes at most count of the pictures the codec still holds.
    void TakeHeldPictures(int count);
    enum class TNextPicture { Picture, End, Failed };
    TNextPicture NextPicture(int& budget);

    bool SeekTo(std::int32_t TimeMs);
    // A request that put a full-size picture on Bitmap: the preview and the picture held for
    // it go. Passes shown through.
    bool ShownFullSize(bool shown);
    // Converts the held picture into Bitmap, when one waits for it.
    void MakePendingBitmap() const;
    bool PreviewWanted() const;
    bool RenderFrame();
    // Playback positioning (UPlaybackPositioning.cpp).
    bool SeekWithFFmpeg(std::int32_t TimeMs);
    // Where a playback seek lands: the file's first key frame, the key frame at or after the time
    // (else the one before), or the one before.
    enum class TPlaybackSeek { FromStart, AtOrAfter, Before };
    bool SeekForPlayback(std::int64_t decodingTime, TPlaybackSeek where);
    bool SeekBackForPlayback(std::int64_t decodingTime, int budget);
    bool DecodeFirstSoundPicture(int budget);
    bool TakeFirstSoundHeldPicture();
    void ReadOn(std::int64_t target);
    bool RenderWithFFmpeg();

    // Exact positioning with FFmpeg (UExactPositioning.cpp); target in the video stream's
    // time-base units.
    bool DecodeExactly(std::int64_t target);
    bool CanReadOn(std::int64_t target) const;
    bool SeekExactly(std::int64_t target, bool keepBefore);
    bool SeekBackTo(std::int64_t decodingTime);
    bool ReadOnExactly(std::int64_t target, bool keepBefore, int& budget);
    void KeepPicture(std::int64_t pts, std::int64_t position, const AVFrame* next);
    void ShowFirstLook(std::int64_t keyPts);
    void TakeCandidate(std::int64_t pts);
    void SetPictureSettings(const TPictureSettings& settings);
    bool ShowCandidate(std::int64_t nextPts);
    bool KeepsDecoded() const;
    bool ShowHeld(std::int64_t pts);
    bool ConvertHeld(std::int64_t pts);
    bool SuccessorKnown(std::int64_t pts) const;
    bool CandidateNeighboursKnown() const;
    std::int64_t UnwantedBefore(std::int64_t target, bool keepBefore) const;
    std::int64_t ConversionSpan() const;
    std::int64_t DecodedSpan(std::int64_t decodedBytes) const;
    std::int64_t SpanFor(std::int64_t pictureBytes, std::int64_t room) const;
    std::int64_t FrameDuration() const;

    // The AVIFile service (UAVIFileDecoding.cpp).
    bool OpenWithAVIFile(const std::string& FileName);
    // The file and the chosen stream while an AVIFile opening runs; kept only if it succeeds.
    struct TAVIHandles;
    bool OpenAVIFileSteps(const std::string& FileName, TAVIHandles& Handles);
    void ReleaseAVIFile();
    bool SeekAVIFile(std::int32_t TimeMs);
    bool FetchAVIFileSample(std::int64_t sample);
    bool StepAVIFile(int direction);
    bool RenderAVIFileFrame();

    std::string FFileName;
    std::string FOpenError; // valid after an Open that failed
    bool FIsOpen = false;
    bool FExact = false;
    std::unique_ptr<TBitmap> FBitmap;
    std::unique_ptr<TBitmap> FPreview;
    std::unique_ptr<TState> FState;
};
