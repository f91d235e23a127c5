// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/AVIFile.h"
#include "framework/FFmpegPtr.h"
#include "framework/FFmpegRows.h"
#include "framework/StretchDIBits.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <span>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Each call that reads the file (opening, one fetch) must finish within this; a file that would
// keep the demuxer busy longer (damaged, or endlessly long without an index) fails the call.
constexpr auto ReadDeadline = std::chrono::seconds(5);
// Packets of other streams skipped while looking for the next packet of the fetched stream.
constexpr int MaxForeignPackets = 10000;
// The header list is read whole to learn the streams' priorities; real ones are a few KiB.
constexpr std::int64_t MaxHeaderListBytes = 1 << 20;
// A picture larger than this is not a picture this service hands out.
constexpr std::int64_t MaxDIBBytes = std::int64_t{1} << 30;
constexpr int PaletteEntries = 256;

std::uint32_t ReadU32(const std::uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::int32_t Saturate32(std::int64_t value)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

// libavformat does not report the priorities the stream headers carry; they are read here from
// the file's header list. Returns one priority per stream header, in file order (empty when the
// file is not laid out as expected).
std::vector<std::uint16_t> ReadStreamPriorities(const std::string& path)
{
    constexpr FOURCC riff = MakeFourCC('R', 'I', 'F', 'F'), list = MakeFourCC('L', 'I', 'S', 'T'),
                     hdrl = MakeFourCC('h', 'd', 'r', 'l'), strl = MakeFourCC('s', 't', 'r', 'l'),
                     strh = MakeFourCC('s', 't', 'r', 'h');
    constexpr std::size_t priorityOffset = 12; // after the type, the handler and the flags
    std::ifstream in(path, std::ios::binary);
    std::uint8_t head[24] = {};
    if (!in.read(reinterpret_cast<char*>(head), sizeof head) || ReadU32(head) != riff
        || ReadU32(head + 12) != list || ReadU32(head + 20) != hdrl)
        return {};
    const std::int64_t listBytes = std::int64_t{ReadU32(head + 16)} - 4;
    if (listBytes <= 0 || listBytes > MaxHeaderListBytes)
        return {};
    std::vector<std::uint8_t> body(static_cast<std::size_t>(listBytes));
    in.read(reinterpret_cast<char*>(body.data()), listBytes);
    body.resize(static_cast<std::size_t>(in.gcount()));

    std::vector<std::uint16_t> priorities;
    // Chunks are an id, a size and the data padded to an even length.
    auto walk = [](std::span<const std::uint8_t> bytes, auto&& visit) {
        for (std::size_t at = 0; at + 8 <= bytes.size();) {
            const std::uint32_t size = ReadU32(bytes.data() + at + 4);
            const std::size_t end = std::min<std::size_t>(bytes.size(), at + 8 + std::size_t{size});
            visit(ReadU32(bytes.data() + at), bytes.subspan(at + 8, end - at - 8));
            at = end + (size & 1);
        }
    };
    walk(body, [&](FOURCC id, std::span<const std::uint8_t> data) {
        if (id != list || data.size() < 4 || ReadU32(data.data()) != strl)
            return;
        walk(data.subspan(4), [&](FOURCC inner, std::span<const std::uint8_t> header) {
            if (inner == strh && header.size() >= priorityOffset + 2)
                priorities.push_back(static_cast<std::uint16_t>(header[priorityOffset]
                                                                | header[priorityOffset + 1] << 8));
        });
    });
    return priorities;
}

FOURCC StreamType(AVMediaType type)
{
    switch (type) {
    case AVMEDIA_TYPE_VIDEO: return streamtypeVIDEO;
    case AVMEDIA_TYPE_AUDIO: return streamtypeAUDIO;
    case AVMEDIA_TYPE_SUBTITLE: return streamtypeTEXT;
    default: return 0;
    }
}

// One sample that the file holds data for. Samples without data (dropped pictures) have no entry.
struct TSample {
    std::int64_t Timestamp; // the sample's number, in the stream's time base
    bool Key;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// The open file, shared by its handles, its streams and their getters.

struct TFileData {
    std::string Path;
    ffmpeg::InputPtr Format;
    std::vector<std::uint16_t> Priorities; // one per stream, 0 where the header list was unreadable
    // The decoding session that moved the demuxer last; the others seek before they read.
    const void* LastReader = nullptr;
    Clock::time_point Deadline = Clock::time_point::max();

    static int Interrupt(void* opaque)
    {
        return Clock::now() > static_cast<TFileData*>(opaque)->Deadline ? 1 : 0;
    }

    void StartCall() { Deadline = Clock::now() + ReadDeadline; }

    // Opens (or reopens, which puts the demuxer back at the first packet) the file.
    bool OpenInput()
    {
        Format.reset();
        LastReader = nullptr;
        AVFormatContext* context = avformat_alloc_context();
        if (!context)
            return false;
        context->interrupt_callback = {&TFileData::Interrupt, this};
        if (avformat_open_input(&context, Path.c_str(), av_find_input_format("avi"), nullptr) != 0)
            return false; // avformat_open_input frees the context on failure
        Format.reset(context);
        return Format->nb_streams > 0;
    }

    // Only the stream being read is demuxed; the others are skipped without being read out.
    void ReadOnly(int streamIndex)
    {
        for (unsigned i = 0; i < Format->nb_streams; ++i)
            Format->streams[i]->discard = static_cast<int>(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }

    // The next packet of the stream, or false at the end of the file or on a read error.
    bool ReadPacket(int streamIndex, AVPacket* packet)
    {
        for (int foreign = 0; foreign <= MaxForeignPackets; ++foreign) {
            av_packet_unref(packet);
            if (av_read_frame(Format.get(), packet) < 0)
                return false;
            if (packet->stream_index == streamIndex)
                return true;
        }
        return false;
    }
};

// ---------------------------------------------------------------------------------------------
// A stream: its samples and the decoding state that getters share.

struct TStreamData {
    std::shared_ptr<TFileData> File;
    int Index = 0;
    AVRational TimeBase{0, 1};
    std::vector<TSample> Samples; // in timestamp order
    std::vector<std::size_t> KeyBefore; // per sample: the index of the key sample at or before it

    // Decoding state; valid once a getter opened. Frame holds the picture of sample Decoded.
    ffmpeg::CodecContextPtr Codec;
    ffmpeg::FramePtr Frame;
    ffmpeg::FramePtr Received;
    ffmpeg::PacketPtr Packet;
    // Made for pictures of ConverterSource's size and format. swscale's own cache cannot be used:
    // it compares against flags it adjusted itself and rebuilds the converter at every picture.
    ffmpeg::SwsPtr Converter;
    ffmpeg::FramePtr Scratch; // the converter's rows before they are copied into the DIB
    struct TSource {
        int Width = 0, Height = 0, Format = -1;
        bool operator==(const TSource&) const = default;
    } ConverterSource;
    // Timestamp of the packet decoded last, valid while File->LastReader is this; -1 after a seek.
    std::int64_t Decoded = -1;
    // The DIB of the picture of sample DIBSample (-1: none); getters share it until the next fetch.
    std::shared_ptr<std::vector<std::uint8_t>> DIB;
    std::int64_t DIBSample = -1;

    std::int32_t First() const { return Samples.empty() ? 0 : Saturate32(Samples.front().Timestamp); }
    std::int32_t Length() const
    {
        return Samples.empty() ? 0 : Saturate32(Samples.back().Timestamp - Samples.front().Timestamp + 1);
    }

    void LearnSamples();
    bool OpenDecoder();
    std::shared_ptr<std::vector<std::uint8_t>> Fetch(std::int32_t sample);

private:
    bool DecodeUpTo(std::size_t target);
    bool Seek(std::size_t key);
    bool BuildDIB();
};

// The index the demuxer loaded says where every sample and key frame is; a file without one (cut
// short before its index) is read through once instead.
void TStreamData::LearnSamples()
{
    AVStream* stream = File->Format->streams[Index];
    const int entries = avformat_index_get_entries_count(stream);
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        if (entry && entry->timestamp >= 0 && (Samples.empty() || entry->timestamp > Samples.back().Timestamp))
            Samples.push_back({entry->timestamp, (entry->flags & AVINDEX_KEYFRAME) != 0});
    }
    if (Samples.empty()) {
        ffmpeg::PacketPtr packet(av_packet_alloc());
        File->ReadOnly(Index);
        File->LastReader = nullptr;
        while (packet && File->ReadPacket(Index, packet.get())) {
            const std::int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            // Without an index the demuxer calls every packet a key frame; only the first one
            // surely is, so every fetch decodes from there.
            if (pts >= 0 && (Samples.empty() || pts > Samples.back().Timestamp))
                Samples.push_back({pts, Samples.empty()});
        }
    }
    KeyBefore.resize(Samples.size());
    std::size_t key = 0; // a stream that does not start with a key frame is decoded from its start
    for (std::size_t i = 0; i < Samples.size(); ++i) {
        if (Samples[i].Key)
            key = i;
        KeyBefore[i] = key;
    }
}

bool TStreamData::OpenDecoder()
{
    if (Codec)
        return true;
    const AVCodecParameters* parameters = File->Format->streams[Index]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (!decoder || parameters->codec_type != AVMEDIA_TYPE_VIDEO || Samples.empty())
        return false;
    ffmpeg::CodecContextPtr context(avcodec_alloc_context3(decoder));
    if (!context || avcodec_parameters_to_context(context.get(), parameters) < 0)
        return false;
    context->thread_count = 1;
    context->pkt_timebase = TimeBase;
    if (avcodec_open2(context.get(), decoder, nullptr) < 0)
        return false;
    Frame.reset(av_frame_alloc());
    Received.reset(av_frame_alloc());
    Packet.reset(av_packet_alloc());
    if (!Frame || !Received || !Packet)
        return false;
    Codec = std::move(context);
    return true;
}

std::shared_ptr<std::vector<std::uint8_t>> TStreamData::Fetch(std::int32_t sample)
{
    if (Samples.empty() || sample < Samples.front().Timestamp || sample > Samples.back().Timestamp)
        return nullptr;
    // The picture of a sample without data is that of the sample before it.
    const auto after = std::upper_bound(Samples.begin(), Samples.end(), std::int64_t{sample},
                                        [](std::int64_t t, const TSample& s) { return t < s.Timestamp; });
    const auto target = static_cast<std::size_t>(after - Samples.begin() - 1);
    if (DIB && DIBSample == Samples[target].Timestamp)
        return DIB;
    File->StartCall();
    DIBSample = -1;
    if (!DecodeUpTo(target) || !BuildDIB())
        return nullptr;
    DIBSample = Samples[target].Timestamp;
    return DIB;
}

bool TStreamData::DecodeUpTo(std::size_t target)
{
    const std::int64_t wanted = Samples[target].Timestamp;
    const std::size_t key = KeyBefore[target];
    // Reading on from the picture decoded last is exact as long as no key frame lies between
    // it and the target: then it is also the cheaper way.
    const bool readOn = File->LastReader == this && Decoded >= Samples[key].Timestamp && Decoded <= wanted;
    if (readOn && Decoded == wanted)
        return Frame->data[0] != nullptr;
    if (!readOn && !Seek(key))
        return false;
    File->ReadOnly(Index);
    File->LastReader = this;
    for (;;) {
        if (!File->ReadPacket(Index, Packet.get())) {
            Decoded = -1;
            return false;
        }
        const std::int64_t pts = Packet->pts != AV_NOPTS_VALUE ? Packet->pts : Packet->dts;
        // A damaged packet may not decode; the pictures after the next key frame are sound again.
        // An empty packet would tell the decoder that the stream has ended.
        bool got = false;
        if (Packet->size > 0 && avcodec_send_packet(Codec.get(), Packet.get()) >= 0) {
            while (avcodec_receive_frame(Codec.get(), Received.get()) >= 0) {
                av_frame_unref(Frame.get());
                av_frame_move_ref(Frame.get(), Received.get());
                got = true;
            }
        }
        Decoded = pts;
        if (pts == wanted) {
            if (!got)
                Decoded = -1; // an older picture is not the sample's
            return got;
        }
        if (pts == AV_NOPTS_VALUE || pts > wanted) {
            Decoded = -1; // the file holds other packets than its index says
            return false;
        }
    }
}

bool TStreamData::Seek(std::size_t key)
{
    avcodec_flush_buffers(Codec.get());
    av_frame_unref(Frame.get());
    Decoded = -1;
    File->ReadOnly(Index);
    if (av_seek_frame(File->Format.get(), Index, Samples[key].Timestamp, AVSEEK_FLAG_BACKWARD) >= 0)
        return true;
    // Without an index the demuxer cannot seek: start again from the first packet.
    return File->OpenInput();
}

// Palettised pictures stay 8-bit with their palette, rows bottom-up; every other format becomes
// 24-bit BGR.
bool TStreamData::BuildDIB()
{
    const AVFrame& frame = *Frame;
    if (frame.width <= 0 || frame.height <= 0)
        return false;
    const bool palettised = frame.format == AV_PIX_FMT_PAL8;
    const int bits = palettised ? 8 : 24;
    const std::int64_t stride = DIBRowStride(frame.width, bits);
    const std::int64_t colourBytes = palettised ? PaletteEntries * std::int64_t{sizeof(RGBQUAD)} : 0;
    const std::int64_t imageBytes = stride * frame.height;
    const std::int64_t total = std::int64_t{sizeof(BITMAPINFOHEADER)} + colourBytes + imageBytes;
    if (total > MaxDIBBytes)
        return false;
    // A getter still holding the previous picture keeps it; otherwise its memory is reused.
    if (!DIB || DIB.use_count() > 1)
        DIB = std::make_shared<std::vector<std::uint8_t>>();
    DIB->resize(static_cast<std::size_t>(total));

    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = frame.width;
    header.biHeight = frame.height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<std::uint16_t>(bits);
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<std::uint32_t>(imageBytes);
    std::uint8_t* out = DIB->data();
    std::memcpy(out, &header, sizeof header);
    std::uint8_t* pixels = out + sizeof header + colourBytes;
    std::uint8_t* bottomRow = pixels + (frame.height - 1) * stride;

    if (palettised) {
        // FFmpeg's palette entries are 0xAARRGGBB numbers: blue, green, red, alpha in memory.
        auto* table = reinterpret_cast<RGBQUAD*>(out + sizeof header);
        std::memcpy(table, frame.data[1], colourBytes);
        for (int i = 0; i < PaletteEntries; ++i)
            table[i].rgbReserved = 0;
        for (int y = 0; y < frame.height; ++y)
            std::memcpy(bottomRow - y * stride, frame.data[0] + static_cast<std::ptrdiff_t>(y) * frame.linesize[0],
                        static_cast<std::size_t>(frame.width));
        return true;
    }
    const TSource source{frame.width, frame.height, frame.format};
    if (!Converter || !(source == ConverterSource)) {
        ConverterSource = {};
        Converter.reset(sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
                                       frame.width, frame.height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr,
                                       nullptr, nullptr));
        if (!Converter)
            return false;
        ConverterSource = source;
    }
    // Converted pictures are top-down (a negative height says so): swscale writing bottom-up
    // through a negative pitch takes its slow path, at nearly twice the cost.
    header.biHeight = -frame.height;
    std::memcpy(out, &header, sizeof header);
    // DIB rows have no room for the converter's whole blocks: it writes elsewhere and they are copied.
    return ffmpeg::ScaleInto(*Converter, frame.data, frame.linesize, frame.height, pixels, static_cast<int>(stride),
                             frame.width, frame.height, AV_PIX_FMT_BGR24, false, Scratch);
}

// ---------------------------------------------------------------------------------------------
// Handles: each is a reference count over shared data.

struct TAVIFile {
    std::atomic<std::uint32_t> References{1};
    std::shared_ptr<TFileData> Data;
};

struct TAVIStream {
    std::atomic<std::uint32_t> References{1};
    std::shared_ptr<TStreamData> Data;
};

struct TGetFrame {
    std::shared_ptr<TStreamData> Stream;
    std::shared_ptr<std::vector<std::uint8_t>> DIB; // the picture handed out last
};

namespace {

// Hands a new handle to the caller; Release below takes it back.
template <class T>
T* Adopt(std::unique_ptr<T> handle)
{
    return handle.release();
}

template <class T>
std::uint32_t Release(T* handle)
{
    if (!handle)
        return 0;
    const std::uint32_t left = --handle->References;
    if (left == 0)
        std::unique_ptr<T> owner(handle);
    return left;
}

} // namespace

HRESULT AVIFileOpenA(PAVIFILE* file, const char* path, unsigned /*mode*/)
{
    if (!file || !path)
        return AVIERR_BADPARAM;
    *file = nullptr;
    try {
        auto data = std::make_shared<TFileData>();
        data->Path = path;
        data->StartCall();
        if (!data->OpenInput())
            return AVIERR_FILEOPEN;
        data->Priorities = ReadStreamPriorities(data->Path);
        if (data->Priorities.size() != data->Format->nb_streams)
            data->Priorities.assign(data->Format->nb_streams, 0);
        auto handle = std::make_unique<TAVIFile>();
        handle->Data = std::move(data);
        *file = Adopt(std::move(handle));
        return AVIERR_OK;
    } catch (...) {
        return AVIERR_FILEOPEN;
    }
}

HRESULT AVIFileInfoA(PAVIFILE file, AVIFILEINFOA* info, std::int32_t size)
{
    if (!file || !info || size < static_cast<std::int32_t>(sizeof *info))
        return AVIERR_BADPARAM;
    *info = {};
    const AVFormatContext& format = *file->Data->Format;
    info->dwStreams = format.nb_streams;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream& stream = *format.streams[i];
        if (stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
            continue;
        info->dwWidth = static_cast<std::uint32_t>(std::max(0, stream.codecpar->width));
        info->dwHeight = static_cast<std::uint32_t>(std::max(0, stream.codecpar->height));
        info->dwScale = static_cast<std::uint32_t>(std::max(0, stream.time_base.num));
        info->dwRate = static_cast<std::uint32_t>(std::max(0, stream.time_base.den));
        info->dwLength = static_cast<std::uint32_t>(std::max<std::int64_t>(0, stream.nb_frames));
        break;
    }
    std::strcpy(info->szFileType, "AVI");
    return AVIERR_OK;
}

HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, FOURCC streamType, std::int32_t index)
{
    if (!file || !stream)
        return AVIERR_BADPARAM;
    *stream = nullptr;
    const std::shared_ptr<TFileData>& fileData = file->Data;
    try {
        const AVFormatContext& format = *fileData->Format;
        int found = -1;
        for (unsigned i = 0, seen = 0; i < format.nb_streams; ++i) {
            if (streamType != 0 && StreamType(format.streams[i]->codecpar->codec_type) != streamType)
                continue;
            if (static_cast<std::int32_t>(seen++) == index) {
                found = static_cast<int>(i);
                break;
            }
        }
        if (found < 0)
            return AVIERR_NODATA;
        auto data = std::make_shared<TStreamData>();
        data->File = fileData;
        data->Index = found;
        data->TimeBase = format.streams[found]->time_base;
        fileData->StartCall();
        data->LearnSamples();
        auto handle = std::make_unique<TAVIStream>();
        handle->Data = std::move(data);
        *stream = Adopt(std::move(handle));
        return AVIERR_OK;
    } catch (...) {
        return AVIERR_NODATA;
    }
}

HRESULT AVIStreamInfoA(PAVISTREAM stream, AVISTREAMINFOA* info, std::int32_t size)
{
    if (!stream || !info || size < static_cast<std::int32_t>(sizeof *info))
        return AVIERR_BADPARAM;
    *info = {};
    const TStreamData& data = *stream->Data;
    const AVStream& avStream = *data.File->Format->streams[data.Index];
    info->fccType = StreamType(avStream.codecpar->codec_type);
    info->fccHandler = avStream.codecpar->codec_tag;
    info->wPriority = data.File->Priorities[static_cast<std::size_t>(data.Index)];
    info->dwScale = static_cast<std::uint32_t>(std::max(0, data.TimeBase.num));
    info->dwRate = static_cast<std::uint32_t>(std::max(0, data.TimeBase.den));
    info->dwStart = static_cast<std::uint32_t>(std::max(0, data.First()));
    info->dwLength = static_cast<std::uint32_t>(std::max(0, data.Length()));
    info->rcFrame = {0, 0, avStream.codecpar->width, avStream.codecpar->height};
    return AVIERR_OK;
}

std::uint32_t AVIFileRelease(PAVIFILE file)
{
    return Release(file);
}

std::uint32_t AVIStreamRelease(PAVISTREAM stream)
{
    return Release(stream);
}

std::int32_t AVIStreamStart(PAVISTREAM stream)
{
    return stream ? stream->Data->First() : -1;
}

std::int32_t AVIStreamLength(PAVISTREAM stream)
{
    return stream ? stream->Data->Length() : -1;
}

std::int32_t AVIStreamTimeToSample(PAVISTREAM stream, std::int32_t timeMs)
{
    if (!stream)
        return -1;
    const AVRational timeBase = stream->Data->TimeBase;
    if (timeBase.num <= 0 || timeBase.den <= 0)
        return -1;
    return Saturate32(av_rescale_rnd(timeMs, timeBase.den, std::int64_t{timeBase.num} * 1000, AV_ROUND_DOWN));
}

std::int32_t AVIStreamSampleToTime(PAVISTREAM stream, std::int32_t samples)
{
    if (!stream)
        return -1;
    const AVRational timeBase = stream->Data->TimeBase;
    if (timeBase.num <= 0 || timeBase.den <= 0)
        return -1;
    return Saturate32(av_rescale_rnd(samples, std::int64_t{timeBase.num} * 1000, timeBase.den, AV_ROUND_UP));
}

PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM stream, const BITMAPINFOHEADER* wanted)
{
    if (!stream || wanted)
        return nullptr;
    try {
        if (!stream->Data->OpenDecoder())
            return nullptr;
        auto getter = std::make_unique<TGetFrame>();
        getter->Stream = stream->Data;
        return Adopt(std::move(getter));
    } catch (...) {
        return nullptr;
    }
}

const void* AVIStreamGetFrame(PGETFRAME getter, std::int32_t sample)
{
    if (!getter)
        return nullptr;
    try {
        getter->DIB.reset(); // the previous picture is given up before the next is made
        getter->DIB = getter->Stream->Fetch(sample);
        return getter->DIB ? getter->DIB->data() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

HRESULT AVIStreamGetFrameClose(PGETFRAME getter)
{
    if (!getter)
        return AVIERR_BADPARAM;
    std::unique_ptr<TGetFrame> owner(getter);
    return AVIERR_OK;
}
