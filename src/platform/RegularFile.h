#pragma once

#include "platform/Result.h"
#include "platform/UniqueFd.h"

#include <QString>

#include <memory>

class QFile;

// Opening a file that came from a card or from the user for reading. A named pipe waits for a writer and a
// device for its hardware, so the open itself never blocks, and only a regular file is kept open.
namespace RegularFile {

// What an open gave: the descriptor, or why there is none.
struct Opening {
    UniqueFd fd;
    int error = 0;        // errno of a failed open
    bool special = false; // the path names something other than a regular file
};
Opening openDescriptor(const QString &path);

// The open descriptor; a failure names the file ("“NAME” is not a regular file.", or the system's reason).
Result<UniqueFd> open(const QString &path);
// The same as a read-only, unbuffered QFile that owns the descriptor.
Result<std::unique_ptr<QFile>> openFile(const QString &path);

// Whether the path names a regular file (following symbolic links), without opening it.
bool isRegular(const QString &path);
// "“NAME” is not a regular file."
QString notRegularText(const QString &path);

} // namespace RegularFile
