// SPDX-License-Identifier: GPL-3.0-or-later
// Still pictures as files: formats by extension, and provenance read back with exiv2 itself.
#include "imagestore/UImageFile.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include <map>

namespace {

// Every XMP and EXIF value of encoded bytes, by key.
std::map<std::string, std::string> MetadataOf(const QByteArray& bytes)
{
    Exiv2::Image::AutoPtr image =
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()), bytes.size());
    image->readMetadata();
    std::map<std::string, std::string> values;
    for (const Exiv2::Xmpdatum& datum : image->xmpData())
        values[datum.key()] = datum.toString();
    for (const Exiv2::Exifdatum& datum : image->exifData())
        values[datum.key()] = datum.toString();
    return values;
}

QImage Scene()
{
    QImage picture(64, 48, QImage::Format_RGB888);
    picture.fill(Qt::darkCyan);
    QPainter(&picture).fillRect(10, 10, 20, 12, QColor(200, 40, 90));
    return picture;
}

TProvenance MovieMoment()
{
    TProvenance provenance;
    provenance.Movie = QStringLiteral("夏の 旅 🎬 2024.mkv");
    provenance.PositionMs = 83456;
    provenance.PictureNumber = 2086;
    provenance.CodedSize = QSize(720, 480);
    provenance.ShownSize = QSize(853, 480);
    provenance.Settings = {{QStringLiteral("DisplaySize"), QStringLiteral("on")}};
    provenance.Creator = QStringLiteral("Framora 1.2.3");
    return provenance;
}

} // namespace

TEST(ImageFile, FormatsFollowTheExtension)
{
    const struct {
        const char* name;
        const char* format;
    } rows[] = {{"a.png", "png"},  {"a.PNG", "png"},   {"a.jpg", "jpeg"}, {"a.JPEG", "jpeg"}, {"a.jfif", "jpeg"},
                {"a.webp", "webp"}, {"a.tif", "tiff"},  {"a.TIFF", "tiff"}, {"a.bmp", "bmp"},   {"a.gif", "bmp"},
                {"a", "bmp"},       {"dir.png/a", "bmp"}};
    for (const auto& row : rows)
        EXPECT_EQ(ImageFormatFor(QString::fromUtf8(row.name)), QByteArray(row.format)) << row.name;
}

TEST(ImageFile, PositionsAreHoursMinutesSecondsAndMilliseconds)
{
    const struct {
        std::int32_t ms;
        const char* text;
    } rows[] = {{0, "00:00:00.000"}, {83456, "00:01:23.456"}, {3599999, "00:59:59.999"},
                {3600000, "01:00:00.000"}, {-5, "00:00:00.000"}, {INT32_MAX, "596:31:23.647"}};
    for (const auto& row : rows)
        EXPECT_EQ(FormatPosition(row.ms), QString::fromUtf8(row.text)) << row.ms;
}

// Each format that carries provenance gives every field back to exiv2, and the lossless ones
// give the scene's pixels back unchanged; BMP is written as it always was.
TEST(ImageFile, ProvenanceRoundTripsThroughEveryFormat)
{
    const QImage scene = Scene();
    const TProvenance provenance = MovieMoment();
    for (const char* format : {"png", "jpeg", "webp", "tiff"}) {
        SCOPED_TRACE(format);
        QString error, metadataError;
        const QByteArray bytes = EncodeImage(scene, format, &provenance, error, metadataError);
        ASSERT_FALSE(bytes.isEmpty()) << error.toStdString();
        EXPECT_TRUE(metadataError.isEmpty()) << metadataError.toStdString();
        auto values = MetadataOf(bytes);
        EXPECT_EQ(values["Xmp.framora.Movie"], "夏の 旅 🎬 2024.mkv");
        EXPECT_EQ(values["Xmp.dc.source"], "夏の 旅 🎬 2024.mkv");
        EXPECT_EQ(values["Xmp.framora.Position"], "00:01:23.456");
        EXPECT_EQ(values["Xmp.framora.Picture"], "2086");
        EXPECT_EQ(values["Xmp.framora.CodedSize"], "720x480");
        EXPECT_EQ(values["Xmp.framora.ShownSize"], "853x480");
        EXPECT_EQ(values["Xmp.framora.DisplaySize"], "on");
        EXPECT_EQ(values["Xmp.xmp.CreatorTool"], "Framora 1.2.3");
        EXPECT_EQ(values["Exif.Image.Software"], "Framora 1.2.3");
        EXPECT_EQ(values.count("Exif.Image.ImageDescription"), 0u); // not ASCII: XMP only

        const QImage back = QImage::fromData(bytes).convertToFormat(QImage::Format_RGB888);
        ASSERT_EQ(back.size(), scene.size());
        if (std::string(format) != "jpeg") {
            EXPECT_EQ(back, scene);
        }
    }
    QString error, metadataError;
    TProvenance plain = provenance;
    plain.Movie = QStringLiteral("holiday.mp4");
    EXPECT_EQ(MetadataOf(EncodeImage(scene, "tiff", &plain, error, metadataError))["Exif.Image.ImageDescription"],
              "holiday.mp4 00:01:23.456");
    const QByteArray bmp = EncodeImage(scene, "bmp", &provenance, error, metadataError);
    EXPECT_TRUE(bmp.startsWith("BM"));
    EXPECT_EQ(QImage::fromData(bmp).convertToFormat(QImage::Format_RGB888), scene);
    EXPECT_TRUE(metadataError.isEmpty());
}

// Metadata that cannot be written costs the metadata, never the picture.
TEST(ImageFile, UnwritableProvenanceStillGivesThePicture)
{
    TProvenance provenance = MovieMoment();
    provenance.Settings = {{QStringLiteral("not a name"), QStringLiteral("x")}};
    QString error, metadataError;
    const QByteArray bytes = EncodeImage(Scene(), "png", &provenance, error, metadataError);
    EXPECT_FALSE(metadataError.isEmpty());
    EXPECT_EQ(QImage::fromData(bytes).convertToFormat(QImage::Format_RGB888), Scene());

    EXPECT_TRUE(EncodeImage(QImage(), "png", &provenance, error, metadataError).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

#pragma GCC diagnostic pop
