// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion into the program's rows, for every width: FFmpeg's SIMD paths store whole
// blocks of pixels, which the sanitizers cannot see (they are assembly), so the rows handed over
// are guarded by canary bytes, and every pixel of a flat picture must come out the same colour
// (a black right edge is what a pitch too small for the rounded-up row gave).
#include "decoder/UPictureConverter.h"
#include "decoder/UPictureRows.h"
#include "decoder/UPictureStage.h"
#include "framework/FFmpegPtr.h"
#include "framework/TBitmap.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint8_t Canary = 0xA5;
constexpr int CanaryBytes = 64;
constexpr int Rows = 3; // odd: the last chroma row of 4:2:0 covers one luma row

// A flat picture: every sample of a plane has the same value (a saturated orange-ish colour, so
// that no channel of the result is 0 or 255 by accident).
ffmpeg::FramePtr FlatPicture(int width, int height, AVPixelFormat format, bool fullRange,
                             AVColorSpace matrix = AVCOL_SPC_BT709)
{
    ffmpeg::FramePtr frame(av_frame_alloc());
    frame->width = width;
    frame->height = height;
    frame->format = format;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return {};
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const int shift = desc->comp[0].depth - 8;
    const int values[3] = {150 << shift, 90 << shift, 170 << shift};
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
        const int columns = plane ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w) : width;
        for (int y = 0; y < rows; ++y) {
            std::uint8_t* row = frame->data[plane] + y * frame->linesize[plane];
            for (int x = 0; x < columns; ++x) {
                if (shift > 0)
                    reinterpret_cast<std::uint16_t*>(row)[x] = static_cast<std::uint16_t>(values[plane]);
                else
                    row[x] = static_cast<std::uint8_t>(values[plane]);
            }
        }
    }
    frame->color_range = fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    frame->colorspace = matrix;
    return frame;
}

// swscale's fast paths dither from row to row: a flat picture's pixels differ by a step or two.
constexpr int Tolerance = 4;

bool Near(const std::uint8_t* pixel, const std::uint8_t* other)
{
    for (int i = 0; i < 3; ++i)
        if (std::abs(pixel[i] - other[i]) > Tolerance)
            return false;
    return true;
}

std::string Colour(const std::uint8_t* pixel)
{
    return std::to_string(pixel[0]) + "," + std::to_string(pixel[1]) + "," + std::to_string(pixel[2]);
}

// Rows pitch bytes apart with canaries in every byte the picture does not own: between the end
// of each row's pixels and the next row, and CanaryBytes after the last row.
struct TGuardedRows {
    TGuardedRows(int width, int height, int pitch)
        : Width(width), Height(height), Pitch(pitch),
          Bytes(static_cast<std::size_t>(pitch) * height + CanaryBytes, Canary)
    {
    }
    std::uint8_t* Row(int y) { return Bytes.data() + static_cast<std::size_t>(y) * Pitch; }
    // What is wrong with the rows, or empty.
    std::string Fault()
    {
        for (int y = 0; y < Height; ++y) {
            const std::uint8_t* row = Row(y);
            for (int i = Width * 3; i < Pitch; ++i)
                if (row[i] != Canary)
                    return "row " + std::to_string(y) + " written past its end at byte " + std::to_string(i);
            for (int x = 0; x < Width; ++x)
                if (!Near(row + 3 * x, Bytes.data()))
                    return "pixel " + std::to_string(x) + "," + std::to_string(y) + " differs from the first: "
                        + Colour(row + 3 * x) + " against " + Colour(Bytes.data());
        }
        for (std::size_t i = static_cast<std::size_t>(Pitch) * Height; i < Bytes.size(); ++i)
            if (Bytes[i] != Canary)
                return "written past the last row";
        if (Bytes[0] == 0 && Bytes[1] == 0 && Bytes[2] == 0)
            return "black";
        return {};
    }
    int Width, Height, Pitch;
    std::vector<std::uint8_t> Bytes;
};

std::string BitmapFault(const TBitmap& bitmap, const std::uint8_t* colour)
{
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if (!Near(bitmap.ScanLine(y) + 3 * x, colour))
                return "bitmap pixel " + std::to_string(x) + "," + std::to_string(y) + " differs";
    return {};
}

std::vector<int> GuardedWidths()
{
    std::vector<int> widths;
    for (int width = 1; width <= 260; ++width)
        widths.push_back(width);
    for (int width : {360, 642, 854, 914, 1000, 1080, 1366, 1440, 3840})
        widths.push_back(width);
    return widths;
}

// The process's resident memory, from the kernel's own count.
std::int64_t ResidentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        std::int64_t kib = 0;
        if (key == "VmRSS:" && status >> kib)
            return kib * 1024;
    }
    return -1;
}

// KiB of the mapping holding address that are on huge pages; -1 when it is not found.
std::int64_t HugeKiBAt(const void* address)
{
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream smaps("/proc/self/smaps");
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        std::uintptr_t from = 0, to = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2)
            inside = from <= at && at < to;
        else if (inside && line.rfind("AnonHugePages:", 0) == 0)
            return std::atoll(line.c_str() + std::strlen("AnonHugePages:"));
    }
    return -1;
}

} // namespace

TEST(PictureConverter, WritesOnlyThePicturesPixelsAndEveryColumnAtEveryWidth)
{
    const AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P,     AV_PIX_FMT_YUV422P,     AV_PIX_FMT_YUV444P,
                                     AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV422P10LE, AV_PIX_FMT_YUV444P10LE};
    for (const AVPixelFormat format : formats)
        for (const bool fullRange : {false, true})
            for (const int width : GuardedWidths()) {
                SCOPED_TRACE(std::string(av_get_pix_fmt_name(format)) + (fullRange ? " full " : " limited ")
                             + std::to_string(width) + " wide");
                const ffmpeg::FramePtr picture = FlatPicture(width, Rows, format, fullRange);
                ASSERT_TRUE(picture);
                TPictureConverter converter;
                // A bitmap's own rows (padded to 4 bytes), and rows with a gap a block store would
                // reach into.
                for (const int pitch : {(width * 3 + 3) & ~3, width * 3 + 32}) {
                    TGuardedRows rows(width, Rows, pitch);
                    ASSERT_TRUE(converter.Convert(*picture, width, Rows, rows.Row(0), pitch));
                    ASSERT_EQ(rows.Fault(), "") << "pitch " << pitch;
                }
                // The decoder's own bitmaps and cached pictures, converted into in place.
                TGuardedRows reference(width, Rows, width * 3 + 32);
                ASSERT_TRUE(converter.Convert(*picture, width, Rows, reference.Row(0), reference.Pitch));
                TBitmap bitmap;
                for (int again = 0; again < 2; ++again) {
                    ASSERT_TRUE(converter.ConvertInto(*picture, width, Rows, bitmap));
                    ASSERT_EQ(bitmap.Width(), width);
                    ASSERT_EQ(BitmapFault(bitmap, reference.Row(0)), "");
                }
                const QImage image = converter.ConvertToImage(*picture, width, Rows);
                ASSERT_EQ(image.width(), width);
                ASSERT_TRUE(Near(image.constScanLine(Rows - 1) + 3 * (width - 1), reference.Row(0)));
            }
}

TEST(PictureConverter, KeepsTheBitmapsRowsOnlyWhileNoCopySharesThem)
{
    const ffmpeg::FramePtr first = FlatPicture(1080, 8, AV_PIX_FMT_YUV420P, false);
    ffmpeg::FramePtr second = FlatPicture(1080, 8, AV_PIX_FMT_YUV420P, false);
    std::memset(second->data[0], 40, static_cast<std::size_t>(second->linesize[0]) * 8);
    TPictureConverter converter;
    TBitmap bitmap;
    ASSERT_TRUE(converter.ConvertInto(*first, 1080, 8, bitmap));
    const std::uint8_t* rows = bitmap.ScanLine(0);
    ASSERT_TRUE(converter.ConvertInto(*first, 1080, 8, bitmap));
    EXPECT_EQ(bitmap.ScanLine(0), rows) << "a run of pictures reuses the bitmap's memory";

    const TBitmap shown(bitmap); // what the window keeps of the picture on screen
    const std::vector<std::uint8_t> before(shown.ScanLine(7), shown.ScanLine(7) + 3 * 1080);
    ASSERT_TRUE(converter.ConvertInto(*second, 1080, 8, bitmap));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), shown.ScanLine(7))) << "the copy kept its picture";
    EXPECT_NE(std::memcmp(bitmap.ScanLine(7), shown.ScanLine(7), 3), 0);
}

// Rows handed back for another picture are written only when they are the size asked for and
// nobody else holds them: a picture the window still shows keeps its pixels.
TEST(PictureConverter, WritesHandedBackRowsOnlyWhenTheyFitAndAreFree)
{
    const ffmpeg::FramePtr first = FlatPicture(854, 7, AV_PIX_FMT_YUV420P, false);
    ffmpeg::FramePtr second = FlatPicture(854, 7, AV_PIX_FMT_YUV420P, false);
    std::memset(second->data[0], 40, static_cast<std::size_t>(second->linesize[0]) * 7);
    TPictureConverter converter;
    struct TCase {
        const char* Name;
        bool Shared;
        int Width;
        bool Reused;
    };
    for (const TCase& c : {TCase{"free, same size", false, 854, true}, TCase{"held elsewhere", true, 854, false},
                           TCase{"another width", false, 853, false}}) {
        QImage rows = converter.ConvertToImage(*first, c.Width, 7);
        ASSERT_FALSE(rows.isNull()) << c.Name;
        const QImage other = c.Shared ? rows : QImage();
        const std::vector<std::uint8_t> before(rows.constBits(), rows.constBits() + 3 * c.Width);
        const uchar* memory = rows.constBits();
        const QImage made = converter.ConvertToImage(*second, 854, 7, {}, std::move(rows));
        ASSERT_FALSE(made.isNull()) << c.Name;
        EXPECT_EQ(made.constBits() == memory, c.Reused) << c.Name;
        EXPECT_NE(std::memcmp(made.constScanLine(6), before.data(), 3), 0) << c.Name << ": the new picture is in it";
        if (c.Shared) {
            EXPECT_TRUE(std::equal(before.begin(), before.end(), other.constBits())) << c.Name;
        }
    }
}

// Full-size pictures get rows of their own mapping: every shape comes out whole to its last
// pixel (the converter's block stores run past it), and the memory goes back to the system when
// the last copy lets it go, not left in the heap.
TEST(PictureConverter, FullSizePicturesComeOutWholeAndGiveTheirMemoryBack)
{
    struct TCase {
        int Width, Height;
    };
    TPictureConverter converter;
    for (const TCase c : {TCase{1920, 1080}, TCase{1080, 1920}, TCase{1081, 1921}, TCase{3840, 2160}}) {
        const std::string name = std::to_string(c.Width) + "x" + std::to_string(c.Height);
        const ffmpeg::FramePtr flat = FlatPicture(c.Width, c.Height, AV_PIX_FMT_YUV420P, false);
        const std::int64_t before = ResidentBytes();
        std::vector<QImage> made;
        for (int i = 0; i < 4; ++i) {
            made.push_back(converter.ConvertToImage(*flat, c.Width, c.Height));
            ASSERT_FALSE(made.back().isNull()) << name;
        }
        const QImage& last = made.back();
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(last.constBits()) % 64, 0u) << name;
        const std::uint8_t* end = last.constScanLine(c.Height - 1) + 3 * (c.Width - 1);
        EXPECT_TRUE(Near(last.constBits(), end)) << name << ": " << Colour(last.constBits()) << " against "
                                                 << Colour(end);
        const std::int64_t bytes = last.sizeInBytes();
        EXPECT_GE(ResidentBytes() - before, 3 * bytes) << name;
        made.clear();
        EXPECT_LT(ResidentBytes() - before, bytes) << name << ": the rows stayed resident";
    }
    // Sizes that do not fit together get no memory at all.
    EXPECT_TRUE(PictureRows::Make(1920, 1080, 5760, 5760 * 1079, QImage::Format_BGR888).isNull());
    EXPECT_TRUE(PictureRows::Make(0, 1080, 5760, 5760 * 1080, QImage::Format_BGR888).isNull());
}

// A 4K picture's chroma plane is a few KiB short of a huge page: it gets one all the same,
// wherever the system gives one to a whole huge page mapped the same way.
TEST(PictureConverter, RowsJustShortOfAHugePageAreOnOne)
{
    constexpr std::size_t Huge = std::size_t{2} << 20;
    std::uint8_t* const whole = PictureRows::Map(Huge);
    std::uint8_t* const short4K = PictureRows::Map(1920 * 1088);
    ASSERT_TRUE(whole && short4K);
    const std::int64_t control = HugeKiBAt(whole);
    if (control <= 0) {
        PictureRows::Release(whole);
        PictureRows::Release(short4K);
        GTEST_SKIP() << "this system gives no huge pages";
    }
    EXPECT_GE(HugeKiBAt(short4K), 2048);
    PictureRows::Release(whole);
    PictureRows::Release(short4K);
}

TEST(PictureConverter, UntaggedPicturesAreReadAsPlayersReadThem)
{
    struct TCase {
        int StatedMatrix, Width, Height, Expected;
    };
    const TCase cases[] = {
        {AVCOL_SPC_UNSPECIFIED, 1280, 720, AVCOL_SPC_BT709},  {AVCOL_SPC_UNSPECIFIED, 1279, 576, AVCOL_SPC_SMPTE170M},
        {AVCOL_SPC_UNSPECIFIED, 720, 577, AVCOL_SPC_BT709},   {AVCOL_SPC_UNSPECIFIED, 720, 576, AVCOL_SPC_SMPTE170M},
        {AVCOL_SPC_UNSPECIFIED, 1080, 1920, AVCOL_SPC_BT709}, {AVCOL_SPC_RESERVED, 3840, 2160, AVCOL_SPC_BT709},
        {AVCOL_SPC_BT470BG, 1920, 1080, AVCOL_SPC_BT470BG},   {AVCOL_SPC_BT709, 320, 240, AVCOL_SPC_BT709},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ColourMatrixOf(c.StatedMatrix, c.Width, c.Height), c.Expected)
            << c.StatedMatrix << " " << c.Width << "x" << c.Height;

    // The plain conversion follows the same guess: an untagged HD picture comes out as the same
    // picture tagged BT.709, an untagged SD one as tagged BT.601.
    const auto colourOf = [](int width, int height, AVColorSpace matrix) {
        const ffmpeg::FramePtr picture = FlatPicture(width, height, AV_PIX_FMT_YUV420P, false, matrix);
        TPictureConverter converter;
        TBitmap bitmap;
        EXPECT_TRUE(converter.ConvertInto(*picture, width, height, bitmap));
        const std::uint8_t* pixel = bitmap.ScanLine(0);
        return std::vector<int>{pixel[0], pixel[1], pixel[2]};
    };
    EXPECT_EQ(colourOf(1280, 16, AVCOL_SPC_UNSPECIFIED), colourOf(1280, 16, AVCOL_SPC_BT709));
    EXPECT_EQ(colourOf(640, 16, AVCOL_SPC_UNSPECIFIED), colourOf(640, 16, AVCOL_SPC_SMPTE170M));
    EXPECT_NE(colourOf(640, 16, AVCOL_SPC_UNSPECIFIED), colourOf(640, 16, AVCOL_SPC_BT709));
}
