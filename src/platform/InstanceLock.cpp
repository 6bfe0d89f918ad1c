#include "platform/InstanceLock.h"

#include "platform/InstanceMessage.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The longest path and the newline: a longer text is not ours.
constexpr size_t maximumText = PATH_MAX;

// Makes the folders above the file, as `mkdir -p` would.
void makeParents(const std::string &path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0777);
}

std::string reason(const std::string &what, const std::string &path, int error)
{
    return what + " " + path + ": " + std::strerror(error);
}

std::string folderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, std::max<size_t>(slash, 1));
}

// Something to lock for the data folder. A lock needs no writing, so the file is opened read-only where it
// cannot be written (a read-only folder or file system, a folder in its place), and the data folder itself
// is locked where the file cannot be opened at all. Never blocks, whatever sits at the path.
UniqueFd openLockable(const std::string &lockPath, std::string &error)
{
    UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    if (fd)
        return fd;
    error = reason("cannot open", lockPath, errno);
    fd.reset(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd)
        fd.reset(::open(folderOf(lockPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd;
}

// The address a holder wrote, read through a descriptor of the lock file. A file another user owns names
// no socket of ours: paths must not go where someone else points them.
std::optional<std::string> addressOf(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid())
        return std::nullopt;
    char text[maximumText + 1];
    ssize_t length = 0;
    do
        length = ::pread(fd, text, sizeof text, 0);
    while (length < 0 && errno == EINTR);
    if (length <= 0)
        return std::nullopt;
    return InstanceLock::addressIn(std::string_view(text, size_t(length)));
}

} // namespace

std::string InstanceLock::dataFolderFromEnvironment()
{
    std::string base;
    if (const char *data = std::getenv("XDG_DATA_HOME"); data && data[0]) {
        base = data;
    } else {
        const char *home = std::getenv("HOME");
        base = std::string(home && home[0] ? home : "/") + "/.local/share";
    }
    return base + "/Roadloom";
}

std::string InstanceLock::fileIn(const std::string &dataFolder)
{
    return dataFolder + "/roadloom.lock";
}

InstanceLock::Claim InstanceLock::claim(const std::string &lockPath, const std::string &message, int waitMs,
                                        int answerMs)
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(0, waitMs));
    // A holder that let the launch go after keeping it waiting is quitting: the wait for it starts again.
    const auto handedOver = [&](InstanceMessage::Delivery delivery) {
        if (delivery == InstanceMessage::Delivery::dropped)
            deadline = std::max(deadline, Clock::now() + std::chrono::milliseconds(std::max(0, waitMs)));
        return delivery == InstanceMessage::Delivery::taken;
    };
    makeParents(lockPath);
    // Where a holder listens when its lock file names no socket of ours: the file cannot be written, is
    // another user's, or was deleted or replaced under it.
    std::optional<std::string> folderSocket;
    const auto folderSocketPath = [&]() -> const std::string & {
        if (!folderSocket)
            folderSocket = InstanceMessage::socketPathFor(lockPath);
        return *folderSocket;
    };
    const auto handToFolderSocket = [&] {
        return handedOver(InstanceMessage::send(folderSocketPath(), message, answerMs));
    };
    std::string error;
    UniqueFd fd = openLockable(lockPath, error);
    if (!fd)
        return handToFolderSocket() ? Claim{Outcome::handedOver, {}, {}}
                                    : Claim{Outcome::unguarded, {}, error};
    // A holder that is starting publishes once its application is built: asking often at first keeps a
    // racing launch's wait short, backing off keeps a long wait cheap.
    std::chrono::milliseconds pause(5);
    for (;;) {
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            // A holder whose lock file was deleted under it has a lock of its own, but still answers.
            if (handToFolderSocket())
                return {Outcome::handedOver, {}, {}};
            // The text of a holder that died names a socket nobody serves; a file opened read-only keeps
            // it, and launches then find this holder at the folder's socket.
            [[maybe_unused]] const int emptied = ::ftruncate(fd.get(), 0);
            return {Outcome::held, InstanceLock(std::move(fd)), {}};
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            const int lockError = errno;
            if (handToFolderSocket())
                return {Outcome::handedOver, {}, {}};
            return {Outcome::unguarded, {}, reason("cannot lock", lockPath, lockError)};
        }
        const std::optional<std::string> address = addressOf(fd.get());
        if (address && handedOver(InstanceMessage::send(*address, message, answerMs)))
            return {Outcome::handedOver, {}, {}};
        if ((!address || *address != folderSocketPath()) && handToFolderSocket())
            return {Outcome::handedOver, {}, {}};
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return {Outcome::busy, {}, {}};
        std::this_thread::sleep_for(
            std::min(pause, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

InstanceLock InstanceLock::inherited(const std::string &lockPath)
{
    // The launcher locked the file, or the data folder where it could not open the file at all.
    struct stat file {};
    struct stat folder {};
    const bool fileExists = ::lstat(lockPath.c_str(), &file) == 0;
    const UniqueFd probe(fileExists ? ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)
                                    : -1);
    const bool folderLocked = !probe && ::stat(folderOf(lockPath).c_str(), &folder) == 0;
    if (!fileExists && !folderLocked)
        return {};
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return {};
    UniqueFd found;
    while (const dirent *entry = ::readdir(dir)) {
        char *end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        struct stat info {};
        if (end == entry->d_name || *end || fd == ::dirfd(dir) || fd == probe.get() ||
            ::fstat(int(fd), &info) != 0)
            continue;
        const bool ofFile = fileExists && info.st_dev == file.st_dev && info.st_ino == file.st_ino;
        const bool ofFolder = folderLocked && info.st_dev == folder.st_dev && info.st_ino == folder.st_ino;
        if (!ofFile && !ofFolder)
            continue;
        // Asking again for a lock this very descriptor holds succeeds; one that does not hold it is of no
        // use, and must not pass on to our own children.
        if (!found && ::flock(int(fd), LOCK_EX | LOCK_NB) == 0 && ::fcntl(int(fd), F_SETFD, FD_CLOEXEC) == 0)
            found.reset(int(fd));
        else
            ::close(int(fd));
    }
    ::closedir(dir);
    return InstanceLock(std::move(found));
}

std::optional<std::string> InstanceLock::addressIn(std::string_view text)
{
    // Written in one piece ending in a newline: a text read half-written has none at its end.
    if (text.size() < 2 || text.size() > maximumText || text.front() != '/' || text.back() != '\n')
        return std::nullopt;
    text.remove_suffix(1);
    if (text.find('\n') != std::string_view::npos || text.find('\0') != std::string_view::npos)
        return std::nullopt;
    return std::string(text);
}

InstanceLock &InstanceLock::operator=(InstanceLock &&other) noexcept
{
    if (this != &other) {
        release();
        m_fd = std::move(other.m_fd);
    }
    return *this;
}

InstanceLock::~InstanceLock()
{
    release();
}

void InstanceLock::release()
{
    if (m_fd) {
        // Nobody listens at the address once the holder is gone; should this fail, the next holder empties
        // the file as it takes the lock.
        [[maybe_unused]] const int emptied = ::ftruncate(m_fd.get(), 0);
    }
    m_fd.reset();
}

bool InstanceLock::publish(const std::string &socketPath)
{
    if (!m_fd || socketPath.empty() || socketPath.size() + 1 > maximumText)
        return false;
    const std::string text = socketPath + '\n';
    ssize_t written = 0;
    do
        written = ::pwrite(m_fd.get(), text.data(), text.size(), 0);
    while (written < 0 && errno == EINTR);
    // Cut after writing: the end of a longer text written before goes.
    return written == ssize_t(text.size()) && ::ftruncate(m_fd.get(), off_t(text.size())) == 0;
}

bool InstanceLock::keepAcrossExec()
{
    return m_fd && ::fcntl(m_fd.get(), F_SETFD, 0) == 0;
}
