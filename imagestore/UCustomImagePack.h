// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The image pack placed on forms: its owner answers the count and each picture through two
// events, and calls Reset after it changed what stands behind them.
#include "imagestore/UCachedImagePack.h"

#include <cstdint>
#include <functional>

using TIPOnGetCount = std::function<void(TObject* sender, std::int32_t& count)>;
using TIPOnGetImage = std::function<void(TObject* sender, TPictureEx& picture, std::int32_t no)>;

class TCustomImagePack : public TCachedImagePack {
public:
    explicit TCustomImagePack(QObject* owner = nullptr);
    ~TCustomImagePack() override;

    std::int32_t GetCount() override;
    // The size of image i, loaded through the cache; empty for an index out of range.
    void GetImageRect(std::int32_t i, TRect& rect) override;
    void ClearCache() override;
    void LoadImage(TPicture& picture, std::int32_t i) override;

    // Empties the cache, then announces the change.
    void Reset();

    TIPOnGetCount OnGetCount;
    TIPOnGetImage OnGetImage;
};
