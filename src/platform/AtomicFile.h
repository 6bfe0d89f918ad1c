#pragma once

#include "platform/Result.h"
#include "platform/UniqueFd.h"

#include <QByteArray>
#include <QString>

// Replacing a file in one rename, so that a card pulled or full in the middle leaves the old file whole. The
// new bytes go to a temporary file beside it, named after it ("blackbox.cfg.roadloom-Ab3xYz"); one that an
// interrupted save left behind is removed when the file is next opened or saved.
namespace AtomicFile {

// Writes the bytes to the path; the failure names the file.
Result<void> write(const QString &path, const QByteArray &bytes);

// The steps of `write`. The temporary file is held (an flock) from its making until the rename, so that a
// sweep of leftovers, in this process or another, never takes one a save is still writing.
class Save {
public:
    // Makes and holds the temporary file beside `path`, with the permissions of the file it replaces.
    static Result<Save> begin(const QString &path);
    Save(Save &&) noexcept = default;
    Save &operator=(Save &&) = delete;
    // Removes the temporary file unless it took the target's place.
    ~Save();

    // Writes the bytes and flushes them to the disk.
    Result<void> write(const QByteArray &bytes);
    // Puts the temporary file in the target's place.
    Result<void> commit();
    QString temporaryPath() const;

private:
    Save(const QString &name, QByteArray temporary, QByteArray target, UniqueFd fd);
    Failure failure(int error) const;

    QString m_name;
    QByteArray m_temporary;
    QByteArray m_target;
    UniqueFd m_fd;
};

// Removes what saves of `path` left behind: regular files named as a save names its temporary file that no
// save in progress holds. Files where locks are not available are left alone.
void removeLeftovers(const QString &path);

// Whether a file name is that of a temporary file of a save of `fileName`.
bool isTemporaryOf(const QString &name, const QString &fileName);

} // namespace AtomicFile
