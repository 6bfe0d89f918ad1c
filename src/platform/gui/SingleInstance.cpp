#include "platform/gui/SingleInstance.h"

#include "platform/InstanceMessage.h"

#include <QLocalSocket>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>
#include <QtEndian>

#include <optional>

namespace {

Q_LOGGING_CATEGORY(instanceLog, "roadloom.instance")

using InstanceMessage::headerSize;
constexpr char acknowledged = InstanceMessage::acknowledged;

} // namespace

QString SingleInstance::defaultSocketPath()
{
    return InstanceMessage::defaultSocketPath();
}

SingleInstance::SingleInstance(const QString &socketPath, QObject *parent)
    : QObject(parent), m_path(socketPath)
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

SingleInstance::~SingleInstance() = default;

QStringList SingleInstance::absolutePaths(const QStringList &arguments)
{
    return InstanceMessage::absolutePaths(arguments);
}

QByteArray SingleInstance::encode(const QStringList &paths)
{
    return InstanceMessage::encode(paths);
}

std::optional<QStringList> SingleInstance::decode(const QByteArray &message)
{
    return InstanceMessage::decode(message);
}

bool SingleInstance::handOver(const QStringList &paths, int timeoutMs) const
{
    return InstanceMessage::send(m_path, paths, timeoutMs);
}

bool SingleInstance::listen()
{
    if (m_server.isListening())
        return true;
    // Listening replaces a socket file in place, so a live instance must be asked first.
    QLocalSocket probe;
    probe.connectToServer(m_path);
    if (probe.waitForConnected(500))
        return false;
    // A socket file nobody answers on was left by an instance that died.
    QLocalServer::removeServer(m_path);
    if (m_server.listen(m_path))
        return true;
    qCWarning(instanceLog) << "cannot listen at" << m_path << m_server.errorString();
    return false;
}

void SingleInstance::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A sender that stalls is dropped rather than held forever.
        QTimer::singleShot(5000, socket, [socket] { socket->abort(); });
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            if (buffer->size() < headerSize)
                return;
            const quint32 length = qFromBigEndian<quint32>(buffer->constData());
            if (length > maxMessageSize || buffer->size() > headerSize + qint64(length)) {
                qCWarning(instanceLog) << "dropped an oversized or malformed message";
                return socket->abort();
            }
            if (buffer->size() < headerSize + qint64(length))
                return;
            const std::optional<QStringList> paths = decode(*buffer);
            if (!paths) {
                qCWarning(instanceLog) << "dropped a malformed message";
                return socket->abort();
            }
            socket->putChar(acknowledged);
            socket->flush();
            socket->disconnectFromServer();
            emit pathsReceived(*paths);
        });
    }
}
