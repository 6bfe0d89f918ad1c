#pragma once

#include "platform/UniqueFd.h"

#include <cstdint>
#include <string>
#include <vector>

// What a later launch sends the running instance over a user-only local socket: a 32-bit big-endian length
// and a QDataStream (Qt 6.0) of a QStringList of absolute paths, then the launch's identity (32 lower-case
// hexadecimal digits), at most 1 MiB; earlier versions send no identity. The instance answers `queued` at
// once when it has the launch waiting for the GUI thread, and `acknowledged` once the paths are taken; a
// launch it lets go (it quits first) gets no answer. The same launch sent again (an answer that did not
// come in time, the launcher's send and then its application's) is taken once, and every send of it is
// answered. Plain C++, so that the `roadloom` command, which merely hands paths over, loads no Qt at all;
// the instance reads the message with QDataStream.
namespace InstanceMessage {

constexpr std::int64_t maxSize = 1 << 20;
// The length ahead of each message's body, big-endian.
constexpr int headerSize = 4;
constexpr int launchSize = 32;
constexpr char acknowledged = '\x06';
constexpr char queued = '\x16';
// Carries the launch's identity from the `roadloom` command to the application it becomes.
constexpr const char *launchVariable = "ROADLOOM_LAUNCH";

// How a hand-over went.
enum class Delivery {
    taken,      // the instance took the paths
    unanswered, // none listens, or it did not answer in time
    dropped,    // the instance had the launch waiting and let it go (it quit first): the paths are not taken
};

// The user's runtime folder (its local 8-bit name), named by a path without links that nobody else can
// make lead elsewhere; empty when there is no folder only this user can write to.
std::string runtimeFolder();
// The socket of the instance that holds the lock file at `lockPath`, in the runtime folder; one for each
// data folder, so that instances of two data folders can both listen. Empty without a runtime folder.
std::string socketPathFor(const std::string &lockPath);
// Command-line arguments (UTF-8) as absolute, clean paths, resolved against the folder `cwd`: empty ones
// are skipped, a local "file:" URL becomes its path, one naming another host is skipped.
std::vector<std::string> absolutePaths(const std::vector<std::string> &arguments, const std::string &cwd);
// The process's working folder, as the paths above want it.
std::string currentFolder();
// The message for UTF-8 paths (invalid sequences read as U+FFFD, as Qt reads them), of the launch
// `launch` (see `launchIdentity`; none: a message as earlier versions send).
std::string encode(const std::vector<std::string> &paths, const std::string &launch = {});
// This launch's identity: the one in `launchVariable`, taken out of the environment, when it holds one, else
// a new random one.
std::string launchIdentity();
// Gives a message to the instance listening at socketPath. Waits up to `timeoutMs` for the first answer; an
// instance that has the launch waiting is waited for as long as it keeps it.
Delivery send(const std::string &socketPath, const std::string &message, int timeoutMs);
// A non-blocking socket listening at socketPath (a path of any length), which only this user may connect
// to; a socket file nobody answers on is replaced. None, with errno set, when an instance answers there
// (EADDRINUSE) or it cannot be made.
UniqueFd listen(const std::string &socketPath);
// Removes the socket file of a listener that stops.
void remove(const std::string &socketPath);

} // namespace InstanceMessage
