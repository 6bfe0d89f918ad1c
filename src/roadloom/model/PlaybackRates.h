#pragma once

#include <QLocale>
#include <QString>

#include <array>

// The playback speeds offered by the Speed menu and the transport bar.
namespace PlaybackRates {

inline constexpr std::array<float, 6> all{0.25f, 0.5f, 1.0f, 1.5f, 2.0f, 4.0f};

// "Normal" for 1, otherwise the rate in the locale's digits without trailing zeros and "×" ("0.25×", "2×").
QString label(float rate, const QLocale &locale = QLocale());

} // namespace PlaybackRates
