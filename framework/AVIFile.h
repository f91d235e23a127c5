// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The AVIFile service of Video for Windows, as the calls callers make of it, over libavformat
// and libavcodec: open an AVI file, list its streams with their type and priority, and fetch the
// decompressed picture of any sample as a packed device-independent bitmap.
//
// Samples are numbered from the stream's first index entry; a chunk the file leaves empty (a
// dropped picture) is a sample of its own that shows the picture before it. Every fetch is exact:
// a frame getter decodes from the key frame at or before the sample. The decoding state lives
// with the stream, not with the getter, so a fresh getter asked for the sample after the last
// one fetched costs one decode. Handles are reference counted; no FFmpeg type crosses this header.
#include <cstdint>
#include <memory>

using HRESULT = std::int32_t;
using FOURCC = std::uint32_t;

inline constexpr HRESULT AVIERR_OK = 0;
// The values Windows gives these errors (MAKE_AVIERR(n) = 0x80044000 | n).
inline constexpr HRESULT AVIERR_BADFORMAT = static_cast<HRESULT>(0x80044066);
inline constexpr HRESULT AVIERR_NODATA = static_cast<HRESULT>(0x8004406F);
inline constexpr HRESULT AVIERR_BADPARAM = static_cast<HRESULT>(0x8004406E);
inline constexpr HRESULT AVIERR_FILEOPEN = static_cast<HRESULT>(0x80044074);

inline constexpr unsigned OF_SHARE_DENY_WRITE = 0x40;

constexpr FOURCC MakeFourCC(char a, char b, char c, char d)
{
    return static_cast<FOURCC>(static_cast<std::uint8_t>(a))
        | static_cast<FOURCC>(static_cast<std::uint8_t>(b)) << 8
        | static_cast<FOURCC>(static_cast<std::uint8_t>(c)) << 16
        | static_cast<FOURCC>(static_cast<std::uint8_t>(d)) << 24;
}
inline constexpr FOURCC streamtypeVIDEO = MakeFourCC('v', 'i', 'd', 's');
inline constexpr FOURCC streamtypeAUDIO = MakeFourCC('a', 'u', 'd', 's');
inline constexpr FOURCC streamtypeTEXT = MakeFourCC('t', 'x', 't', 's');

struct RECT {
    std::int32_t left, top, right, bottom;
};

struct AVIFILEINFOA {
    std::uint32_t dwMaxBytesPerSec;
    std::uint32_t dwFlags;
    std::uint32_t dwCaps;
    std::uint32_t dwStreams;
    std::uint32_t dwSuggestedBufferSize;
    std::uint32_t dwWidth;
    std::uint32_t dwHeight;
    std::uint32_t dwScale;
    std::uint32_t dwRate;
    std::uint32_t dwLength;
    std::uint32_t dwEditCount;
    char szFileType[64];
};
static_assert(sizeof(AVIFILEINFOA) == 108);

struct AVISTREAMINFOA {
    FOURCC fccType;
    FOURCC fccHandler;
    std::uint32_t dwFlags;
    std::uint32_t dwCaps;
    std::uint16_t wPriority;
    std::uint16_t wLanguage;
    std::uint32_t dwScale;
    std::uint32_t dwRate;
    std::uint32_t dwStart;
    std::uint32_t dwLength;
    std::uint32_t dwInitialFrames;
    std::uint32_t dwSuggestedBufferSize;
    std::uint32_t dwQuality;
    std::uint32_t dwSampleSize;
    RECT rcFrame;
    std::uint32_t dwEditCount;
    std::uint32_t dwFormatChangeCount;
    char szName[64];
};
static_assert(sizeof(AVISTREAMINFOA) == 140);

struct TAVIFile;
struct TAVIStream;
struct TGetFrame;
using PAVIFILE = TAVIFile*;
using PAVISTREAM = TAVIStream*;
using PGETFRAME = TGetFrame*;
struct BITMAPINFOHEADER;

// Opens an AVI file (any other container is refused with AVIERR_BADFORMAT); *file is set only on
// success. The handler argument of the original is always "none" and is left out.
HRESULT AVIFileOpenA(PAVIFILE* file, const char* path, unsigned mode);
HRESULT AVIFileInfoA(PAVIFILE file, AVIFILEINFOA* info, std::int32_t size);
// streamType 0 takes the index-th stream of any type; otherwise the index-th of that type.
HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, FOURCC streamType, std::int32_t index);
HRESULT AVIStreamInfoA(PAVISTREAM stream, AVISTREAMINFOA* info, std::int32_t size);
// Each returns the handle's remaining reference count. A stream keeps its file alive.
std::uint32_t AVIFileRelease(PAVIFILE file);
std::uint32_t AVIStreamRelease(PAVISTREAM stream);

std::int32_t AVIStreamStart(PAVISTREAM stream);
std::int32_t AVIStreamLength(PAVISTREAM stream);
// Milliseconds to a sample count from the stream's start (the sample showing at that time, so
// rounded down) and back (the first millisecond of the sample, so rounded up: the two
// conversions agree on every sample). -1 for a stream whose rate is unusable.
std::int32_t AVIStreamTimeToSample(PAVISTREAM stream, std::int32_t timeMs);
std::int32_t AVIStreamSampleToTime(PAVISTREAM stream, std::int32_t samples);

// wanted must be null: the picture comes out as an 8-bit DIB with its palette when the codec
// paints with one, and as a 24-bit DIB otherwise. Null when the stream's codec cannot be decoded.
PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM stream, const BITMAPINFOHEADER* wanted);
// The packed DIB (header, colour table, rows: top-down when the height is negative) of the
// sample, owned by the getter and
// valid until its next fetch or its closing; null for a sample outside the stream or one that
// does not decode.
const void* AVIStreamGetFrame(PGETFRAME getter, std::int32_t sample);
HRESULT AVIStreamGetFrameClose(PGETFRAME getter);

// Owners for callers that hold the handles across calls.
namespace avifile {
struct TFileRelease {
    void operator()(PAVIFILE file) const { AVIFileRelease(file); }
};
struct TStreamRelease {
    void operator()(PAVISTREAM stream) const { AVIStreamRelease(stream); }
};
struct TGetFrameClose {
    void operator()(PGETFRAME getter) const { AVIStreamGetFrameClose(getter); }
};
using FilePtr = std::unique_ptr<TAVIFile, TFileRelease>;
using StreamPtr = std::unique_ptr<TAVIStream, TStreamRelease>;
using GetFramePtr = std::unique_ptr<TGetFrame, TGetFrameClose>;
} // namespace avifile
