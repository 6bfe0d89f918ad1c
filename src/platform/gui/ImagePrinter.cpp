#include "platform/gui/ImagePrinter.h"

#include <QPainter>
#include <QPrinter>

QRectF ImagePrinter::placement(const QSize &image, const QRect &page)
{
    if (image.isEmpty() || page.isEmpty())
        return {};
    const QSizeF fitted = QSizeF(image).scaled(QSizeF(page.size()), Qt::KeepAspectRatio);
    return {page.left() + (page.width() - fitted.width()) / 2.0, double(page.top()), fitted.width(),
            fitted.height()};
}

bool ImagePrinter::paint(QPrinter &printer, const QImage &image, const QString &jobTitle)
{
    if (image.isNull())
        return false;
    printer.setDocName(jobTitle);
    printer.setCreator(QStringLiteral("Roadloom"));
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(placement(image.size(), painter.viewport()), image);
    return painter.end();
}
