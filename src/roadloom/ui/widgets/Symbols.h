#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>

// Symbols by name ("exclamationmark.triangle.fill"), drawn from single-colour SVGs in one tint. Each image
// is kept once made, so painting a row never reads an SVG; a name without its own image shows a fallback.
// GUI thread only.
namespace Symbols {

// An icon for buttons, menus and toolbars. Without a colour it takes the palette's button text colour when
// drawn (so it follows a change of palette); the disabled mode is faded.
QIcon icon(const QString &name, const QColor &color = QColor());
// The symbol fitted into `size` (device-independent pixels), centred, tinted, for a screen of `dpr`.
QPixmap pixmap(const QString &name, const QSize &size, const QColor &color, qreal dpr = 1.0);
QPixmap pixmap(const QString &name, int extent, const QColor &color, qreal dpr = 1.0);

// Whether the name has an image of its own.
bool has(const QString &name);
// Every name with an image, sorted.
QStringList names();

} // namespace Symbols
