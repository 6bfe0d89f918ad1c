#include "roadloom/ui/widgets/Palette.h"

#include <QApplication>

namespace {

QPalette application()
{
    return QApplication::palette();
}

// One colour in a light and a dark variant; the dark one is brighter, to keep its contrast.
QColor pick(const QPalette &palette, QRgb light, QRgb dark)
{
    return QColor::fromRgb(Palette::isDark(palette) ? dark : light);
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

} // namespace

bool Palette::isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

bool Palette::isDark()
{
    return isDark(application());
}

QColor Palette::tint(ClipCategory category, const QPalette &palette)
{
    switch (category) {
    case ClipCategory::continuous:
        return blue(palette);
    case ClipCategory::event:
        return red(palette);
    case ClipCategory::manual:
        return purple(palette);
    case ClipCategory::parking:
        return teal(palette);
    case ClipCategory::motion:
        return orange(palette);
    case ClipCategory::timelapse:
        return indigo(palette);
    case ClipCategory::other:
        return gray(palette);
    }
    return gray(palette);
}

QColor Palette::tint(ClipCategory category)
{
    return tint(category, application());
}

QColor Palette::accent(const QPalette &palette)
{
    return palette.color(QPalette::Active, QPalette::Highlight);
}
QColor Palette::accent()
{
    return accent(application());
}

QColor Palette::blue(const QPalette &palette)
{
    return pick(palette, 0xff0a6fd6, 0xff3d9bff);
}
QColor Palette::green(const QPalette &palette)
{
    return pick(palette, 0xff248a3d, 0xff30d158);
}
QColor Palette::green()
{
    return green(application());
}
QColor Palette::orange(const QPalette &palette)
{
    return pick(palette, 0xffc75300, 0xffff9f0a);
}
QColor Palette::orange()
{
    return orange(application());
}
QColor Palette::red(const QPalette &palette)
{
    return pick(palette, 0xffd70015, 0xffff453a);
}
QColor Palette::red()
{
    return red(application());
}
QColor Palette::purple(const QPalette &palette)
{
    return pick(palette, 0xff8944ab, 0xffbf5af2);
}
QColor Palette::teal(const QPalette &palette)
{
    return pick(palette, 0xff00829a, 0xff40c8e0);
}
QColor Palette::indigo(const QPalette &palette)
{
    return pick(palette, 0xff3634a3, 0xff7d7aff);
}
QColor Palette::gray(const QPalette &palette)
{
    return pick(palette, 0xff6c6c70, 0xff98989d);
}

QColor Palette::primaryText(const QPalette &palette)
{
    return palette.color(QPalette::Active, QPalette::WindowText);
}
QColor Palette::primaryText()
{
    return primaryText(application());
}
QColor Palette::secondaryText(const QPalette &palette)
{
    return withAlpha(primaryText(palette), 0.62);
}
QColor Palette::secondaryText()
{
    return secondaryText(application());
}
QColor Palette::tertiaryText(const QPalette &palette)
{
    return withAlpha(primaryText(palette), 0.4);
}
QColor Palette::tertiaryText()
{
    return tertiaryText(application());
}
QColor Palette::quaternaryFill(const QPalette &palette)
{
    return withAlpha(primaryText(palette), 0.08);
}
QColor Palette::quaternaryFill()
{
    return quaternaryFill(application());
}
QColor Palette::separator(const QPalette &palette)
{
    return withAlpha(primaryText(palette), 0.15);
}
QColor Palette::separator()
{
    return separator(application());
}
