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
    while (FBytes > FLimit && EvictFurthest(FPosition)) {
    }
}

void TPictureCache::Clear()
{
    FEntries.clear();
    FBytes = 0;
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
    return at == FEntries.end() ? nullptr : &at->second.Picture;
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

bool TPictureCache::Insert(std::int64_t pts, const QImage& picture, std::int64_t position)
{
    FPosition = position;
    const std::int64_t bytes = BytesOf(picture);
    if (bytes > FLimit)
        return false;
    if (auto held = FEntries.find(pts); held != FEntries.end()) {
        FBytes += bytes - BytesOf(held->second.Picture);
        held->second.Picture = picture;
    } else {
        FEntries.emplace(pts, TEntry{NextUnknown, picture});
        FBytes += bytes;
    }
    while (FBytes > FLimit && EvictFurthest(position)) {
    }
    return FEntries.contains(pts);
}

void TPictureCache::SetNext(std::int64_t pts, std::int64_t nextPts)
{
    if (auto held = FEntries.find(pts); held != FEntries.end())
        held->second.NextPts = nextPts;
}

QImage TPictureCache::MakeRoom(std::int64_t pts, std::int64_t bytes, std::int64_t position)
{
    FPosition = position;
    QImage spare;
    const QImage* replaced = At(pts);
    const std::int64_t needed = bytes - (replaced ? BytesOf(*replaced) : 0);
    while (!FEntries.empty() && FBytes + needed > FLimit) {
        const auto furthest = Furthest(position);
        if (furthest->first == pts || Distance(furthest->first, position) <= Distance(pts, position))
            break;
        FBytes -= BytesOf(furthest->second.Picture);
        if (spare.isNull() && furthest->second.Picture.isDetached())
            spare = std::move(furthest->second.Picture);
        FEntries.erase(furthest);
    }
    return spare;
}

std::map<std::int64_t, TPictureCache::TEntry>::iterator TPictureCache::Furthest(std::int64_t position)
{
    // Times are ordered, so the furthest picture is at one end.
    const auto first = FEntries.begin();
    const auto last = std::prev(FEntries.end());
    return Distance(first->first, position) > Distance(last->first, position) ? first : last;
}

bool TPictureCache::EvictFurthest(std::int64_t position)
{
    if (FEntries.empty())
        return false;
    const auto furthest = Furthest(position);
    FBytes -= BytesOf(furthest->second.Picture);
    FEntries.erase(furthest);
    return true;
}
