// SPDX-License-Identifier: GPL-3.0-or-later
// Mutated movie bytes opened with their first subtitle stream on: the index read to its end on
// its own thread, and the subtitles of a few times drawn into pictures of the movie's shown size
// and of a coded size. The decoder and the index take a path, so each input goes through one
// temporary file that lives as long as the fuzzer.
#include "decoder/UMovieDecoder.h"
#include "decoder/UMovieSubtitles.h"

extern "C" {
#include <libavutil/log.h>
}

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

struct TTempFile {
    std::string Path;
    TTempFile()
    {
        const char* dir = std::getenv("TMPDIR");
        Path = std::string(dir && *dir ? dir : "/tmp") + "/fuzz_decoder_subtitles.XXXXXX";
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

// Inside and outside the seeds' events, backwards, and past the end.
constexpr std::int32_t Requests[] = {1200, 400, 100000, 1000, -1};
constexpr auto IndexWait = std::chrono::seconds(20);

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
    if (!decoder.Open(path))
        return 0;
    const std::vector<TSubtitleStreamInfo> streams = decoder.SubtitleStreams();
    if (streams.empty())
        return 0;
    TMovieSubtitles subtitles;
    subtitles.OpenStream(path, streams.front());
    decoder.SetExact(true);
    const QSize display = DisplayGeometry::DisplayedSize(QSize(decoder.Width(), decoder.Height()),
                                                         decoder.DisplayTransform(), TAspectScaling::Display);
    TBitmap shown;
    TBitmap coded;
    for (std::int32_t ms : Requests) {
        decoder.DecodeFrame(ms);
        subtitles.WaitForIndex(ms, IndexWait);
        MakeDisplayedPicture(decoder.Bitmap(), decoder.DisplayTransform(), TAspectScaling::Display, shown);
        subtitles.Draw(shown, ms, display);
        MakeDisplayedPicture(decoder.Bitmap(), decoder.DisplayTransform(), TAspectScaling::Coded, coded);
        subtitles.Draw(coded, ms, display);
    }
    return 0;
}
