#pragma once

#include "platform/Result.h"

#include <QString>
#include <QStringList>

// The user's Trash (the freedesktop one): files moved there can be put back by the file manager.
class Trash {
public:
    virtual ~Trash() = default;
    // Moves the files to the Trash one after the other; stops at the first that cannot go, with a text that
    // names it and says why.
    virtual Result<void> moveToTrash(const QStringList &paths) = 0;

    static Trash &system();
    // What the user reads when `path` could not be moved.
    static QString failureText(const QString &path);
};
