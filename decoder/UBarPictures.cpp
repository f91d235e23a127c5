// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UBarPictures.h"

#include "decoder/UMovieDecoder.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>

namespace {

// The bar's pictures are looks the user may pass over: on a machine of few processors the
// window thread (and the window's own decoder) go first. The codec's slice threads are made on
// this thread and take its priority.
constexpr int BarPictureNiceness = 5;

void LowerThisThreadsPriority()
{
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    if (errno == 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), now + BarPictureNiceness);
}

} // namespace

namespace BarPictureGeometry {

QSize UprightSize(QSize coded, const TDisplayTransform& display)
{
    const QSize shown = DisplayGeometry::DisplayedSize(coded, display, TAspectScaling::Display);
    if (shown.isEmpty())
        return {};
    const double aspect = static_cast<double>(shown.width()) / shown.height();
    const int height = static_cast<int>(std::lround(PictureWidth / aspect));
    if (height <= MaxPictureHeight)
        return {PictureWidth, std::max(height, 1)};
    return {std::max(static_cast<int>(std::lround(MaxPictureHeight * aspect)), 1), MaxPictureHeight};
}

QSize CodedOrientationSize(QSize coded, const TDisplayTransform& display)
{
    const QSize upright = UprightSize(coded, display);
    return display.Rotation == 90 || display.Rotation == 270 ? upright.transposed() : upright;
}

std::int32_t PlaceOf(std::int32_t timeMs, std::int32_t durationMs)
{
    const std::int32_t span = std::max(MinPlaceMs, durationMs / PlacesPerMovie);
    return std::max(timeMs, 0) / span;
}

} // namespace BarPictureGeometry

const TBarPictureCache::TEntry* TBarPictureCache::Find(std::int32_t place, const TPictureSettings& settings)
{
    const auto found = std::find_if(FEntries.begin(), FEntries.end(), [&](const TEntry& entry) {
        return entry.Place == place && entry.Settings == settings;
    });
    if (found == FEntries.end())
        return nullptr;
    FEntries.splice(FEntries.begin(), FEntries, found);
    return &FEntries.front();
}

void TBarPictureCache::Put(TEntry entry)
{
    const std::int64_t bytes = BytesOf(entry.Picture);
    if (bytes > FLimit)
        return;
    // The same place made again (the settings changed back and forth) replaces what it was.
    const auto same = std::find_if(FEntries.begin(), FEntries.end(), [&](const TEntry& kept) {
        return kept.Place == entry.Place && kept.Settings == entry.Settings;
    });
    if (same != FEntries.end()) {
        FBytes -= BytesOf(same->Picture);
        FEntries.erase(same);
    }
    while (!FEntries.empty() && FBytes + bytes > FLimit) {
        FBytes -= BytesOf(FEntries.back().Picture);
        FEntries.pop_back();
    }
    FEntries.push_front(std::move(entry));
    FBytes += bytes;
}

void TBarPictureCache::Clear()
{
    FEntries.clear();
    FBytes = 0;
}

std::int64_t TBarPictureCache::BytesOf(const QImage& picture)
{
    return picture.sizeInBytes();
}

std::unique_ptr<TMovieDecoder> NewBarPictureDecoder()
{
    auto decoder = std::make_unique<TMovieDecoder>();
    decoder->SetCacheLimit(0);
    decoder->SetLooksOnly(true);
    return decoder;
}

TBarPictures::TBarPictures(TShown shown, std::unique_ptr<TMovieDecoder> decoder) : FShown(std::move(shown))
{
    if (!decoder)
        decoder = NewBarPictureDecoder();
    FThread = std::make_unique<TDecodingThread>(
        std::move(decoder),
        [this](std::shared_ptr<TDecodingAnswer> answer) {
            QMetaObject::invokeMethod(&FReceiver, [this, answer] { Take(answer); }, Qt::QueuedConnection);
        },
        LowerThisThreadsPriority);
}

TBarPictures::~TBarPictures()
{
    FThread.reset();
}

void TBarPictures::Open(const std::string& fileName, std::int32_t durationMs, QSize coded,
                        const TDisplayTransform& display)
{
    FCache.Clear();
    FNext.reset();
    FInFlightAsk.reset();
    FAskedSerial = 0;
    FFileName = fileName;
    FDuration = durationMs;
    FUpright = BarPictureGeometry::UprightSize(coded, display);
    FCodedOrientation = BarPictureGeometry::CodedOrientationSize(coded, display);
    TDecodingRequest request;
    request.Kind = TDecodingKind::Open;
    request.FileName = fileName;
    ++FInFlight;
    FOpenSerial = FThread->Post(std::move(request));
}

void TBarPictures::Close()
{
    if (!IsOpen())
        return;
    FCache.Clear();
    FNext.reset();
    FInFlightAsk.reset();
    FAskedSerial = 0;
    FFileName.clear();
    // An opening that cannot succeed closes the movie before it, and its decoder with it.
    TDecodingRequest request;
    request.Kind = TDecodingKind::Open;
    ++FInFlight;
    FOpenSerial = FThread->Post(std::move(request));
}

void TBarPictures::Ask(std::int32_t timeMs, const TPictureSettings& settings)
{
    if (!IsOpen() || FCodedOrientation.isEmpty())
        return;
    const TAsk ask{std::clamp(timeMs, 0, std::max(FDuration - 1, 0)), settings};
    if (const TBarPictureCache::TEntry* kept = FCache.Find(BarPictureGeometry::PlaceOf(ask.TimeMs, FDuration), settings)) {
        FNext.reset();
        FShown(timeMs, kept->Picture, kept->FrameTimeMs);
        return;
    }
    // One picture at a time: a stopped picture would be wasted work while the pointer sweeps,
    // and the place asked last is the one that matters once the one in progress is done.
    if (FAskedSerial) {
        FNext = ask;
        return;
    }
    Post(ask);
}

void TBarPictures::Post(const TAsk& ask)
{
    TDecodingRequest request;
    request.Kind = TDecodingKind::BarPicture;
    request.TimeMs = ask.TimeMs;
    request.Settings = ask.Settings;
    request.PreviewSize = FCodedOrientation;
    FInFlightAsk = ask;
    ++FInFlight;
    FAskedSerial = FThread->Post(std::move(request));
}

void TBarPictures::Take(const std::shared_ptr<TDecodingAnswer>& answer)
{
    if (answer->Outcome == TDecodingAnswer::TOutcome::FirstLook)
        return;
    --FInFlight;
    if (answer->Kind == TDecodingKind::Open && answer->Serial == FOpenSerial
        && answer->Outcome != TDecodingAnswer::TOutcome::Shown) {
        // The window opened a movie this decoder could not (a file gone meanwhile): no pictures.
        FFileName.clear();
        FNext.reset();
        return;
    }
    if (answer->Kind != TDecodingKind::BarPicture || answer->Serial != FAskedSerial)
        return;
    FAskedSerial = 0;
    const TAsk asked = *FInFlightAsk;
    FInFlightAsk.reset();
    if (answer->Outcome == TDecodingAnswer::TOutcome::Shown && !answer->Picture.Empty()) {
        const QImage picture = answer->Picture.Image();
        FCache.Put({BarPictureGeometry::PlaceOf(asked.TimeMs, FDuration), asked.Settings, picture, answer->FrameTimeMs});
        FShown(asked.TimeMs, picture, answer->FrameTimeMs);
    }
    if (FNext) {
        const TAsk next = *FNext;
        FNext.reset();
        Ask(next.TimeMs, next.Settings);
    }
}
