// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How a movie's coded picture is meant to be shown, and the shown picture made from it. A DVD
// title is coded 720 x 480 and shown 16:9 or 4:3; a phone movie is coded on its side and carries
// the turn that sets it upright, and some cameras also mirror it (a front camera, a transposed
// sensor read-out). The decoder reports all of it as a TDisplayTransform; the picture it renders
// keeps the coded size.
#include "framework/TBitmap.h"

#include <QSize>

#include <cstdint>

struct TDisplayTransform {
    // Clockwise turn that sets the coded picture upright: 0, 90, 180 or 270 degrees.
    int Rotation = 0;
    // Width of one coded sample over its height, reduced; 1:1 for square samples.
    int AspectNum = 1;
    int AspectDen = 1;
    // After the turn, the picture is mirrored left to right (the matrix's determinant is
    // negative). A turn and this mirror together make every reflection: a transpose is 90
    // degrees and a mirror, a flip upside down is 180 degrees and a mirror.
    bool Mirrored = false;

    bool operator==(const TDisplayTransform&) const = default;
};

// Whether the shown picture keeps the coded samples' proportions (only turned upright) or is
// also scaled to the display aspect.
enum class TAspectScaling { Coded, Display };

namespace DisplayGeometry {

// Samples wider or narrower than this are taken for a damaged header, not for a real format
// (the widest in use, 16:9 on 352-sample lines, is under 3:1).
inline constexpr int MaxSampleAspect = 4;
// The enlarged side never grows beyond this, nor the enlarged picture beyond the pixels of an
// 8K one; a larger one keeps the coded proportions.
inline constexpr int MaxDisplayedSide = 16384;
inline constexpr std::int64_t MaxDisplayedPixels = std::int64_t{7680} * 4320;

// The clockwise turn for a display matrix (nine 16.16 / 2.30 fixed-point numbers, row after
// row, as movies store it): its angle rounded to the nearest quarter turn. For a mirroring
// matrix, the turn that comes before the mirror.
int RotationOfDisplayMatrix(const std::int32_t* matrix);
// Whether a display matrix mirrors the picture (after its turn).
bool IsMirroringDisplayMatrix(const std::int32_t* matrix);
// A turn in clockwise degrees, any value, to 0, 90, 180 or 270 (nearest quarter turn).
int NormalizedRotation(double clockwiseDegrees);
// The transform for a turn (and mirror) and a sample aspect as a movie states them; an aspect
// that is missing (0:1), negative or absurd means square samples.
TDisplayTransform MakeTransform(int rotation, int aspectNum, int aspectDen, bool mirrored = false);

// The size of the picture after the turn alone.
QSize RotatedSize(QSize coded, int rotation);
// The size of the shown picture: turned, and with Display scaling one side enlarged so that
// the samples come out square (never reduced: no coded sample is lost).
QSize DisplayedSize(QSize coded, const TDisplayTransform& display, TAspectScaling scaling);

} // namespace DisplayGeometry

// Makes Displayed the shown picture of Coded (24 bits): turned and mirrored without loss, then,
// with Display scaling, enlarged along one side with a Lanczos filter. Displayed is a different
// bitmap.
void MakeDisplayedPicture(const TBitmap& Coded, const TDisplayTransform& Display, TAspectScaling Scaling,
                          TBitmap& Displayed);
