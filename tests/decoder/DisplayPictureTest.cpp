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

#include <cmath>

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
