// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// framora-grab's command line:
//   framora-grab [options] MOVIE OUTDIR TIME [TIME ...]    the picture at each time, one file each
//   framora-grab --fast MOVIE OUTDIR TIME [TIME ...]       the same along the window's playback path
//   framora-grab [options] --sheet COLUMNSxROWS MOVIE OUT  a contact sheet
//   framora-grab [options] --scenes [THRESHOLD] MOVIE OUTDIR a picture of every scene
//   framora-grab [options] --every SECONDS MOVIE OUTDIR   a picture every SECONDS
//   --sharpest SECONDS with times or --scenes: the sharpest picture within SECONDS either way
#include "decoder/UPictureSettings.h"
#include "shell/UCommandLine.h"
#include "grab/UContactSheet.h"

#include <cstdint>
#include <optional>
#include <vector>

enum class TGrabFormat { Bmp, Png, Jpg, Webp, Tiff };

// "bmp", "png", "jpg" or "jpeg", in any case.
std::optional<TGrabFormat> GrabFormatNamed(const QString& name);
QString GrabFormatExtension(TGrabFormat format);

// A time as typed, in milliseconds from the movie's start: whole milliseconds ("2000"), seconds
// with their unit ("83.5s") or a clock reading [HH:]MM:SS[.mmm] ("01:23.5", "1:02:03.250"; the
// leading field may run past 59). Fractions go to the millisecond. None for anything else:
// signs, spaces, a fraction without its unit, a field past 59, more than int32 milliseconds.
std::optional<std::int32_t> ParseGrabTime(const QString& text);

struct TGrabOptions : TCommandLineResult {
    QString Movie;
    // --format as given; pictures default to BMP, a sheet to what its file name ends with.
    std::optional<TGrabFormat> Format;
    // Pictures: one file per time, OutDir/<ms>.<extension>.
    QString OutDir;
    std::vector<std::int32_t> Times;
    // Each picture is the last one shown at or before its time unless --fast asks for the
    // window's playback path (a key frame near the time, or a short read on), which is quicker
    // on long GOPs but may land seconds away. --exact names the default for older scripts.
    bool Fast = false;
    // Sheet mode when set.
    std::optional<ContactSheet::TGrid> Sheet;
    QString SheetFile;
    // Automatic capture instead of times (one of them at most): a picture of each scene, found
    // with this threshold, or one every EveryMs.
    std::optional<double> SceneThreshold;
    std::optional<std::int32_t> EveryMs;
    // --sharpest SECONDS: instead of each time's picture (or each scene's still), the sharpest
    // within this many milliseconds either way, in the same scene.
    std::optional<std::int32_t> SharpestRangeMs;
    // --coded: pictures as the movie codes them; by default as it is meant to be shown (upright,
    // at the display aspect), the pictures the window captures.
    bool Coded = false;
    // --deinterlace auto|on|off and --tonemap on|off; the window's defaults.
    TPictureSettings Pictures;
    // --subtitles N: the movie's N-th subtitle stream (from 1) drawn into the pictures; none by
    // default and with "off". --sub-file FILE: a subtitle file instead (times from the movie's
    // start).
    std::optional<int> SubtitleStream;
    QString SubtitleFile;

    TGrabFormat PictureFormat() const { return Format.value_or(TGrabFormat::Bmp); }
    // The sheet's format: --format, else the file name's extension, else PNG.
    TGrabFormat SheetFormat() const;
};

TGrabOptions ParseGrabCommandLine(const QStringList& arguments);
