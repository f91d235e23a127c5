// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A file's version record. The build places one in the program file: a fixed-size record in the
// ELF section named VersionSectionName, read back here from the file on disk, so what the About
// box shows is what the file itself says.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

inline constexpr const char* VersionSectionName = ".framora_version";
inline constexpr std::uint32_t FixedFileInfoSignature = 0xFEEF04BDu;

// The fixed part of a version record: versions as two 32-bit words, the high word of each word
// the more significant number (major.minor in the first word, release.build in the second).
struct TFixedFileInfo {
    std::uint32_t Signature;
    std::uint32_t StrucVersion;
    std::uint32_t FileVersionMS;
    std::uint32_t FileVersionLS;
    std::uint32_t ProductVersionMS;
    std::uint32_t ProductVersionLS;
};

constexpr TFixedFileInfo MakeFixedFileInfo(std::uint16_t major, std::uint16_t minor, std::uint16_t release,
                                           std::uint16_t build)
{
    const std::uint32_t ms = (std::uint32_t{major} << 16) | minor;
    const std::uint32_t ls = (std::uint32_t{release} << 16) | build;
    return {FixedFileInfoSignature, 0x00010000u, ms, ls, ms, ls};
}

struct TProductVersion {
    std::uint16_t Major = 0;
    std::uint16_t Minor = 0;
    std::uint16_t Release = 0;
    std::uint16_t Build = 0;
};

// The contents of the named section of an ELF file (32 or 64 bits, little-endian); none when the
// file cannot be read, is no such file, has no such section, or declares sizes it does not hold.
std::optional<QByteArray> ReadElfSection(const QString& fileName, const char* sectionName);

class TFileVer {
public:
    explicit TFileVer(const QString& fileName);
    ~TFileVer();
    TFileVer(const TFileVer&) = delete;
    TFileVer& operator=(const TFileVer&) = delete;

    void SetFileName(const QString& fileName);
    // Loads the version record on first use; false when the file has none.
    bool LoadVersionInfo();
    // The fixed part of the loaded record; null without one (or with a damaged one).
    const TFixedFileInfo* FixedFileInfo();
    // Leaves version untouched and answers false when the file has no record.
    bool GetProductVersion(TProductVersion& version);
    void ReleaseVersionInfo();

private:
    QString FFileName;
    std::optional<QByteArray> FVersionData; // the whole record once loaded
};
