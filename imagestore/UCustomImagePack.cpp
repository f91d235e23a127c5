// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagestore/UCustomImagePack.h"

TCustomImagePack::TCustomImagePack(QObject* owner) : TCachedImagePack(owner) {}

TCustomImagePack::~TCustomImagePack()
{
    // A load in progress on another thread runs through OnGetImage: its listeners wait it out
    // while the events are still here.
    FreeOwnBroadcaster();
}

std::int32_t TCustomImagePack::GetCount()
{
    std::int32_t count = 0;
    if (OnGetCount)
        OnGetCount(this, count);
    return count;
}

void TCustomImagePack::GetImageRect(std::int32_t i, TRect& rect)
{
    rect = {};
    if (IsIndexInvalid(i))
        return;
    TPicture picture;
    SafeGetImage(picture, i);
    rect = {0, 0, picture.Width(), picture.Height()};
}

void TCustomImagePack::ClearCache()
{
    TCachedImagePack::ClearCache();
}

void TCustomImagePack::LoadImage(TPicture& picture, std::int32_t i)
{
    if (!OnGetImage)
        return;
    if (auto* pictureEx = dynamic_cast<TPictureEx*>(&picture)) {
        OnGetImage(this, *pictureEx, i);
        return;
    }
    TPictureEx temporary;
    OnGetImage(this, temporary, i);
    picture.Assign(temporary);
}

void TCustomImagePack::Reset()
{
    ClearCache();
    Change();
}
