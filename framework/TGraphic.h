// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The graphic base: a picture that knows its size, draws itself stretched into a rectangle,
// reads and writes itself as a stream, and reports changes. Every concrete graphic class
// describes itself with a TGraphicClass (name, parent, factory), which is what the picture's
// registry of file extensions and class names stores.
#include "framework/TColor.h"
#include "framework/TObject.h"
#include "framework/TPalette.h"
#include "framework/TStream.h"

#include <QRect>
#include <QString>
#include <cstdint>
#include <memory>
#include <span>

class TCanvas;
class TGraphic;

struct TGraphicClass {
    const char* Name;
    const TGraphicClass* Parent;            // null for TGraphic itself
    std::unique_ptr<TGraphic> (*Create)(); // null for abstract classes

    // True when this class is other or derives from it.
    bool InheritsFrom(const TGraphicClass& other) const;
};

// Declares the class descriptor of a graphic class. name is the class name the registry and
// stored pictures use (it may differ from the C++ name).
#define FRAMORA_GRAPHIC_CLASS(Type, ParentType, name)                                              \
public:                                                                                            \
    static const TGraphicClass& StaticClass()                                                      \
    {                                                                                              \
        static const TGraphicClass cls{name, &ParentType::StaticClass(),                           \
                                       []() -> std::unique_ptr<TGraphic> { return std::make_unique<Type>(); }}; \
        return cls;                                                                                \
    }                                                                                              \
    const TGraphicClass& ClassType() const override { return StaticClass(); }

// An abstract graphic class (no factory).
#define FRAMORA_ABSTRACT_GRAPHIC_CLASS(Type, ParentType, name)                                     \
public:                                                                                            \
    static const TGraphicClass& StaticClass()                                                      \
    {                                                                                              \
        static const TGraphicClass cls{name, &ParentType::StaticClass(), nullptr};                 \
        return cls;                                                                                \
    }                                                                                              \
    const TGraphicClass& ClassType() const override { return StaticClass(); }

enum class TTransparentMode { tmAuto, tmFixed };

inline constexpr const char* kUnsupportedClipboardFormatText = "サポートされていないクリップボード形式です";

// Clipboard formats the registry knows by number.
inline constexpr std::uint16_t CF_BITMAP = 2;
inline constexpr std::uint16_t CF_METAFILEPICT = 3;
inline constexpr std::uint16_t CF_DIB = 8;
inline constexpr std::uint16_t CF_ENHMETAFILE = 14;

class TGraphic : public TObject {
public:
    static const TGraphicClass& StaticClass();
    virtual const TGraphicClass& ClassType() const { return StaticClass(); }
    const char* ClassName() const { return ClassType().Name; }
    bool InheritsFrom(const TGraphicClass& cls) const { return ClassType().InheritsFrom(cls); }

    TGraphic() = default;
    TGraphic(const TGraphic& other);
    TGraphic& operator=(const TGraphic& other);
    ~TGraphic() override = default;

    // Makes this graphic a copy of source; raises EInvalidGraphic when it cannot hold it.
    virtual void Assign(const TGraphic& source);
    // Draws the whole graphic stretched into rect on canvas.
    virtual void Draw(TCanvas& canvas, const QRect& rect) = 0;
    virtual bool Empty() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetWidth(int width) = 0;
    virtual void SetHeight(int height) = 0;
    // Reads the graphic's file format at the stream's position.
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) const = 0;
    void LoadFromFile(const QString& fileName);
    void SaveToFile(const QString& fileName) const;
    virtual void LoadFromClipboardFormat(std::uint16_t format, std::span<const std::uint8_t> data,
                                         const HPALETTE& palette);
    // The form a picture stores its graphic in (after the class name). By default the file format.
    virtual void ReadData(TStream& stream) { LoadFromStream(stream); }
    virtual void WriteData(TStream& stream) const { SaveToStream(stream); }
    // Same class and same saved bytes.
    virtual bool Equals(const TGraphic& other) const;

    virtual HPALETTE Palette() const { return {}; }
    virtual void SetPalette(const HPALETTE& palette) { (void)palette; }

    bool Transparent() const { return FTransparent; }
    virtual void SetTransparent(bool transparent);
    bool Modified() const { return FModified; }
    void SetModified(bool modified);

    // Raised after every change with the graphic as sender.
    TNotifyEvent OnChange;

    // The change hook: marks the graphic modified and raises OnChange.
    virtual void Changed(TObject* sender);

protected:
    bool FTransparent = false;
    bool FModified = false;
};
