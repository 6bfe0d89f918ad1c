#pragma once

#include <QImage>
#include <QRect>
#include <QRectF>
#include <QString>

class QPrinter;

// Prints one image on one page. The application asks the user through the print dialog; tests print to a
// PDF file.
class ImagePrinter {
public:
    virtual ~ImagePrinter() = default;
    // False when the user cancelled or nothing could be printed.
    virtual bool print(const QImage &image, const QString &jobTitle) = 0;

    // Draws the image on the printer's first page: scaled up or down to fit the page, aspect kept,
    // centred across and at the top. The job is named by the title. False when painting could not start.
    static bool paint(QPrinter &printer, const QImage &image, const QString &jobTitle);
    // Where `paint` puts an image of that size on a page with that printable area.
    static QRectF placement(const QSize &image, const QRect &page);
};
