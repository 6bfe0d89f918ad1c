#pragma once

#include "roadcore/ClipCategory.h"

#include <QColor>
#include <QPalette>

// The colours the views share, worked out from a palette so they read on light and dark windows alike.
// Without a palette: the application's.
namespace Palette {

// Whether the window background is dark.
bool isDark(const QPalette &palette);
bool isDark();

// The category's tint: continuous blue, event red, manual purple, parking teal, motion orange, timelapse
// indigo, other gray.
QColor tint(ClipCategory category, const QPalette &palette);
QColor tint(ClipCategory category);

QColor accent(const QPalette &palette); // the selection colour
QColor accent();
QColor blue(const QPalette &palette);
QColor green(const QPalette &palette);
QColor green();
QColor orange(const QPalette &palette);
QColor orange();
QColor red(const QPalette &palette);
QColor red();
QColor purple(const QPalette &palette);
QColor teal(const QPalette &palette);
QColor indigo(const QPalette &palette);
QColor gray(const QPalette &palette);

// Text of lesser weight and the faintest fill (tracks, wells), as the text colour made transparent.
QColor primaryText(const QPalette &palette);
QColor primaryText();
QColor secondaryText(const QPalette &palette);
QColor secondaryText();
QColor tertiaryText(const QPalette &palette);
QColor tertiaryText();
QColor quaternaryFill(const QPalette &palette);
QColor quaternaryFill();
// Thin lines between areas.
QColor separator(const QPalette &palette);
QColor separator();

} // namespace Palette
