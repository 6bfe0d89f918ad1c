#include "platform/gui/SingleInstance.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QtEndian>

#include <optional>

namespace {

Q_LOGGING_CATEGORY(instanceLog, "roadloom.instance")

constexpr int headerSize = 4;
constexpr char acknowledged = '\x06';

} // namespace

QString SingleInstance::defaultSocketPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("roadloom.socket"));
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
    QStringList paths;
    for (const QString &argument : arguments) {
        if (argument.isEmpty())
            continue;
        QString path = argument;
        if (argument.startsWith(QLatin1String("file:"))) {
            const QUrl url(argument);
            if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == QLatin1String("localhost")))
                continue;
            path = url.toLocalFile();
        }
        paths.append(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    }
    return paths;
}

QByteArray SingleInstance::encode(const QStringList &paths)
{
    QByteArray body;
    QDataStream stream(&body, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_0);
    stream << paths;
    QByteArray message(headerSize, '\0');
    qToBigEndian<quint32>(quint32(body.size()), message.data());
    return message + body;
}

std::optional<QStringList> SingleInstance::decode(const QByteArray &message)
{
    if (message.size() < headerSize + 4)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(message.constData());
    if (length > maxMessageSize || qsizetype(length) != message.size() - headerSize)
        return std::nullopt;
    const QByteArray body = message.mid(headerSize);
    // Each string takes at least its 4-byte length: a larger count is a lie that would allocate wildly.
    const quint32 count = qFromBigEndian<quint32>(body.constData());
    if (qint64(count) > (body.size() - 4) / 4)
        return std::nullopt;
    QDataStream stream(body);
    stream.setVersion(QDataStream::Qt_6_0);
    QStringList paths;
    stream >> paths;
    if (stream.status() != QDataStream::Ok || !stream.atEnd())
        return std::nullopt;
    return paths;
}

bool SingleInstance::handOver(const QStringList &paths, int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(encode(paths));
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The running instance answers once it has the paths; a dead or hung one never does.
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    char answer = 0;
    return socket.getChar(&answer) && answer == acknowledged;
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
