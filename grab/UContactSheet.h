// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A contact sheet: COLUMNS x ROWS pictures of one movie at evenly spaced times, each labelled
// with its time, under a header line naming the movie, its picture size and its length. The
// arithmetic (times, tile size, where each tile goes) is apart from any movie and any painting.
#include <QImage>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class TMovieDecoder;
class TMovieSubtitles;

namespace ContactSheet {

inline constexpr int MaxColumns = 20;
inline constexpr int MaxRows = 20;
// Each picture is reduced to fit this square, never enlarged.
inline constexpr int TileBox = 320;
inline constexpr int Margin = 8;
inline constexpr int Gap = 8;
inline constexpr int HeaderHeight = 24;
inline constexpr int LabelHeight = 18;

struct TGrid {
    int Columns = 0;
    int Rows = 0;
    int Count() const { return Columns * Rows; }
    friend bool operator==(const TGrid&, const TGrid&) = default;
};

// "COLUMNSxROWS" (an 'x' or 'X' between two whole numbers, each from 1 to its maximum).
std::optional<TGrid> ParseGrid(const QString& text);

// count times that cut the movie into count equal parts, each at the middle of its part, so the
// sheet shows neither the opening black nor the very end. Rising; empty for a length <= 0.
std::vector<std::int32_t> Times(std::int32_t durationMs, int count);

// The size a width x height picture takes on the sheet.
QSize TileSize(int width, int height);

struct TLayout {
    QSize Sheet;
    QSize Tile;
    QRect Header;
    int Columns = 0;
    // Tiles run left to right, then top to bottom.
    QRect Picture(int index) const;
    QRect Label(int index) const;
};
TLayout Layout(const TGrid& grid, int pictureWidth, int pictureHeight);

// hh:mm:ss (hours not wrapped).
QString TimeLabel(std::int32_t ms);

// Told before each picture is decoded: its number from 1, the count and its time.
using TProgress = std::function<void(int number, int count, std::int32_t ms)>;

struct TSheet {
    QImage Image;
    // Times whose picture could not be decoded; their tiles stay grey.
    std::vector<std::int32_t> Missing;
};

// Draws the sheet of the movie open in decoder, whose file name heads it; the pictures as the
// movie is meant to be shown unless asked for as coded, with subtitles drawn in when given.
// Needs a running QGuiApplication (fonts). An empty image when the movie has no length to space
// pictures over.
TSheet Make(TMovieDecoder& decoder, const QString& movieName, const TGrid& grid, const TProgress& progress = {},
            bool shown = true, TMovieSubtitles* subtitles = nullptr);

} // namespace ContactSheet
