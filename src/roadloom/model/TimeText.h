#pragma once

#include <QString>

// A playback position or duration as every view shows it: "m:ss.d" under an hour, "h:mm:ss" from an hour,
// "0:00" for a negative or non-finite time. Digits are truncated, never rounded; locale-independent.
QString timeString(double seconds);
