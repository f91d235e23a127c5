// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The framework's JPEG graphic over libjpeg: it keeps the compressed bytes and decodes them into
// a 24-bit bitmap on demand, at a chosen scale (1/1 to 1/8) and speed. libjpeg errors become
// EInvalidGraphic exceptions; nothing in here ever ends the process.
#include "framework/TBitmap.h"
#include "framework/TGraphic.h"
#include "framework/TStream.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

enum class TJPEGScale { jsFullSize, jsHalf, jsQuarter, jsEighth };
enum class TJPEGPerformance { jpBestQuality, jpBestSpeed };

class TJPEGImage : public TGraphic {
    FRAMORA_GRAPHIC_CLASS(TJPEGImage, TGraphic, "TJPEGImage")
public:
    // A few hundred bytes of JPEG can declare 65535 x 65535 pixels: pictures larger than this
    // are refused rather than decoded, and decoded bitmaps larger than the second limit rather
    // than allocated (a large photo still gives its reduced thumbnail).
    static constexpr std::int64_t kMaxSourcePixels = std::int64_t{1} << 28;
    static constexpr std::int64_t kMaxDecodedPixels = std::int64_t{1} << 26;
    // A progressive file may carry thousands of tiny scans that each cost a full pass.
    static constexpr int kMaxScans = 256;

    TJPEGImage();
    TJPEGImage(const TJPEGImage& other);
    TJPEGImage& operator=(const TJPEGImage& other);
    ~TJPEGImage() override;

    // From another JPEG image: its data and settings. Other graphics cannot be held.
    void Assign(const TGraphic& source) override;
    // Takes the bytes as the compressed picture; the header is checked at once.
    void LoadFromMemory(std::span<const std::uint8_t> bytes);
    // Takes everything from the stream's position to its end.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) const override;
    // Stored inside pictures as a 32-bit size followed by the file's bytes.
    void ReadData(TStream& stream) override;
    void WriteData(TStream& stream) const override;
    const std::vector<std::uint8_t>& Data() const { return FData; }
    bool Empty() const override { return FData.empty(); }
    // A JPEG image has the size its data gives it.
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    // Draws the decoded picture stretched into rect.
    void Draw(TCanvas& canvas, const QRect& rect) override;

    TJPEGScale Scale() const { return FScale; }
    void SetScale(TJPEGScale scale);
    TJPEGPerformance Performance() const { return FPerformance; }
    void SetPerformance(TJPEGPerformance performance);
    bool Smoothing() const { return FSmoothing; }
    void SetSmoothing(bool smoothing);

    // Size of the picture at the current scale (decoding is not needed to know it).
    int Width() const override;
    int Height() const override;
    // Size of the stored picture at full scale; 0 when empty.
    int FullWidth() const { return FFullWidth; }
    int FullHeight() const { return FFullHeight; }
    // Colour components of the stored picture (1 grey, 3 colour); 0 when empty.
    int Components() const { return FComponents; }

    // The decoded picture, 24 bits per pixel; decoded now if the settings changed since.
    const TBitmap& Bitmap() const;
    void DIBNeeded() const { Bitmap(); }

protected:
    // Reads count bytes of JPEG file data from the stream and takes them as the picture.
    void LoadFromData(TStream& stream, std::int64_t count);
    // Reads count bytes in bounded pieces, so a size that lies costs no more memory than the
    // bytes that are really there; raises EReadError when the stream ends first.
    static std::vector<std::uint8_t> ReadBytes(TStream& stream, std::int64_t count);

private:
    static constexpr std::int64_t kReadChunk = std::int64_t{1} << 20;

    void FreeBitmap() const;

    std::vector<std::uint8_t> FData;
    int FFullWidth = 0;  // valid when FData is not empty
    int FFullHeight = 0;
    int FComponents = 0;
    TJPEGScale FScale = TJPEGScale::jsFullSize;
    TJPEGPerformance FPerformance = TJPEGPerformance::jpBestQuality;
    bool FSmoothing = true;
    mutable std::unique_ptr<TBitmap> FBitmap; // null until decoded at the current settings
};
