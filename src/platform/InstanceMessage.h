#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What a later launch sends the running instance over a user-only local socket: a 32-bit big-endian length
// and a QDataStream of a QStringList of absolute paths, at most 1 MiB; the instance answers one byte once
// it has them. QtCore only, so that a launch which merely hands paths over loads nothing else.
namespace InstanceMessage {

constexpr qint64 maxSize = 1 << 20;
// The length ahead of each message's body, big-endian.
constexpr int headerSize = 4;
constexpr char acknowledged = '\x06';

// The socket of the user's instance, in the runtime folder.
QString defaultSocketPath();
// Command-line arguments as absolute paths (a "file:" URL becomes its path).
QStringList absolutePaths(const QStringList &arguments);
// The message for the paths, and the paths of a whole message (none when it is malformed).
QByteArray encode(const QStringList &paths);
std::optional<QStringList> decode(const QByteArray &message);
// Gives the paths to the instance listening at socketPath; true once it has taken them, false when none
// listens or it does not answer within the timeout.
bool send(const QString &socketPath, const QStringList &paths, int timeoutMs);

} // namespace InstanceMessage
