#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// Numbers as they travel in files: written and read without the user's locale.
namespace Numbers {

// "%.Nf" without the locale: a German desktop must still write "48.1234567".
QString fixed(double value, int decimals);
// The shortest text that reads back as the same double ("%g"-like but exact).
QString shortest(double value);

// Whole decimal text only: optional sign, digits with an optional fraction, an optional exponent. Finite
// results only; "nan", "inf", hex and surrounding spaces are not numbers.
std::optional<double> parseDouble(QStringView text);
// Optional sign and decimal digits, within the range of a 64-bit integer.
std::optional<qint64> parseInt(QStringView text);

} // namespace Numbers
