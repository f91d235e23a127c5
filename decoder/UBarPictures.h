// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small pictures of places in the movie for the position bar: a decoder of its own on a thread
// of its own (a TDecodingThread), key frames rather than exact pictures, a small cache, and the
// newest place asked served next. The thread that asks never waits: a picture at hand comes at
// once, any other later, through the function given at construction, on the asking thread.
#include "decoder/UDecodingThread.h"
#include "decoder/UDisplayPicture.h"
#include "decoder/UPictureSettings.h"

#include <QImage>
#include <QObject>
#include <QSize>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>

namespace BarPictureGeometry {

// About the width a pointer's neighbourhood on the bar needs; a portrait movie is held to a
// height that still leaves the bar's picture on a small screen.
inline constexpr int PictureWidth = 160;
inline constexpr int MaxPictureHeight = 284;

// The upright picture's size for a movie of coded size shown as display says: PictureWidth wide
// at the display aspect, or MaxPictureHeight high when that is too tall; empty for an empty size.
QSize UprightSize(QSize coded, const TDisplayTransform& display);
// The same picture in the coded orientation: what the decoder scales to before the turn.
QSize CodedOrientationSize(QSize coded, const TDisplayTransform& display);

// Places closer together than this share a picture: a pointer moved by a pixel over a long movie
// asks for nothing new. A five-hundredth of the movie, and never below a tenth of a second.
inline constexpr std::int32_t PlacesPerMovie = 500;
inline constexpr std::int32_t MinPlaceMs = 100;
std::int32_t PlaceOf(std::int32_t timeMs, std::int32_t durationMs);

} // namespace BarPictureGeometry

// The decoder bar pictures are made with: set for looks (TMovieDecoder::SetLooksOnly) and with no
// cache of full pictures (places a key frame apart are never stepped over).
std::unique_ptr<TMovieDecoder> NewBarPictureDecoder();

// The pictures made, the newest used kept, within a bound in bytes.
class TBarPictureCache {
public:
    // Each picture is at most PictureWidth x MaxPictureHeight at 24 bits (136 KB): this keeps
    // a hundred of a wide movie's (43 KB each) and no less than 30 of the largest.
    static constexpr std::int64_t DefaultLimitBytes = std::int64_t{4} << 20;
    explicit TBarPictureCache(std::int64_t limitBytes = DefaultLimitBytes) : FLimit(limitBytes) {}

    struct TEntry {
        std::int32_t Place = 0;
        TPictureSettings Settings;
        QImage Picture;
        std::int32_t FrameTimeMs = -1;
    };
    // The entry of place made with settings, now the newest used; null when there is none.
    const TEntry* Find(std::int32_t place, const TPictureSettings& settings);
    // Keeps entry as the newest, dropping the oldest used beyond the bound (a picture larger than
    // the bound alone is not kept).
    void Put(TEntry entry);
    void Clear();
    std::int64_t Bytes() const { return FBytes; }
    std::int64_t LimitBytes() const { return FLimit; }
    std::size_t Count() const { return FEntries.size(); }

private:
    static std::int64_t BytesOf(const QImage& picture);
    std::int64_t FLimit;
    std::int64_t FBytes = 0;
    std::list<TEntry> FEntries; // newest used first
};

class TBarPictures {
public:
    // A picture for the place asked at requestedMs (the picture's own time, a key frame's, is
    // frameTimeMs): called on the thread that asks.
    using TShown = std::function<void(std::int32_t requestedMs, const QImage& picture, std::int32_t frameTimeMs)>;
    // decoder: the decoder to work with; a null one is NewBarPictureDecoder's.
    explicit TBarPictures(TShown shown, std::unique_ptr<TMovieDecoder> decoder = nullptr);
    // Stops the picture in progress at its next packet and joins the thread.
    ~TBarPictures();
    TBarPictures(const TBarPictures&) = delete;
    TBarPictures& operator=(const TBarPictures&) = delete;

    // Opens fileName (the movie the window opened, of duration and coded size, shown as display
    // says) on the decoder of its own, closing the one before; the cache empties.
    void Open(const std::string& fileName, std::int32_t durationMs, QSize coded, const TDisplayTransform& display);
    // Forgets the movie: the decoder closes it, pictures on the way are dropped.
    void Close();
    bool IsOpen() const { return !FFileName.empty(); }
    // Asks for the picture of the place at timeMs made with settings: from the cache at once,
    // else when the decoder has finished the picture in progress (the newest asked meanwhile
    // wins).
    void Ask(std::int32_t timeMs, const TPictureSettings& settings);
    // Nothing is asked and nothing is on its way.
    bool Settled() const { return FInFlight == 0 && !FNext; }
    const TBarPictureCache& Cache() const { return FCache; }
    // The size pictures of the movie open come at, upright.
    QSize PictureSize() const { return FUpright; }

private:
    struct TAsk {
        std::int32_t TimeMs = 0;
        TPictureSettings Settings;
    };
    void Post(const TAsk& ask);
    void Take(const std::shared_ptr<TDecodingAnswer>& answer);

    TShown FShown;
    // Answers of the decoding thread are delivered through this object's queue on the asking
    // thread; it outlives the thread, and what is still queued goes with it.
    QObject FReceiver;
    TBarPictureCache FCache;
    std::string FFileName;          // the movie open; empty for none
    std::int32_t FDuration = 0;
    QSize FUpright;                 // the size pictures are shown at
    QSize FCodedOrientation;        // what the decoder scales to
    std::uint64_t FOpenSerial = 0;  // the opening of the movie open; answers before it are stale
    std::uint64_t FAskedSerial = 0; // the picture on its way; 0 for none
    std::optional<TAsk> FInFlightAsk;
    std::optional<TAsk> FNext;      // the newest place asked while a picture was on its way
    int FInFlight = 0;              // requests posted and not answered
    // Declared last: it goes first, and no answer comes after.
    std::unique_ptr<TDecodingThread> FThread;
};
