// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagestore/UImageFile.h"
#include "framework/FileHandle.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

// exiv2 0.27 declares its owners as std::auto_ptr, which C++20 deprecates; nothing here keeps
// one beyond the call that made it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int JpegQuality = 95;
// Qt's WebP writer encodes losslessly from this quality up: stills are often edited afterwards.
constexpr int LosslessWebPQuality = 100;
const QStringList JpegExtensions{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("jpe"),
                                 QStringLiteral("jfif")};
const QStringList TiffExtensions{QStringLiteral("tif"), QStringLiteral("tiff")};

// exiv2 reports some failures (XMP it could not encode) only to its log, and goes on writing
// the rest. The log of the call in progress on this thread is kept, so such a failure counts.
thread_local std::string LibraryErrors;

void KeepLibraryError(int level, const char* message)
{
    if (level >= Exiv2::LogMsg::error)
        LibraryErrors += message;
}

// The XMP toolkit must be set up, and our namespace known, before the first use on any thread.
void PrepareXmp()
{
    static std::once_flag prepared;
    std::call_once(prepared, [] {
        Exiv2::XmpParser::initialize();
        Exiv2::XmpProperties::registerNs(ProvenanceNamespace, ProvenancePrefix);
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::error);
        Exiv2::LogMsg::setHandler(KeepLibraryError);
    });
}

bool IsAscii(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

std::string Utf8(const QString& text)
{
    return text.toStdString();
}

std::string Property(const char* name)
{
    return std::string("Xmp.") + ProvenancePrefix + '.' + name;
}

QString SizeText(QSize size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

// A line a person reads in any EXIF viewer: the movie and the moment.
QString Description(const TProvenance& provenance)
{
    QString text = provenance.Movie;
    if (provenance.PositionMs >= 0)
        text += QLatin1Char(' ') + FormatPosition(provenance.PositionMs);
    return text;
}

void FillXmp(Exiv2::XmpData& xmp, const TProvenance& provenance)
{
    xmp["Xmp.dc.source"] = Utf8(provenance.Movie);
    xmp["Xmp.xmp.CreatorTool"] = Utf8(provenance.Creator);
    xmp[Property("Movie")] = Utf8(provenance.Movie);
    if (provenance.PositionMs >= 0)
        xmp[Property("Position")] = Utf8(FormatPosition(provenance.PositionMs));
    if (provenance.PictureNumber >= 0)
        xmp[Property("Picture")] = std::to_string(provenance.PictureNumber);
    if (provenance.CodedSize.isValid())
        xmp[Property("CodedSize")] = Utf8(SizeText(provenance.CodedSize));
    if (provenance.ShownSize.isValid())
        xmp[Property("ShownSize")] = Utf8(SizeText(provenance.ShownSize));
    for (const auto& [name, value] : provenance.Settings)
        xmp[Property(name.toLatin1().constData())] = Utf8(value);
}

// EXIF text is ASCII (its Unicode comment is UCS-2, without room for every character): a
// description in other scripts is left to XMP, which carries it whole.
void FillExif(Exiv2::ExifData& exif, const TProvenance& provenance)
{
    exif["Exif.Image.Software"] = Utf8(provenance.Creator);
    if (const QString description = Description(provenance); IsAscii(description))
        exif["Exif.Image.ImageDescription"] = Utf8(description);
}

// Writes provenance into the encoded picture held in bytes; throws what exiv2 throws.
void WriteProvenance(QByteArray& bytes, const TProvenance& provenance)
{
    PrepareXmp();
    LibraryErrors.clear();
    Exiv2::Image::AutoPtr image =
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()), bytes.size());
    image->readMetadata();
    FillXmp(image->xmpData(), provenance);
    FillExif(image->exifData(), provenance);
    image->writeMetadata();
    if (!LibraryErrors.empty())
        throw std::runtime_error(LibraryErrors);
    Exiv2::BasicIo& io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf written = io.read(static_cast<long>(io.size()));
    bytes = QByteArray(reinterpret_cast<const char*>(written.pData_), written.size_);
}

} // namespace

QString FormatPosition(std::int32_t ms)
{
    const std::int64_t total = std::max<std::int64_t>(ms, 0);
    return QStringLiteral("%1:%2:%3.%4")
        .arg(total / 3600000, 2, 10, QLatin1Char('0'))
        .arg(total / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(total / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(total % 1000, 3, 10, QLatin1Char('0'));
}

QByteArray ImageFormatFor(const QString& fileName)
{
    const QString extension = QFileInfo(fileName).suffix().toLower();
    if (extension == QStringLiteral("png"))
        return QByteArrayLiteral("png");
    if (JpegExtensions.contains(extension))
        return QByteArrayLiteral("jpeg");
    if (extension == QStringLiteral("webp"))
        return QByteArrayLiteral("webp");
    if (TiffExtensions.contains(extension))
        return QByteArrayLiteral("tiff");
    return QByteArrayLiteral("bmp");
}

bool CarriesProvenance(const QByteArray& format)
{
    return format != "bmp";
}

QByteArray EncodeImage(const QImage& picture, const QByteArray& format, const TProvenance* provenance,
                       QString& error, QString& metadataError)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (format == "jpeg")
        writer.setQuality(JpegQuality);
    else if (format == "webp")
        writer.setQuality(LosslessWebPQuality);
    if (!writer.write(picture)) {
        error = writer.errorString();
        return {};
    }
    buffer.close();
    if (!provenance || !CarriesProvenance(format))
        return bytes;
    QByteArray withProvenance = bytes;
    try {
        WriteProvenance(withProvenance, *provenance);
        return withProvenance;
    } catch (const std::exception& e) {
        metadataError = QString::fromStdString(e.what());
        return bytes;
    }
}

namespace {

// 0, or the errno of the failed sync of the folder that holds path.
int SyncFolderOf(const QString& path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const TFileHandle handle(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!handle.Valid())
        return errno;
    return ::fsync(handle.Get()) == 0 ? 0 : errno;
}

} // namespace

bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& error, unsigned mode)
{
    static std::atomic<unsigned> written{0};
    const QByteArray part = QFile::encodeName(path + QStringLiteral(".part-%1-%2").arg(::getpid()).arg(++written));
    TFileHandle file(::open(part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode)));
    const bool created = file.Valid();
    int failure = created ? 0 : errno;
    for (qsizetype at = 0; failure == 0 && at < bytes.size();) {
        const ssize_t n = ::write(file.Get(), bytes.constData() + at, static_cast<std::size_t>(bytes.size() - at));
        if (n > 0)
            at += n;
        else if (n == 0)
            failure = EIO; // a file that takes nothing would be asked for ever
        else if (errno != EINTR)
            failure = errno;
    }
    if (failure == 0 && ::fsync(file.Get()) != 0)
        failure = errno;
    // The close is where some file systems report a write they could not keep.
    if (const int closed = file.Close(); failure == 0)
        failure = closed;
    if (failure == 0 && ::rename(part.constData(), QFile::encodeName(path).constData()) != 0)
        failure = errno;
    if (failure != 0) {
        error = QString::fromLocal8Bit(std::strerror(failure));
        if (created)
            ::unlink(part.constData());
        return false;
    }
    // The new name is only an entry of the folder until the folder itself is on the disk;
    // callers delete other copies (the scenes kept for recovery) once this returns.
    if (const int synced = SyncFolderOf(path); synced != 0) {
        error = QString::fromLocal8Bit(std::strerror(synced));
        return false;
    }
    return true;
}

bool WriteImageFile(const QImage& picture, const QString& fileName, const TProvenance* provenance, QString& error,
                    QString& metadataError)
{
    const QByteArray bytes = EncodeImage(picture, ImageFormatFor(fileName), provenance, error, metadataError);
    if (bytes.isEmpty())
        return false;
    return WriteWholeFile(fileName, bytes, error);
}

#pragma GCC diagnostic pop
