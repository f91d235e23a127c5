// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An image pack that keeps the most recently used pictures, up to CacheLimit of them, loads a
// picture only when it is not cached, and takes pictures put in under an index (StoreImage).
// A picture that failed to load stays cached as the error picture, so a broken source is not
// asked again until its entry leaves the cache.
#include "imagestore/UImagePack.h"
#include "imagestore/UPictureEX.h"

#include <cstdint>
#include <list>
#include <memory>

using TCIPCacheLimit = std::uint16_t;

class TCachedImagePack : public TImagePack {
public:
    explicit TCachedImagePack(QObject* owner = nullptr);
    ~TCachedImagePack() override;

    virtual void ClearCache();
    // The cached picture of index i, made the most recently used; a new empty one when i was not
    // cached (which may push out the least recently used).
    virtual TPictureEx& CachedPicture(std::int32_t i);
    // Fills a cached picture with image i.
    virtual void LoadImage(TPicture& picture, std::int32_t i) = 0;
    // A bitmap is handed out sharing the pack's rows (a writer gets its own copy on the first
    // write): thumbnails of 4K scenes then copy nothing.
    void GetImage(TPicture& picture, std::int32_t i) override;

    TCIPCacheLimit CacheLimit() const { return FCacheLimit; }
    // A limit of 0 is kept at 1: the entry CachedPicture has just made must survive the trim.
    void SetCacheLimit(TCIPCacheLimit value);
    // Puts a copy of picture into the cache under i; any index is taken.
    void StoreImage(const TPicture& picture, std::int32_t i);
    // Puts graphic itself into the cache under i: a picture made for the pack is not copied.
    void StoreImage(std::unique_ptr<TGraphic> graphic, std::int32_t i);

    int CachedCount() const { return static_cast<int>(FCache.size()); }
    // Whether index i has an entry, without touching the order.
    bool IsCached(std::int32_t i) const;

private:
    struct TCacheEntry {
        std::int32_t Index;
        // Shared so that a picture being loaded outlives its entry when the loading handler
        // itself clears or trims this cache.
        std::shared_ptr<TPictureEx> Picture;
    };
    std::shared_ptr<TPictureEx> CachedEntry(std::int32_t i);
    void Trim();

    std::list<TCacheEntry> FCache; // least recently used first
    TCIPCacheLimit FCacheLimit = 1;
};
