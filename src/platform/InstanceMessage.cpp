#include "platform/InstanceMessage.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace InstanceMessage {

namespace {

const char socketName[] = "/roadloom.socket";

// A folder fit for the socket: this user's, and nobody else may write to it.
bool isPrivateFolder(const std::string &folder, bool followLinks)
{
    struct stat info {};
    const int result = followLinks ? ::stat(folder.c_str(), &info) : ::lstat(folder.c_str(), &info);
    return result == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 022) == 0;
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

// UTF-8 to UTF-16 big-endian. Each byte of a malformed sequence (its start up to the byte that breaks
// it) becomes a U+FFFD, as Qt's decoder reads command-line arguments and file names.
std::string utf16BigEndian(const std::string &utf8)
{
    std::string out;
    out.reserve(utf8.size() * 2);
    const auto *bytes = reinterpret_cast<const unsigned char *>(utf8.data());
    const size_t size = utf8.size();
    for (size_t i = 0; i < size;) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            appendUnit(out, lead);
            ++i;
            continue;
        }
        int length = 0;
        std::uint32_t code = 0;
        // The range of the second byte narrows for E0, ED, F0 and F4: no overlong forms, no surrogates,
        // nothing past U+10FFFF.
        unsigned char low = 0x80, high = 0xbf;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
            code = lead & 0x1f;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            code = lead & 0x0f;
            low = lead == 0xe0 ? 0xa0 : 0x80;
            high = lead == 0xed ? 0x9f : 0xbf;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            code = lead & 0x07;
            low = lead == 0xf0 ? 0x90 : 0x80;
            high = lead == 0xf4 ? 0x8f : 0xbf;
        }
        size_t taken = 1;
        bool valid = length > 0;
        for (int k = 1; valid && k < length; ++k) {
            const size_t at = i + size_t(k);
            const unsigned char next = at < size ? bytes[at] : 0;
            if (at >= size || next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xbf)) {
                valid = false;
                break;
            }
            code = (code << 6) | (next & 0x3f);
            ++taken;
        }
        i += taken;
        if (!valid) {
            for (size_t k = 0; k < taken; ++k)
                appendUnit(out, 0xfffd);
        } else if (code >= 0x10000) {
            appendUnit(out, 0xd800 + ((code - 0x10000) >> 10));
            appendUnit(out, 0xdc00 + ((code - 0x10000) & 0x3ff));
        } else {
            appendUnit(out, code);
        }
    }
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
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
        const int high = rest[i] == '%' && i + 2 < rest.size() ? hexValue(rest[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(rest[i + 2]) : -1;
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

} // namespace

std::string defaultSocketPath()
{
    // The desktop's runtime folder, made when missing as Qt makes it; without a fit one, a folder of our own.
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        ::mkdir(runtime, 0700);
        if (isPrivateFolder(runtime, true))
            return runtime + std::string(socketName);
    }
    const std::string perUser = "/run/user/" + std::to_string(::geteuid());
    if (isPrivateFolder(perUser, true))
        return perUser + socketName;
    const char *temporary = std::getenv("TMPDIR");
    std::string own = temporary && temporary[0] == '/' ? temporary : "/tmp";
    own += "/roadloom-runtime-" + std::to_string(::geteuid());
    ::mkdir(own.c_str(), 0700);
    // Not followed: a link placed there by someone else must not take the socket elsewhere.
    return isPrivateFolder(own, false) ? own + socketName : std::string();
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

std::string encode(const std::vector<std::string> &paths)
{
    std::string body;
    appendBigEndian(body, std::uint32_t(paths.size()));
    for (const std::string &path : paths) {
        const std::string text = utf16BigEndian(path);
        appendBigEndian(body, std::uint32_t(text.size()));
        body += text;
    }
    std::string message;
    appendBigEndian(message, std::uint32_t(body.size()));
    return message + body;
}

bool send(const std::string &socketPath, const std::string &message, int timeoutMs)
{
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
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
    for (size_t written = 0; written < message.size();) {
        const ssize_t sent = ::send(fd, message.data() + written, message.size() - written, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        written += size_t(sent);
    }
    // The running instance answers once it has the paths; a dead or hung one never does.
    char answer = 0;
    ssize_t received = 0;
    do
        received = ::recv(fd, &answer, 1, 0);
    while (received < 0 && errno == EINTR);
    return received == 1 && answer == acknowledged;
}

} // namespace InstanceMessage
