// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/UInstanceChannel.h"

#include "shell/UExecuteCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

constexpr QLatin1String SocketSuffix(".socket");
// Long enough for a busy window thread to answer, short enough that a hung one does not keep
// the second start for long.
constexpr int ConnectTimeoutMs = 1000;
constexpr int AnswerTimeoutMs = 5000;
// No path is longer; a sender that writes more is not a Framora start.
constexpr qint64 MaxRequestBytes = 64 * 1024;
const QByteArray TakenAnswer = QByteArrayLiteral("ok\n");

} // namespace

QString InstanceSocketPath(const QString& name)
{
    const QString directory = GuardLockDirectory();
    if (directory.isEmpty())
        return {};
    QString fileName = name;
    fileName.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QDir(directory).filePath(fileName + SocketSuffix);
}

bool SendMovieToRunningInstance(const QString& name, const QString& path)
{
    const QString socketPath = InstanceSocketPath(name);
    if (socketPath.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(ConnectTimeoutMs))
        return false;
    socket.write(QFileInfo(path).absoluteFilePath().toUtf8() + '\n');
    if (!socket.waitForBytesWritten(AnswerTimeoutMs))
        return false;
    QByteArray answer;
    while (answer.size() < TakenAnswer.size() && socket.waitForReadyRead(AnswerTimeoutMs))
        answer += socket.readAll();
    return answer.startsWith(TakenAnswer);
}

TInstanceServer::TInstanceServer(const QString& name, QObject* parent)
    : QObject(parent), FServer(std::make_unique<QLocalServer>())
{
    const QString socketPath = InstanceSocketPath(name);
    if (socketPath.isEmpty())
        return;
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath);
    if (!FServer->listen(socketPath))
        return;
    connect(FServer.get(), &QLocalServer::newConnection, this, &TInstanceServer::Accept);
}

TInstanceServer::~TInstanceServer() = default;

bool TInstanceServer::Listening() const
{
    return FServer->isListening();
}

void TInstanceServer::Accept()
{
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > MaxRequestBytes)
                    socket->abort();
                return;
            }
            const QString path = QString::fromUtf8(socket->readLine(MaxRequestBytes)).chopped(1);
            socket->write(TakenAnswer);
            socket->flush();
            socket->disconnectFromServer();
            if (!path.isEmpty())
                emit MovieRequested(path);
        });
    }
}
