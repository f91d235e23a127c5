// framora-grab MOVIE OUTDIR MS [MS ...]: the movie decoder from the command line. One decoder
// serves every request in the order given, so rising times read on as playback does.
#include "capture/UProgramStart.h"
#include "decoder/UMovieDecoder.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr int ExitOpened = 0;
constexpr int ExitNotOpened = 1;
constexpr int ExitUsage = 2;

const char* const UsageText =
    "usage: framora-grab MOVIE OUTDIR MS [MS ...]\n"
    "  Opens MOVIE, prints its size and duration, then writes the picture at each time MS\n"
    "  (milliseconds, in the order given) to OUTDIR/MS.bmp.\n";

bool ParseMs(const char* text, std::int32_t& ms)
{
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < INT32_MIN || value > INT32_MAX)
        return false;
    ms = static_cast<std::int32_t>(value);
    return true;
}

void PutLE(std::vector<char>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A plain 24-bit BMP: bottom-up rows, blue-green-red, each row padded to 4 bytes.
bool WriteBmp(const TBitmap& bitmap, const std::filesystem::path& path)
{
    const std::uint32_t width = static_cast<std::uint32_t>(bitmap.Width());
    const std::uint32_t height = static_cast<std::uint32_t>(bitmap.Height());
    const std::uint32_t stride = (width * 3 + 3) & ~3u;
    const std::uint32_t imageSize = stride * height;
    constexpr std::uint32_t headersSize = 14 + 40;
    std::vector<char> out;
    out.reserve(headersSize + imageSize);
    out.push_back('B');
    out.push_back('M');
    PutLE(out, headersSize + imageSize, 4);
    PutLE(out, 0, 4);
    PutLE(out, headersSize, 4);
    PutLE(out, 40, 4);
    PutLE(out, width, 4);
    PutLE(out, height, 4);
    PutLE(out, 1, 2);  // planes
    PutLE(out, 24, 2); // bits per pixel
    PutLE(out, 0, 4);  // BI_RGB
    PutLE(out, imageSize, 4);
    PutLE(out, 2835, 4); // 72 dpi
    PutLE(out, 2835, 4);
    PutLE(out, 0, 4);
    PutLE(out, 0, 4);
    for (std::uint32_t row = height; row-- > 0;) {
        const auto* line = reinterpret_cast<const char*>(bitmap.ScanLine(static_cast<int>(row)));
        out.insert(out.end(), line, line + width * 3);
        out.insert(out.end(), stride - width * 3, '\0');
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    file.close();
    return static_cast<bool>(file);
}

} // namespace

int main(int argc, char** argv)
{
    const TProgramStart start;
    if (argc < 4) {
        std::fputs(UsageText, stderr);
        return ExitUsage;
    }
    const std::string movie = argv[1];
    const std::filesystem::path outDir = argv[2];
    std::vector<std::int32_t> times;
    for (int i = 3; i < argc; ++i) {
        std::int32_t ms = 0;
        if (!ParseMs(argv[i], ms)) {
            std::fprintf(stderr, "framora-grab: not a time in milliseconds: %s\n", argv[i]);
            std::fputs(UsageText, stderr);
            return ExitUsage;
        }
        times.push_back(ms);
    }

    TMovieDecoder decoder;
    std::error_code error;
    if (!std::filesystem::is_regular_file(movie, error)) {
        std::fprintf(stderr, "framora-grab: %s: no such file\n", movie.c_str());
        return ExitNotOpened;
    }
    if (!decoder.Open(movie)) {
        std::fprintf(stderr, "framora-grab: %s: not a movie the decoder can open\n", movie.c_str());
        return ExitNotOpened;
    }
    std::printf("size %dx%d duration %d\n", decoder.Width(), decoder.Height(), decoder.Duration());
    std::fflush(stdout);

    std::filesystem::create_directories(outDir, error);
    for (std::int32_t ms : times) {
        const std::filesystem::path target = outDir / (std::to_string(ms) + ".bmp");
        if (!decoder.DecodeFrame(ms)) {
            std::printf("%d failed\n", ms);
        } else if (!WriteBmp(decoder.Bitmap(), target)) {
            std::fprintf(stderr, "framora-grab: cannot write %s\n", target.c_str());
            std::printf("%d failed\n", ms);
        } else {
            std::printf("%d ok %s\n", ms, target.c_str());
        }
        std::fflush(stdout);
    }
    return ExitOpened;
}
