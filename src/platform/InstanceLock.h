#pragma once

#include "platform/UniqueFd.h"

#include <optional>
#include <string>
#include <string_view>

// One program per data folder: an flock on "roadloom.lock" in it, which the system drops when the holder
// ends however it ends. The holder writes the socket it listens at into the file, so a later launch finds
// it whatever its own runtime folder says, and hands its paths over there. Plain C++, so that the
// `roadloom` command, which loads no Qt, can decide it before it starts the application.
class InstanceLock {
public:
    enum class Outcome {
        held,       // this process holds the folder
        handedOver, // the holder took the paths
        busy,       // another holds it and did not take the paths in time
        unguarded,  // neither the file nor its folder can be locked (no flock on this file system)
    };
    struct Claim;

    // The program's data folder as the launcher sees it: $XDG_DATA_HOME (else ~/.local/share) plus
    // "Roadloom", as Qt's generic data location makes it.
    static std::string dataFolderFromEnvironment();
    static std::string fileIn(const std::string &dataFolder);

    // Takes the lock at `lockPath`, or hands `message` to its holder. A holder that does not listen yet (it
    // is starting) or no longer (it is quitting) is asked again until `waitMs` has passed; each hand-over
    // waits at most `answerMs` for the holder's first answer, and as long as the holder keeps the launch
    // waiting; one that lets it go unanswered (it quits) is waited for `waitMs` again. Folders missing on the
    // way are made. An instance answering at the data folder's socket (InstanceMessage::socketPathFor) takes
    // the message whatever the state of the file, so that none runs beside it.
    static Claim claim(const std::string &lockPath, const std::string &message, int waitMs,
                       int answerMs = 3000);
    // The lock a launcher took and passed on across exec: a descriptor of that file (or of its folder,
    // where the file cannot be opened) this process inherited, holding its lock. Any other inherited
    // descriptor of it is closed.
    static InstanceLock inherited(const std::string &lockPath);

    // The socket named in the lock file's text; none until the holder has written it whole.
    static std::optional<std::string> addressIn(std::string_view text);

    InstanceLock() = default;
    InstanceLock(InstanceLock &&) noexcept = default;
    InstanceLock &operator=(InstanceLock &&other) noexcept;
    ~InstanceLock();

    bool holds() const { return bool(m_fd); }
    int descriptor() const { return m_fd.get(); }
    // Writes where this holder listens, replacing what was there; false where the file cannot be written.
    bool publish(const std::string &socketPath);
    // Lets the lock pass to the program this process execs (it is closed on exec otherwise).
    bool keepAcrossExec();

private:
    explicit InstanceLock(UniqueFd fd) : m_fd(std::move(fd)) {}
    void release();

    UniqueFd m_fd;
};

struct InstanceLock::Claim {
    Outcome outcome = Outcome::busy;
    InstanceLock lock; // holds when the outcome is `held`
    std::string error; // why, when `unguarded`
};
