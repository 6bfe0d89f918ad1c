#include "platform/InstanceMessage.h"

#include "platform/TextCodes.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace InstanceMessage {

namespace {

// A folder fit for the socket: this user's, nobody else may write to it, and nobody else can make its name
// lead elsewhere later. So no part of the path may be a link (one that someone else owns, or that sits in a
// folder others write to, can be re-pointed after this check), and every folder above it is root's or this
// user's and closed to others' writes unless sticky (where they cannot rename what is not theirs).
bool isPrivateFolder(const std::string &folder)
{
    if (folder.empty() || folder.front() != '/')
        return false;
    const uid_t user = ::geteuid();
    UniqueFd current(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat info {};
    for (size_t start = 1; start <= folder.size();) {
        const size_t slash = std::min(folder.find('/', start), folder.size());
        const std::string part = folder.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == ".." || !current || ::fstat(current.get(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            (info.st_uid != 0 && info.st_uid != user) ||
            ((info.st_mode & 022) != 0 && !(info.st_mode & S_ISVTX)))
            return false;
        current.reset(::openat(current.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return current && ::fstat(current.get(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == user &&
           (info.st_mode & 022) == 0;
}

void appendBigEndian(std::string &out, std::uint32_t value)
{
    const char bytes[] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    out.append(bytes, 4);
}

void appendUnit(std::string &out, std::uint32_t unit)
{
    out.push_back(char(unit >> 8));
    out.push_back(char(unit & 0xff));
}

// UTF-8 to UTF-16 big-endian. Each byte of a malformed sequence becomes a U+FFFD, as Qt's decoder reads
// command-line arguments and file names.
std::string utf16BigEndian(const std::string &utf8)
{
    std::string out;
    out.reserve(utf8.size() * 2);
    TextCodes::forEachUtf8(
        reinterpret_cast<const unsigned char *>(utf8.data()), utf8.size(),
        [&out](char32_t code) {
            if (code >= 0x10000) {
                appendUnit(out, 0xd800 + ((code - 0x10000) >> 10));
                appendUnit(out, 0xdc00 + ((code - 0x10000) & 0x3ff));
            } else {
                appendUnit(out, code);
            }
        },
        [&out](size_t bytes) {
            for (size_t k = 0; k < bytes; ++k)
                appendUnit(out, 0xfffd);
        });
    return out;
}

// The local path of a "file:" URL, percent-decoded; nothing for another host's file.
bool localFileOfUrl(const std::string &url, std::string &path)
{
    std::string rest = url.substr(5);
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.compare(0, 2, "//") == 0) {
        const size_t end = rest.find('/', 2);
        std::string host = rest.substr(2, end == std::string::npos ? std::string::npos : end - 2);
        for (char &c : host)
            c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
        if (!host.empty() && host != "localhost")
            return false;
        rest = end == std::string::npos ? std::string() : rest.substr(end);
    }
    path.clear();
    for (size_t i = 0; i < rest.size(); ++i) {
        const int high = rest[i] == '%' && i + 2 < rest.size() ? TextCodes::hexDigit(rest[i + 1]) : -1;
        const int low = high >= 0 ? TextCodes::hexDigit(rest[i + 2]) : -1;
        if (low >= 0) {
            path.push_back(char(high * 16 + low));
            i += 2;
        } else {
            path.push_back(rest[i]);
        }
    }
    return true;
}

// Joins to the folder when relative, then drops empty and "." parts and resolves ".." in place, as
// QDir::cleanPath does with an absolute path.
std::string absoluteCleanPath(const std::string &path, const std::string &cwd)
{
    const std::string whole = path.front() == '/' ? path : cwd + '/' + path;
    std::vector<std::string> parts;
    for (size_t start = 0; start <= whole.size();) {
        size_t end = whole.find('/', start);
        if (end == std::string::npos)
            end = whole.size();
        const std::string part = whole.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string clean;
    for (const std::string &part : parts)
        clean += '/' + part;
    return clean.empty() ? std::string("/") : clean;
}

// An address for the socket at `path`. A path longer than an address holds (a deep runtime folder) is
// reached through `folder`, a descriptor of its folder that must stay open while the address is used.
bool addressOf(const std::string &path, sockaddr_un &address, UniqueFd &folder)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty())
        return false;
    std::string reachable = path;
    if (path.size() >= sizeof address.sun_path) {
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos || slash == 0)
            return false;
        folder.reset(::open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!folder)
            return false;
        reachable = "/proc/self/fd/" + std::to_string(folder.get()) + path.substr(slash);
    }
    if (reachable.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, reachable.data(), reachable.size());
    return true;
}

} // namespace

std::string runtimeFolder()
{
    // The desktop's runtime folder, made when missing as Qt makes it; without a fit one, a folder of our own.
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        ::mkdir(runtime, 0700);
        if (isPrivateFolder(runtime))
            return runtime;
    }
    const std::string perUser = "/run/user/" + std::to_string(::geteuid());
    if (isPrivateFolder(perUser))
        return perUser;
    const char *temporary = std::getenv("TMPDIR");
    std::string own = temporary && temporary[0] == '/' ? temporary : "/tmp";
    own += "/roadloom-runtime-" + std::to_string(::geteuid());
    ::mkdir(own.c_str(), 0700);
    return isPrivateFolder(own) ? own : std::string();
}

std::string socketPathFor(const std::string &lockPath)
{
    const std::string folder = runtimeFolder();
    if (folder.empty())
        return {};
    // FNV-1a: a short stable name; launches find the socket through the lock file, never by this name.
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : lockPath)
        hash = (hash ^ std::uint8_t(c)) * 0x100000001b3u;
    char name[17];
    for (int i = 15; i >= 0; --i, hash >>= 4)
        name[i] = "0123456789abcdef"[hash & 0xf];
    name[16] = '\0';
    return folder + "/roadloom-" + name + ".socket";
}

std::vector<std::string> absolutePaths(const std::vector<std::string> &arguments, const std::string &cwd)
{
    std::vector<std::string> paths;
    for (const std::string &argument : arguments) {
        std::string path = argument;
        if (argument.compare(0, 5, "file:") == 0 && !localFileOfUrl(argument, path))
            continue;
        // A relative path needs the working folder; without one it names nothing for sure.
        if (path.empty() || (path.front() != '/' && cwd.empty()))
            continue;
        paths.push_back(absoluteCleanPath(path, cwd));
    }
    return paths;
}

std::string currentFolder()
{
    std::string folder(256, '\0');
    while (::getcwd(folder.data(), folder.size()) == nullptr) {
        if (errno != ERANGE)
            return {};
        folder.resize(folder.size() * 2);
    }
    folder.resize(std::strlen(folder.c_str()));
    return folder;
}

std::string launchIdentity()
{
    const auto isIdentity = [](const std::string &text) {
        return text.size() == size_t(launchSize) && std::all_of(text.begin(), text.end(), [](char c) {
                   return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
               });
    };
    if (const char *given = std::getenv(launchVariable)) {
        const std::string identity = given;
        ::unsetenv(launchVariable); // the programs this one starts are other launches
        if (isIdentity(identity))
            return identity;
    }
    std::random_device random;
    std::string identity;
    for (int i = 0; i < launchSize; ++i)
        identity.push_back("0123456789abcdef"[random() & 0xf]);
    return identity;
}

std::string encode(const std::vector<std::string> &paths, const std::string &launch)
{
    std::string body;
    appendBigEndian(body, std::uint32_t(paths.size()));
    for (const std::string &path : paths) {
        const std::string text = utf16BigEndian(path);
        appendBigEndian(body, std::uint32_t(text.size()));
        body += text;
    }
    body += launch;
    std::string message;
    appendBigEndian(message, std::uint32_t(body.size()));
    return message + body;
}

Delivery send(const std::string &socketPath, const std::string &message, int timeoutMs)
{
    sockaddr_un address{};
    UniqueFd folder;
    if (!addressOf(socketPath, address, folder))
        return Delivery::unanswered;
    const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket)
        return Delivery::unanswered;
    const int fd = socket.get();
    // Bounds the connection (a full backlog), each write and the wait for the answer: a hung instance
    // must not hold the launch.
    const timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return Delivery::unanswered;
    for (size_t written = 0; written < message.size();) {
        const ssize_t sent = ::send(fd, message.data() + written, message.size() - written, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return Delivery::unanswered;
        written += size_t(sent);
    }
    // The running instance answers once it has the paths; a dead or hung one never does. One whose GUI
    // thread is busy says first that it has the launch waiting: it answers again once it takes the paths,
    // however long that takes, or hangs up unanswered when it quits first.
    bool waiting = false;
    for (;;) {
        char answer = 0;
        ssize_t received = 0;
        do
            received = ::recv(fd, &answer, 1, 0);
        while (received < 0 && errno == EINTR);
        if (received == 1 && answer == acknowledged)
            return Delivery::taken;
        if (received != 1 || answer != queued)
            return waiting ? Delivery::dropped : Delivery::unanswered;
        if (!waiting) {
            waiting = true;
            const timeval unbounded{0, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &unbounded, sizeof unbounded);
        }
    }
}

UniqueFd listen(const std::string &socketPath)
{
    sockaddr_un address{};
    UniqueFd folder;
    if (!addressOf(socketPath, address, folder))
        return {};
    const auto *named = reinterpret_cast<const sockaddr *>(&address);
    // Binding replaces no socket file, so a live instance is asked first: one whose backlog is full
    // (EAGAIN) is live too.
    if (const UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)); probe) {
        if (::connect(probe.get(), named, sizeof address) == 0 || errno == EAGAIN) {
            errno = EADDRINUSE;
            return {};
        }
    }
    // A socket file nobody answers on was left by an instance that died.
    ::unlink(address.sun_path);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd || ::bind(fd.get(), named, sizeof address) != 0)
        return {};
    // The runtime folder is this user's alone already; the socket says so too.
    if (::chmod(address.sun_path, S_IRUSR | S_IWUSR) != 0 || ::listen(fd.get(), SOMAXCONN) != 0) {
        const int error = errno;
        ::unlink(address.sun_path);
        errno = error;
        return {};
    }
    return fd;
}

void remove(const std::string &socketPath)
{
    sockaddr_un address{};
    UniqueFd folder;
    if (addressOf(socketPath, address, folder))
        ::unlink(address.sun_path);
}

} // namespace InstanceMessage
