// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How sharp a picture looks, and which of the pictures around a moment is the one to keep.
//
// The measure is the variance of the Laplacian of the picture's luma, taken on a copy reduced
// by an integer factor (block means) until neither side exceeds MeasureSide. A focused edge
// changes brightness over a pixel or two and gives the Laplacian large values of either sign;
// motion blur and defocus spread the same change over many pixels and leave it small. Reducing
// first makes the score cheap to take and averages out most of the codec's
// noise, while blur of more than a pixel or two of the reduced copy still shows. Scores of
// pictures of different sizes do not compare: the blocks fall differently on the edges.
//
// Its limits: it compares pictures of one shot, not shots with each other (a busy texture
// scores higher than a sharp face); noise and film grain raise it, so a grainy picture may win
// over a cleaner one of the same shot; a picture without detail (a flat colour, a black frame,
// a fade) has none, and no choice is made between such pictures.
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Sharpness {

// The reduced copy's longer side is at most this many pixels.
inline constexpr int MeasureSide = 640;
// Below this score a picture is taken for one without detail.
inline constexpr double FlatScore = 4.0;
// Pictures scoring within this share of the best are as sharp as it to the eye; the nearest of
// them to the moment asked is chosen.
// Codecs alone make the pictures of a still shot differ by a few per cent (a key frame scores
// above the pictures predicted from it).
inline constexpr double TieShare = 0.10;

// The factor a picture of width x height is reduced by: the smallest that brings both sides
// within MeasureSide; at least 1.
int ReductionFactor(int width, int height);

// picture reduced by ReductionFactor, each pixel the mean of its block, as RGB888; the picture
// itself when it is small enough already. Any QImage format; null for a null picture. Made once
// per picture, it serves the measure and the scene detector's small copy alike.
QImage Reduced(const QImage& picture);

// Block-mean luma (BT.601 weights) of picture reduced by ReductionFactor, row by row; width and
// height receive the reduced size. Any QImage format; empty for a null picture.
std::vector<float> ReducedLuma(const QImage& picture, int& width, int& height);

// The variance of the four-neighbour Laplacian over the inner pixels of luma; 0 for a plane
// smaller than 3 x 3.
double LaplacianVariance(const std::vector<float>& luma, int width, int height);

// ReducedLuma, then LaplacianVariance.
double Score(const QImage& picture);

struct TScoredPicture {
    std::int32_t TimeMs;
    double Score;
};

// The picture shown at anchorMs: the last of pictures (in time order) at or before it, else the
// first. pictures must not be empty.
std::size_t AnchorOf(const std::vector<TScoredPicture>& pictures, std::int32_t anchorMs);

// Which of pictures (in time order) to keep for the moment anchorMs: only pictures of the
// anchor's scene count (cutsMs are the first pictures of new scenes); the sharpest of them, the
// nearest to the anchor among those within TieShare of it; the anchor's own picture (the last at
// or before anchorMs, else the first) when none has detail. The index into pictures; pictures
// must not be empty.
std::size_t Choose(const std::vector<TScoredPicture>& pictures, const std::vector<std::int32_t>& cutsMs,
                   std::int32_t anchorMs);

} // namespace Sharpness
