// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TPicture.h"

#include "framework/EInvalidGraphic.h"
#include "framework/TBitmap.h"
#include "framework/TMetafile.h"

#include <QFileInfo>
#include <algorithm>
#include <mutex>

namespace {
struct TClipboardFormat {
    std::uint16_t Format;
    const TGraphicClass* Class;
};

// The process-wide registry, made on first use with the framework's own classes in it.
struct TGraphicRegistry {
    std::mutex Lock;
    std::vector<TPicture::TFileFormat> Files;
    std::vector<TClipboardFormat> Clipboard;

    TGraphicRegistry()
    {
        Files.push_back({QStringLiteral("bmp"), QStringLiteral("Bitmaps"), &TBitmap::StaticClass()});
        Clipboard.push_back({CF_BITMAP, &TBitmap::StaticClass()});
        Clipboard.push_back({CF_DIB, &TBitmap::StaticClass()});
    }
};

TGraphicRegistry& Registry()
{
    static TGraphicRegistry registry;
    return registry;
}

std::unique_ptr<TGraphic> CreateGraphic(const TGraphicClass& cls)
{
    if (!cls.Create)
        throw EInvalidGraphic(QString::fromUtf8(kUnknownGraphicClassText).arg(QString::fromLatin1(cls.Name)).toStdString());
    return cls.Create();
}
} // namespace

TPicture::TPicture() = default;

TPicture::~TPicture()
{
    if (FGraphic)
        FGraphic->OnChange = {};
}

void TPicture::Install(std::unique_ptr<TGraphic> graphic)
{
    if (FGraphic)
        FGraphic->OnChange = {};
    FGraphic = std::move(graphic);
    if (FGraphic)
        FGraphic->OnChange = MakeNotifyEvent<&TPicture::GraphicChanged>(this);
    Changed(this);
}

void TPicture::SetGraphic(const TGraphic* graphic)
{
    if (!graphic) {
        Install(nullptr);
        return;
    }
    std::unique_ptr<TGraphic> copy = CreateGraphic(graphic->ClassType());
    copy->Assign(*graphic);
    Install(std::move(copy));
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic)
{
    Install(std::move(graphic));
}

TBitmap& TPicture::Bitmap()
{
    if (!dynamic_cast<TBitmap*>(FGraphic.get()))
        Install(std::make_unique<TBitmap>());
    return static_cast<TBitmap&>(*FGraphic);
}

TMetafile& TPicture::Metafile()
{
    if (!dynamic_cast<TMetafile*>(FGraphic.get()))
        Install(std::make_unique<TMetafile>());
    return static_cast<TMetafile&>(*FGraphic);
}

int TPicture::Width() const
{
    return FGraphic ? FGraphic->Width() : 0;
}

int TPicture::Height() const
{
    return FGraphic ? FGraphic->Height() : 0;
}

void TPicture::Assign(const TPicture& source)
{
    if (&source != this)
        SetGraphic(source.Graphic());
}

void TPicture::LoadFromFile(const QString& fileName)
{
    const QString extension = QFileInfo(fileName).suffix();
    const TGraphicClass* cls = FindByExtension(extension);
    if (!cls)
        throw EInvalidGraphic(QString::fromUtf8(kUnknownExtensionText).arg(extension).toStdString());
    std::unique_ptr<TGraphic> graphic = CreateGraphic(*cls);
    graphic->LoadFromFile(fileName);
    Install(std::move(graphic));
}

void TPicture::SaveToFile(const QString& fileName) const
{
    if (FGraphic)
        FGraphic->SaveToFile(fileName);
}

void TPicture::LoadFromClipboardFormat(std::uint16_t format, std::span<const std::uint8_t> data,
                                       const HPALETTE& palette)
{
    const TGraphicClass* cls = FindByClipboardFormat(format);
    if (!cls)
        throw EInvalidGraphic(kUnsupportedClipboardFormatText);
    std::unique_ptr<TGraphic> graphic = CreateGraphic(*cls);
    graphic->LoadFromClipboardFormat(format, data, palette);
    Install(std::move(graphic));
}

bool TPicture::SupportsClipboardFormat(std::uint16_t format)
{
    return FindByClipboardFormat(format) != nullptr;
}

void TPicture::ReadData(TStream& stream)
{
    std::uint8_t length = 0;
    ReadBuffer(stream, &length, 1);
    QByteArray name(length, '\0');
    ReadBuffer(stream, name.data(), length);
    if (name.isEmpty()) {
        Install(nullptr);
        return;
    }
    const TGraphicClass* cls = FindByClassName(QString::fromLatin1(name));
    if (!cls)
        throw EInvalidGraphic(QString::fromUtf8(kUnknownGraphicClassText).arg(QString::fromLatin1(name)).toStdString());
    std::unique_ptr<TGraphic> graphic = CreateGraphic(*cls);
    graphic->ReadData(stream);
    Install(std::move(graphic));
}

void TPicture::WriteData(TStream& stream) const
{
    const QByteArray name = FGraphic ? QByteArray(FGraphic->ClassName()).left(255) : QByteArray();
    const auto length = static_cast<std::uint8_t>(name.size());
    WriteBuffer(stream, &length, 1);
    WriteBuffer(stream, name.constData(), length);
    if (FGraphic)
        FGraphic->WriteData(stream);
}

void TPicture::GraphicChanged(TObject*)
{
    Changed(this);
}

void TPicture::Changed(TObject*)
{
    OnChange(this);
}

void TPicture::RegisterFileFormat(const QString& extension, const QString& description, const TGraphicClass& cls)
{
    TGraphicRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    registry.Files.push_back({extension.toLower(), description, &cls});
}

void TPicture::RegisterClipboardFormat(std::uint16_t format, const TGraphicClass& cls)
{
    TGraphicRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    registry.Clipboard.push_back({format, &cls});
}

void TPicture::UnregisterGraphicClass(const TGraphicClass& cls)
{
    TGraphicRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    std::erase_if(registry.Files, [&](const TFileFormat& entry) { return entry.Class->InheritsFrom(cls); });
    std::erase_if(registry.Clipboard, [&](const TClipboardFormat& entry) { return entry.Class->InheritsFrom(cls); });
}

const TGraphicClass* TPicture::FindByExtension(const QString& extension)
{
    const QString wanted = extension.startsWith(u'.') ? extension.mid(1).toLower() : extension.toLower();
    TGraphicRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    const auto found = std::find_if(registry.Files.rbegin(), registry.Files.rend(),
                                    [&](const TFileFormat& entry) { return entry.Extension == wanted; });
    return found == registry.Files.rend() ? nullptr : found->Class;
}

const TGraphicClass* TPicture::FindByClipboardFormat(std::uint16_t format)
{
    TGraphicRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    const auto found = std::find_if(registry.Clipboard.rbegin(), registry.Clipboard.rend(),
                                    [&](const TClipboardFormat& entry) { return entry.Format == format; });
    return found == registry.Clipboard.rend() ? nullptr : found->Class;
}

const TGraphicClass* TPicture::FindByClassName(const QString& name)
{
    const QByteArray wanted = name.toLatin1();
    TGraphicRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    for (auto entry = registry.Files.rbegin(); entry != registry.Files.rend(); ++entry)
        if (wanted.compare(entry->Class->Name, Qt::CaseInsensitive) == 0)
            return entry->Class;
    for (auto entry = registry.Clipboard.rbegin(); entry != registry.Clipboard.rend(); ++entry)
        if (wanted.compare(entry->Class->Name, Qt::CaseInsensitive) == 0)
            return entry->Class;
    return nullptr;
}

std::vector<TPicture::TFileFormat> TPicture::FileFormats()
{
    TGraphicRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    return registry.Files;
}
