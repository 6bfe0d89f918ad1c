#include "roadloom/model/ConfigRowValue.h"

#include "platform/Numbers.h"

#include <algorithm>
#include <cmath>

namespace ConfigRowValue {

namespace {

// More decimals than any double holds; a longer fraction on a card is not worth a longer line.
constexpr int maxDecimals = 64;
// A slider of more positions than this is no longer one a hand can move by a step.
constexpr double maxPositions = 1e6;

bool usable(const ConfigSchema::Kind &kind)
{
    return std::isfinite(kind.lower) && std::isfinite(kind.upper) && std::isfinite(kind.step) &&
           kind.step > 0 && kind.upper >= kind.lower;
}

} // namespace

QString format(double value, const QString &like, double step)
{
    value += 0.0; // never "-0"
    if (const qsizetype dot = like.indexOf(QLatin1Char('.')); dot >= 0)
        return Numbers::fixed(value, int(std::min<qsizetype>(like.size() - dot - 1, maxDecimals)));
    if (std::isfinite(step) && step == std::trunc(step))
        return Numbers::fixed(std::round(value) + 0.0, 0);
    QString text = Numbers::shortest(value);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QStringLiteral(".0");
    return text;
}

int positions(const ConfigSchema::Kind &kind)
{
    if (!usable(kind))
        return 0;
    const double count = std::floor((kind.upper - kind.lower) / kind.step + 1e-9);
    return int(std::clamp(count, 0.0, maxPositions));
}

double valueAt(const ConfigSchema::Kind &kind, int position)
{
    if (!usable(kind))
        return kind.lower;
    return std::min(kind.lower + double(position) * kind.step, kind.upper);
}

int position(const ConfigSchema::Kind &kind, const QString &text)
{
    if (!usable(kind))
        return 0;
    double value = Numbers::parseDouble(text).value_or(kind.lower);
    value = std::min(std::max(value, kind.lower), kind.upper);
    const double k = std::round((value - kind.lower) / kind.step);
    return int(std::clamp(k, 0.0, double(positions(kind))));
}

bool isOn(const QString &text)
{
    return !text.isEmpty() && text != QStringLiteral("0");
}

QString withUnit(const QString &text, const std::optional<QString> &unit)
{
    return unit ? text + QLatin1Char(' ') + *unit : text;
}

} // namespace ConfigRowValue
