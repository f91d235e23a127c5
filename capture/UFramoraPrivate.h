// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the units of the capture window share among themselves; nothing outside them includes it.
#include "imagestore/UCachedImagePack.h"

#include <QImage>

class TPicture;

namespace capture_detail {

constexpr int MaxSceneCount = 32;
constexpr TCIPCacheLimit SceneCacheLimit = 40; // above the scene maximum: no scene is ever evicted

// The picture of a scene as an image: a bitmap as it is, any other graphic (the error picture)
// drawn on white at its own size.
QImage PictureImage(const TPicture& picture);

} // namespace capture_detail
