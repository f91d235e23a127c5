// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UDisplayPicture.h"
#include "framework/FFmpegPtr.h"
#include "framework/FFmpegRows.h"

extern "C" {
#include <libavutil/display.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

namespace DisplayGeometry {

int NormalizedRotation(double clockwiseDegrees)
{
    if (!std::isfinite(clockwiseDegrees))
        return 0;
    const long quarters = std::lround(std::fmod(clockwiseDegrees, 360.0) / 90.0);
    return static_cast<int>((quarters % 4 + 4) % 4) * 90;
}

namespace {

double DeterminantOf(const std::int32_t* m)
{
    return double(m[0]) * m[4] - double(m[1]) * m[3];
}

} // namespace

int RotationOfDisplayMatrix(const std::int32_t* matrix)
{
    std::int32_t m[9];
    std::copy_n(matrix, 9, m);
    // A mirroring matrix is a turn followed by a left-right mirror, which negates the first
    // column; negating it back leaves the turn, which would otherwise be taken for another one.
    // Angles between quarter turns round to the nearest one; a degenerate matrix (no angle)
    // turns nothing.
    if (DeterminantOf(m) < 0) {
        m[0] = -m[0];
        m[3] = -m[3];
        m[6] = -m[6];
    }
    // FFmpeg gives the angle counter-clockwise.
    return NormalizedRotation(-av_display_rotation_get(m));
}

bool IsMirroringDisplayMatrix(const std::int32_t* matrix)
{
    return DeterminantOf(matrix) < 0;
}

TDisplayTransform MakeTransform(int rotation, int aspectNum, int aspectDen, bool mirrored)
{
    TDisplayTransform display;
    display.Rotation = NormalizedRotation(rotation);
    display.Mirrored = mirrored;
    if (aspectNum <= 0 || aspectDen <= 0)
        return display;
    const int divisor = std::gcd(aspectNum, aspectDen);
    const int num = aspectNum / divisor, den = aspectDen / divisor;
    if (std::int64_t{num} > std::int64_t{MaxSampleAspect} * den || std::int64_t{den} > std::int64_t{MaxSampleAspect} * num)
        return display;
    display.AspectNum = num;
    display.AspectDen = den;
    return display;
}

QSize RotatedSize(QSize coded, int rotation)
{
    const int quarter = NormalizedRotation(rotation);
    return quarter == 90 || quarter == 270 ? coded.transposed() : coded;
}

QSize DisplayedSize(QSize coded, const TDisplayTransform& display, TAspectScaling scaling)
{
    QSize shown = coded;
    if (scaling == TAspectScaling::Display && display.AspectDen > 0 && display.AspectNum > 0) {
        // Rounded to nearest: 720 samples of 32:27 are 853.3 square ones.
        const auto enlarge = [](int side, int by, int over) {
            return (std::int64_t{side} * by + over / 2) / over;
        };
        std::int64_t width = coded.width(), height = coded.height();
        if (display.AspectNum > display.AspectDen)
            width = enlarge(coded.width(), display.AspectNum, display.AspectDen);
        else if (display.AspectNum < display.AspectDen)
            height = enlarge(coded.height(), display.AspectDen, display.AspectNum);
        if (width <= MaxDisplayedSide && height <= MaxDisplayedSide && width * height <= MaxDisplayedPixels)
            shown = QSize(static_cast<int>(width), static_cast<int>(height));
    }
    return RotatedSize(shown, display.Rotation);
}

} // namespace DisplayGeometry

namespace {

constexpr int BytesPerPixel = 3;
constexpr std::size_t ScalerReadPadding = 64;
// Turning walks the source down its columns; tiles of this many pixels square keep the rows
// they touch in the first-level cache.
constexpr int TileSide = 32;

// Turns source clockwise by rotation and, when mirrored, mirrors the turned picture left to
// right, in one pass.
void Turn(const TBitmap& source, int rotation, bool mirrored, TBitmap& turned)
{
    const int w = source.Width(), h = source.Height();
    const QSize size = DisplayGeometry::RotatedSize(QSize(w, h), rotation);
    turned.SetPixelFormat(TPixelFormat::pf24bit);
    turned.SetSize(0, 0); // nothing of an older picture needs keeping
    turned.SetSize(size.width(), size.height());
    const std::ptrdiff_t pitch = source.BytesPerLine();
    const std::uint8_t* const origin = source.ScanLine(0);
    // Where row y of the turned picture starts in the source, and how far apart its pixels lie.
    const auto turnedRowStart = [&](int y) -> const std::uint8_t* {
        switch (rotation) {
        case 0:
            return origin + y * pitch;
        case 90:
            return origin + (h - 1) * pitch + y * BytesPerPixel;
        case 180:
            return origin + (h - 1 - y) * pitch + (w - 1) * BytesPerPixel;
        default: // 270
            return origin + (w - 1 - y) * BytesPerPixel;
        }
    };
    const std::ptrdiff_t turnedStep = rotation == 0 ? BytesPerPixel
        : rotation == 90                            ? -pitch
        : rotation == 180                           ? -BytesPerPixel
                                                    : pitch;
    // Mirrored, a row is the turned row read from its other end.
    const std::ptrdiff_t step = mirrored ? -turnedStep : turnedStep;
    const auto rowStart = [&](int y) {
        return mirrored ? turnedRowStart(y) + (size.width() - 1) * turnedStep : turnedRowStart(y);
    };
    for (int top = 0; top < size.height(); top += TileSide) {
        const int bottom = std::min(top + TileSide, size.height());
        for (int left = 0; left < size.width(); left += TileSide) {
            const int right = std::min(left + TileSide, size.width());
            for (int y = top; y < bottom; ++y) {
                const std::uint8_t* in = rowStart(y) + left * step;
                std::uint8_t* out = turned.ScanLine(y) + left * BytesPerPixel;
                for (int x = left; x < right; ++x, in += step, out += BytesPerPixel) {
                    out[0] = in[0];
                    out[1] = in[1];
                    out[2] = in[2];
                }
            }
        }
    }
}

// Scales source into scaled at size; false when no scaler can be made for it.
bool Scale(const TBitmap& source, QSize size, TBitmap& scaled)
{
    // Scaled into planes, then packed: several times faster than packed rows into packed rows,
    // whose vertical filter goes pixel by pixel. Colours are carried through as they are
    // (full-resolution chroma in and out, exact rounding); packing only moves bytes.
    constexpr int Flags = SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;
    const int w = size.width(), h = size.height();
    const ffmpeg::SwsPtr scaler(sws_getContext(source.Width(), source.Height(), AV_PIX_FMT_BGR24, w, h,
                                               AV_PIX_FMT_GBRP, Flags, nullptr, nullptr, nullptr));
    const ffmpeg::SwsPtr packer(
        sws_getContext(w, h, AV_PIX_FMT_GBRP, w, h, AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr, nullptr));
    const ffmpeg::FramePtr planes(av_frame_alloc());
    if (!scaler || !packer || !planes)
        return false;
    planes->format = AV_PIX_FMT_GBRP;
    planes->width = w;
    planes->height = h;
    if (av_frame_get_buffer(planes.get(), 0) < 0)
        return false;
    // The scaler's packed-pixel readers may read a little past the last pixel of a row; the rows
    // are handed over with room behind the last one, so that a picture whose memory ends at a
    // page boundary is not read past its end.
    const std::size_t rowBytes = static_cast<std::size_t>(source.BytesPerLine()) * source.Height();
    std::vector<std::uint8_t> padded(rowBytes + ScalerReadPadding);
    std::memcpy(padded.data(), source.ScanLine(0), rowBytes);
    const std::uint8_t* const from[4] = {padded.data(), nullptr, nullptr, nullptr};
    const int fromPitches[4] = {source.BytesPerLine(), 0, 0, 0};
    if (sws_scale(scaler.get(), from, fromPitches, 0, source.Height(), planes->data, planes->linesize) < 0)
        return false;
    QImage rows = ffmpeg::ImageWithRoom(w, h, QImage::Format_BGR888, AV_PIX_FMT_BGR24);
    if (rows.isNull())
        return false;
    scaled.TakeRowsWithRoom(std::move(rows));
    ffmpeg::FramePtr unused;
    return ffmpeg::ScaleInto(*packer, planes->data, planes->linesize, h, scaled.ScanLine(0), scaled.BytesPerLine(),
                             w, h, AV_PIX_FMT_BGR24, true, unused);
}

} // namespace

void MakeDisplayedPicture(const TBitmap& Coded, const TDisplayTransform& Display, TAspectScaling Scaling,
                          TBitmap& Displayed)
{
    if (Coded.Empty()) {
        Displayed.SetSize(0, 0);
        return;
    }
    TBitmap converted;
    const TBitmap* coded = &Coded;
    if (Coded.PixelFormat() != TPixelFormat::pf24bit) {
        converted.Assign(Coded);
        converted.SetPixelFormat(TPixelFormat::pf24bit);
        coded = &converted;
    }
    const QSize codedSize(coded->Width(), coded->Height());
    const int rotation = DisplayGeometry::NormalizedRotation(Display.Rotation);
    const bool moved = rotation != 0 || Display.Mirrored;
    const QSize turnedSize = DisplayGeometry::RotatedSize(codedSize, rotation);
    const QSize shownSize = DisplayGeometry::DisplayedSize(codedSize, Display, Scaling);
    if (shownSize == turnedSize) {
        if (moved)
            Turn(*coded, rotation, Display.Mirrored, Displayed);
        else
            Displayed.Assign(*coded);
        return;
    }
    TBitmap turned;
    if (moved)
        Turn(*coded, rotation, Display.Mirrored, turned);
    const TBitmap& upright = moved ? turned : *coded;
    // A scaler that cannot be made leaves the picture upright at its coded proportions.
    if (!Scale(upright, shownSize, Displayed))
        Displayed.Assign(upright);
}
