#pragma once

#include <QString>

// Shows a file selected in the user's file manager. Returns at once; the application asks the desktop,
// tests record the request.
class FileRevealer {
public:
    virtual ~FileRevealer() = default;
    virtual void reveal(const QString &path) = 0;
};
