// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/USubtitleBlend.h"

#include <QRect>

#include <cstddef>
#include <cstdint>

namespace {

// x / 255 for x up to 255 * 255, rounded, without a division.
std::uint32_t Div255(std::uint32_t x)
{
    x += 128;
    return (x + (x >> 8)) >> 8;
}

} // namespace

QImage PieceOfAssImage(const ASS_Image& image)
{
    QImage pixels(image.w, image.h, QImage::Format_ARGB32_Premultiplied);
    const std::uint32_t opacity = 255 - (image.color & 0xFF);
    const std::uint32_t red = image.color >> 24;
    const std::uint32_t green = (image.color >> 16) & 0xFF;
    const std::uint32_t blue = (image.color >> 8) & 0xFF;
    for (int y = 0; y < image.h; ++y) {
        const unsigned char* coverage = image.bitmap + static_cast<std::ptrdiff_t>(y) * image.stride;
        auto* row = reinterpret_cast<QRgb*>(pixels.scanLine(y));
        for (int x = 0; x < image.w; ++x) {
            const std::uint32_t alpha = coverage[x] * opacity / 255;
            row[x] = qRgba(static_cast<int>(red * alpha / 255), static_cast<int>(green * alpha / 255),
                           static_cast<int>(blue * alpha / 255), static_cast<int>(alpha));
        }
    }
    return pixels;
}

void BlendAssImage(TBitmap& picture, const ASS_Image& image)
{
    const QRect area = QRect(image.dst_x, image.dst_y, image.w, image.h).intersected(QRect(0, 0, picture.Width(), picture.Height()));
    const std::uint32_t opacity = 255 - (image.color & 0xFF);
    const std::uint8_t blue = static_cast<std::uint8_t>(image.color >> 8);
    const std::uint8_t green = static_cast<std::uint8_t>(image.color >> 16);
    const std::uint8_t red = static_cast<std::uint8_t>(image.color >> 24);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const unsigned char* coverage = image.bitmap + static_cast<std::ptrdiff_t>(y - image.dst_y) * image.stride
            + (area.left() - image.dst_x);
        std::uint8_t* target = picture.ScanLine(y) + static_cast<std::ptrdiff_t>(area.left()) * 3;
        for (int x = 0; x < area.width(); ++x, target += 3) {
            const std::uint32_t covered = coverage[x];
            if (covered == 0)
                continue;
            const std::uint32_t alpha = opacity == 255 ? covered : Div255(covered * opacity);
            if (alpha == 255) { // inside a glyph: most of its pixels
                target[0] = blue;
                target[1] = green;
                target[2] = red;
                continue;
            }
            const std::uint32_t keep = 255 - alpha;
            target[0] = static_cast<std::uint8_t>(Div255(blue * alpha + target[0] * keep));
            target[1] = static_cast<std::uint8_t>(Div255(green * alpha + target[1] * keep));
            target[2] = static_cast<std::uint8_t>(Div255(red * alpha + target[2] * keep));
        }
    }
}

void BlendInto(TBitmap& picture, const std::vector<TSubtitlePiece>& pieces)
{
    const QRect bounds(0, 0, picture.Width(), picture.Height());
    for (const TSubtitlePiece& piece : pieces) {
        const QRect area = QRect(piece.At, piece.Pixels.size()).intersected(bounds);
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const auto* source = reinterpret_cast<const QRgb*>(piece.Pixels.constScanLine(y - piece.At.y()));
            std::uint8_t* target = picture.ScanLine(y) + static_cast<std::ptrdiff_t>(area.left()) * 3;
            for (int x = area.left(); x <= area.right(); ++x, target += 3) {
                const QRgb pixel = source[x - piece.At.x()];
                const std::uint32_t keep = 255 - static_cast<std::uint32_t>(qAlpha(pixel));
                if (keep == 255)
                    continue;
                target[0] = static_cast<std::uint8_t>(qBlue(pixel) + target[0] * keep / 255);
                target[1] = static_cast<std::uint8_t>(qGreen(pixel) + target[1] * keep / 255);
                target[2] = static_cast<std::uint8_t>(qRed(pixel) + target[2] * keep / 255);
            }
        }
    }
}
