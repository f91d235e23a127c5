// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagestore/UCachedImagePack.h"

#include "framework/TBitmap.h"

#include <algorithm>

TCachedImagePack::TCachedImagePack(QObject* owner) : TImagePack(owner) {}

TCachedImagePack::~TCachedImagePack()
{
    // Listeners (a thumbnail loader among them) must hear of the end while the cache is whole.
    FreeOwnBroadcaster();
    FCache.clear();
}

void TCachedImagePack::ClearCache()
{
    while (!FCache.empty())
        FCache.pop_back();
}

std::shared_ptr<TPictureEx> TCachedImagePack::CachedEntry(std::int32_t i)
{
    const auto found = std::find_if(FCache.rbegin(), FCache.rend(),
                                    [i](const TCacheEntry& entry) { return entry.Index == i; });
    if (found != FCache.rend()) {
        FCache.splice(FCache.end(), FCache, std::prev(found.base()));
        return FCache.back().Picture;
    }
    FCache.push_back({i, std::make_shared<TPictureEx>()});
    std::shared_ptr<TPictureEx> picture = FCache.back().Picture;
    Trim();
    return picture;
}

TPictureEx& TCachedImagePack::CachedPicture(std::int32_t i)
{
    return *CachedEntry(i);
}

void TCachedImagePack::Trim()
{
    while (FCache.size() > FCacheLimit)
        FCache.pop_front();
}

void TCachedImagePack::SetCacheLimit(TCIPCacheLimit value)
{
    value = std::max<TCIPCacheLimit>(value, 1);
    if (value == FCacheLimit)
        return;
    FCacheLimit = value;
    Trim();
}

bool TCachedImagePack::IsCached(std::int32_t i) const
{
    return std::any_of(FCache.begin(), FCache.end(), [i](const TCacheEntry& entry) { return entry.Index == i; });
}

void TCachedImagePack::GetImage(TPicture& picture, std::int32_t i)
{
    picture.SetGraphic(static_cast<const TGraphic*>(nullptr));
    if (IsIndexInvalid(i))
        return;
    const std::shared_ptr<TPictureEx> cached = CachedEntry(i);
    if (!cached->Graphic() || cached->Graphic()->Empty()) {
        try {
            LoadImage(*cached, i);
        } catch (...) {
            cached->Assign(ErrorPicture());
        }
    }
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(cached->Graphic()))
        picture.SetGraphic(std::make_unique<TBitmap>(*bitmap));
    else
        picture.SetGraphic(cached->Graphic());
}

void TCachedImagePack::StoreImage(const TPicture& picture, std::int32_t i)
{
    CachedEntry(i)->Assign(picture);
}

void TCachedImagePack::StoreImage(std::unique_ptr<TGraphic> graphic, std::int32_t i)
{
    CachedEntry(i)->SetGraphic(std::move(graphic));
}
