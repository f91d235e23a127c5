// SPDX-License-Identifier: GPL-3.0-or-later
// FFmpeg's log through the program's handler: a filter graph built on one thread holds back
// that thread's complaints only, and never the level every thread shares.
#include "decoder/UFFmpegLog.h"
#include "decoder/UPictureConverter.h"
#include "decoder/UPictureStage.h"
#include "framework/FFmpegPtr.h"
#include "framework/TBitmap.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

// What the program's handler writes to stderr while it lives, and the log set back afterwards.
class TCapturedLog {
public:
    TCapturedLog() : FFile(FFolder.filePath(QStringLiteral("stderr")))
    {
        std::fflush(stderr);
        FSaved = ::dup(STDERR_FILENO);
        const int file = ::open(QFile::encodeName(FFile).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(file, STDERR_FILENO);
        ::close(file);
        FLevel = av_log_get_level();
        InstallFFmpegLog("log-test", TFFmpegLogLevel::ErrorsOnly);
    }
    ~TCapturedLog() { Restore(); }

    // Everything written, once the log is set back.
    QString Text()
    {
        Restore();
        QFile file(FFile);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    void Restore()
    {
        if (FSaved < 0)
            return;
        std::fflush(stderr);
        ::dup2(FSaved, STDERR_FILENO);
        ::close(FSaved);
        FSaved = -1;
        av_log_set_callback(av_log_default_callback);
        av_log_set_level(FLevel);
    }

    QTemporaryDir FFolder;
    QString FFile;
    int FSaved = -1;
    int FLevel = AV_LOG_INFO;
};

ffmpeg::FramePtr GreyFrame()
{
    ffmpeg::FramePtr frame(av_frame_alloc());
    frame->width = 64;
    frame->height = 48;
    frame->format = AV_PIX_FMT_YUV420P;
    av_frame_get_buffer(frame.get(), 0);
    for (int plane = 0; plane < 3; ++plane)
        for (int y = 0; y < (plane ? 24 : 48); ++y)
            std::memset(frame->data[plane] + y * frame->linesize[plane], 128, plane ? 32 : 64);
    return frame;
}

} // namespace

TEST(FFmpegLog, AQuietScopeHoldsBackItsOwnThreadOnly)
{
    TCapturedLog log;
    {
        const TQuietFFmpegLog quiet;
        av_log(nullptr, AV_LOG_ERROR, "from the quiet thread\n");
        std::thread([] { av_log(nullptr, AV_LOG_ERROR, "from another thread\n"); }).join();
    }
    av_log(nullptr, AV_LOG_ERROR, "after the scope\n");
    const QString text = log.Text();
    EXPECT_FALSE(text.contains(QStringLiteral("from the quiet thread"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("log-test: from another thread"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("log-test: after the scope"))) << text.toStdString();
}

// Graphs that fail to build (a filter given options it does not have), built on one thread
// while another logs errors: the other thread's errors all come out, the graphs' own complaints
// do not, each failed stage says so in its one line, and the level is the one set.
TEST(FFmpegLog, BuildingGraphsSilencesNoOtherThreadAndLeavesTheLevel)
{
    constexpr int Builds = 200;
    const ffmpeg::FramePtr picture = GreyFrame();
    int sent = 0;
    QString text;
    {
        TCapturedLog log;
        std::atomic<bool> building = true;
        std::thread builder([&] {
            for (int i = 0; i < Builds; ++i) {
                TPictureConverter converter;
                converter.Stage().SetSettings({TDeinterlace::Always, false});
                converter.Stage().SetDeinterlacer("hflip");
                TBitmap bitmap;
                converter.ConvertInto(*picture, picture->width, picture->height, bitmap);
            }
            building = false;
        });
        while (building) {
            av_log(nullptr, AV_LOG_ERROR, "heard %d\n", sent++);
            std::this_thread::yield();
        }
        builder.join();
        EXPECT_EQ(av_log_get_level(), AV_LOG_ERROR);
        text = log.Text();
    }
    EXPECT_EQ(text.count(QStringLiteral("log-test: heard ")), sent);
    EXPECT_EQ(text.count(QStringLiteral("picture stage: no filter graph")), Builds) << text.left(2000).toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Option 'mode' not found"))) << text.left(2000).toStdString();
}

TEST(FFmpegLog, UnknownFiltersAreFoundBeforeTheParser)
{
    const struct {
        const char* Chain;
        const char* Unknown;
    } cases[] = {
        {"", ""},
        {"bwdif=mode=send_frame", ""},
        {"no_such_deinterlacer=mode=send_frame:parity=tff,format=gbrp", "no_such_deinterlacer"},
        {"format=gbrp,zscale=t=bt709,nonesuch", "nonesuch"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PictureStage::UnknownFilter(c.Chain), c.Unknown) << c.Chain;
}

// Whatever handler is installed, a build leaves the level every thread shares as it is: the
// level seen with each of the build's own messages is the one set.
TEST(FFmpegLog, BuildingAGraphNeverChangesTheLevel)
{
    static std::vector<int> levels;
    levels.clear();
    const int before = av_log_get_level();
    av_log_set_level(AV_LOG_ERROR);
    av_log_set_callback([](void*, int, const char*, va_list) { levels.push_back(av_log_get_level()); });
    const ffmpeg::FramePtr picture = GreyFrame();
    TPictureConverter converter;
    converter.Stage().SetSettings({TDeinterlace::Always, false});
    converter.Stage().SetDeinterlacer("hflip");
    TBitmap bitmap;
    converter.ConvertInto(*picture, picture->width, picture->height, bitmap);
    av_log_set_callback(av_log_default_callback);
    av_log_set_level(before);
    ASSERT_FALSE(levels.empty());
    for (const int level : levels)
        EXPECT_EQ(level, AV_LOG_ERROR);
}
