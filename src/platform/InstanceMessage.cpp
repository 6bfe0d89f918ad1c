#include "platform/InstanceMessage.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <QtEndian>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

} // namespace

QString InstanceMessage::defaultSocketPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("roadloom.socket"));
}

QStringList InstanceMessage::absolutePaths(const QStringList &arguments)
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

QByteArray InstanceMessage::encode(const QStringList &paths)
{
    QByteArray body;
    QDataStream stream(&body, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_0);
    stream << paths;
    QByteArray message(headerSize, '\0');
    qToBigEndian<quint32>(quint32(body.size()), message.data());
    return message + body;
}

std::optional<QStringList> InstanceMessage::decode(const QByteArray &message)
{
    if (message.size() < headerSize + 4)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(message.constData());
    if (length > maxSize || qsizetype(length) != message.size() - headerSize)
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

bool InstanceMessage::send(const QString &socketPath, const QStringList &paths, int timeoutMs)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    if (path.isEmpty() || size_t(path.size()) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    // Bounds the connection (a full backlog), each write and the wait for the answer: a hung instance
    // must not hold the launch.
    const timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return false;
    const QByteArray message = encode(paths);
    for (qsizetype written = 0; written < message.size();) {
        const ssize_t sent =
            ::send(fd, message.constData() + written, size_t(message.size() - written), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        written += sent;
    }
    // The running instance answers once it has the paths; a dead or hung one never does.
    char answer = 0;
    ssize_t received = 0;
    do
        received = ::recv(fd, &answer, 1, 0);
    while (received < 0 && errno == EINTR);
    return received == 1 && answer == acknowledged;
}
