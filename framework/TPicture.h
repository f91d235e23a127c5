// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The picture: holds at most one graphic, loads and saves it by file extension, and keeps the
// process-wide registry of graphic classes (by file extension, clipboard format and class
// name). Look-ups search from the most recent registration back, so a later registration
// of the same extension wins; unregistering a class also removes every class derived from it.
#include "framework/TGraphic.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class TBitmap;
class TMetafile;

inline constexpr const char* kUnknownExtensionText = "不明な拡張子です (.%1)";
inline constexpr const char* kUnknownGraphicClassText = "不明なグラフィッククラスです (%1)";

class TPicture : public TObject {
public:
    TPicture();
    ~TPicture() override;
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    TGraphic* Graphic() const { return FGraphic.get(); }
    // Holds a copy of graphic (made by its own class); null empties the picture.
    void SetGraphic(const TGraphic* graphic);
    // Takes graphic as the picture's graphic.
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    // The graphic as a bitmap, replacing any other graphic by an empty bitmap first.
    TBitmap& Bitmap();
    TMetafile& Metafile();
    int Width() const;
    int Height() const;

    virtual void Assign(const TPicture& source);
    void Assign(const TGraphic* source) { SetGraphic(source); }

    // Chooses the graphic class by the file's extension (any letter case).
    void LoadFromFile(const QString& fileName);
    void SaveToFile(const QString& fileName) const;
    void LoadFromClipboardFormat(std::uint16_t format, std::span<const std::uint8_t> data,
                                 const HPALETTE& palette);
    static bool SupportsClipboardFormat(std::uint16_t format);
    // A stored picture: the graphic's class name (length byte + characters), then its data.
    void ReadData(TStream& stream);
    void WriteData(TStream& stream) const;

    // The change hook: raised when the graphic changes or is replaced.
    virtual void Changed(TObject* sender);
    TNotifyEvent OnChange;

    // --- the registry ---
    static void RegisterFileFormat(const QString& extension, const QString& description,
                                   const TGraphicClass& cls);
    static void RegisterClipboardFormat(std::uint16_t format, const TGraphicClass& cls);
    static void UnregisterGraphicClass(const TGraphicClass& cls);
    // Null when nothing is registered; extension without the dot, any letter case.
    static const TGraphicClass* FindByExtension(const QString& extension);
    static const TGraphicClass* FindByClipboardFormat(std::uint16_t format);
    // Searches every registration (extension and clipboard) for a class of that name.
    static const TGraphicClass* FindByClassName(const QString& name);
    struct TFileFormat {
        QString Extension;
        QString Description;
        const TGraphicClass* Class;
    };
    // Newest last.
    static std::vector<TFileFormat> FileFormats();

private:
    void GraphicChanged(TObject* sender);
    void Install(std::unique_ptr<TGraphic> graphic);

    std::unique_ptr<TGraphic> FGraphic;
};
