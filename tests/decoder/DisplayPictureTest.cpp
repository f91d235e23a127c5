// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures as they are meant to be shown: the turn and sample aspect a movie states, the shown
// size, the shown picture itself, and what the decoder reports for generated movies.
#include "decoder/UDisplayPicture.h"
#include "decoder/UMovieDecoder.h"
#include "StampedMovies.h"

#include <QTransform>
#include <gtest/gtest.h>

#include "framework/FFmpegPtr.h"

extern "C" {
#include <libavutil/display.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

using namespace TestMovies;

namespace {

// The display matrix of a clockwise turn, as a phone writes it, then mirrored.
std::array<std::int32_t, 9> Matrix(double clockwise, bool hflip = false, bool vflip = false)
{
    std::array<std::int32_t, 9> m{};
    av_display_rotation_set(m.data(), clockwise);
    av_display_matrix_flip(m.data(), hflip, vflip);
    return m;
}

QColor PixelAt(const TBitmap& bitmap, int x, int y)
{
    const std::uint8_t* bgr = bitmap.ScanLine(y) + 3 * x;
    return QColor(bgr[2], bgr[1], bgr[0]);
}

bool Near(QColor a, QColor b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

// A 24-bit picture whose every pixel has its own colour, of a size that is not a whole number
// of the turning tiles.
TBitmap Numbered(int width, int height)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* bgr = bitmap.ScanLine(y) + 3 * x;
            bgr[0] = static_cast<std::uint8_t>(x);
            bgr[1] = static_cast<std::uint8_t>(y);
            bgr[2] = static_cast<std::uint8_t>(x * 7 + y * 13);
        }
    return bitmap;
}

} // namespace

TEST(DisplayGeometry, RotationOfADisplayMatrix)
{
    const struct {
        std::array<std::int32_t, 9> Matrix;
        int Clockwise;
    } cases[] = {
        {Matrix(0), 0},
        {Matrix(90), 90},
        {Matrix(-90), 270},
        {Matrix(180), 180},
        {Matrix(-180), 180},
        // In between: the nearest quarter turn.
        {Matrix(30), 0},
        {Matrix(60), 90},
        {Matrix(100), 90},
        {Matrix(260), 270},
        // Mirrors are left out; the turn stays, and a vertical mirror turns it upright.
        {Matrix(90, true), 90},
        {Matrix(0, true), 0},
        {Matrix(0, false, true), 180},
        // No angle at all.
        {{}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DisplayGeometry::RotationOfDisplayMatrix(c.Matrix.data()), c.Clockwise)
            << c.Matrix[0] << " " << c.Matrix[1] << " " << c.Matrix[3] << " " << c.Matrix[4];
    EXPECT_EQ(DisplayGeometry::NormalizedRotation(std::nan("")), 0);
    EXPECT_EQ(DisplayGeometry::NormalizedRotation(1e300), 0);
    EXPECT_EQ(DisplayGeometry::NormalizedRotation(-450), 270);
}

TEST(DisplayGeometry, TransformsAndShownSizes)
{
    const struct {
        int Rotation, Num, Den;
        TDisplayTransform Expected;
        QSize Coded, Shown, ShownCoded;
    } cases[] = {
        // DVD 16:9 and 4:3: one side enlarged, never one reduced.
        {0, 32, 27, {0, 32, 27}, {720, 480}, {853, 480}, {720, 480}},
        {0, 8, 9, {0, 8, 9}, {720, 480}, {720, 540}, {720, 480}},
        {0, 64, 54, {0, 32, 27}, {720, 480}, {853, 480}, {720, 480}},
        // Turned a quarter: the enlarged side is the coded width, now upright.
        {90, 32, 27, {90, 32, 27}, {720, 480}, {480, 853}, {480, 720}},
        {-90, 1, 1, {270, 1, 1}, {320, 240}, {240, 320}, {240, 320}},
        {180, 1, 1, {180, 1, 1}, {320, 240}, {320, 240}, {320, 240}},
        // No aspect stated, or one that no movie means: square samples.
        {0, 0, 1, {}, {320, 240}, {320, 240}, {320, 240}},
        {0, 1, 0, {}, {320, 240}, {320, 240}, {320, 240}},
        {0, -32, 27, {}, {320, 240}, {320, 240}, {320, 240}},
        {0, 200, 1, {}, {320, 240}, {320, 240}, {320, 240}},
        {0, 1, 5, {}, {320, 240}, {320, 240}, {320, 240}},
        {0, INT32_MAX, 1, {}, {320, 240}, {320, 240}, {320, 240}},
        {0, 4, 1, {0, 4, 1}, {352, 288}, {1408, 288}, {352, 288}},
        // An enlargement past the largest side keeps the coded proportions.
        {0, 4, 1, {0, 4, 1}, {8192, 16}, {8192, 16}, {8192, 16}},
        // So does one past the pixels of an 8K picture, each side short of the largest.
        {0, 4, 1, {0, 4, 1}, {4000, 4000}, {4000, 4000}, {4000, 4000}},
        {0, 1, 4, {0, 1, 4}, {7680, 1080}, {7680, 4320}, {7680, 1080}},
        {0, 1, 4, {0, 1, 4}, {7680, 1081}, {7680, 1081}, {7680, 1081}},
    };
    for (const auto& c : cases) {
        const TDisplayTransform display = DisplayGeometry::MakeTransform(c.Rotation, c.Num, c.Den);
        const std::string name = std::to_string(c.Rotation) + " " + std::to_string(c.Num) + ":" + std::to_string(c.Den);
        EXPECT_EQ(display, c.Expected) << name;
        EXPECT_EQ(DisplayGeometry::DisplayedSize(c.Coded, display, TAspectScaling::Display), c.Shown) << name;
        EXPECT_EQ(DisplayGeometry::DisplayedSize(c.Coded, display, TAspectScaling::Coded), c.ShownCoded) << name;
    }
}

// Turning moves every pixel as a rotation of the image does, whatever the tiles.
TEST(DisplayedPicture, TurnsWithoutLoss)
{
    const TBitmap coded = Numbered(70, 37);
    for (int rotation : {0, 90, 180, 270}) {
        TBitmap shown;
        MakeDisplayedPicture(coded, {rotation, 1, 1}, TAspectScaling::Display, shown);
        const QImage expected = coded.Image().transformed(QTransform().rotate(rotation));
        ASSERT_EQ(shown.PixelFormat(), TPixelFormat::pf24bit) << rotation;
        ASSERT_EQ(QSize(shown.Width(), shown.Height()), expected.size()) << rotation;
        for (int y = 0; y < shown.Height(); ++y)
            ASSERT_EQ(std::memcmp(shown.ScanLine(y), expected.constScanLine(y), 3 * shown.Width()), 0)
                << rotation << " row " << y;
    }
}

TEST(DisplayedPicture, EnlargesOneSideKeepingColours)
{
    // Left half red, right half blue.
    TBitmap coded;
    coded.SetPixelFormat(TPixelFormat::pf24bit);
    coded.SetSize(DvdWidth, DvdHeight);
    coded.FillRect(QRect(0, 0, DvdWidth / 2, DvdHeight), QColor(220, 30, 30));
    coded.FillRect(QRect(DvdWidth / 2, 0, DvdWidth / 2, DvdHeight), QColor(30, 30, 220));
    const QColor red(220, 30, 30), blue(30, 30, 220);

    TBitmap wide;
    MakeDisplayedPicture(coded, {0, 32, 27}, TAspectScaling::Display, wide);
    ASSERT_EQ(QSize(wide.Width(), wide.Height()), QSize(853, DvdHeight));
    // The edge moves with the width; away from it the colours are the coded ones.
    EXPECT_TRUE(Near(PixelAt(wide, 420, 100), red, 1));
    EXPECT_TRUE(Near(PixelAt(wide, 434, 100), blue, 1));
    EXPECT_TRUE(Near(PixelAt(wide, 0, 0), red, 1));
    EXPECT_TRUE(Near(PixelAt(wide, 852, 479), blue, 1));

    // Turned a quarter first: the coded left half is the top, and the height grows.
    TBitmap tall;
    MakeDisplayedPicture(coded, {90, 32, 27}, TAspectScaling::Display, tall);
    ASSERT_EQ(QSize(tall.Width(), tall.Height()), QSize(DvdHeight, 853));
    EXPECT_TRUE(Near(PixelAt(tall, 100, 420), red, 1));
    EXPECT_TRUE(Near(PixelAt(tall, 100, 434), blue, 1));

    // Coded proportions: the turn alone.
    TBitmap turned;
    MakeDisplayedPicture(coded, {90, 32, 27}, TAspectScaling::Coded, turned);
    EXPECT_EQ(QSize(turned.Width(), turned.Height()), QSize(DvdHeight, DvdWidth));

    // Other pixel formats come out in 24 bits; an empty picture stays empty.
    TBitmap deep;
    deep.Assign(coded);
    deep.SetPixelFormat(TPixelFormat::pf32bit);
    MakeDisplayedPicture(deep, {180, 8, 9}, TAspectScaling::Display, turned);
    EXPECT_EQ(turned.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(QSize(turned.Width(), turned.Height()), QSize(DvdWidth, 540));
    EXPECT_TRUE(Near(PixelAt(turned, 0, 0), blue, 1));
    MakeDisplayedPicture(TBitmap(), {90, 32, 27}, TAspectScaling::Display, turned);
    EXPECT_TRUE(turned.Empty());
}

namespace {

struct TShownCase {
    const char* Movie;
    QSize Coded;
    TDisplayTransform Display;
    QSize Shown;
};

void PrintTo(const TShownCase& c, std::ostream* out)
{
    *out << c.Movie;
}

class ShownMovies : public ::testing::TestWithParam<TShownCase> {};

} // namespace

TEST_P(ShownMovies, ReportTheirTransformAndKeepTheCodedSize)
{
    const TShownCase& c = GetParam();
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath(c.Movie)));
    EXPECT_EQ(QSize(decoder.Width(), decoder.Height()), c.Coded);
    EXPECT_EQ(QSize(decoder.Bitmap().Width(), decoder.Bitmap().Height()), c.Coded);
    EXPECT_EQ(decoder.DisplayTransform(), c.Display);
    ASSERT_TRUE(decoder.DecodeFrame(400));
    TBitmap shown;
    MakeDisplayedPicture(decoder.Bitmap(), decoder.DisplayTransform(), TAspectScaling::Display, shown);
    EXPECT_EQ(QSize(shown.Width(), shown.Height()), c.Shown);
    decoder.Close();
    EXPECT_EQ(decoder.DisplayTransform(), TDisplayTransform{});
}

INSTANTIATE_TEST_SUITE_P(
    Movies, ShownMovies,
    ::testing::Values(TShownCase{Anamorphic16x9, {DvdWidth, DvdHeight}, {0, 32, 27}, {853, DvdHeight}},
                      TShownCase{Anamorphic4x3, {DvdWidth, DvdHeight}, {0, 8, 9}, {DvdWidth, 540}},
                      TShownCase{SquareMpeg2, {640, DvdHeight}, {}, {640, DvdHeight}},
                      // No aspect stated (0:1), and an absurd one.
                      TShownCase{LongGopH264, {Width, Height}, {}, {Width, Height}},
                      TShownCase{AbsurdAspect, {Width, Height}, {}, {Width, Height}},
                      TShownCase{Rotated[0], {Width, Height}, {90, 1, 1}, {Height, Width}},
                      TShownCase{Rotated[1], {Width, Height}, {180, 1, 1}, {Width, Height}},
                      TShownCase{Rotated[2], {Width, Height}, {270, 1, 1}, {Height, Width}},
                      // The AVIFile service knows no display transform.
                      TShownCase{CinepakAvi, {AviWidth, AviHeight}, {}, {AviWidth, AviHeight}}),
    [](const auto& info) { return TestNameOf(info.param.Movie); });

// The absurd aspect is what FFmpeg reports for that movie, so the case above tests the guard.
TEST(ShownMovies, AbsurdAspectIsStatedByTheMovie)
{
    AVFormatContext* opened = nullptr;
    ASSERT_EQ(avformat_open_input(&opened, MoviePath(AbsurdAspect).c_str(), nullptr, nullptr), 0);
    const ffmpeg::InputPtr format(opened);
    ASSERT_GE(avformat_find_stream_info(opened, nullptr), 0);
    const AVRational aspect = av_guess_sample_aspect_ratio(opened, opened->streams[0], nullptr);
    EXPECT_EQ(aspect.num, AbsurdAspectNum);
    EXPECT_EQ(aspect.den, 1);
}

// Phone movies: coded on their side, shown upright. The stamp along the top edge reads only
// upright and unmirrored; the bars along the bottom start with red at the left corner.
TEST(ShownMovies, TurnedMoviesComeOutUpright)
{
    for (const char* movie : Rotated) {
        TMovieDecoder decoder;
        ASSERT_TRUE(decoder.Open(MoviePath(movie))) << movie;
        // Opening shows the picture at 0.
        for (int ms : {0, 400}) {
            ASSERT_TRUE(ms == 0 || decoder.DecodeFrame(ms)) << movie;
            EXPECT_EQ(StampOf(decoder.Bitmap()), -1) << movie << " is coded on its side";
            TBitmap shown;
            MakeDisplayedPicture(decoder.Bitmap(), decoder.DisplayTransform(), TAspectScaling::Display, shown);
            EXPECT_EQ(StampOf(shown), ms / 40) << movie;
            const QColor corner = PixelAt(shown, 4, shown.Height() - 4);
            EXPECT_TRUE(Near(corner, QColor(BarColours[0].R, BarColours[0].G, BarColours[0].B), 40))
                << movie << " " << corner.name().toStdString();
        }
    }
}

// A display matrix that mirrors is a turn and a left-right mirror after it; the shown picture is
// the coded one moved by the matrix itself, pixel for pixel.
TEST(DisplayedPicture, FollowsAMirroringMatrixWhole)
{
    const TBitmap coded = Numbered(70, 37);
    const struct {
        const char* Name;
        std::array<std::int32_t, 9> Matrix;
        int Clockwise;
        bool Mirrored;
    } cases[] = {
        {"transposed (a phone's turn, then a mirror)", Matrix(90, true), 90, true},
        {"turned the other way and mirrored", Matrix(-90, true), 270, true},
        {"mirrored left to right", Matrix(0, true), 0, true},
        {"upside down", Matrix(0, false, true), 180, true},
        {"half a turn, mirrored: upside down", Matrix(180, true), 180, true},
        {"mirrored both ways: half a turn", Matrix(0, true, true), 180, false},
        {"a plain turn", Matrix(90), 90, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(DisplayGeometry::RotationOfDisplayMatrix(c.Matrix.data()), c.Clockwise);
        EXPECT_EQ(DisplayGeometry::IsMirroringDisplayMatrix(c.Matrix.data()), c.Mirrored);
        const TDisplayTransform display = DisplayGeometry::MakeTransform(
            DisplayGeometry::RotationOfDisplayMatrix(c.Matrix.data()), 1, 1,
            DisplayGeometry::IsMirroringDisplayMatrix(c.Matrix.data()));
        TBitmap shown;
        MakeDisplayedPicture(coded, display, TAspectScaling::Display, shown);
        // The matrix maps a coded (x, y) to (m0 x + m3 y, m1 x + m4 y) on screen, y down; the
        // picture is then moved to the screen's corner.
        const auto unit = [&](int i) { return static_cast<int>(std::lround(c.Matrix[i] / 65536.0)); };
        const QRect bounds = QTransform(unit(0), unit(1), unit(3), unit(4), 0, 0).mapRect(QRect(0, 0, 70, 37));
        ASSERT_EQ(QSize(shown.Width(), shown.Height()), bounds.size());
        EXPECT_EQ(DisplayGeometry::DisplayedSize(QSize(70, 37), display, TAspectScaling::Display), bounds.size());
        for (int y = 0; y < 37; ++y)
            for (int x = 0; x < 70; ++x) {
                // Pixel centres, in doubled coordinates to stay whole.
                const int X = (unit(0) * (2 * x + 1) + unit(3) * (2 * y + 1) - 2 * bounds.left() - 1) / 2;
                const int Y = (unit(1) * (2 * x + 1) + unit(4) * (2 * y + 1) - 2 * bounds.top() - 1) / 2;
                ASSERT_EQ(PixelAt(shown, X, Y), PixelAt(coded, x, y)) << x << "," << y << " -> " << X << "," << Y;
            }
    }
    // Enlarged to the display aspect as well: the mirror survives the scaling.
    TBitmap wide;
    MakeDisplayedPicture(coded, {0, 2, 1, true}, TAspectScaling::Display, wide);
    ASSERT_EQ(QSize(wide.Width(), wide.Height()), QSize(140, 37));
    EXPECT_TRUE(Near(PixelAt(wide, 139, 10), PixelAt(coded, 0, 10), 8));
}

namespace TestMovies {

// Found by the test's printer beside the type.
void PrintTo(const TShapeMovie& movie, std::ostream* out)
{
    *out << movie.Name;
}

} // namespace TestMovies

namespace {

class ShapeMovieTable : public ::testing::TestWithParam<TShapeMovie> {};

// The picture shown at ms, as a capture stores it.
TBitmap ShownAt(TMovieDecoder& decoder, std::int32_t ms)
{
    TBitmap shown;
    if (decoder.DecodeFrame(ms))
        MakeDisplayedPicture(decoder.Bitmap(), decoder.DisplayTransform(), TAspectScaling::Display, shown);
    return shown;
}

} // namespace

// Movies of the shapes real ones have open at their size, report how they are shown, and show
// the standard test picture upright (the stamp reads along the top, the red bar is at the bottom
// left), exactly the picture asked for.
TEST_P(ShapeMovieTable, OpenAndShowTheStandardPictureUprightAtEachTime)
{
    const TShapeMovie& c = GetParam();
    TMovieDecoder decoder;
    decoder.SetExact(true);
    ASSERT_TRUE(decoder.Open(MoviePath(c.Name)));
    EXPECT_EQ(QSize(decoder.Width(), decoder.Height()), QSize(c.CodedWidth, c.CodedHeight));
    const TDisplayTransform display = decoder.DisplayTransform();
    EXPECT_EQ(display.Rotation, c.Rotation);
    EXPECT_EQ(display.Mirrored, c.Mirrored);
    EXPECT_EQ(DisplayGeometry::DisplayedSize(QSize(decoder.Width(), decoder.Height()), display, TAspectScaling::Display),
              QSize(c.ShownWidth, c.ShownHeight));
    for (const int picture : {0, 7, 12, DisplayFrames - 2}) {
        const TBitmap shown = ShownAt(decoder, picture * 1000 / FrameRate);
        ASSERT_EQ(QSize(shown.Width(), shown.Height()), QSize(c.ShownWidth, c.ShownHeight)) << picture;
        if (c.Stamped) {
            EXPECT_EQ(StampOf(shown), picture);
        }
        const QColor corner = PixelAt(shown, shown.Width() / 20, shown.Height() - 1 - shown.Height() / 20);
        EXPECT_TRUE(Near(corner, QColor(BarColours[0].R, BarColours[0].G, BarColours[0].B), 40))
            << picture << " " << corner.name().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(RealShapes, ShapeMovieTable, ::testing::ValuesIn(ShapeMovies),
                         [](const auto& info) { return TestNameOf(info.param.Name); });

// The bars of the full-range phone movie as they are meant to be seen. The test picture's samples
// are BT.601 limited range; the writer stretches them to the full range and the movie is tagged
// BT.709, so they mean other colours than the bars were drawn in.
QColor FullRangeBt709Bar(TRGB bar)
{
    const double r = bar.R, g = bar.G, b = bar.B;
    // BT.601 limited range, then stretched to the full range.
    const double y = (65.481 * r + 128.553 * g + 24.966 * b) / 255 * 255 / 219;
    const double u = (-37.797 * r - 74.203 * g + 112.0 * b) / 255 * 255 / 224;
    const double v = (112.0 * r - 93.786 * g - 18.214 * b) / 255 * 255 / 224;
    const auto channel = [](double c) { return static_cast<int>(std::lround(std::clamp(c, 0.0, 255.0))); };
    return QColor(channel(y + 1.5748 * v), channel(y - 0.1873 * u - 0.4681 * v), channel(y + 1.8556 * u));
}

// Full-range samples tagged so (as phones record) are read in their range: read as limited
// range, every bar would come out with too much contrast, and the other way with too little.
TEST(ShapeMovies, FullRangePhoneMovieKeepsItsColours)
{
    TMovieDecoder decoder;
    ASSERT_TRUE(decoder.Open(MoviePath("h264-full-range-bt709.mp4")));
    const TBitmap& picture = decoder.Bitmap();
    const int y = picture.Height() - picture.Height() / 10;
    for (int bar = 0; bar < 3; ++bar) {
        const QColor colour = PixelAt(picture, picture.Width() * (2 * bar + 1) / 6, y);
        const QColor expected = FullRangeBt709Bar(BarColours[bar]);
        EXPECT_TRUE(Near(colour, expected, 6)) << bar << " " << colour.name().toStdString() << " "
                                               << expected.name().toStdString();
    }
}

// Tiny pictures are shown and enlarged as any other: the scaler takes a picture of a few pixels,
// and a flat one keeps its colour.
TEST(DisplayedPicture, TinyPicturesAreEnlargedToTheirDisplayAspect)
{
    const QColor colour(200, 80, 40);
    const struct {
        QSize Coded;
        TDisplayTransform Display;
        QSize Shown;
    } cases[] = {
        {{10, 12}, {0, 4, 3}, {13, 12}},
        {{10, 12}, {90, 3, 4}, {16, 10}},
        {{2, 2}, {0, 2, 1}, {4, 2}},
        {{1, 1}, {0, 1, 2}, {1, 2}},
        {{161, 121}, {0, 1, 1, true}, {161, 121}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Coded.width()) + "x" + std::to_string(c.Coded.height()));
        TBitmap coded;
        coded.SetPixelFormat(TPixelFormat::pf24bit);
        coded.SetSize(c.Coded.width(), c.Coded.height());
        coded.FillRect(QRect(QPoint(0, 0), c.Coded), colour);
        TBitmap shown;
        MakeDisplayedPicture(coded, c.Display, TAspectScaling::Display, shown);
        ASSERT_EQ(QSize(shown.Width(), shown.Height()), c.Shown);
        for (int y = 0; y < shown.Height(); ++y)
            for (int x = 0; x < shown.Width(); ++x)
                ASSERT_TRUE(Near(PixelAt(shown, x, y), colour, 2)) << x << "," << y;
    }
}
