// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// FFmpeg's own log, routed through one handler of ours: by default only errors reach stderr, one
// line each, prefixed with the program's name; verbose lets everything through. Library chatter
// (stream probing notes, decoder warnings about damaged pictures) stays out of a normal run.
#include <string>

enum class TFFmpegLogLevel { ErrorsOnly, Everything };

// Routes FFmpeg's messages to stderr as "<program>: <message>". Call once, early in main.
void InstallFFmpegLog(const std::string& program, TFFmpegLogLevel level);

// Movie files carry text (titles, tags) that FFmpeg may quote: control characters other than
// the line break and tab become '?', so a file cannot drive the terminal it is logged to.
std::string SanitizedLogText(std::string text);

// While one lives, FFmpeg's messages from this thread are dropped by the handler above; other
// threads log as before, and the level stays as it is. For work whose complaints would only
// repeat the one line its caller writes (building a filter graph). Nests.
class TQuietFFmpegLog {
public:
    TQuietFFmpegLog();
    ~TQuietFFmpegLog();
    TQuietFFmpegLog(const TQuietFFmpegLog&) = delete;
    TQuietFFmpegLog& operator=(const TQuietFFmpegLog&) = delete;
};
