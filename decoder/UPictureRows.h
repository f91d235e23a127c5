// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Rows for the decoder's full-size pictures. A picture's rows are written whole the moment they
// are made, so fresh memory is paid for in page faults, one per 4 KiB page: some fifteen hundred
// for a 1080p picture, more than its conversion's scaling costs. Large rows therefore get a
// mapping of their own, on huge pages where the system has them and filled in by one call where
// it has not, and go back to the system whole when their last image lets them go, so that a
// bounded cache's pictures leave no holes in the heap behind them.
#include <QImage>

#include <cstddef>
#include <cstdint>

namespace PictureRows {

// Rows of at least this many bytes are worth a mapping of their own; smaller ones are better
// taken from the heap.
inline constexpr std::size_t MappedFromBytes = std::size_t{2} << 20;

// A QImage on a mapping of its own: a QImage of width x height, pitch bytes a row, over at least bytes of memory (pitch * height
// and any room its writers need after the last row) whose first row is 64-byte aligned. Null
// when the memory cannot be had or the sizes do not fit together.
QImage Make(int width, int height, int pitch, std::size_t bytes, QImage::Format format);

// Bytes of memory on a mapping of their own, 64-byte aligned, for the codec's pictures; null when
// they cannot be had. Release gives them back.
std::uint8_t* Map(std::size_t bytes);
void Release(std::uint8_t* rows);

} // namespace PictureRows
