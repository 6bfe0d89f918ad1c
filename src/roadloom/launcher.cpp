// The `roadloom` command. A later launch only hands its paths to the running instance, so this small
// program, which loads no Qt at all, decides first: it takes the data folder's lock and becomes the full
// application (roadloom-app beside it) with the same arguments and the lock, or hands the paths to the
// lock's holder. A holder that does not answer yet is the application's to wait for.
#include "platform/InstanceLock.h"
#include "platform/InstanceMessage.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// The folder of this executable, from the kernel (argv[0] may be a bare name found on PATH).
std::string ownFolder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    std::string self(path, size_t(length));
    const size_t slash = self.rfind('/');
    return slash == std::string::npos ? std::string() : self.substr(0, slash);
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const std::vector<std::string> paths =
        InstanceMessage::absolutePaths(arguments, InstanceMessage::currentFolder());
    // One try, without waiting: a holder answers a hand-over at once unless it is starting or quitting. The
    // application this command becomes sends the same launch, so that a holder that takes it twice opens
    // its paths once.
    const std::string launch = InstanceMessage::launchIdentity();
    InstanceLock::Claim claim =
        InstanceLock::claim(InstanceLock::fileIn(InstanceLock::dataFolderFromEnvironment()),
                            InstanceMessage::encode(paths, launch), 0);
    if (claim.outcome == InstanceLock::Outcome::handedOver)
        return 0;
    ::setenv(InstanceMessage::launchVariable, launch.c_str(), 1);
    // The application finds the lock among the descriptors it inherits.
    if (claim.outcome == InstanceLock::Outcome::held)
        claim.lock.keepAcrossExec();

    const std::string application = ownFolder() + "/roadloom-app";
    // argv[0] stays "roadloom": the window system names the windows' class after it.
    execv(application.c_str(), argv);
    std::fprintf(stderr, "roadloom: cannot start %s: %s\n", application.c_str(), std::strerror(errno));
    return 127;
}
