// SPDX-License-Identifier: GPL-3.0-or-later
// A second start hands its movie to the running instance over the socket beside the guard.
#include "shell/LockFolder.h"
#include "shell/UInstanceChannel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

const QString ChannelName = QStringLiteral("channel-test");

struct InstanceChannel : TLockFolder {
    // Sends path from a thread of its own (as a second process would), while this thread runs
    // the server's events; answers whether the sender was told the movie was taken.
    bool SendWhileServing(const QString& path)
    {
        std::atomic<bool> taken = false;
        std::atomic<bool> done = false;
        std::thread sender([&] {
            taken = SendMovieToRunningInstance(ChannelName, path);
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        sender.join();
        return taken;
    }
};

} // namespace

TEST_F(InstanceChannel, TheRunningInstanceGetsTheAbsolutePathAndSaysSo)
{
    TInstanceServer server(ChannelName);
    ASSERT_TRUE(server.Listening());
    QSignalSpy requested(&server, &TInstanceServer::MovieRequested);
    const QString movie = QStringLiteral("/movies/夏 の 旅.mp4");
    EXPECT_TRUE(SendWhileServing(movie));
    ASSERT_EQ(requested.size(), 1);
    EXPECT_EQ(requested[0][0].toString(), movie);

    // A relative name is made absolute by the sender: the running one has another folder.
    EXPECT_TRUE(SendWhileServing(QStringLiteral("clip.mkv")));
    ASSERT_EQ(requested.size(), 2);
    EXPECT_EQ(requested[1][0].toString(), QDir::current().absoluteFilePath(QStringLiteral("clip.mkv")));
}

TEST_F(InstanceChannel, NothingListeningIsNoInstanceAndAStaleSocketIsReplaced)
{
    EXPECT_FALSE(SendMovieToRunningInstance(ChannelName, QStringLiteral("/m.mp4")));
    // A socket file left by a holder that crashed.
    QFile stale(InstanceSocketPath(ChannelName));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    EXPECT_FALSE(SendMovieToRunningInstance(ChannelName, QStringLiteral("/m.mp4")));
    TInstanceServer server(ChannelName);
    EXPECT_TRUE(server.Listening());
    EXPECT_TRUE(SendWhileServing(QStringLiteral("/m.mp4")));
}
