// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TJPEGImage.h"

#include "framework/EInvalidGraphic.h"

#include <algorithm>
#include <cstdio>
#include <jpeglib.h>
#include <string>

namespace {

// libjpeg's own error_exit prints and calls exit(); ours turns the message into an exception
// that unwinds out of the library call (the library keeps no state we need afterwards: the
// decompressor is destroyed by its owner).
[[noreturn]] void ThrowingErrorExit(j_common_ptr cinfo)
{
    char message[JMSG_LENGTH_MAX] = {};
    (*cinfo->err->format_message)(cinfo, message);
    throw EInvalidGraphic(std::string("JPEG error: ") + message);
}

// Corrupt-data warnings are expected from files found in the wild; they must not reach stderr.
void SilentOutputMessage(j_common_ptr) {}

struct TScanLimit {
    jpeg_progress_mgr Manager{};
};

void CheckScanCount(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor) {
        const auto* decompressor = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (decompressor->input_scan_number > TJPEGImage::kMaxScans)
            throw EInvalidGraphic("JPEG error: too many scans");
    }
}

// Owns one jpeg_decompress_struct and its error manager; jpeg_destroy_decompress runs on every
// path, exceptions included.
class TDecompressor {
public:
    explicit TDecompressor(std::span<const std::uint8_t> bytes)
    {
        FInfo.err = jpeg_std_error(&FError);
        FError.error_exit = ThrowingErrorExit;
        FError.output_message = SilentOutputMessage;
        jpeg_create_decompress(&FInfo);
        FCreated = true;
        FInfo.mem->max_memory_to_use = kMaxLibraryMemory;
        FScanLimit.Manager.progress_monitor = CheckScanCount;
        FInfo.progress = &FScanLimit.Manager;
        try {
            jpeg_mem_src(&FInfo, bytes.data(), static_cast<unsigned long>(bytes.size())); // refuses empty data
        } catch (...) {
            jpeg_destroy_decompress(&FInfo); // the destructor does not run for a failed constructor
            throw;
        }
    }
    TDecompressor(const TDecompressor&) = delete;
    TDecompressor& operator=(const TDecompressor&) = delete;
    ~TDecompressor()
    {
        if (FCreated)
            jpeg_destroy_decompress(&FInfo);
    }

    jpeg_decompress_struct* operator->() { return &FInfo; }
    jpeg_decompress_struct* Get() { return &FInfo; }

private:
    static constexpr long kMaxLibraryMemory = 1L << 29;

    jpeg_error_mgr FError{};
    TScanLimit FScanLimit;
    jpeg_decompress_struct FInfo{};
    bool FCreated = false;
};

int ScaleDenominator(TJPEGScale scale)
{
    switch (scale) {
    case TJPEGScale::jsFullSize: return 1;
    case TJPEGScale::jsHalf: return 2;
    case TJPEGScale::jsQuarter: return 4;
    case TJPEGScale::jsEighth: return 8;
    }
    return 1;
}

void ReadHeader(TDecompressor& jpeg)
{
    if (jpeg_read_header(jpeg.Get(), TRUE) != JPEG_HEADER_OK)
        throw EInvalidGraphic("JPEG error: no picture in the data");
    // Four-component pictures (CMYK, YCCK) would need colour management we do not have.
    if (jpeg->num_components != 1 && jpeg->num_components != 3)
        throw EInvalidGraphic("JPEG error: unsupported colour space");
    if (static_cast<std::int64_t>(jpeg->image_width) * jpeg->image_height > TJPEGImage::kMaxSourcePixels)
        throw EInvalidGraphic("JPEG error: picture too large");
}

} // namespace

TJPEGImage::TJPEGImage() = default;

TJPEGImage::TJPEGImage(const TJPEGImage& other)
    : TGraphic(other), FData(other.FData), FFullWidth(other.FFullWidth), FFullHeight(other.FFullHeight),
      FComponents(other.FComponents), FScale(other.FScale), FPerformance(other.FPerformance),
      FSmoothing(other.FSmoothing)
{
    if (other.FBitmap)
        FBitmap = std::make_unique<TBitmap>(*other.FBitmap);
}

TJPEGImage& TJPEGImage::operator=(const TJPEGImage& other)
{
    if (this != &other) {
        TGraphic::operator=(other);
        TJPEGImage copy(other);
        FData = std::move(copy.FData);
        FFullWidth = copy.FFullWidth;
        FFullHeight = copy.FFullHeight;
        FComponents = copy.FComponents;
        FScale = copy.FScale;
        FPerformance = copy.FPerformance;
        FSmoothing = copy.FSmoothing;
        FBitmap = std::move(copy.FBitmap);
    }
    return *this;
}

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::LoadFromMemory(std::span<const std::uint8_t> bytes)
{
    TDecompressor jpeg(bytes);
    ReadHeader(jpeg);
    FData.assign(bytes.begin(), bytes.end());
    FFullWidth = static_cast<int>(jpeg->image_width);
    FFullHeight = static_cast<int>(jpeg->image_height);
    FComponents = jpeg->num_components;
    FreeBitmap();
    Changed(this);
}

void TJPEGImage::Assign(const TGraphic& source)
{
    const auto* jpeg = dynamic_cast<const TJPEGImage*>(&source);
    if (!jpeg) {
        TGraphic::Assign(source);
        return;
    }
    if (jpeg != this) {
        *this = *jpeg;
        Changed(this);
    }
}

std::vector<std::uint8_t> TJPEGImage::ReadBytes(TStream& stream, std::int64_t count)
{
    if (count < 0)
        throw EReadError();
    std::vector<std::uint8_t> bytes;
    while (static_cast<std::int64_t>(bytes.size()) < count) {
        const std::int64_t chunk = std::min<std::int64_t>(count - static_cast<std::int64_t>(bytes.size()), kReadChunk);
        const std::size_t at = bytes.size();
        bytes.resize(at + static_cast<std::size_t>(chunk));
        ReadBuffer(stream, bytes.data() + at, chunk);
    }
    return bytes;
}

void TJPEGImage::LoadFromData(TStream& stream, std::int64_t count)
{
    const std::vector<std::uint8_t> bytes = ReadBytes(stream, count);
    LoadFromMemory(bytes);
}

void TJPEGImage::LoadFromStream(TStream& stream)
{
    if (stream.isSequential()) {
        const QByteArray rest = stream.readAll();
        LoadFromMemory(std::span(reinterpret_cast<const std::uint8_t*>(rest.constData()),
                                 static_cast<std::size_t>(rest.size())));
        return;
    }
    LoadFromData(stream, RemainingBytes(stream));
}

void TJPEGImage::SaveToStream(TStream& stream) const
{
    WriteBuffer(stream, FData.data(), static_cast<std::int64_t>(FData.size()));
}

void TJPEGImage::ReadData(TStream& stream)
{
    std::int32_t size = 0;
    ReadBuffer(stream, &size, sizeof size);
    LoadFromData(stream, size);
}

void TJPEGImage::WriteData(TStream& stream) const
{
    const auto size = static_cast<std::int32_t>(FData.size());
    WriteBuffer(stream, &size, sizeof size);
    SaveToStream(stream);
}

void TJPEGImage::Draw(TCanvas& canvas, const QRect& rect)
{
    if (Empty())
        return;
    const_cast<TBitmap&>(Bitmap()).Draw(canvas, rect);
}

void TJPEGImage::SetScale(TJPEGScale scale)
{
    if (scale != FScale) {
        FScale = scale;
        FreeBitmap();
    }
}

void TJPEGImage::SetPerformance(TJPEGPerformance performance)
{
    if (performance != FPerformance) {
        FPerformance = performance;
        FreeBitmap();
    }
}

void TJPEGImage::SetSmoothing(bool smoothing)
{
    if (smoothing != FSmoothing) {
        FSmoothing = smoothing;
        FreeBitmap();
    }
}

int TJPEGImage::Width() const
{
    const int denominator = ScaleDenominator(FScale);
    return (FFullWidth + denominator - 1) / denominator;
}

int TJPEGImage::Height() const
{
    const int denominator = ScaleDenominator(FScale);
    return (FFullHeight + denominator - 1) / denominator;
}

const TBitmap& TJPEGImage::Bitmap() const
{
    if (FBitmap)
        return *FBitmap;
    auto decoded = std::make_unique<TBitmap>();
    decoded->SetPixelFormat(TPixelFormat::pf24bit);
    if (!FData.empty()) {
        TDecompressor jpeg(FData);
        ReadHeader(jpeg);
        jpeg->scale_num = 1;
        jpeg->scale_denom = static_cast<unsigned>(ScaleDenominator(FScale));
        // Straight into the bitmap's blue-green-red rows, grey pictures included.
        jpeg->out_color_space = JCS_EXT_BGR;
        if (FPerformance == TJPEGPerformance::jpBestSpeed) {
            jpeg->dct_method = JDCT_IFAST;
            jpeg->do_fancy_upsampling = FALSE;
        }
        jpeg->do_block_smoothing = FSmoothing ? TRUE : FALSE;
        jpeg_calc_output_dimensions(jpeg.Get());
        if (static_cast<std::int64_t>(jpeg->output_width) * jpeg->output_height > kMaxDecodedPixels)
            throw EInvalidGraphic("JPEG error: picture too large");
        jpeg_start_decompress(jpeg.Get());
        decoded->SetSize(static_cast<int>(jpeg->output_width), static_cast<int>(jpeg->output_height));
        while (jpeg->output_scanline < jpeg->output_height) {
            JSAMPROW row = decoded->ScanLine(static_cast<int>(jpeg->output_scanline));
            if (jpeg_read_scanlines(jpeg.Get(), &row, 1) != 1)
                throw EInvalidGraphic("JPEG error: decoding stalled");
        }
        jpeg_finish_decompress(jpeg.Get());
    }
    FBitmap = std::move(decoded);
    return *FBitmap;
}

void TJPEGImage::FreeBitmap() const
{
    FBitmap.reset();
}
