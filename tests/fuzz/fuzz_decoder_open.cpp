// SPDX-License-Identifier: GPL-3.0-or-later
// Mutated movie bytes through Open and a few DecodeFrame calls, each picture made into the one
// shown (a lying display matrix or sample aspect must not make it huge or read out of bounds). The decoder takes a path, so
// each input goes through one temporary file that lives as long as the fuzzer.
#include "decoder/UMovieDecoder.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// The file is made on first use and removed when the fuzzer exits; in memory (/dev/shm) when
// TMPDIR does not say otherwise, since a file system's journal costs more than the decoding.
struct TTempFile {
    std::string Path;
    TTempFile()
    {
        const char* dir = std::getenv("TMPDIR");
        const bool inMemory = access("/dev/shm", W_OK) == 0;
        Path = std::string(dir && *dir ? dir : inMemory ? "/dev/shm" : "/tmp") + "/fuzz_decoder_open.XXXXXX";
        const int fd = mkstemp(Path.data());
        if (fd < 0)
            std::abort();
        close(fd);
    }
    ~TTempFile() { std::remove(Path.c_str()); }
};

const std::string& TempPath()
{
    static const TTempFile file;
    return file.Path;
}

// Every path of the decoder is reached with small pictures; a header that asks for more is
// refused as the program refuses one past its own limit, only sooner, so that a lie costs
// nothing and the fuzzer spends its time on inputs.
constexpr std::int64_t FuzzMaxPicturePixels = 256 * 256;
constexpr std::int64_t FuzzCacheBytes = std::int64_t{16} << 20;

// Requests that take both paths: the opening seek at 0, reading on, far seeks, backwards, the
// clamps at either end.
constexpr std::int32_t Requests[] = {400, 5000, 1000, 100000, -1, 60};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = TempPath();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (!written)
        return 0;

    TMovieDecoder decoder;
    decoder.SetMaxPicturePixels(FuzzMaxPicturePixels);
    decoder.SetCacheLimit(FuzzCacheBytes);
    if (!decoder.Open(path))
        return 0;
    TBitmap shown;
    for (std::int32_t ms : Requests) {
        decoder.DecodeFrame(ms);
        MakeDisplayedPicture(decoder.Bitmap(), decoder.DisplayTransform(), TAspectScaling::Display, shown);
    }
    decoder.Close();
    return 0;
}
