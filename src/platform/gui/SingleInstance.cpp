#include "platform/gui/SingleInstance.h"

#include "platform/InstanceMessage.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QHash>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include <sys/socket.h>
#include <unistd.h>

namespace {

Q_LOGGING_CATEGORY(instanceLog, "roadloom.instance")

using InstanceMessage::headerSize;
constexpr char acknowledged = InstanceMessage::acknowledged;

using Deliver = std::function<void(const QStringList &, const QByteArray &, const QPointer<QLocalSocket> &)>;

} // namespace

// The launches with an identity, on the listener's thread: those taken, whose every later send is answered
// at once, and those waiting for the GUI thread, with the connections of their sends.
struct SingleInstance::Launches {
    QSet<QByteArray> taken;
    QHash<QByteArray, QList<QPointer<QLocalSocket>>> waiting;
};

namespace {

void answer(QLocalSocket *socket)
{
    socket->putChar(acknowledged);
    socket->flush();
    socket->disconnectFromServer();
}

// Reads one message from a later launch on the listener's thread; the paths go to `deliver`, which has the
// launch answered once they are taken. A launch sent again is delivered once. A sender that stalls, lies
// about its length or sends garbage is hung up on unanswered.
void serve(QLocalSocket *socket, const Deliver &deliver,
           const std::shared_ptr<SingleInstance::Launches> &launches)
{
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto *stall = new QTimer(socket);
    stall->setSingleShot(true);
    QObject::connect(stall, &QTimer::timeout, socket, [socket] { socket->abort(); });
    stall->start(5000);
    auto buffer = std::make_shared<QByteArray>();
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer, deliver, launches, stall] {
        buffer->append(socket->readAll());
        if (buffer->size() < headerSize)
            return;
        const quint32 length = qFromBigEndian<quint32>(buffer->constData());
        if (length > SingleInstance::maxMessageSize || buffer->size() > headerSize + qint64(length)) {
            qCWarning(instanceLog) << "dropped an oversized or malformed message";
            return socket->abort();
        }
        if (buffer->size() < headerSize + qint64(length))
            return;
        const std::optional<SingleInstance::Launch> launch = SingleInstance::read(*buffer);
        if (!launch) {
            qCWarning(instanceLog) << "dropped a malformed message";
            return socket->abort();
        }
        stall->stop(); // the sender now waits for the answer, as long as the launch waits
        if (launch->identity.isEmpty())
            return deliver(launch->paths, {}, socket);
        if (launches->taken.contains(launch->identity))
            return answer(socket);
        socket->putChar(InstanceMessage::queued);
        socket->flush();
        // Its sender gave up before the message was read (this program was stopped meanwhile) and said the
        // paths were not taken: they are not.
        if (socket->state() != QLocalSocket::ConnectedState)
            return;
        const auto waiting = launches->waiting.find(launch->identity);
        if (waiting != launches->waiting.end())
            return waiting->append(socket);
        launches->waiting.insert(launch->identity, {socket});
        deliver(launch->paths, launch->identity, socket);
    });
}

} // namespace

QString SingleInstance::socketPathFor(const QString &lockPath)
{
    return QFile::decodeName(
        QByteArray::fromStdString(InstanceMessage::socketPathFor(QFile::encodeName(lockPath).toStdString())));
}

SingleInstance::SingleInstance(const QString &socketPath, QObject *parent)
    : QObject(parent), m_path(socketPath), m_launches(std::make_shared<Launches>())
{
    m_thread.setObjectName(QStringLiteral("instance listener"));
}

SingleInstance::~SingleInstance()
{
    close();
}

void SingleInstance::close()
{
    if (!m_listener)
        return;
    // Gone on its own thread, before this object can no longer take what it delivers.
    QMetaObject::invokeMethod(
        m_listener,
        [listener = m_listener] {
            const int fd = int(listener->socket());
            delete listener;
            ::close(fd);
        },
        Qt::BlockingQueuedConnection);
    m_listener = nullptr;
    m_thread.quit();
    m_thread.wait();
    InstanceMessage::remove(QFile::encodeName(m_path).toStdString());
}

void SingleInstance::take(const QStringList &paths, const QByteArray &identity,
                          const QPointer<QLocalSocket> &socket)
{
    // What reached the GUI thread before the launch acts first: a quit asked for while that thread was busy
    // (the keys of a window that did not answer) is decided before the paths are taken.
    QCoreApplication::processEvents();
    // Closed meanwhile (a quit): the launch was not answered, so it waits and takes over once this program
    // is gone.
    if (!m_listener)
        return;
    emit pathsReceived(paths);
    if (m_listener)
        QMetaObject::invokeMethod(
            m_listener,
            [launches = m_launches, identity, socket] {
                if (identity.isEmpty()) {
                    if (socket)
                        answer(socket);
                    return;
                }
                launches->taken.insert(identity);
                for (const QPointer<QLocalSocket> &send : launches->waiting.take(identity))
                    if (send)
                        answer(send);
            },
            Qt::QueuedConnection);
}

QStringList SingleInstance::absolutePaths(const QStringList &arguments)
{
    std::vector<std::string> utf8;
    for (const QString &argument : arguments)
        utf8.push_back(argument.toStdString());
    QStringList paths;
    for (const std::string &path : InstanceMessage::absolutePaths(utf8, InstanceMessage::currentFolder()))
        paths.append(QString::fromStdString(path));
    return paths;
}

QByteArray SingleInstance::encode(const QStringList &paths, const std::string &launch)
{
    std::vector<std::string> utf8;
    for (const QString &path : paths)
        utf8.push_back(path.toStdString());
    const std::string message = InstanceMessage::encode(utf8, launch);
    return QByteArray(message.data(), qsizetype(message.size()));
}

std::optional<QStringList> SingleInstance::decode(const QByteArray &message)
{
    const std::optional<Launch> launch = read(message);
    return launch ? std::optional<QStringList>(launch->paths) : std::nullopt;
}

std::optional<SingleInstance::Launch> SingleInstance::read(const QByteArray &message)
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
    Launch launch;
    stream >> launch.paths;
    if (stream.status() != QDataStream::Ok)
        return std::nullopt;
    launch.identity = body.mid(stream.device()->pos());
    const bool isIdentity = launch.identity.size() == InstanceMessage::launchSize &&
                            std::all_of(launch.identity.cbegin(), launch.identity.cend(), [](char c) {
                                return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                            });
    if (!launch.identity.isEmpty() && !isIdentity)
        return std::nullopt;
    return launch;
}

bool SingleInstance::listen()
{
    if (m_listener)
        return true;
    // Made here rather than with QLocalServer, which cannot listen at a path longer than an address holds.
    UniqueFd fd = InstanceMessage::listen(QFile::encodeName(m_path).toStdString());
    if (!fd) {
        if (errno != EADDRINUSE)
            qCWarning(instanceLog) << "cannot listen at" << m_path << std::strerror(errno);
        return false;
    }
    auto *listener = new QSocketNotifier(fd.release(), QSocketNotifier::Read);
    listener->setEnabled(false);
    listener->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        listener,
        [this, listener] {
            const Deliver deliver = [this](const QStringList &paths, const QByteArray &identity,
                                           const QPointer<QLocalSocket> &socket) {
                // Dropped when this object is gone by the time the GUI thread gets to it.
                QMetaObject::invokeMethod(
                    this, [this, paths, identity, socket] { take(paths, identity, socket); },
                    Qt::QueuedConnection);
            };
            connect(
                listener, &QSocketNotifier::activated, listener, [listener, deliver, launches = m_launches] {
                    for (int connection; (connection = ::accept4(int(listener->socket()), nullptr, nullptr,
                                                                 SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
                        // Owned by the listener, so that none outlives it.
                        auto *socket = new QLocalSocket(listener);
                        if (socket->setSocketDescriptor(connection)) {
                            serve(socket, deliver, launches);
                        } else {
                            delete socket;
                            ::close(connection);
                        }
                    }
                    // Out of descriptors, a connection stays pending and the notifier fires again at once:
                    // rest a moment instead of spinning.
                    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
                        listener->setEnabled(false);
                        QTimer::singleShot(200, listener, [listener] { listener->setEnabled(true); });
                    }
                });
            listener->setEnabled(true);
        },
        Qt::BlockingQueuedConnection);
    m_listener = listener;
    return true;
}
