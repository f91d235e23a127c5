// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UPictureCache.h"

#include <algorithm>

namespace {

// Distance in time units without overflow: stream times may start near 2^33 and the ends of a
// request may be the extremes of the range.
unsigned __int128 Distance(std::int64_t a, std::int64_t b)
{
    const __int128 d = static_cast<__int128>(a) - b;
    return static_cast<unsigned __int128>(d < 0 ? -d : d);
}

} // namespace

std::int64_t TPictureCache::DefaultLimitFor(std::int64_t pictureBytes, std::int64_t physicalBytes)
{
    if (pictureBytes <= 0)
        return DefaultLimitBytes;
    std::int64_t ceiling = LargestDefaultLimitBytes;
    if (physicalBytes > 0)
        ceiling = std::min(ceiling, physicalBytes / PhysicalMemoryShare);
    const std::int64_t wanted = pictureBytes <= ceiling / PicturesKept
        ? pictureBytes * PicturesKept
        : ceiling;
    return std::max(DefaultLimitBytes, std::min(wanted, ceiling));
}

void TPictureCache::SetLimit(std::int64_t bytes)
{
    FLimit = std::max<std::int64_t>(bytes, 0);
    Evict(true, std::nullopt, 0, DecodedLimit(), FPosition);
    Evict(false, std::nullopt, 0, ConvertedRoom(), FPosition);
}

void TPictureCache::Clear()
{
    FEntries.clear();
    FConvertedBytes = 0;
    FDecodedBytes = 0;
}

std::optional<std::int64_t> TPictureCache::Find(std::int64_t t) const
{
    auto at = FEntries.upper_bound(t);
    if (at == FEntries.begin())
        return std::nullopt;
    --at;
    const std::int64_t next = at->second.NextPts;
    if (next == NextUnknown || t >= next)
        return std::nullopt;
    return at->first;
}

const QImage* TPictureCache::At(std::int64_t pts) const
{
    const auto at = FEntries.find(pts);
    return at == FEntries.end() || at->second.Decoded ? nullptr : &at->second.Picture;
}

const AVFrame* TPictureCache::DecodedAt(std::int64_t pts) const
{
    const auto at = FEntries.find(pts);
    return at == FEntries.end() ? nullptr : at->second.Decoded.get();
}

std::int64_t TPictureCache::PreviousOf(std::int64_t pts) const
{
    auto at = FEntries.lower_bound(pts);
    if (at == FEntries.begin())
        return NextUnknown;
    --at;
    return at->second.NextPts == pts ? at->first : NextUnknown;
}

std::int64_t TPictureCache::NextOf(std::int64_t pts) const
{
    const auto at = FEntries.find(pts);
    return at == FEntries.end() ? NextUnknown : at->second.NextPts;
}

std::int64_t TPictureCache::BytesOf(const AVFrame& decoded)
{
    std::int64_t bytes = 0;
    for (const AVBufferRef* buffer : decoded.buf)
        if (buffer)
            bytes += static_cast<std::int64_t>(buffer->size);
    for (int i = 0; i < decoded.nb_extended_buf; ++i)
        bytes += static_cast<std::int64_t>(decoded.extended_buf[i]->size);
    return bytes;
}

std::int64_t TPictureCache::BytesOf(const TEntry& entry)
{
    return entry.Decoded ? BytesOf(*entry.Decoded) : BytesOf(entry.Picture);
}

bool TPictureCache::Insert(std::int64_t pts, const QImage& picture, std::int64_t position)
{
    FPosition = position;
    const std::int64_t bytes = BytesOf(picture);
    if (bytes > ConvertedRoom())
        return false;
    const auto held = FEntries.find(pts);
    const std::int64_t replaced = held != FEntries.end() && !held->second.Decoded ? BytesOf(held->second) : 0;
    if (!Evict(false, pts, bytes - replaced, ConvertedRoom(), position))
        return false;
    Put(pts, TEntry{NextUnknown, picture, nullptr});
    return true;
}

bool TPictureCache::InsertDecoded(std::int64_t pts, const AVFrame& decoded, std::int64_t position)
{
    FPosition = position;
    const std::int64_t bytes = BytesOf(decoded);
    if (bytes > DecodedLimit() || FEntries.contains(pts))
        return false;
    if (!Evict(true, pts, bytes, DecodedLimit(), position))
        return false;
    ffmpeg::FramePtr kept(av_frame_alloc());
    if (!kept || av_frame_ref(kept.get(), &decoded) < 0)
        return false;
    Put(pts, TEntry{NextUnknown, QImage(), std::move(kept)});
    // The pool now holds this much whenever the pictures are let go: the converted ones make room.
    FDecodedReserve = std::max(FDecodedReserve, FDecodedBytes);
    Evict(false, std::nullopt, 0, ConvertedRoom(), position);
    return true;
}

void TPictureCache::Put(std::int64_t pts, TEntry entry)
{
    const auto held = FEntries.find(pts);
    if (held != FEntries.end()) {
        entry.NextPts = held->second.NextPts;
        Erase(held);
    }
    (entry.Decoded ? FDecodedBytes : FConvertedBytes) += BytesOf(entry);
    FEntries.emplace(pts, std::move(entry));
}

void TPictureCache::SetNext(std::int64_t pts, std::int64_t nextPts)
{
    if (auto held = FEntries.find(pts); held != FEntries.end())
        held->second.NextPts = nextPts;
}

QImage TPictureCache::MakeRoom(std::int64_t pts, std::int64_t bytes, std::int64_t position)
{
    FPosition = position;
    const auto held = FEntries.find(pts);
    const std::int64_t replaced = held != FEntries.end() && !held->second.Decoded ? BytesOf(held->second) : 0;
    QImage spare;
    Evict(false, pts, bytes - replaced, ConvertedRoom(), position, &spare);
    return spare;
}

bool TPictureCache::Evict(bool decoded, std::optional<std::int64_t> pts, std::int64_t bytes, std::int64_t room,
                          std::int64_t position, QImage* spare)
{
    const std::int64_t& held = decoded ? FDecodedBytes : FConvertedBytes;
    while (held + bytes > room) {
        const auto furthest = Furthest(decoded, position);
        if (furthest == FEntries.end())
            return false;
        if (pts && (furthest->first == *pts || Distance(furthest->first, position) <= Distance(*pts, position)))
            return false;
        const bool rowsFree = spare && spare->isNull() && furthest->second.Picture.isDetached();
        QImage rows = rowsFree ? furthest->second.Picture : QImage();
        Erase(furthest);
        if (rowsFree)
            *spare = std::move(rows);
    }
    return true;
}

void TPictureCache::Erase(TEntries::iterator at)
{
    (at->second.Decoded ? FDecodedBytes : FConvertedBytes) -= BytesOf(at->second);
    FEntries.erase(at);
}

TPictureCache::TEntries::iterator TPictureCache::Furthest(bool decoded, std::int64_t position)
{
    // Times are ordered, so the furthest picture of a kind is the first of it from one end.
    const auto ofKind = [decoded](const TEntries::value_type& entry) { return (entry.second.Decoded != nullptr) == decoded; };
    const auto first = std::find_if(FEntries.begin(), FEntries.end(), ofKind);
    if (first == FEntries.end())
        return first;
    const auto last = std::prev(std::find_if(FEntries.rbegin(), FEntries.rend(), ofKind).base());
    return Distance(first->first, position) > Distance(last->first, position) ? first : last;
}
