// SPDX-License-Identifier: GPL-3.0-or-later
#include "grab/UContactSheet.h"

#include "decoder/UMovieDecoder.h"
#include "decoder/UMovieSubtitles.h"
#include "framework/TBitmap.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QScopeGuard>
#include <QRegularExpression>

#include <algorithm>

namespace ContactSheet {

namespace {

const QColor Background(0x20, 0x20, 0x20);
const QColor MissingPicture(0x60, 0x60, 0x60);
const QColor Text(0xF0, 0xF0, 0xF0);
constexpr int HeaderPixelSize = 15;
constexpr int LabelPixelSize = 12;
const QString HeaderFormat = QStringLiteral("%1    %2 x %3    %4");

QFont SheetFont(int pixelSize, bool bold)
{
    QFont font;
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// One side of a picture scaled by numerator/denominator, rounded to nearest, at least 1.
int Scaled(int side, int numerator, int denominator)
{
    const std::int64_t value = (static_cast<std::int64_t>(side) * numerator + denominator / 2) / denominator;
    return static_cast<int>(std::max<std::int64_t>(1, value));
}

} // namespace

std::optional<TGrid> ParseGrid(const QString& text)
{
    static const QRegularExpression grid(QStringLiteral("^([0-9]{1,3})[xX]([0-9]{1,3})$"));
    const QRegularExpressionMatch match = grid.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const TGrid result{match.captured(1).toInt(), match.captured(2).toInt()};
    if (result.Columns < 1 || result.Columns > MaxColumns || result.Rows < 1 || result.Rows > MaxRows)
        return std::nullopt;
    return result;
}

std::vector<std::int32_t> Times(std::int32_t durationMs, int count)
{
    std::vector<std::int32_t> times;
    if (durationMs <= 0 || count <= 0)
        return times;
    for (int i = 0; i < count; ++i)
        times.push_back(static_cast<std::int32_t>((2 * std::int64_t{i} + 1) * durationMs / (2 * std::int64_t{count})));
    return times;
}

QSize TileSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {TileBox, TileBox};
    if (width <= TileBox && height <= TileBox)
        return {width, height};
    if (width >= height)
        return {TileBox, Scaled(height, TileBox, width)};
    return {Scaled(width, TileBox, height), TileBox};
}

TLayout Layout(const TGrid& grid, int pictureWidth, int pictureHeight)
{
    TLayout layout;
    layout.Columns = grid.Columns;
    layout.Tile = TileSize(pictureWidth, pictureHeight);
    const int cellHeight = layout.Tile.height() + LabelHeight;
    const int width = 2 * Margin + grid.Columns * layout.Tile.width() + (grid.Columns - 1) * Gap;
    const int height = Margin + HeaderHeight + Gap + grid.Rows * cellHeight + (grid.Rows - 1) * Gap + Margin;
    layout.Sheet = QSize(width, height);
    layout.Header = QRect(Margin, Margin, width - 2 * Margin, HeaderHeight);
    return layout;
}

QRect TLayout::Picture(int index) const
{
    const int column = index % Columns;
    const int row = index / Columns;
    const int x = Margin + column * (Tile.width() + Gap);
    const int y = Header.bottom() + 1 + Gap + row * (Tile.height() + LabelHeight + Gap);
    return QRect(QPoint(x, y), Tile);
}

QRect TLayout::Label(int index) const
{
    const QRect picture = Picture(index);
    return QRect(picture.left(), picture.bottom() + 1, picture.width(), LabelHeight);
}

QString TimeLabel(std::int32_t ms)
{
    const std::int32_t seconds = std::max<std::int32_t>(0, ms) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

TSheet Make(TMovieDecoder& decoder, const QString& movieName, const TGrid& grid, const TProgress& progress,
            bool shown, TMovieSubtitles* subtitles)
{
    TSheet sheet;
    const std::vector<std::int32_t> times = Times(decoder.Duration(), grid.Count());
    if (times.empty())
        return sheet;
    // Each tile is labelled with its time, so it must be the picture at that time; the forward
    // path's packet budget would show a picture from anywhere in a long group of pictures.
    const bool wasExact = decoder.Exact();
    decoder.SetExact(true);
    const auto restore = qScopeGuard([&] { decoder.SetExact(wasExact); });
    const TDisplayTransform display = shown ? decoder.DisplayTransform() : TDisplayTransform{};
    const QSize pictureSize = DisplayGeometry::DisplayedSize(QSize(decoder.Width(), decoder.Height()), display,
                                                             TAspectScaling::Display);
    const TLayout layout = Layout(grid, pictureSize.width(), pictureSize.height());
    sheet.Image = QImage(layout.Sheet, QImage::Format_RGB32);
    sheet.Image.fill(Background);
    QPainter painter(&sheet.Image);
    painter.setPen(Text);

    const QFont headerFont = SheetFont(HeaderPixelSize, true);
    painter.setFont(headerFont);
    const QString header = HeaderFormat.arg(movieName)
                               .arg(decoder.Width())
                               .arg(decoder.Height())
                               .arg(TimeLabel(decoder.Duration()));
    painter.drawText(layout.Header, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(headerFont).elidedText(header, Qt::ElideMiddle, layout.Header.width()));

    const QFont labelFont = SheetFont(LabelPixelSize, false);
    painter.setFont(labelFont);
    TBitmap picture;
    for (int i = 0; i < static_cast<int>(times.size()); ++i) {
        const std::int32_t ms = times[static_cast<std::size_t>(i)];
        if (progress)
            progress(i + 1, static_cast<int>(times.size()), ms);
        if (decoder.DecodeFrame(ms)) {
            // Turned without loss and reduced by the image's own filter, which also gives the
            // display aspect: a painter's stretch samples, and aliases.
            MakeDisplayedPicture(decoder.Bitmap(), display, TAspectScaling::Coded, picture);
            if (subtitles) {
                subtitles->WaitForIndex(decoder.FrameTimeMs(), TMovieSubtitles::UnattendedIndexWait);
                subtitles->Draw(picture, decoder.FrameTimeMs(), pictureSize);
            }
            const QImage tile = picture.Image().scaled(layout.Tile, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            painter.drawImage(layout.Picture(i).topLeft(), tile);
        } else {
            painter.fillRect(layout.Picture(i), MissingPicture);
            sheet.Missing.push_back(ms);
        }
        painter.drawText(layout.Label(i), Qt::AlignCenter, TimeLabel(ms));
    }
    return sheet;
}

} // namespace ContactSheet
