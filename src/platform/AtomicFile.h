#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QString>

// Replacing a file in one rename, so that a card pulled or full in the middle leaves the old file whole. The
// new bytes go to a temporary file beside it, named after it ("blackbox.cfg.roadloom-Ab3xYz"); one that an
// interrupted save left behind is removed by the next save of the same file.
namespace AtomicFile {

// Writes the bytes to the path; the failure names the file.
Result<void> write(const QString &path, const QByteArray &bytes);

// Whether a file name is that of a temporary file of a save of `fileName`.
bool isTemporaryOf(const QString &name, const QString &fileName);

} // namespace AtomicFile
