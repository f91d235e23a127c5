// SPDX-License-Identifier: GPL-3.0-or-later
// The picture stage: which pictures get which filters, pictures of every layout through them,
// and stills of written movies (interlaced, HDR, wide gamut) compared across the settings.
#include "decoder/UMovieDecoder.h"
#include "decoder/UPictureConverter.h"
#include "decoder/UPictureStage.h"
#include "framework/FFmpegPtr.h"
#include "support/GrabRun.h"
#include "support/RecipeMovie.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <QColor>
#include <QImage>
#include <QTemporaryDir>

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Which filters

TPictureProperties Picture(int transfer = AVCOL_TRC_BT709, int primaries = AVCOL_PRI_BT709,
                           bool interlaced = false)
{
    TPictureProperties p;
    p.Width = 176;
    p.Height = 144;
    p.Format = AV_PIX_FMT_YUV420P;
    p.Transfer = transfer;
    p.Primaries = primaries;
    p.Matrix = AVCOL_SPC_BT709;
    p.Range = AVCOL_RANGE_MPEG;
    p.Interlaced = interlaced;
    return p;
}

TEST(PictureStage, ChoosesFiltersByThePicturesPropertiesAndTheSettings)
{
    const TPictureSettings autoOn{TDeinterlace::Auto, true};
    const TPictureSettings neverOff{TDeinterlace::Never, false};
    TPictureProperties bottomFirst = Picture(AVCOL_TRC_BT709, AVCOL_PRI_BT709, true);
    bottomFirst.TopFieldFirst = false;
    TPictureProperties oddHdr = Picture(AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020);
    oddHdr.Width = 175;
    oddHdr.Format = AV_PIX_FMT_YUV420P10LE;
    TPictureProperties graded = Picture(AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020);
    graded.PeakNits = 4000;
    TPictureProperties floatingPoint = Picture(AVCOL_TRC_SMPTE170M, AVCOL_PRI_BT2020);
    floatingPoint.Format = AV_PIX_FMT_GBRPF32LE;
    const struct {
        const char* name;
        TPictureProperties picture;
        TPictureSettings settings;
        std::vector<std::string> present, absent;
    } cases[] = {
        {"progressive SDR", Picture(), autoOn, {}, {"bwdif", "zscale"}},
        {"interlaced, top first", Picture(AVCOL_TRC_BT709, AVCOL_PRI_BT709, true), autoOn, {"bwdif=mode=send_frame", "parity=tff"}, {"zscale"}},
        {"interlaced, bottom first", bottomFirst, autoOn, {"parity=bff"}, {}},
        {"interlaced, never", Picture(AVCOL_TRC_BT709, AVCOL_PRI_BT709, true), {TDeinterlace::Never, true}, {}, {"bwdif"}},
        {"progressive, always", Picture(), {TDeinterlace::Always, true}, {"bwdif"}, {}},
        {"PQ", Picture(AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020), autoOn, {"tin=16", "tonemap=mobius", "peak=10.0", "format=gbrpf32le"}, {"bwdif"}},
        {"PQ with its peak", graded, autoOn, {"peak=40.0"}, {}},
        {"HLG, even with BT.709 primaries", Picture(AVCOL_TRC_ARIB_STD_B67, AVCOL_PRI_BT709), autoOn, {"tin=18", "tonemap"}, {}},
        {"PQ, tone mapping off", Picture(AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020), {TDeinterlace::Auto, false}, {}, {"zscale", "tonemap"}},
        {"SDR BT.2020", Picture(AVCOL_TRC_BT2020_10, AVCOL_PRI_BT2020), autoOn, {"pin=9", "p=bt709", "format=gbrp"}, {"tonemap", "linear"}},
        {"odd 4:2:0 HDR", oddHdr, autoOn, {"format=yuv444p16le,zscale"}, {}},
        {"everything off", Picture(AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020, true), neverOff, {}, {"bwdif", "zscale"}},
        // zimg has crashed on them.
        {"floating-point RGB", floatingPoint, autoOn, {}, {"zscale"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string chain = PictureStage::FilterChain(c.picture, c.settings);
        for (const std::string& part : c.present)
            EXPECT_NE(chain.find(part), std::string::npos) << chain;
        for (const std::string& part : c.absent)
            EXPECT_EQ(chain.find(part), std::string::npos) << chain;
    }
    // Progressive pictures (soft-telecined film among them: repeated fields, no interlacing
    // flag) of an SDR movie go to the conversion as they are.
    EXPECT_EQ(PictureStage::FilterChain(Picture(), autoOn), "");
}

// ---------------------------------------------------------------------------------------------
// Pictures made in memory

ffmpeg::FramePtr GreyPicture(int width, int height, AVPixelFormat format)
{
    ffmpeg::FramePtr frame(av_frame_alloc());
    frame->width = width;
    frame->height = height;
    frame->format = format;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return {};
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const int depth = desc->comp[0].depth;
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
        const int columns = plane ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w) : width;
        // Mid grey, with a brighter luma stripe so that a picture is not one colour.
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < columns; ++x) {
                const int value = (plane == 0 && (x / 8) % 2 ? 3 : 2) << (depth - 2);
                std::uint8_t* at = frame->data[plane] + y * frame->linesize[plane];
                if (depth > 8)
                    reinterpret_cast<std::uint16_t*>(at)[x] = static_cast<std::uint16_t>(value);
                else
                    at[x] = static_cast<std::uint8_t>(value);
            }
    }
    frame->color_range = AVCOL_RANGE_MPEG;
    frame->colorspace = AVCOL_SPC_BT2020_NCL;
    frame->color_primaries = AVCOL_PRI_BT2020;
    frame->color_trc = AVCOL_TRC_SMPTE2084;
    frame->interlaced_frame = 1;
    frame->top_field_first = 1;
    return frame;
}

std::vector<std::uint8_t> Converted(TPictureConverter& converter, const AVFrame& picture)
{
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(picture.width) * picture.height * 3);
    if (!converter.Convert(picture, picture.width, picture.height, rows.data(), picture.width * 3))
        rows.clear();
    return rows;
}

TEST(PictureStage, TakesTheSourcePeakFromTheContentLightLevelThenTheMasteringDisplay)
{
    const auto peakOf = [](int maxCll, int masteringNits) {
        ffmpeg::FramePtr picture = GreyPicture(16, 16, AV_PIX_FMT_YUV420P10LE);
        if (maxCll >= 0)
            av_content_light_metadata_create_side_data(picture.get())->MaxCLL = static_cast<unsigned>(maxCll);
        if (masteringNits >= 0) {
            AVMasteringDisplayMetadata* mastering = av_mastering_display_metadata_create_side_data(picture.get());
            mastering->has_luminance = 1;
            mastering->max_luminance = av_make_q(masteringNits, 1);
        }
        return TPictureProperties::Of(*picture).PeakNits;
    };
    EXPECT_EQ(peakOf(4000, 1000), 4000);
    EXPECT_EQ(peakOf(-1, 1000), 1000);
    EXPECT_EQ(peakOf(0, 2000), 2000);  // a light level of 0 says nothing
    EXPECT_EQ(peakOf(-1, 0), 0);       // nor does a display of no brightness
    EXPECT_EQ(peakOf(-1, 10000000), 0); // nor one beyond any made
    EXPECT_EQ(peakOf(-1, -1), 0);
    // A light level or display below SDR white would turn the curve over; the next source, or
    // the assumed peak, stands in for it.
    EXPECT_EQ(peakOf(1, 1000), 1000);
    EXPECT_EQ(peakOf(99, 1000), 1000);
    EXPECT_EQ(peakOf(99, -1), 0);
    EXPECT_EQ(peakOf(-1, 50), 0);
    EXPECT_EQ(peakOf(100, -1), 100);
}

// The picture stage's filters in the stage itself: one graph for pictures that the settings
// treat alike.
TEST(PictureStage, FieldFlagsThatChangeNothingKeepTheGraph)
{
    const struct {
        const char* Name;
        TPictureSettings Settings;
        int Builds; // for pictures flagged progressive, interlaced, progressive, bottom field first
    } cases[] = {
        {"never deinterlaced", {TDeinterlace::Never, true}, 1},
        {"always deinterlaced: only the field order counts", {TDeinterlace::Always, true}, 2},
        {"deinterlaced when flagged", {TDeinterlace::Auto, true}, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TPictureStage stage;
        stage.SetSettings(c.Settings);
        for (const auto& [interlaced, topFirst] : {std::pair{0, 1}, std::pair{1, 1}, std::pair{0, 0}, std::pair{1, 0}}) {
            const ffmpeg::FramePtr picture = GreyPicture(64, 48, AV_PIX_FMT_YUV420P10LE);
            ASSERT_TRUE(picture);
            picture->interlaced_frame = interlaced;
            picture->top_field_first = topFirst;
            stage.Process(*picture, nullptr, nullptr, 64, 48);
        }
        EXPECT_EQ(stage.Builds(), c.Builds);
    }
}

// An odd-sized 4:2:0 picture reaches zscale through a 4:4:4 conversion; its range stays what
// zscale is told, so one flat colour comes out as it does at an even size, in either range.
TEST(PictureStage, OddSizedHDRPicturesKeepTheirRangeOnTheWayToTheColourFilters)
{
    for (const AVColorRange range : {AVCOL_RANGE_JPEG, AVCOL_RANGE_MPEG}) {
        SCOPED_TRACE(range == AVCOL_RANGE_JPEG ? "full range" : "limited range");
        const auto centreOf = [range](int width, int height) {
            const ffmpeg::FramePtr picture = GreyPicture(width, height, AV_PIX_FMT_YUV420P10LE);
            picture->color_range = range;
            picture->interlaced_frame = 0;
            // A dark saturated colour, flat: its range changes every channel.
            const int values[3] = {200, 380, 700};
            for (int plane = 0; plane < 3; ++plane)
                for (int y = 0; y < (plane ? (height + 1) / 2 : height); ++y)
                    for (int x = 0; x < (plane ? (width + 1) / 2 : width); ++x)
                        reinterpret_cast<std::uint16_t*>(picture->data[plane] + y * picture->linesize[plane])[x]
                            = static_cast<std::uint16_t>(values[plane]);
            TPictureConverter converter;
            const std::vector<std::uint8_t> rows = Converted(converter, *picture);
            const std::size_t centre = (static_cast<std::size_t>(height / 2) * width + width / 2) * 3;
            return rows.size() > centre ? QColor(rows[centre + 2], rows[centre + 1], rows[centre]) : QColor();
        };
        const QColor even = centreOf(64, 48), odd = centreOf(65, 49);
        ASSERT_TRUE(even.isValid() && odd.isValid());
        EXPECT_NEAR(odd.red(), even.red(), 2) << odd.name().toStdString() << " " << even.name().toStdString();
        EXPECT_NEAR(odd.green(), even.green(), 2) << odd.name().toStdString() << " " << even.name().toStdString();
        EXPECT_NEAR(odd.blue(), even.blue(), 2) << odd.name().toStdString() << " " << even.name().toStdString();
    }
}

TEST(PictureStage, ColourCodesNoEnumeratorHasAreNumbersAndConvertAsUnspecifiedOnes)
{
    // A damaged file's colour atom, passed on by FFmpeg as it stands.
    constexpr int Stray = 205;
    const ffmpeg::FramePtr plain = GreyPicture(64, 48, AV_PIX_FMT_YUV420P);
    plain->color_primaries = AVCOL_PRI_UNSPECIFIED;
    plain->color_trc = AVCOL_TRC_UNSPECIFIED;
    plain->colorspace = AVCOL_SPC_UNSPECIFIED;
    plain->color_range = AVCOL_RANGE_UNSPECIFIED;
    const ffmpeg::FramePtr damaged = GreyPicture(64, 48, AV_PIX_FMT_YUV420P);
    for (void* field : {static_cast<void*>(&damaged->color_primaries), static_cast<void*>(&damaged->color_trc),
                        static_cast<void*>(&damaged->colorspace), static_cast<void*>(&damaged->color_range)})
        std::memcpy(field, &Stray, sizeof Stray);
    const TPictureProperties p = TPictureProperties::Of(*damaged);
    EXPECT_EQ(p.Primaries, Stray);
    EXPECT_EQ(p.Transfer, Stray);
    EXPECT_EQ(p.Matrix, Stray);
    EXPECT_EQ(p.Range, Stray);
    TPictureConverter converter;
    converter.Stage().SetSettings({TDeinterlace::Auto, true});
    EXPECT_EQ(Converted(converter, *damaged), Converted(converter, *plain));
}

TEST(PictureStage, TakesEveryLayoutAndDepthAtOddAndEvenSizes)
{
    const AVPixelFormat formats[] = {
        AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV420P12LE,
        AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV422P10LE, AV_PIX_FMT_YUV422P12LE,
        AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUV444P10LE, AV_PIX_FMT_YUV444P12LE,
    };
    for (const AVPixelFormat format : formats)
        for (const auto& [width, height] : {std::pair{64, 48}, std::pair{65, 49}}) {
            SCOPED_TRACE(std::string(av_get_pix_fmt_name(format)) + " " + std::to_string(width) + "x"
                         + std::to_string(height));
            const ffmpeg::FramePtr picture = GreyPicture(width, height, format);
            ASSERT_TRUE(picture);
            TPictureConverter plain;
            plain.Stage().SetSettings({TDeinterlace::Never, false});
            TPictureConverter staged;
            staged.Stage().SetSettings({TDeinterlace::Always, true});
            const std::vector<std::uint8_t> before = Converted(plain, *picture);
            const std::vector<std::uint8_t> after = Converted(staged, *picture);
            ASSERT_FALSE(after.empty());
            // Tone mapped, so not the plain picture; and not black.
            EXPECT_NE(before, after);
            long sum = 0;
            for (const std::uint8_t v : after)
                sum += v;
            EXPECT_GT(sum / static_cast<long>(after.size()), 10);
        }
}

TEST(PictureStage, APreviewIsToneMappedAtItsOwnSizeWithTheSameCurve)
{
    // One bright grey all over: whatever the scaling, every pixel shows where the curve takes it.
    const ffmpeg::FramePtr picture = GreyPicture(128, 96, AV_PIX_FMT_YUV420P10LE);
    ASSERT_TRUE(picture);
    for (int y = 0; y < picture->height; ++y)
        for (int x = 0; x < picture->width; ++x)
            reinterpret_cast<std::uint16_t*>(picture->data[0] + y * picture->linesize[0])[x] = 640;
    TPictureConverter converter;
    const std::vector<std::uint8_t> full = Converted(converter, *picture);
    std::vector<std::uint8_t> preview(32 * 24 * 3);
    ASSERT_TRUE(converter.Convert(*picture, 32, 24, preview.data(), 32 * 3));
    const auto mean = [](const std::vector<std::uint8_t>& rows) {
        double sum = 0;
        for (const std::uint8_t v : rows)
            sum += v;
        return sum / static_cast<double>(rows.size());
    };
    ASSERT_FALSE(full.empty());
    EXPECT_GT(mean(full), 60.0);
    EXPECT_NEAR(mean(preview), mean(full), 1.0);
    // And the full picture again: the graph follows the size asked for.
    EXPECT_EQ(Converted(converter, *picture), full);
}

std::vector<std::string> LoggedLines;

// Errors as the program's log shows them: what the level lets through.
void KeepLogLine(void*, int level, const char* format, va_list arguments)
{
    if (level > std::min(av_log_get_level(), AV_LOG_ERROR))
        return;
    char line[1024];
    std::vsnprintf(line, sizeof line, format, arguments);
    LoggedLines.emplace_back(line);
}

TEST(PictureStage, AGraphThatCannotBeMadeFallsBackToThePlainConversionSayingSoOnce)
{
    const ffmpeg::FramePtr picture = GreyPicture(64, 48, AV_PIX_FMT_YUV420P);
    TPictureConverter plain;
    plain.Stage().SetSettings({TDeinterlace::Never, false});
    TPictureConverter broken;
    broken.Stage().SetSettings({TDeinterlace::Always, false});
    broken.Stage().SetDeinterlacer("no_such_deinterlacer");
    LoggedLines.clear();
    av_log_set_callback(KeepLogLine);
    const std::vector<std::uint8_t> first = Converted(broken, *picture);
    const std::vector<std::uint8_t> second = Converted(broken, *picture);
    av_log_set_callback(av_log_default_callback);
    EXPECT_EQ(first, Converted(plain, *picture));
    EXPECT_EQ(second, first);
    ASSERT_EQ(LoggedLines.size(), 1u);
    EXPECT_NE(LoggedLines[0].find("no_such_deinterlacer"), std::string::npos) << LoggedLines[0];
}

// Pictures of a few pixels (a movie of 10 x 12) go through every filter of the stage and come
// out at their size.
TEST(PictureStage, TinyPicturesGoThroughEveryFilter)
{
    for (const auto& [width, height] : {std::pair{10, 12}, std::pair{9, 7}, std::pair{4, 4}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const ffmpeg::FramePtr picture = GreyPicture(width, height, AV_PIX_FMT_YUV420P10LE);
        ASSERT_TRUE(picture);
        TPictureStage stage;
        stage.SetSettings({TDeinterlace::Always, true});
        LoggedLines.clear();
        av_log_set_callback(KeepLogLine);
        const AVFrame& made = stage.Process(*picture, nullptr, nullptr, width, height);
        av_log_set_callback(av_log_default_callback);
        EXPECT_NE(&made, picture.get()) << "filtered, not passed on as decoded";
        EXPECT_EQ(made.width, width);
        EXPECT_EQ(made.height, height);
        EXPECT_TRUE(LoggedLines.empty()) << LoggedLines.front();
    }
}

// The same picture on rows that start half way between the boundaries vector code of the widest
// registers reads at, as a decoder that wraps a packet's bytes (raw video) hands them over.
ffmpeg::FramePtr HalfAligned(const AVFrame& picture)
{
    constexpr int Half = 32;
    ffmpeg::FramePtr shifted(av_frame_alloc());
    shifted->format = picture.format;
    shifted->width = picture.width;
    shifted->height = picture.height;
    av_frame_copy_props(shifted.get(), &picture);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture.format));
    for (int plane = 0; plane < 4 && picture.data[plane]; ++plane) {
        const int rows = plane ? AV_CEIL_RSHIFT(picture.height, desc->log2_chroma_h) : picture.height;
        const int linesize = (picture.linesize[plane] / (2 * Half) + 1) * 2 * Half + Half;
        shifted->buf[plane] = av_buffer_alloc(static_cast<std::size_t>(linesize) * rows + 4 * Half);
        shifted->data[plane] = shifted->buf[plane]->data + Half;
        shifted->linesize[plane] = linesize;
    }
    av_frame_copy(shifted.get(), &picture);
    return shifted;
}

// Wide-gamut and HDR pictures at sizes and depths zimg takes other paths for, each from rows only
// half aligned and from its own, turned into the same picture.
TEST(PictureStage, PicturesOnRowsOfAnyAlignmentReachTheColourFiltersSafely)
{
    for (const AVPixelFormat format : {AV_PIX_FMT_YUV444P9LE, AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV420P})
        for (const auto& [width, height] : {std::pair{1, 6}, std::pair{8, 5}, std::pair{17, 10}}) {
            SCOPED_TRACE(std::string(av_get_pix_fmt_name(format)) + " to " + std::to_string(width) + "x"
                         + std::to_string(height));
            ffmpeg::FramePtr picture = GreyPicture(17, 10, format);
            ASSERT_TRUE(picture);
            picture->color_trc = AVCOL_TRC_BT709;
            const ffmpeg::FramePtr shifted = HalfAligned(*picture);
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(shifted->data[1]) % 64, 32u);
            TPictureStage aligned;
            aligned.SetSettings({TDeinterlace::Never, true});
            const AVFrame& expected = aligned.Process(*picture, nullptr, nullptr, width, height);
            TPictureStage stage;
            stage.SetSettings({TDeinterlace::Never, true});
            const AVFrame& made = stage.Process(*shifted, nullptr, nullptr, width, height);
            ASSERT_NE(&made, shifted.get()) << "filtered, not passed on as decoded";
            ASSERT_EQ(made.width, expected.width);
            ASSERT_EQ(made.height, expected.height);
            for (int plane = 0; plane < 3; ++plane)
                for (int y = 0; y < made.height; ++y)
                    ASSERT_EQ(std::memcmp(made.data[plane] + y * made.linesize[plane],
                                          expected.data[plane] + y * expected.linesize[plane], made.width), 0)
                        << "plane " << plane << " line " << y;
        }
}

// ---------------------------------------------------------------------------------------------
// Written movies

// An interlaced camera: a bright bar moving right 6 pixels per field, each field caught at its
// own moment. The field caught first is the top one for AV_FIELD_TT.
TMovieRecipe InterlacedMovie(AVFieldOrder fields)
{
    TMovieRecipe recipe;
    recipe.Encoder = "mpeg2video";
    recipe.Fields = fields;
    recipe.Sample = [fields](int n, int plane, int x, int y) {
        if (plane)
            return 128;
        const bool firstField = (y % 2 == 0) == (fields == AV_FIELD_TT);
        const int moment = 2 * n + (firstField ? 0 : 1);
        // The box comes back in at the left, so that pictures far in still move.
        const int left = 6 * moment % 80;
        // Columns that flicker from picture to picture give the deinterlacer a reason to look at
        // the neighbours, without combing of their own.
        return x >= left && x < left + 16 ? 235 : 16 + 24 * ((x / 2 + n) % 2);
    };
    return recipe;
}

// How much the rows of a picture disagree with the average of their neighbours: the teeth that
// two fields of different moments leave.
double Combing(const QImage& bitmap)
{
    double sum = 0;
    for (int y = 1; y + 1 < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x) {
            const auto luma = [&](int row) { return static_cast<double>(bitmap.constScanLine(row)[3 * x + 1]); };
            sum += std::abs(luma(y) - (luma(y - 1) + luma(y + 1)) / 2);
        }
    return sum / ((bitmap.height() - 2) * bitmap.width());
}

// The still at ms under settings.
QImage Still(const std::string& movie, std::int32_t ms, TPictureSettings settings)
{
    TMovieDecoder decoder;
    decoder.SetExact(true);
    decoder.SetDeinterlace(settings.Deinterlace);
    decoder.SetToneMapping(settings.ToneMapping);
    EXPECT_TRUE(decoder.Open(movie));
    EXPECT_TRUE(decoder.DecodeFrame(ms));
    return decoder.Bitmap().Image();
}

std::vector<std::uint8_t> Pixels(const QImage& bitmap)
{
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < bitmap.height(); ++y)
        pixels.insert(pixels.end(), bitmap.constScanLine(y), bitmap.constScanLine(y) + 3 * bitmap.width());
    return pixels;
}

class PictureStageMovies : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return FDir.filePath(name).toStdString(); }
    QTemporaryDir FDir;
};

TEST_F(PictureStageMovies, AutoDeinterlacesFlaggedPicturesInEitherFieldOrder)
{
    struct TSource {
        const char* Name;
        AVFieldOrder Fields;
        const char* Encoder;
        const char* Container;
        const char* Options;
    };
    // DVD-like MPEG-2 in either field order, and broadcast-like H.264 in a transport stream,
    // whose pictures are shown as soon as decoded, so a seek can land on the key frame asked for.
    for (const TSource& source :
         {TSource{"tff.mkv", AV_FIELD_TT, "mpeg2video", "matroska", ""},
          TSource{"bff.mkv", AV_FIELD_BB, "mpeg2video", "matroska", ""},
          TSource{"tff-h264.ts", AV_FIELD_TT, "libx264", "mpegts", "sc_threshold=0:keyint_min=4"},
          TSource{"bff-h264.ts", AV_FIELD_BB, "libx264", "mpegts", "sc_threshold=0:keyint_min=4"}}) {
        SCOPED_TRACE(source.Name);
        const std::string movie = Path(source.Name);
        TMovieRecipe recipe = InterlacedMovie(source.Fields);
        recipe.Encoder = source.Encoder;
        recipe.Container = source.Container;
        recipe.Options = source.Options;
        recipe.Pictures = 240; // long enough for a request far ahead to seek
        ASSERT_TRUE(WriteMovie(movie, recipe));
        const double combed = Combing(Still(movie, 120, {TDeinterlace::Never, true}));
        const double clean = Combing(Still(movie, 120, {TDeinterlace::Auto, true}));
        EXPECT_GT(combed, 10.0);
        EXPECT_LT(clean, combed / 4);
        // Stepping there through the cache gives the same picture as going there at once, key
        // frames (every fourth picture) included.
        TMovieDecoder decoder;
        decoder.SetExact(true);
        ASSERT_TRUE(decoder.Open(movie));
        for (int picture = 1; picture <= 5; ++picture) {
            ASSERT_TRUE(decoder.DecodeNextFrame());
            EXPECT_EQ(Pixels(decoder.Bitmap().Image()), Pixels(Still(movie, 40 * picture, {TDeinterlace::Auto, true})))
                << "picture " << picture;
        }
        // The same for a key frame reached by a step from the picture before and by a seek.
        ASSERT_TRUE(decoder.DecodeFrame(40 * 227));
        ASSERT_TRUE(decoder.DecodeNextFrame());
        ASSERT_EQ(decoder.FrameTimeMs(), 40 * 228);
        EXPECT_EQ(Pixels(decoder.Bitmap().Image()), Pixels(Still(movie, 40 * 228, {TDeinterlace::Auto, true})));
        // A setting changed on an open decoder applies to the next request.
        decoder.SetDeinterlace(TDeinterlace::Never);
        ASSERT_TRUE(decoder.DecodeFrame(120));
        EXPECT_NEAR(Combing(decoder.Bitmap().Image()), combed, 0.01);
    }
}

TEST_F(PictureStageMovies, AutoLeavesProgressiveLinesAsTheyWere)
{
    TMovieRecipe recipe;
    recipe.Encoder = "mpeg2video";
    recipe.Options = "qscale=1";
    recipe.Sample = [](int, int plane, int, int y) { return plane ? 128 : (y % 2 ? 200 : 40); };
    const std::string movie = Path("lines.mkv");
    ASSERT_TRUE(WriteMovie(movie, recipe));
    const QImage plain = Still(movie, 120, {TDeinterlace::Never, false});
    EXPECT_GT(Combing(plain), 40.0);
    EXPECT_EQ(Pixels(Still(movie, 120, {TDeinterlace::Auto, true})), Pixels(plain));
    // Forced, the lines are taken for combing and smoothed away: the test can tell.
    EXPECT_NE(Pixels(Still(movie, 120, {TDeinterlace::Always, true})), Pixels(plain));
}

// Mean of max(R,G,B) - min(R,G,B): how colourful a picture is.
double Saturation(const QImage& bitmap)
{
    double sum = 0;
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x) {
            const std::uint8_t* p = bitmap.constScanLine(y) + 3 * x;
            sum += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]});
        }
    return sum / (bitmap.width() * bitmap.height());
}

// Ten-bit pictures in the wide gamut: a grey left half and a strongly coloured right half.
TMovieRecipe WideGamutMovie(AVColorTransferCharacteristic transfer)
{
    TMovieRecipe recipe;
    const bool hevc = avcodec_find_encoder_by_name("libx265") != nullptr;
    recipe.Encoder = hevc ? "libx265" : "libx264";
    // Quoted: the encoder's own parameters are separated by the same colons as the options.
    recipe.Options = hevc ? "x265-params='log-level=error:master-display=G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,1):max-cll=1000,400'"
                        : "profile=high10";
    recipe.Format = AV_PIX_FMT_YUV420P10LE;
    recipe.Transfer = transfer;
    recipe.Primaries = AVCOL_PRI_BT2020;
    recipe.Matrix = AVCOL_SPC_BT2020_NCL;
    recipe.Pictures = 4;
    recipe.Sample = [](int, int plane, int x, int) {
        const bool coloured = (plane ? 2 * x : x) >= 48; // chroma is half as wide
        if (plane == 0)
            return coloured ? 420 : 512;
        if (!coloured)
            return 512;
        return plane == 1 ? 380 : 760; // red
    };
    return recipe;
}

// HDR stills are tone-mapped, SDR ones in the wide gamut only get BT.709 colours: either way
// more colourful than the plain conversion's, with grey still grey; only tone mapping moves it.
TEST_F(PictureStageMovies, WideGamutStillsGetBT709ColoursAndOnlyHDROnesAreToneMapped)
{
    for (const AVColorTransferCharacteristic transfer : {AVCOL_TRC_SMPTE2084, AVCOL_TRC_BT2020_10}) {
        const bool hdr = transfer == AVCOL_TRC_SMPTE2084;
        SCOPED_TRACE(hdr ? "PQ" : "SDR");
        const std::string movie = Path(hdr ? "pq.mkv" : "bt2020.mkv");
        ASSERT_TRUE(WriteMovie(movie, WideGamutMovie(transfer)));
        const QImage converted = Still(movie, 40, {TDeinterlace::Auto, true});
        const QImage plain = Still(movie, 40, {TDeinterlace::Auto, false});
        EXPECT_GT(Saturation(converted), Saturation(plain) * 1.1);
        const std::uint8_t* grey = converted.constScanLine(32) + 3 * 10;
        EXPECT_LE(std::max({grey[0], grey[1], grey[2]}) - std::min({grey[0], grey[1], grey[2]}), 3);
        const int greyPlain = plain.constScanLine(32)[3 * 10 + 1];
        if (hdr)
            EXPECT_GT(std::abs(grey[1] - greyPlain), 20);
        else
            EXPECT_NEAR(grey[1], greyPlain, 3);
    }
}

// framora-grab's two options reach the same stage: the default is the window's.
TEST_F(PictureStageMovies, GrabDeinterlacesAndToneMapsUnlessTold)
{
    const std::string interlaced = Path("grab-tff.mkv");
    const std::string pq = Path("grab-pq.mkv");
    ASSERT_TRUE(WriteMovie(interlaced, InterlacedMovie(AV_FIELD_TT)));
    ASSERT_TRUE(WriteMovie(pq, WideGamutMovie(AVCOL_TRC_SMPTE2084)));
    const auto grab = [&](const std::string& movie, const QString& folder, QStringList options) {
        const QString out = FDir.filePath(folder);
        const TGrabRun run = Grab(options << "--coded" << "--format" << "png"
                                          << QString::fromStdString(movie) << out << "120");
        EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
        return QImage(out + "/120.png").convertToFormat(QImage::Format_BGR888);
    };
    EXPECT_LT(Combing(grab(interlaced, "auto", {})) * 4, Combing(grab(interlaced, "off", {"--deinterlace", "off"})));
    EXPECT_GT(Saturation(grab(pq, "on", {})), Saturation(grab(pq, "sdr-off", {"--tonemap", "off"})) * 1.2);
}

} // namespace
