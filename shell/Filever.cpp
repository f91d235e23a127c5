// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Filever.h"

#include <QFile>

#include <elf.h>

#include <cstring>

namespace {

// A version record is a few dozen bytes; a section claiming more is not one of ours.
constexpr std::uint64_t MaxVersionRecordSize = 4096;
constexpr std::uint64_t MaxSectionCount = 65535;

// Reads size bytes at offset, or nothing when the file does not hold them.
std::optional<QByteArray> ReadAt(QFile& file, std::uint64_t offset, std::uint64_t size)
{
    const auto fileSize = static_cast<std::uint64_t>(file.size());
    if (offset > fileSize || size > fileSize - offset || !file.seek(static_cast<qint64>(offset)))
        return std::nullopt;
    QByteArray bytes = file.read(static_cast<qint64>(size));
    if (static_cast<std::uint64_t>(bytes.size()) != size)
        return std::nullopt;
    return bytes;
}

template <class T>
T ValueAt(const QByteArray& bytes, std::uint64_t offset)
{
    T value;
    std::memcpy(&value, bytes.constData() + offset, sizeof value);
    return value;
}

template <class Ehdr, class Shdr>
std::optional<QByteArray> FindSection(QFile& file, const char* sectionName)
{
    const std::optional<QByteArray> header = ReadAt(file, 0, sizeof(Ehdr));
    if (!header)
        return std::nullopt;
    const auto ehdr = ValueAt<Ehdr>(*header, 0);
    if (ehdr.e_shentsize != sizeof(Shdr) || ehdr.e_shnum == 0 || ehdr.e_shnum > MaxSectionCount ||
        ehdr.e_shstrndx >= ehdr.e_shnum)
        return std::nullopt;
    const std::optional<QByteArray> table = ReadAt(file, ehdr.e_shoff, std::uint64_t{ehdr.e_shnum} * sizeof(Shdr));
    if (!table)
        return std::nullopt;
    const auto names = ValueAt<Shdr>(*table, std::uint64_t{ehdr.e_shstrndx} * sizeof(Shdr));
    const std::optional<QByteArray> nameBytes = ReadAt(file, names.sh_offset, names.sh_size);
    if (!nameBytes)
        return std::nullopt;
    const std::size_t wantedLength = std::strlen(sectionName);
    for (std::uint64_t i = 0; i < ehdr.e_shnum; ++i) {
        const auto section = ValueAt<Shdr>(*table, i * sizeof(Shdr));
        // The name must end within the name table, with its terminator.
        if (section.sh_name >= static_cast<std::uint64_t>(nameBytes->size()) ||
            nameBytes->size() - section.sh_name <= static_cast<qsizetype>(wantedLength) ||
            std::memcmp(nameBytes->constData() + section.sh_name, sectionName, wantedLength + 1) != 0)
            continue;
        if (section.sh_type == SHT_NOBITS || section.sh_size > MaxVersionRecordSize)
            return std::nullopt;
        return ReadAt(file, section.sh_offset, section.sh_size);
    }
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> ReadElfSection(const QString& fileName, const char* sectionName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<QByteArray> ident = ReadAt(file, 0, EI_NIDENT);
    if (!ident || std::memcmp(ident->constData(), ELFMAG, SELFMAG) != 0 || (*ident)[EI_DATA] != ELFDATA2LSB)
        return std::nullopt;
    switch ((*ident)[EI_CLASS]) {
    case ELFCLASS64:
        return FindSection<Elf64_Ehdr, Elf64_Shdr>(file, sectionName);
    case ELFCLASS32:
        return FindSection<Elf32_Ehdr, Elf32_Shdr>(file, sectionName);
    default:
        return std::nullopt;
    }
}

TFileVer::TFileVer(const QString& fileName) : FFileName(fileName) {}

TFileVer::~TFileVer()
{
    ReleaseVersionInfo();
}

void TFileVer::SetFileName(const QString& fileName)
{
    FFileName = fileName;
    ReleaseVersionInfo();
}

bool TFileVer::LoadVersionInfo()
{
    if (FVersionData)
        return true;
    std::optional<QByteArray> record = ReadElfSection(FFileName, VersionSectionName);
    if (!record || record->isEmpty())
        return false;
    FVersionData = std::move(record);
    return true;
}

const TFixedFileInfo* TFileVer::FixedFileInfo()
{
    if (!LoadVersionInfo() || FVersionData->size() < static_cast<qsizetype>(sizeof(TFixedFileInfo)))
        return nullptr;
    const auto* info = reinterpret_cast<const TFixedFileInfo*>(FVersionData->constData());
    return info->Signature == FixedFileInfoSignature ? info : nullptr;
}

bool TFileVer::GetProductVersion(TProductVersion& version)
{
    const TFixedFileInfo* info = FixedFileInfo();
    if (!info)
        return false;
    version.Major = static_cast<std::uint16_t>(info->ProductVersionMS >> 16);
    version.Minor = static_cast<std::uint16_t>(info->ProductVersionMS & 0xFFFFu);
    version.Release = static_cast<std::uint16_t>(info->ProductVersionLS >> 16);
    version.Build = static_cast<std::uint16_t>(info->ProductVersionLS & 0xFFFFu);
    return true;
}

void TFileVer::ReleaseVersionInfo()
{
    FVersionData.reset();
}
