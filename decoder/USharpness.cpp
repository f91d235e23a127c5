// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/USharpness.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace Sharpness {

namespace {

// BT.601 luma weights out of 256.
constexpr int RedWeight = 77, GreenWeight = 150, BlueWeight = 29;

// Byte offsets of red, green and blue in a three-byte pixel of format; false for other formats.
bool ChannelOffsets(QImage::Format format, int& red, int& green, int& blue)
{
    if (format == QImage::Format_BGR888) {
        red = 2, green = 1, blue = 0;
        return true;
    }
    if (format == QImage::Format_RGB888) {
        red = 0, green = 1, blue = 2;
        return true;
    }
    return false;
}

// picture in a three-byte layout, converted when it comes in another; offsets of its channels.
QImage ThreeBytes(const QImage& picture, int& red, int& green, int& blue)
{
    if (ChannelOffsets(picture.format(), red, green, blue))
        return picture;
    QImage converted = picture.convertToFormat(QImage::Format_RGB888);
    ChannelOffsets(converted.format(), red, green, blue);
    return converted;
}

} // namespace

int ReductionFactor(int width, int height)
{
    const int side = std::max({width, height, 1});
    return std::max(1, (side + MeasureSide - 1) / MeasureSide);
}

QImage Reduced(const QImage& picture)
{
    if (picture.isNull())
        return {};
    int red = 0, green = 0, blue = 0;
    const QImage source = ThreeBytes(picture, red, green, blue);
    const int factor = ReductionFactor(source.width(), source.height());
    if (factor == 1)
        return source;
    const int width = source.width() / factor, height = source.height() / factor;
    QImage reduced(width, height, QImage::Format_RGB888);
    if (reduced.isNull())
        return {};
    std::vector<std::uint32_t> sums(std::size_t(width) * 3);
    const std::uint32_t area = std::uint32_t(factor) * factor;
    for (int y = 0; y < height; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (int row = y * factor; row < (y + 1) * factor; ++row) {
            const std::uint8_t* pixel = source.constScanLine(row);
            for (int x = 0; x < width; ++x) {
                std::uint32_t* sum = &sums[std::size_t(x) * 3];
                for (int k = 0; k < factor; ++k, pixel += 3) {
                    sum[0] += pixel[red];
                    sum[1] += pixel[green];
                    sum[2] += pixel[blue];
                }
            }
        }
        std::uint8_t* out = reduced.scanLine(y);
        for (std::size_t i = 0; i < sums.size(); ++i)
            out[i] = static_cast<std::uint8_t>((sums[i] + area / 2) / area);
    }
    return reduced;
}

std::vector<float> ReducedLuma(const QImage& picture, int& width, int& height)
{
    width = height = 0;
    if (picture.isNull())
        return {};
    int red = 0, green = 0, blue = 0;
    const QImage converted = ThreeBytes(picture, red, green, blue);
    const QImage* source = &converted;
    const int factor = ReductionFactor(source->width(), source->height());
    width = source->width() / factor;
    height = source->height() / factor;
    std::vector<float> luma(std::size_t(width) * height);
    // Sums of one reduced row, gathered row by row of the source so its rows are read in order.
    std::vector<std::uint32_t> sums(static_cast<std::size_t>(width));
    const float scale = 1.0f / float(256 * factor * factor);
    for (int y = 0; y < height; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (int row = y * factor; row < (y + 1) * factor; ++row) {
            const std::uint8_t* pixel = source->constScanLine(row);
            for (int x = 0; x < width; ++x)
                for (int k = 0; k < factor; ++k, pixel += 3)
                    sums[std::size_t(x)] += RedWeight * pixel[red] + GreenWeight * pixel[green] + BlueWeight * pixel[blue];
        }
        for (int x = 0; x < width; ++x)
            luma[std::size_t(y) * width + x] = float(sums[std::size_t(x)]) * scale;
    }
    return luma;
}

double LaplacianVariance(const std::vector<float>& luma, int width, int height)
{
    if (width < 3 || height < 3 || luma.size() < std::size_t(width) * height)
        return 0;
    double sum = 0, squares = 0;
    for (int y = 1; y < height - 1; ++y) {
        const float* row = luma.data() + std::size_t(y) * width;
        for (int x = 1; x < width - 1; ++x) {
            const double l = 4.0 * row[x] - row[x - 1] - row[x + 1] - row[x - width] - row[x + width];
            sum += l;
            squares += l * l;
        }
    }
    const double n = double(width - 2) * (height - 2);
    const double mean = sum / n;
    return std::max(0.0, squares / n - mean * mean);
}

double Score(const QImage& picture)
{
    int width = 0, height = 0;
    const std::vector<float> luma = ReducedLuma(picture, width, height);
    return LaplacianVariance(luma, width, height);
}

std::size_t AnchorOf(const std::vector<TScoredPicture>& pictures, std::int32_t anchorMs)
{
    std::size_t anchor = 0;
    for (std::size_t i = 0; i < pictures.size() && pictures[i].TimeMs <= anchorMs; ++i)
        anchor = i;
    return anchor;
}

std::size_t Choose(const std::vector<TScoredPicture>& pictures, const std::vector<std::int32_t>& cutsMs,
                   std::int32_t anchorMs)
{
    const std::size_t anchor = AnchorOf(pictures, anchorMs);
    // The anchor's scene: from the last cut at or before its picture to the first after it.
    const std::int32_t anchorMsShown = pictures[anchor].TimeMs;
    std::int32_t from = std::numeric_limits<std::int32_t>::min(), to = std::numeric_limits<std::int32_t>::max();
    for (const std::int32_t cut : cutsMs) {
        if (cut <= anchorMsShown)
            from = std::max(from, cut);
        else
            to = std::min(to, cut);
    }
    double best = 0;
    for (const TScoredPicture& p : pictures)
        if (p.TimeMs >= from && p.TimeMs < to)
            best = std::max(best, p.Score);
    if (best < FlatScore)
        return anchor;
    const auto distance = [&](std::size_t i) { return std::llabs(std::int64_t(pictures[i].TimeMs) - anchorMs); };
    std::size_t chosen = anchor;
    bool any = false;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const TScoredPicture& p = pictures[i];
        if (p.TimeMs < from || p.TimeMs >= to || p.Score < best * (1 - TieShare))
            continue;
        if (!any || distance(i) < distance(chosen)) {
            chosen = i;
            any = true;
        }
    }
    return chosen;
}

} // namespace Sharpness
