// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TPictureCache: pictures around the position, kept so that a step back within what was decoded
// costs no decoding. Pictures behind a request are held as the codec put them out, a third of the
// bytes of a converted 4K picture and nothing spent on them until one is asked for; the pictures
// shown are held converted. Each picture knows the presentation time of the one that follows it
// in the movie once that has been decoded, so a request for any time between the two is answered
// here. Bounded in bytes; what leaves first is the picture furthest from the position.
//
// A decoded picture shares the codec's buffers, and the codec's pool keeps a buffer once it is
// given back: the most decoded bytes held at once stay counted until the codec is closed, so
// that the process never holds more than the bound for the pictures kept.
// Internal to the decoder: it sees FFmpeg types.
#include "framework/FFmpegPtr.h"

#include <QImage>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>

class TPictureCache {
public:
    static constexpr std::int64_t DefaultLimitBytes = std::int64_t{256} << 20;
    // Larger pictures get a larger bound, so that stepping back through a GOP of them re-decodes
    // as seldom as through a GOP of 1080p pictures (about this many held under the default);
    // up to a ceiling, and never beyond a share of the machine's memory.
    static constexpr std::int64_t PicturesKept = 43;
    static constexpr std::int64_t LargestDefaultLimitBytes = std::int64_t{1} << 30;
    static constexpr int PhysicalMemoryShare = 4; // at most a quarter of it
    // Decoded pictures may take three quarters of the bound, the rest is for converted ones:
    // 30 decoded pictures behind a 4K HEVC Main 10 request, and 10 converted 4K pictures.
    static constexpr std::int64_t DecodedShareNum = 3, DecodedShareDen = 4;
    // The bound for pictures of pictureBytes on a machine with physicalBytes of memory (0 when
    // not known): DefaultLimitBytes, or room for PicturesKept of them within the ceilings.
    static std::int64_t DefaultLimitFor(std::int64_t pictureBytes, std::int64_t physicalBytes);
    // The next picture's time of the movie's last picture: no request past it needs another.
    static constexpr std::int64_t EndOfMovie = INT64_MAX;
    // The next picture's time while it has not been decoded.
    static constexpr std::int64_t NextUnknown = INT64_MIN;

    struct TEntry {
        std::int64_t NextPts = NextUnknown;
        QImage Picture;
        // Set instead of Picture while the picture waits for its conversion.
        ffmpeg::FramePtr Decoded;
    };

    std::int64_t Limit() const { return FLimit; }
    // Shrinking drops pictures furthest from the position last given until the rest fit.
    void SetLimit(std::int64_t bytes);
    // What the pictures take: the converted ones and the decoded ones' reserve.
    std::int64_t Bytes() const { return FConvertedBytes + FDecodedReserve; }
    // The bytes decoded pictures may take, and those left for converted ones.
    std::int64_t DecodedLimit() const { return FLimit / DecodedShareDen * DecodedShareNum; }
    std::int64_t ConvertedRoom() const { return std::max<std::int64_t>(0, FLimit - FDecodedReserve); }
    std::size_t Count() const { return FEntries.size(); }
    // Drops every picture; the decoded pictures' reserve stays while the codec that made them does.
    void Clear();
    // After Clear, when the codec is closed: its pool went with it.
    void ForgetDecodedReserve() { FDecodedReserve = FDecodedBytes; }

    // The time of the picture presented at t (its own time at or before t, the next one's
    // after t), when it is held.
    std::optional<std::int64_t> Find(std::int64_t t) const;
    // The converted picture whose own time is pts, null when not held converted.
    const QImage* At(std::int64_t pts) const;
    // The decoded picture whose own time is pts, null when not held waiting for its conversion.
    const AVFrame* DecodedAt(std::int64_t pts) const;
    // The time of the picture before pts when it is held, else NextUnknown.
    std::int64_t PreviousOf(std::int64_t pts) const;
    // The time of the picture after pts (EndOfMovie for the last), else NextUnknown.
    std::int64_t NextOf(std::int64_t pts) const;

    // Keeps picture as the one presented at pts (in place of its decoded form), with the position
    // now at position; evicts the converted pictures furthest from it until they fit. A picture
    // that would itself be the one evicted, or that is larger than the room, is not kept (false).
    bool Insert(std::int64_t pts, const QImage& picture, std::int64_t position);
    // The same for a decoded picture, kept by reference (the codec's buffers are shared), among
    // the decoded pictures.
    bool InsertDecoded(std::int64_t pts, const AVFrame& decoded, std::int64_t position);
    // Before a converted picture of bytes is made for pts: evicts the converted pictures further
    // from position than pts until it fits (never the one it replaces), and gives back the rows of
    // one evicted picture nobody else holds, to be converted into again; null when there is none.
    // Without it the new picture would be made beside the full cache and one evicted after it.
    QImage MakeRoom(std::int64_t pts, std::int64_t bytes, std::int64_t position);
    // Records the time of the picture that follows pts, when pts is held.
    void SetNext(std::int64_t pts, std::int64_t nextPts);

    static std::int64_t BytesOf(const QImage& picture) { return picture.sizeInBytes(); }
    // The buffers behind a decoded picture, whoever else shares them.
    static std::int64_t BytesOf(const AVFrame& decoded);

private:
    using TEntries = std::map<std::int64_t, TEntry>;
    static std::int64_t BytesOf(const TEntry& entry);
    // Evicts the pictures of a kind furthest from position, never one nearer than pts, until
    // those of the kind take no more than room with bytes more; whether they then do.
    // With no pts, any picture of the kind may go.
    bool Evict(bool decoded, std::optional<std::int64_t> pts, std::int64_t bytes, std::int64_t room,
               std::int64_t position, QImage* spare = nullptr);
    // The held picture of a kind furthest from position; end() when none is held.
    TEntries::iterator Furthest(bool decoded, std::int64_t position);
    void Erase(TEntries::iterator at);
    void Put(std::int64_t pts, TEntry entry);

    TEntries FEntries; // by presentation time
    std::int64_t FConvertedBytes = 0;
    std::int64_t FDecodedBytes = 0;
    // The most decoded bytes held at once since the codec opened.
    std::int64_t FDecodedReserve = 0;
    std::int64_t FLimit = DefaultLimitBytes;
    std::int64_t FPosition = 0; // the position of the latest insertion
};
