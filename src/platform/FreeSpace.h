#pragma once

#include <QString>

#include <optional>

// The free space of the volume that holds a path: what the user may still write there.
class FreeSpace {
public:
    virtual ~FreeSpace() = default;
    // Bytes available to the user on the volume of `path`; none when that cannot be read.
    virtual std::optional<qint64> bytesAvailable(const QString &path) const = 0;

    // The answer of the mounted volume itself.
    static const FreeSpace &system();
};
