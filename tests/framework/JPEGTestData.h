// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small JPEG files written with libjpeg for the tests: colour, grey, four-component and
// progressive pictures filled with one colour.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

namespace jpegtest {

enum class TKind { Colour, Grey, CMYK, Progressive };

inline std::vector<std::uint8_t> Encode(int width, int height, TKind kind, std::uint8_t red = 200,
                                        std::uint8_t green = 30, std::uint8_t blue = 40)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    switch (kind) {
    case TKind::Grey:
        info.input_components = 1;
        info.in_color_space = JCS_GRAYSCALE;
        break;
    case TKind::CMYK:
        info.input_components = 4;
        info.in_color_space = JCS_CMYK;
        break;
    default:
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        break;
    }
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    if (kind == TKind::Progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width * info.input_components));
    for (int x = 0; x < width; ++x) {
        std::uint8_t* pixel = row.data() + x * info.input_components;
        switch (kind) {
        case TKind::Grey: pixel[0] = red; break;
        case TKind::CMYK: pixel[0] = red; pixel[1] = green; pixel[2] = blue; pixel[3] = 0; break;
        default: pixel[0] = red; pixel[1] = green; pixel[2] = blue; break;
        }
    }
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

// Offset of the first start-of-frame marker's segment (the byte after FF Cx), or 0.
inline std::size_t FrameOffset(const std::vector<std::uint8_t>& bytes)
{
    for (std::size_t i = 2; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && (bytes[i + 1] == 0xC0 || bytes[i + 1] == 0xC2))
            return i + 2;
    return 0;
}

// Rewrites the frame's height and width.
inline void SetFrameSize(std::vector<std::uint8_t>& bytes, int width, int height)
{
    const std::size_t at = FrameOffset(bytes) + 3;
    bytes[at] = static_cast<std::uint8_t>(height >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(height);
    bytes[at + 2] = static_cast<std::uint8_t>(width >> 8);
    bytes[at + 3] = static_cast<std::uint8_t>(width);
}

} // namespace jpegtest
