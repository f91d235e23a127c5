// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder/UFFmpegLog.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

constexpr int LogLineSize = 1024;

struct TLogState {
    std::mutex Lock;
    std::string Program;
    // FFmpeg writes a line in one or more calls; its context prefix, and ours, go before the first.
    int AtLineStart = 1;
};

TLogState& State()
{
    static TLogState state;
    return state;
}

// How many TQuietFFmpegLog live on this thread.
thread_local int QuietDepth = 0;

void LogCallback(void* context, int level, const char* format, va_list arguments)
{
    if (QuietDepth > 0 || level > av_log_get_level())
        return;
    TLogState& state = State();
    const std::lock_guard lock(state.Lock);
    const bool newLine = state.AtLineStart != 0;
    char line[LogLineSize];
    const int needed = av_log_format_line2(context, level, format, arguments, line, sizeof line, &state.AtLineStart);
    std::string text = SanitizedLogText(line);
    // A message longer than the buffer is cut, and still ends its line.
    if (needed >= LogLineSize) {
        text += '\n';
        state.AtLineStart = 1;
    }
    if (text.empty())
        return;
    if (newLine)
        std::fprintf(stderr, "%s: ", state.Program.c_str());
    std::fputs(text.c_str(), stderr);
}

} // namespace

std::string SanitizedLogText(std::string text)
{
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7F)
            c = '?';
    }
    return text;
}

void InstallFFmpegLog(const std::string& program, TFFmpegLogLevel level)
{
    {
        TLogState& state = State();
        const std::lock_guard lock(state.Lock);
        state.Program = program;
    }
    av_log_set_level(level == TFFmpegLogLevel::Everything ? AV_LOG_TRACE : AV_LOG_ERROR);
    av_log_set_callback(LogCallback);
}

TQuietFFmpegLog::TQuietFFmpegLog()
{
    ++QuietDepth;
}

TQuietFFmpegLog::~TQuietFFmpegLog()
{
    --QuietDepth;
}
