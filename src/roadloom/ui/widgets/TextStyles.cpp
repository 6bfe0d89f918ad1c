#include "roadloom/ui/widgets/TextStyles.h"

#include <QApplication>

#include <cmath>

namespace {

// The application font scaled; sizes relative to a body of 13.
QFont scaled(double size, QFont::Weight weight = QFont::Normal)
{
    QFont font = QApplication::font();
    const double factor = size / 13.0;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else if (font.pixelSize() > 0)
        font.setPixelSize(std::max(1, int(std::lround(font.pixelSize() * factor))));
    font.setWeight(weight);
    return font;
}

} // namespace

QFont TextStyles::body()
{
    return scaled(13);
}
QFont TextStyles::callout()
{
    return scaled(12);
}
QFont TextStyles::subheadline()
{
    return scaled(11);
}
QFont TextStyles::caption()
{
    return scaled(10);
}
QFont TextStyles::caption2()
{
    return scaled(9.5, QFont::Medium);
}
QFont TextStyles::headline()
{
    return scaled(13, QFont::DemiBold);
}
QFont TextStyles::title()
{
    return scaled(22);
}
QFont TextStyles::title2()
{
    return scaled(17);
}
QFont TextStyles::title3()
{
    return scaled(15, QFont::DemiBold);
}
