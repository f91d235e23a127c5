// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TGraphic.h"

#include "framework/EInvalidGraphic.h"

#include <QBuffer>
#include <QFile>

bool TGraphicClass::InheritsFrom(const TGraphicClass& other) const
{
    for (const TGraphicClass* cls = this; cls; cls = cls->Parent)
        if (cls == &other)
            return true;
    return false;
}

const TGraphicClass& TGraphic::StaticClass()
{
    static const TGraphicClass cls{"TGraphic", nullptr, nullptr};
    return cls;
}

// Copies carry the values, never the handler: a copy belongs to whoever made it.
TGraphic::TGraphic(const TGraphic& other) : TObject(), FTransparent(other.FTransparent), FModified(other.FModified) {}

TGraphic& TGraphic::operator=(const TGraphic& other)
{
    FTransparent = other.FTransparent;
    FModified = other.FModified;
    return *this;
}

void TGraphic::Assign(const TGraphic& source)
{
    if (&source != this)
        throw EInvalidGraphic(QStringLiteral("%1 を %2 に代入できません")
                                  .arg(QString::fromLatin1(source.ClassName()), QString::fromLatin1(ClassName()))
                                  .toStdString());
}

void TGraphic::LoadFromFile(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EStreamError(QStringLiteral("ファイル %1 を開けません").arg(fileName).toStdString());
    LoadFromStream(file);
}

void TGraphic::SaveToFile(const QString& fileName) const
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EStreamError(QStringLiteral("ファイル %1 を作成できません").arg(fileName).toStdString());
    SaveToStream(file);
    if (!file.flush())
        throw EWriteError();
}

void TGraphic::LoadFromClipboardFormat(std::uint16_t, std::span<const std::uint8_t>, const HPALETTE&)
{
    throw EInvalidGraphic(kUnsupportedClipboardFormatText);
}

bool TGraphic::Equals(const TGraphic& other) const
{
    if (&other == this)
        return true;
    if (&other.ClassType() != &ClassType() || other.Empty() != Empty())
        return false;
    if (Empty())
        return true;
    QBuffer mine, theirs;
    mine.open(QIODevice::WriteOnly);
    theirs.open(QIODevice::WriteOnly);
    SaveToStream(mine);
    other.SaveToStream(theirs);
    return mine.data() == theirs.data();
}

void TGraphic::SetTransparent(bool transparent)
{
    if (transparent != FTransparent) {
        FTransparent = transparent;
        Changed(this);
    }
}

void TGraphic::SetModified(bool modified)
{
    if (modified)
        Changed(this);
    else
        FModified = false;
}

void TGraphic::Changed(TObject*)
{
    FModified = true;
    OnChange(this);
}
