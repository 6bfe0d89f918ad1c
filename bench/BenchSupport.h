#pragma once

// Small measures the benchmarks share.

#include <QByteArray>
#include <QFile>

#include <algorithm>

namespace benchsupport {

// The middle value (the upper of the two middles of an even count); 0 for none. Any container of doubles.
template <typename Values> double median(Values values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Kilobytes of a field of /proc/self/status ("VmRSS", "VmHWM"); -1 when it can't be read.
inline qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace benchsupport
