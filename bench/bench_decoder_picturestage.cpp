// SPDX-License-Identifier: GPL-3.0-or-later
// The picture stage on the movies it is for, each beside bare FFmpeg doing the same job:
//   InterlacedPlayback: a 1080i H.264 movie played (requests 97 ms apart) with deinterlacing on.
//       The reference reads and decodes the same packets, sends every decoded picture through
//       bwdif as a player does, and converts the picture of each request to 24-bit BGR.
//   HDRCapture: one exact still of a 4K HDR10 HEVC movie with tone mapping on. The reference
//       finds the same picture the way players seek exactly, runs it through the bare chain
//       (zscale to linear light, tonemap, zscale to BT.709) and converts it to 24-bit BGR.
//   HDRPlayback: the same 4K HDR10 movie, with key frames 3 s apart, played with tone mapping
//       on; the median tick against the 97 ms tick, with the preview at the window's size (arg
//       1) and without one, every picture tone-mapped at full size (arg 0).
// The movies are written on first use into the build folder.
#include "decoder/UMovieDecoder.h"
#include "framework/FFmpegPtr.h"
#include "tests/support/RecipeMovie.h"
#include "BareMovie.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <stdexcept>
#include <vector>
#include <string>

namespace {

constexpr int PlaybackTickMs = 97;
constexpr int PlaybackSteps = 50; // about 5 s of playback per iteration
constexpr int FrameMs = 40; // 25 pictures a second
constexpr int HDRPictures = 24; // more than the picture cache holds at 4K, so no still is cached
constexpr int HDRStride = 7;    // each request lands away from the last, as captures do
constexpr int HDRPlaybackPictures = 75;
// The designed window's preview panel holds a 16:9 picture at this size.
const QSize DesignedPreview(350, 197);

std::string MovieFile(const char* name, const TMovieRecipe& recipe)
{
    const QString folder = QStringLiteral(FRAMORA_BINARY_DIR "/bench-movies");
    QDir().mkpath(folder);
    const std::string path = (folder + "/" + name).toStdString();
    if (!QFileInfo::exists(QString::fromStdString(path)) && !WriteMovie(path, recipe))
        throw std::runtime_error(std::string("cannot write ") + name);
    return path;
}

// Broadcast-like 1080i: a bar moving 8 pixels per field over a gradient, a key frame every
// half second, each field caught at its own moment.
std::string InterlacedMovie()
{
    TMovieRecipe recipe;
    recipe.Encoder = "libx264";
    recipe.Options = "preset=veryfast";
    recipe.Container = "mpegts";
    recipe.Width = 1920;
    recipe.Height = 1080;
    recipe.Pictures = 250;
    recipe.GopSize = 12;
    recipe.Fields = AV_FIELD_TT;
    recipe.Sample = [](int n, int plane, int x, int y) {
        if (plane)
            return 128 + (plane == 1 ? x : y) % 32;
        const int moment = 2 * n + (y % 2);
        const int left = 8 * moment % 1800;
        return x >= left && x < left + 120 ? 235 : 16 + (x + y) % 160;
    };
    return MovieFile("bench-1080i.ts", recipe);
}

// UHD HDR10: PQ, BT.2020, 10 bits, mastering metadata; every picture a key frame so that a
// still costs one decoded picture on both sides, unless told otherwise.
std::string HDRMovie(int pictures = HDRPictures, int gop = 1)
{
    TMovieRecipe recipe;
    recipe.Encoder = "libx265";
    recipe.Options = "preset=ultrafast:x265-params='log-level=error:master-display=G(13250,34500)"
                     "B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,1):max-cll=1000,400'";
    recipe.Format = AV_PIX_FMT_YUV420P10LE;
    recipe.Transfer = AVCOL_TRC_SMPTE2084;
    recipe.Primaries = AVCOL_PRI_BT2020;
    recipe.Matrix = AVCOL_SPC_BT2020_NCL;
    recipe.Width = 3840;
    recipe.Height = 2160;
    recipe.Pictures = pictures;
    recipe.GopSize = gop;
    recipe.Sample = [](int n, int plane, int x, int y) {
        if (plane == 0)
            return 64 + (x + 8 * n) % 3840 * 800 / 3840; // dark to highlights across the width
        return 512 + ((plane == 1 ? x : y) % 256) - 128;
    };
    const std::string name = "bench-2160p-hdr10-" + std::to_string(pictures) + "-gop" + std::to_string(gop) + ".mkv";
    return MovieFile(name.c_str(), recipe);
}

// One filter graph from a buffer source to a buffer sink, made for the first picture it sees.
class TBareFilter {
public:
    explicit TBareFilter(std::string chain) : FChain(std::move(chain)) {}

    const AVFrame* Filter(const AVFrame& picture)
    {
        if (!FGraph)
            Make(picture);
        if (av_buffersrc_write_frame(FSource, &picture) < 0)
            throw std::runtime_error("the filters refuse a picture");
        const AVFrame* made = nullptr;
        av_frame_unref(FOutput.get());
        while (av_buffersink_get_frame(FSink, FOutput.get()) >= 0)
            made = FOutput.get();
        return made;
    }

private:
    void Make(const AVFrame& picture)
    {
        FGraph.reset(avfilter_graph_alloc());
        FGraph->nb_threads = 1;
        const std::string source = "video_size=" + std::to_string(picture.width) + "x"
            + std::to_string(picture.height) + ":pix_fmt=" + std::to_string(picture.format)
            + ":time_base=1/25:pixel_aspect=1/1";
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        avfilter_graph_create_filter(&FSource, avfilter_get_by_name("buffer"), "in", source.c_str(),
                                     nullptr, FGraph.get());
        avfilter_graph_create_filter(&FSink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                     nullptr, FGraph.get());
        outputs->name = av_strdup("in");
        outputs->filter_ctx = FSource;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = FSink;
        const int parsed = avfilter_graph_parse_ptr(FGraph.get(), FChain.c_str(), &inputs, &outputs, nullptr);
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (parsed < 0 || avfilter_graph_config(FGraph.get(), nullptr) < 0)
            throw std::runtime_error("cannot make " + FChain);
    }

    std::string FChain;
    ffmpeg::FilterGraphPtr FGraph;
    AVFilterContext* FSource = nullptr;
    AVFilterContext* FSink = nullptr;
    ffmpeg::FramePtr FOutput{av_frame_alloc()};
};

// The same last conversion as the decoder's: 24-bit BGR at the picture's size.
class TBareConversion {
public:
    void Convert(const AVFrame& picture)
    {
        FRows.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
        FConverter.reset(sws_getCachedContext(FConverter.release(), picture.width, picture.height,
                                              static_cast<AVPixelFormat>(picture.format),
                                              picture.width, picture.height, AV_PIX_FMT_BGR24,
                                              SWS_BILINEAR, nullptr, nullptr, nullptr));
        std::uint8_t* rows[4] = {FRows.data(), nullptr, nullptr, nullptr};
        const int pitches[4] = {picture.width * 3, 0, 0, 0};
        sws_scale(FConverter.get(), picture.data, picture.linesize, 0, picture.height, rows, pitches);
        benchmark::DoNotOptimize(FRows.data());
    }

private:
    ffmpeg::SwsPtr FConverter;
    std::vector<std::uint8_t> FRows;
};

void InterlacedPlayback_Decoder(benchmark::State& state)
{
    TMovieDecoder decoder;
    if (!decoder.Open(InterlacedMovie())) {
        state.SkipWithError("cannot open the interlaced movie");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        decoder.DecodeFrame(0);
        state.ResumeTiming();
        for (int step = 1; step <= PlaybackSteps; ++step)
            benchmark::DoNotOptimize(decoder.DecodeFrame(step * PlaybackTickMs));
    }
    state.SetItemsProcessed(state.iterations() * PlaybackSteps);
}

void InterlacedPlayback_Reference(benchmark::State& state)
{
    const std::string path = InterlacedMovie();
    for (auto _ : state) {
        state.PauseTiming();
        TBareMovie movie(path);
        TBareFilter deinterlacer("bwdif=mode=send_frame:deint=all:parity=tff");
        TBareConversion conversion;
        const AVFrame* shown = nullptr;
        state.ResumeTiming();
        for (int step = 1; step <= PlaybackSteps; ++step) {
            movie.DecodeUntil(movie.Units(step * PlaybackTickMs), [&](const AVFrame& decoded) {
                if (const AVFrame* made = deinterlacer.Filter(decoded))
                    shown = made;
            });
            if (shown && shown->data[0])
                conversion.Convert(*shown);
        }
    }
    state.SetItemsProcessed(state.iterations() * PlaybackSteps);
}

int HDRStillMs(std::int64_t request)
{
    return static_cast<int>(request * HDRStride % HDRPictures) * FrameMs;
}

void HDRCapture_Decoder(benchmark::State& state)
{
    TMovieDecoder decoder;
    decoder.SetExact(true);
    decoder.SetToneMapping(true);
    if (!decoder.Open(HDRMovie())) {
        state.SkipWithError("cannot open the HDR movie");
        return;
    }
    std::int64_t request = 0;
    for (auto _ : state) {
        if (!decoder.DecodeFrame(HDRStillMs(request++))) {
            state.SkipWithError("a still failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void HDRCapture_Reference(benchmark::State& state)
{
    TBareMovie movie(HDRMovie());
    TBareFilter chain("zscale=t=linear:npl=100,format=gbrpf32le,tonemap=tonemap=mobius:desat=0,"
                      "zscale=t=bt709:p=bt709:m=bt709:r=full,format=gbrp");
    TBareConversion conversion;
    std::int64_t request = 0;
    for (auto _ : state) {
        if (!movie.SeekExactly(movie.Units(HDRStillMs(request++)), false)) {
            state.SkipWithError("a still failed");
            return;
        }
        if (const AVFrame* made = chain.Filter(movie.Picture()))
            conversion.Convert(*made);
    }
    state.SetItemsProcessed(state.iterations());
}

double ProcessCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double Median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void HDRPlayback_Decoder(benchmark::State& state)
{
    const std::string movie = HDRMovie(HDRPlaybackPictures, HDRPlaybackPictures);
    std::vector<double> wall, cpu;
    for (auto _ : state) {
        state.PauseTiming();
        TMovieDecoder decoder;
        if (!decoder.Open(movie)) {
            state.SkipWithError("cannot open the HDR movie");
            return;
        }
        if (state.range(0))
            decoder.SetPreviewSize(DesignedPreview);
        state.ResumeTiming();
        for (int t = PlaybackTickMs; t < HDRPlaybackPictures * FrameMs; t += PlaybackTickMs) {
            const auto wall0 = std::chrono::steady_clock::now();
            const double cpu0 = ProcessCpuMs();
            if (!decoder.DecodeFrame(t)) {
                state.SkipWithError("a tick gave no picture");
                return;
            }
            wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall0).count());
            cpu.push_back(ProcessCpuMs() - cpu0);
        }
    }
    state.counters["TickWallMedianMs"] = Median(wall);
    state.counters["TickCpuMedianMs"] = Median(cpu);
}

} // namespace

BENCHMARK(InterlacedPlayback_Decoder)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(InterlacedPlayback_Reference)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(HDRCapture_Decoder)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(HDRCapture_Reference)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(HDRPlayback_Decoder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

BENCHMARK_MAIN();
