// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TPictureCache: converted pictures around the position, kept so that a step back within what was
// decoded costs no decoding. Each picture knows the presentation time of the one that follows it
// in the movie once that has been decoded, so a request for any time between the two is answered
// here. Bounded in bytes; what leaves first is the picture furthest from the position.
#include <QImage>

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
    };

    std::int64_t Limit() const { return FLimit; }
    // Shrinking drops pictures furthest from the position last given until the rest fit.
    void SetLimit(std::int64_t bytes);
    std::int64_t Bytes() const { return FBytes; }
    std::size_t Count() const { return FEntries.size(); }
    void Clear();

    // The time of the picture presented at t (its own time at or before t, the next one's
    // after t), when it is held.
    std::optional<std::int64_t> Find(std::int64_t t) const;
    // The picture whose own time is pts, null when not held.
    const QImage* At(std::int64_t pts) const;
    // The time of the picture before pts when it is held, else NextUnknown.
    std::int64_t PreviousOf(std::int64_t pts) const;
    // The time of the picture after pts (EndOfMovie for the last), else NextUnknown.
    std::int64_t NextOf(std::int64_t pts) const;

    // Keeps picture as the one presented at pts, with the position now at position; evicts the
    // pictures furthest from it until everything fits. A picture that would itself be the one
    // evicted, or that is larger than the whole limit, is not kept (false).
    bool Insert(std::int64_t pts, const QImage& picture, std::int64_t position);
    // Before a picture of bytes is made for pts: evicts the pictures further from position than
    // pts until it fits (never the one it replaces), and gives back the rows of one evicted
    // picture nobody else holds, to be converted into again; null when there is none. Without
    // it the new picture would be made beside the full cache and one evicted after it.
    QImage MakeRoom(std::int64_t pts, std::int64_t bytes, std::int64_t position);
    // Records the time of the picture that follows pts, when pts is held.
    void SetNext(std::int64_t pts, std::int64_t nextPts);

    static std::int64_t BytesOf(const QImage& picture) { return picture.sizeInBytes(); }

private:
    // Drops the held picture furthest from position; false when none is held.
    bool EvictFurthest(std::int64_t position);
    // The held picture furthest from position.
    std::map<std::int64_t, TEntry>::iterator Furthest(std::int64_t position);

    std::map<std::int64_t, TEntry> FEntries; // by presentation time
    std::int64_t FBytes = 0;
    std::int64_t FLimit = DefaultLimitBytes;
    std::int64_t FPosition = 0; // the position of the latest insertion
};
