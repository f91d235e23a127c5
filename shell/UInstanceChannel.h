// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How a second start hands its movie to the instance that holds the single-instance guard: a
// local socket beside the guard's lock file (per user, in $XDG_RUNTIME_DIR), on which the
// running instance listens. The second start sends the movie's absolute path as one line and
// waits for the running one to say it took it.
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

// The socket's path for the guard named name; empty when there is no private lock folder.
QString InstanceSocketPath(const QString& name);

// Hands path to the instance listening for the guard name; true once it answered that it took
// the movie. False at once when nothing listens (no instance, or one too old or not yet ready).
bool SendMovieToRunningInstance(const QString& name, const QString& path);

// Listens for the movies later starts hand over, while it lives. Only the holder of the guard
// may listen: a socket file left by a crashed holder is replaced.
class TInstanceServer : public QObject {
    Q_OBJECT
public:
    explicit TInstanceServer(const QString& name, QObject* parent = nullptr);
    ~TInstanceServer() override;

    bool Listening() const;

signals:
    // A later start named this movie (an absolute path).
    void MovieRequested(const QString& path);

private:
    void Accept();

    std::unique_ptr<QLocalServer> FServer;
};
