// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An image pack stands for the numbered pictures 0 .. Count - 1 without saying where they come
// from. Viewers ask it for the count, the size of picture i, a copy of picture i or a drawing of
// it, and learn of changes through OnChange and through the pack's own IBroadcaster. Viewers read
// with SafeGetImage, which answers the shared error picture instead of failing.
//
// A pack is a QObject so that its owner (a form, usually) frees it; it is the controller of the
// broadcaster it owns, and its reference counts are that broadcaster's, which never frees itself.
#include "framework/Exception.h"
#include "framework/TColor.h"
#include "framework/TObject.h"
#include "framework/UBroadcaster.h"
#include "framework/UCoordUtil.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

class TCanvas;
class TPicture;

inline constexpr const char* kCannotSetCountText = "Cannot set count of ImagePack";
inline constexpr const char* kCannotSetImageRectText = "Cannot set ImageRect of ImagePack";
// The text of the error picture.
inline constexpr const char* kImageErrorContext = "TImagePack";
inline constexpr const char* kImageErrorText = QT_TRANSLATE_NOOP("TImagePack", "イメージ処理\r\nエラー");

// Sent with the pack as sender: the count or the pictures changed, so caches are void.
inline constexpr TGUID kPackChangedEventId{0x3F6A1C92, 0x7B05, 0x4D1E, {0x9C, 0x48, 0x21, 0xE7, 0x5A, 0x0B, 0xD3, 0x66}};
// Sent with the pack as sender: picture requests still pending are void.
inline constexpr TGUID kPackInvalidatedEventId{0x3F6A1C93, 0x7B05, 0x4D1E, {0x9C, 0x48, 0x21, 0xE7, 0x5A, 0x0B, 0xD3, 0x66}};

// A metafile picture of text in fontColour on white, centred line by line and as large as the
// text in a fresh canvas's font: the error picture, and the placeholders viewers show.
std::unique_ptr<TPicture> MakeTextPicture(const QString& text, TColor fontColour);

class EImagePack : public Exception {
public:
    using Exception::Exception;
};

using TImagePackNotify = std::function<void(TObject* sender)>;

class TImagePack : public QObject, public TBroadcastingObject {
public:
    explicit TImagePack(QObject* owner = nullptr);
    // Frees the broadcaster first: listeners hear the destroying event while the pack is whole.
    ~TImagePack() override;

    virtual void Change();
    virtual void InvalidateImages();
    virtual std::int32_t GetCount() = 0;
    virtual void SetCount(std::int32_t value);
    virtual void GetImageRect(std::int32_t i, TRect& rect) = 0;
    virtual void SetImageRect(std::int32_t i, const TRect& rect);
    virtual std::int32_t GetImageLeft(std::int32_t i);
    virtual void SetImageLeft(std::int32_t i, std::int32_t v);
    virtual std::int32_t GetImageTop(std::int32_t i);
    virtual void SetImageTop(std::int32_t i, std::int32_t v);
    virtual std::int32_t GetImageWidth(std::int32_t i);
    virtual void SetImageWidth(std::int32_t i, std::int32_t v);
    virtual std::int32_t GetImageHeight(std::int32_t i);
    virtual void SetImageHeight(std::int32_t i, std::int32_t v);
    // Loads image i into picture.
    virtual void GetImage(TPicture& picture, std::int32_t i) = 0;
    virtual void DrawImage(TCanvas& canvas, std::int32_t x, std::int32_t y, std::int32_t i);
    virtual void StretchDrawImage(TCanvas& canvas, const TRect& rect, std::int32_t i);
    virtual bool IsIndexInvalid(std::int32_t i);

    std::int32_t Count() { return GetCount(); }
    TRect ImageRect(std::int32_t i);

    // GetImage that never lets an exception out: a failure leaves the error picture in picture
    // and answers false.
    bool SafeGetImage(TPicture& picture, std::int32_t i);
    // The one error picture of the program, built on first use.
    static const TPicture& ErrorPicture();

    // Raised by Change, after every listener has heard the changed event.
    TImagePackNotify OnChange;
};
