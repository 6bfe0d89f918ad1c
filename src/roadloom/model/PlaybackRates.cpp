#include "roadloom/model/PlaybackRates.h"

QString PlaybackRates::label(float rate, const QLocale &locale)
{
    if (rate == 1.0f)
        return QStringLiteral("Normal");
    return locale.toString(double(rate), 'f', QLocale::FloatingPointShortest) + QChar(0x00D7);
}
