#pragma once

#include "platform/InstanceMessage.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThread>

#include <memory>
#include <optional>
#include <string>

class QLocalSocket;
class QSocketNotifier;

// Serves the running instance's socket: a later launch hands the paths it was given to the running one
// over a user-only local socket and exits (which instance runs is decided by the data folder's lock,
// platform/InstanceLock). A message is a 32-bit big-endian length and a QDataStream of a
// QStringList of absolute paths, then the launch's identity (see InstanceMessage), at most 1 MiB; anything
// else is dropped. The socket is served on a thread of its own; the launch is answered once the GUI thread
// has taken its paths, so that a launch whose paths this instance will not open (it quits first) gets no
// answer, and takes over once it is gone. Meanwhile a launch with an identity is told it waits; sent again,
// it is taken once and every send of it answered.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 maxMessageSize = InstanceMessage::maxSize;

    // The socket of the instance holding the lock file at `lockPath`, in the runtime folder.
    static QString socketPathFor(const QString &lockPath);

    explicit SingleInstance(const QString &socketPath, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Becomes the running instance; a socket left by a dead instance is taken over. False when another
    // instance answers on the socket or it cannot be made.
    bool listen();
    bool isListening() const { return m_listener != nullptr; }
    QString socketPath() const { return m_path; }
    // Stops taking paths, also those read but not yet taken: a quitting instance would take them and never
    // open them, while a launch that is refused tries again and takes over once this instance is gone.
    void close();

    // Command-line arguments as absolute paths (a "file:" URL becomes its path).
    static QStringList absolutePaths(const QStringList &arguments);
    // What a message carries: the paths and the launch's identity (empty from earlier versions).
    struct Launch {
        QStringList paths;
        QByteArray identity;
    };
    // The message for the paths of the launch `launch` (none: as earlier versions send), and what a whole
    // message carries (none when it is malformed).
    static QByteArray encode(const QStringList &paths, const std::string &launch = {});
    static std::optional<Launch> read(const QByteArray &message);
    static std::optional<QStringList> decode(const QByteArray &message);
    // What the listener keeps of the launches with an identity, on its own thread.
    struct Launches;

signals:
    // Another launch handed these paths over, in its order.
    void pathsReceived(const QStringList &paths);

private:
    // On the GUI thread: the paths go out, then their launch is answered (every send of it).
    void take(const QStringList &paths, const QByteArray &identity, const QPointer<QLocalSocket> &socket);

    QString m_path;
    QThread m_thread;
    // Used on the listener's thread only; made with the object, so that every listening shares it.
    std::shared_ptr<Launches> m_launches;
    QSocketNotifier *m_listener = nullptr; // lives on m_thread, with the listening socket
};
