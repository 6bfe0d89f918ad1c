#pragma once

#include <QtGlobal>

#include <optional>

// Reads and writes of whole blocks on open files, going on after an interruption by a signal and after a
// short transfer.
namespace FileIO {

// Reads up to `length` bytes at `offset`: fewer only at the end of the file; -1 on an error, with errno
// set. The file's offset is left alone.
qint64 readAt(int fd, char *buffer, qint64 length, qint64 offset);

// Writes all `length` bytes at `offset`, or at the file's offset (which then moves past them) when none
// is given; false on an error, with errno set.
bool writeFully(int fd, const char *buffer, qint64 length, std::optional<qint64> offset = std::nullopt);

} // namespace FileIO
