#include "app/RunningInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace vantor {

namespace {

const QByteArray showRequest = "show\n";
const QByteArray shownReply = "shown\n";

QString userId()
{
#ifdef _WIN32
    return qEnvironmentVariable("USERNAME");
#else
    return QString::number(::getuid());
#endif
}

}  // namespace

QString runningInstanceSocket(const std::filesystem::path& dataDir)
{
    std::error_code ec;
    const auto canonical = std::filesystem::weakly_canonical(dataDir, ec);
    const std::u8string folder = (ec ? dataDir : canonical).u8string();
    const QByteArray hash = QCryptographicHash::hash(QByteArray(reinterpret_cast<const char*>(folder.data()),
                                                                static_cast<qsizetype>(folder.size())),
                                                     QCryptographicHash::Sha256)
                                .toHex()
                                .left(16);
    const QString name = QStringLiteral("vantor-%1-%2").arg(userId(), QString::fromLatin1(hash));
#ifdef _WIN32
    return name;
#else
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.startsWith(QLatin1Char('/')) && QDir(runtime).exists())
        return runtime + QLatin1Char('/') + name;
    return name;
#endif
}

bool askRunningInstanceToShow(const std::filesystem::path& dataDir, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(runningInstanceSocket(dataDir));
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(showRequest);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    QByteArray reply;
    while (reply.size() < shownReply.size() && socket.waitForReadyRead(timeoutMs))
        reply += socket.readAll();
    return reply.startsWith(shownReply);
}

RunningInstanceListener::RunningInstanceListener(QObject* parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            // A peer that says nothing, or something else, is dropped; only the request is answered.
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->bytesAvailable() < showRequest.size())
                    return;
                if (socket->read(showRequest.size()) == showRequest) {
                    emit showRequested();
                    socket->write(shownReply);
                    socket->flush();
                }
                socket->disconnectFromServer();
            });
        }
    });
}

bool RunningInstanceListener::listen(const std::filesystem::path& dataDir)
{
    const QString name = runningInstanceSocket(dataDir);
    if (m_server->listen(name))
        return true;
    if (m_server->serverError() != QAbstractSocket::AddressInUseError)
        return false;
    QLocalServer::removeServer(name);
    return m_server->listen(name);
}

}  // namespace vantor
