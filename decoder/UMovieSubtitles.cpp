// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UMovieSubtitles.h"

#include "decoder/MovieSubtitlesIndex.h"
#include "decoder/UMovieSubtitlesReaper.h"
#include "decoder/USubtitleArithmetic.h"

#include <QPainter>

#include <algorithm>

using namespace MovieSubtitlesIndex;

namespace {

// Walking back from the event found for a time, no more events than this are looked at.
constexpr int MaxOverlappingEvents = 16;

} // namespace

ASS_Renderer* TMovieSubtitles::TIndex::RendererFor(QSize size, QSize displaySize)
{
    TSizedRenderer* chosen = &Renderers.front();
    for (TSizedRenderer& sized : Renderers) {
        if (sized.Frame == size && sized.Storage == displaySize) {
            chosen = &sized;
            break;
        }
        if (sized.LastUse < chosen->LastUse)
            chosen = &sized;
    }
    chosen->LastUse = ++RenderUses;
    if (chosen->Frame != size || chosen->Storage != displaySize) {
        chosen->Frame = size;
        chosen->Storage = displaySize;
        ass_set_frame_size(chosen->Renderer.get(), size.width(), size.height());
        // libass derives the pixel aspect from the storage size: text keeps the display's
        // proportions on a picture of the coded ones.
        if (!displaySize.isEmpty())
            ass_set_storage_size(chosen->Renderer.get(), displaySize.width(), displaySize.height());
    }
    return chosen->Renderer.get();
}

const ASS_Image* TMovieSubtitles::TIndex::RenderText(QSize size, std::int64_t timeMs, QSize displaySize)
{
    return ass_render_frame(RendererFor(size, displaySize), Track.get(), timeMs, nullptr);
}

bool TMovieSubtitles::TIndex::Draw(TBitmap& picture, std::int64_t timeMs, QSize displaySize)
{
    std::unique_lock<std::mutex> lock(Lock);
    if (!HasText()) {
        lock.unlock();
        const std::vector<TSubtitlePiece> pieces = Pieces(QSize(picture.Width(), picture.Height()), timeMs, displaySize);
        BlendInto(picture, pieces);
        return !pieces.empty();
    }
    bool drawn = false;
    for (const ASS_Image* image = RenderText(QSize(picture.Width(), picture.Height()), timeMs, displaySize); image;
         image = image->next) {
        if (image->w > 0 && image->h > 0) {
            BlendAssImage(picture, *image);
            drawn = true;
        }
    }
    return drawn;
}

std::vector<TSubtitlePiece> TMovieSubtitles::TIndex::Pieces(QSize size, std::int64_t timeMs, QSize displaySize)
{
    std::vector<TSubtitlePiece> pieces;
    if (size.isEmpty())
        return pieces;
    const std::lock_guard<std::mutex> guard(Lock);
    if (HasText()) {
        for (const ASS_Image* image = RenderText(size, timeMs, displaySize); image; image = image->next) {
            if (image->w > 0 && image->h > 0)
                pieces.push_back({QPoint(image->dst_x, image->dst_y), PieceOfAssImage(*image)});
        }
        return pieces;
    }
    auto it = std::upper_bound(Bitmaps.begin(), Bitmaps.end(), timeMs,
                               [](std::int64_t ms, const TBitmapEvent& e) { return ms < e.StartMs; });
    std::vector<const TBitmapEvent*> shown;
    for (int looked = 0; it != Bitmaps.begin() && looked < MaxOverlappingEvents; ++looked) {
        --it;
        if (it->EndMs > timeMs)
            shown.insert(shown.begin(), &*it);
    }
    for (const TBitmapEvent* event : shown) {
        for (const TBitmapRect& rect : event->Rects) {
            const SubtitleGeometry::TBitmapPlacement placed = SubtitleGeometry::PlaceBitmap(rect.Place, event->Canvas, size);
            if (placed.Source.isEmpty())
                continue;
            const QByteArray indices = qUncompress(rect.Indices);
            if (indices.size() != static_cast<qsizetype>(rect.Place.width()) * rect.Place.height())
                continue;
            QImage paletted(reinterpret_cast<const uchar*>(indices.constData()), rect.Place.width(),
                            rect.Place.height(), rect.Place.width(), QImage::Format_Indexed8);
            paletted.setColorTable(rect.Palette);
            if (placed.Source.size() != rect.Place.size())
                paletted = paletted.copy(placed.Source);
            QImage pixels = paletted.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                .scaled(placed.Target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            pieces.push_back({placed.Target.topLeft(), std::move(pixels)});
        }
    }
    return pieces;
}

TMovieSubtitles::TMovieSubtitles() = default;

TMovieSubtitles::~TMovieSubtitles()
{
    Close();
}

void TMovieSubtitles::OpenStream(const std::string& movie, const TSubtitleStreamInfo& stream)
{
    Close();
    FIndex = std::make_unique<TIndex>();
    FIndex->Reader = std::thread(&TIndex::Read, FIndex.get(), movie, stream.ContainerIndex, stream.MovieStartUs / 1000,
                                 SubtitleFiles::IfoBeside(movie));
}

void TMovieSubtitles::OpenFile(const std::string& subtitleFile)
{
    Close();
    FIndex = std::make_unique<TIndex>();
    FIndex->Reader = std::thread(&TIndex::Read, FIndex.get(), subtitleFile, -1, std::int64_t{0}, std::string());
}

void TMovieSubtitles::Close()
{
    if (!FIndex)
        return;
    FIndex->Stop = true;
    std::thread reader = std::move(FIndex->Reader);
    TThreadReaper::Instance().Retire(std::move(reader), std::shared_ptr<TIndex>(std::move(FIndex)));
}

std::size_t TMovieSubtitles::ClosedStillReading()
{
    return TThreadReaper::Instance().Pending();
}

bool TMovieSubtitles::IsOpen() const
{
    return FIndex != nullptr;
}

bool TMovieSubtitles::IndexCovers(std::int32_t timeMs) const
{
    if (!FIndex)
        return true;
    const std::lock_guard<std::mutex> guard(FIndex->Lock);
    return FIndex->Covers(timeMs);
}

void TMovieSubtitles::ReadNear(std::int32_t timeMs)
{
    if (FIndex)
        FIndex->WantedMs = timeMs;
}

bool TMovieSubtitles::IndexComplete() const
{
    if (!FIndex)
        return true;
    const std::lock_guard<std::mutex> guard(FIndex->Lock);
    return FIndex->Complete;
}

bool TMovieSubtitles::Failed() const
{
    if (!FIndex)
        return false;
    const std::lock_guard<std::mutex> guard(FIndex->Lock);
    return FIndex->Failed;
}

std::size_t TMovieSubtitles::EventCount() const
{
    if (!FIndex)
        return 0;
    const std::lock_guard<std::mutex> guard(FIndex->Lock);
    return FIndex->Events;
}

bool TMovieSubtitles::WaitForIndex(std::int32_t timeMs, std::chrono::milliseconds limit) const
{
    if (!FIndex)
        return true;
    FIndex->WantedMs = timeMs;
    std::unique_lock<std::mutex> lock(FIndex->Lock);
    return FIndex->Advanced.wait_for(lock, limit, [this, timeMs] { return FIndex->Covers(timeMs); });
}

bool TMovieSubtitles::WaitForWholeIndex(std::chrono::milliseconds limit) const
{
    if (!FIndex)
        return true;
    std::unique_lock<std::mutex> lock(FIndex->Lock);
    return FIndex->Advanced.wait_for(lock, limit, [this] { return FIndex->Complete; });
}

bool TMovieSubtitles::Draw(TBitmap& picture, std::int32_t timeMs, QSize displaySize)
{
    if (!FIndex || picture.Empty() || picture.PixelFormat() != TPixelFormat::pf24bit)
        return false;
    return FIndex->Draw(picture, timeMs, displaySize);
}

QImage TMovieSubtitles::Overlay(QSize size, std::int32_t timeMs, QSize displaySize)
{
    if (!FIndex)
        return {};
    const std::vector<TSubtitlePiece> pieces = FIndex->Pieces(size, timeMs, displaySize);
    if (pieces.empty())
        return {};
    QImage overlay(size, QImage::Format_ARGB32_Premultiplied);
    overlay.fill(Qt::transparent);
    QPainter painter(&overlay);
    for (const TSubtitlePiece& piece : pieces)
        painter.drawImage(piece.At, piece.Pixels);
    return overlay;
}
