// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TPictureStage: what happens to a decoded picture before the conversion to the bitmap's rows:
// deinterlacing and tone mapping through a libavfilter graph. The graph is made for the
// properties of the pictures it sees and the settings, and kept while both stay the same.
// Internal to the decoder: it sees FFmpeg types.
#include "decoder/UPictureSettings.h"
#include "framework/FFmpegPtr.h"

#include <cstdint>
#include <cstring>
#include <string>

// A colour code of a picture as the number it is. FFmpeg passes on whatever a file states, and a
// damaged file states codes that no enumerator has, which may not be read as the enum.
template <typename TCode>
int ColourCode(const TCode& field)
{
    static_assert(sizeof(TCode) == sizeof(int));
    int code = 0;
    std::memcpy(&code, &field, sizeof code);
    return code;
}

// The colour matrix (H.273 code) a picture's samples are in: the one it states, else the one
// players assume for pictures that state none: BT.709 for HD (1280 wide or more, or taller than
// 576 lines), BT.601 for the others. Every conversion decides by this one rule, so a movie keeps
// its colours whichever path its pictures take.
int ColourMatrixOf(int statedMatrix, int width, int height);

// Whether a picture's samples use the full range: its range says so, or its format is one of
// the full-range ("J") formats, which say it in their name only.
bool IsFullRangePicture(int range, int format);

// What of a picture decides the filters it goes through.
struct TPictureProperties {
    int Width = 0, Height = 0, Format = -1;
    int Primaries = 2, Transfer = 2, Matrix = 2, Range = 0; // H.273 codes, 2 = unspecified
    bool Interlaced = false, TopFieldFirst = true;
    // The brightest the picture gets, in cd/m²; 0 when the stream does not say.
    int PeakNits = 0;
    bool operator==(const TPictureProperties&) const = default;

    static TPictureProperties Of(const AVFrame& picture);
};

namespace PictureStage {
// Whether a picture, flagged interlaced or not, is deinterlaced under settings.
bool Deinterlaces(bool interlaced, const TPictureSettings& settings);
// picture with the field flags that change nothing under settings made plain (progressive, top
// first): pictures that differ only in those share a graph. Streams flip the flags from picture
// to picture.
TPictureProperties Deciding(TPictureProperties picture, const TPictureSettings& settings);
// The filter chain for such pictures under these settings (libavfilter's graph syntax, from the
// source's output to the sink's input); empty when the picture goes to the conversion as it is.
// deinterlacer names the filter that splits and rebuilds fields.
std::string FilterChain(const TPictureProperties& picture, const TPictureSettings& settings,
                        const std::string& deinterlacer = "bwdif");
// The first filter of chain this FFmpeg does not have; empty when it has them all.
std::string UnknownFilter(const std::string& chain);
} // namespace PictureStage

// One libavfilter graph from a buffer source to a buffer sink, for pictures of one shape.
class TFilterGraph {
public:
    // An AVERROR when the graph cannot be made.
    int Build(const std::string& chain, const TPictureProperties& picture);
    void Reset();
    explicit operator bool() const { return FGraph != nullptr; }
    // Sends picture in (the graph takes it); false when the graph refuses it. Whatever the graph
    // gives back replaces Output().
    bool Push(ffmpeg::FramePtr picture);
    // The last picture the graph gave back, if any; Push clears it first.
    const AVFrame* Output() const { return FOutput.get(); }

private:
    ffmpeg::FilterGraphPtr FGraph;
    AVFilterContext* FSource = nullptr; // owned by FGraph
    AVFilterContext* FSink = nullptr;   // owned by FGraph
    ffmpeg::FramePtr FOutput;
};

class TPictureStage {
public:
    void SetSettings(const TPictureSettings& settings);
    const TPictureSettings& Settings() const { return FSettings; }
    // The picture to convert in place of picture: picture itself when no filter applies or no
    // graph could be made for it, else the filtered one, valid until the next call. Deinterlacing
    // looks at the pictures either side; without one the picture stands in for it, as at the ends
    // of a stream. A picture the colour filters take comes out at width × height when that is
    // smaller, so that a preview costs what its size costs, not what the movie's does.
    const AVFrame& Process(const AVFrame& picture, const AVFrame* previous, const AVFrame* next,
                           int width, int height);
    // Forgets the graphs (not the settings); the next picture makes new ones.
    void Reset();
    // The filter used to deinterlace; tests name one that does not exist.
    void SetDeinterlacer(std::string name);
    // How many times graphs were made for new properties, sizes or settings.
    std::int64_t Builds() const { return FBuilds; }

private:
    void Make(const TPictureProperties& picture, int width, int height);
    const AVFrame* Deinterlaced(const AVFrame& picture, const AVFrame* previous, const AVFrame* next);
    bool PushField(const AVFrame& picture, const AVFrame& shape, bool made);

    TPictureSettings FSettings;
    std::string FDeinterlacer = "bwdif";
    // The chain splits in two graphs: the deinterlacer, which sees three pictures for each one
    // made, and the colour filters, which see only the one made. A chain that could not be made
    // is not tried again until the properties or settings change: both graphs empty while FMade
    // is set.
    TFilterGraph FFields;
    TFilterGraph FColours;
    TPictureProperties FMadeFor;
    int FMadeWidth = 0, FMadeHeight = 0;
    bool FMade = false;
    // The graphs see pictures in the order they are given them, not the movie's: this count
    // keeps their times rising.
    std::int64_t FPushed = 0;
    std::int64_t FBuilds = 0;
};
