// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Still pictures as files: the format a file name's extension asks for, and the bytes of a
// picture in that format with where it came from written inside it (XMP, and EXIF where the
// format has it), so that a saved still still names its movie and moment weeks later.
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPair>
#include <QSize>
#include <QString>

#include <cstdint>

struct TProvenance {
    QString Movie;                   // the movie's file name, without its folder
    std::int32_t PositionMs = -1;    // the picture's own time in the movie; -1 when unknown
    std::int64_t PictureNumber = -1; // counted from 0; -1 when unknown
    QSize CodedSize;                 // as the movie stores its pictures
    QSize ShownSize;                 // as it is meant to be seen
    // What shaped the picture, as name and value ("DisplaySize", "on"); names are XMP property
    // names, so letters and digits only.
    QList<QPair<QString, QString>> Settings;
    QString Creator;                 // the program and its version
};

// Where provenance is kept in XMP: the namespace and its prefix.
inline constexpr char ProvenanceNamespace[] = "https://framora.org/ns/provenance/1.0/";
inline constexpr char ProvenancePrefix[] = "framora";

// "HH:MM:SS.mmm"; hours go on past 99.
QString FormatPosition(std::int32_t ms);

// The Qt image format for a file name's extension: png, jpeg (.jpg .jpeg .jpe .jfif), webp,
// tiff (.tif .tiff), and bmp for anything else.
QByteArray ImageFormatFor(const QString& fileName);

// Which formats carry provenance (BMP has no place for it).
bool CarriesProvenance(const QByteArray& format);

// The picture encoded in format, provenance inside when given and the format carries it. Empty,
// with error set, when the picture cannot be encoded. Provenance that cannot be written leaves
// the picture as encoded without it, and metadataError says why: a still is never lost to its
// metadata. WebP is lossless; JPEG is written at quality 95.
QByteArray EncodeImage(const QImage& picture, const QByteArray& format, const TProvenance* provenance,
                       QString& error, QString& metadataError);

// Writes bytes to path whole or not at all: under a temporary name beside it, on the disk
// (fsync) before it is renamed over path, and the folder synced after the rename, so that the
// new name survives a power cut once this returns. False with the system's reason in error (a
// full disk, a file-size limit) and nothing left behind (a folder that cannot be synced leaves
// the whole file under its name). mode as for open(2), before the umask.
bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& error, unsigned mode = 0666);

// Writes picture to fileName in the format its extension names, provenance inside as above. The
// bytes go to a temporary file beside the target, renamed over it once all are written, so that
// a failed write never leaves a partial picture under the final name. False with error set when
// nothing was written; metadataError as for EncodeImage.
bool WriteImageFile(const QImage& picture, const QString& fileName, const TProvenance* provenance, QString& error,
                    QString& metadataError);
