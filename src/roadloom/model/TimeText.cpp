#include "roadloom/model/TimeText.h"

#include <cmath>
#include <cstdint>
#include <limits>

QString timeString(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return QStringLiteral("0:00");
    // Beyond a signed 64-bit count of seconds the whole part saturates; no recording is that long.
    constexpr double limit = 9223372036854775808.0; // 2^63
    const qint64 s = seconds >= limit ? std::numeric_limits<qint64>::max() : static_cast<qint64>(seconds);
    if (s < 3600) {
        const qint64 tenths = static_cast<qint64>((seconds - static_cast<double>(s)) * 10.0);
        return QStringLiteral("%1:%2.%3").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0')).arg(tenths);
    }
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}
