#include "roadloom/model/PrintReport.h"

#include "roadloom/model/Formats.h"
#include "roadloom/model/TimeText.h"

#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

QFont font(double pixels, QFont::Weight weight = QFont::Normal)
{
    QFont f;
    f.setPixelSize(std::max(1, int(std::lround(pixels))));
    f.setWeight(weight);
    return f;
}

const QColor primaryColor(0x1d, 0x1d, 0x1f);
const QColor secondaryColor(0x6e, 0x6e, 0x73);

// Height of an image fitted to a width, and at most `maxHeight` tall, aspect kept.
QSizeF fitted(const QImage &image, double width, double maxHeight)
{
    if (image.isNull())
        return {0, 0};
    return QSizeF(image.size()).scaled(QSizeF(width, maxHeight), Qt::KeepAspectRatio);
}

// A video frame is never see-through, but a 32-bit layout's fourth byte is often padding (zero) that a
// painter takes for alpha: the page gets the frame with that byte set.
QImage opaque(const QImage &frame)
{
    if (frame.isNull())
        return frame;
    QImage image = frame.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] |= 0xff000000u;
    }
    return image;
}

} // namespace

std::optional<QDateTime> PrintReport::recorded() const
{
    if (fix && fix->timestamp)
        return fix->timestamp;
    if (clip.date)
        return addingSeconds(*clip.date, time);
    return std::nullopt;
}

QList<PrintReport::Row> PrintReport::rows(const QLocale &locale) const
{
    auto orAbsent = [](const std::optional<QString> &text) { return text.value_or(Formats::absent); };

    std::optional<QString> recordedText;
    if (const auto moment = recorded()) {
        const QDateTime local = moment->toLocalTime();
        recordedText = Formats::dayTitle(local.date(), locale) + QStringLiteral(", ") +
                       Formats::time(local.time(), locale);
    }
    std::optional<QString> position, speed, heading, sensor;
    if (fix) {
        position = QString::asprintf("%.6f, %.6f", fix->latitude, fix->longitude);
        speed = QString::asprintf("%.0f ", value(unit, *fix)) + label(unit);
        if (fix->course)
            heading = QString::asprintf("%.0f", *fix->course) + QChar(0x00B0);
    }
    if (g)
        sensor = QString::asprintf("X %+.2f  Y %+.2f  Z %+.2f  (%.2f g)", g->x, g->y, g->z, g->magnitude());
    QStringList files;
    for (const QString &path : clip.allURLs())
        files.append(QFileInfo(path).fileName());

    return {
        {QStringLiteral("Recorded"), orAbsent(recordedText)},
        {QStringLiteral("Clip time"), timeString(time)},
        {QStringLiteral("Position"), orAbsent(position)},
        {QStringLiteral("Speed"), orAbsent(speed)},
        {QStringLiteral("Heading"), orAbsent(heading)},
        {QStringLiteral("G-sensor"), orAbsent(sensor)},
        {QStringLiteral("Files"), files.join(QStringLiteral(", "))},
    };
}

QString PrintReport::footer(const QDateTime &printedAt, const QLocale &locale)
{
    const QDateTime local = printedAt.toLocalTime();
    return QStringLiteral("Printed ") + locale.toString(local.date(), QLocale::ShortFormat) +
           QLatin1Char(' ') + locale.toString(local.time(), QLocale::ShortFormat) + Formats::separator +
           QStringLiteral("Roadloom");
}

QImage PrintReport::render(double scale, const QDateTime &printedAt, const QLocale &locale) const
{
    const double content = pageWidth - 2 * padding;
    const QFont titleFont = font(17, QFont::Bold);
    const QFont headlineFont = font(13, QFont::DemiBold);
    const QFont gridFont = font(12);
    const QFont captionFont = font(10);
    const QFontMetricsF titleMetrics(titleFont), headlineMetrics(headlineFont), gridMetrics(gridFont),
        captionMetrics(captionFont);

    // Layout in points, top to bottom.
    const double headerAscent = std::max(titleMetrics.ascent(), headlineMetrics.ascent());
    const double headerHeight = headerAscent + std::max(titleMetrics.descent(), headlineMetrics.descent());
    const QSizeF frontSize = fitted(front, content, 1e9);
    const QSizeF rearSize = rear ? fitted(*rear, content, rearMaxHeight) : QSizeF();

    const QList<Row> table = rows(locale);
    double labelWidth = 0;
    for (const Row &row : table)
        labelWidth = std::max(labelWidth, gridMetrics.horizontalAdvance(row.label));
    const double valueX = labelWidth + 18;
    const double valueWidth = std::max(1.0, content - valueX);
    QList<double> rowHeights;
    double gridHeight = 0;
    for (const Row &row : table) {
        const QRectF bounds = gridMetrics.boundingRect(QRectF(0, 0, valueWidth, 1e6),
                                                       Qt::TextWordWrap | Qt::AlignLeft, row.value);
        const double height = std::max(gridMetrics.height(), bounds.height());
        rowHeights.append(height);
        gridHeight += height;
    }
    gridHeight += 6 * (table.size() - 1);
    const QString footerText = footer(printedAt, locale);

    double y = padding;
    const double headerY = y;
    y += headerHeight + spacing;
    const double frontY = y;
    y += frontSize.height() + spacing;
    const double rearY = y;
    if (rear)
        y += rearSize.height() + spacing;
    const double gridY = y;
    y += gridHeight + spacing;
    const double footerY = y;
    y += captionMetrics.height() + padding;
    const double pageHeight = y;

    QImage image(int(std::ceil(pageWidth * scale)), int(std::ceil(pageHeight * scale)),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    painter.scale(scale, scale);

    painter.setFont(titleFont);
    painter.setPen(primaryColor);
    const QString category = title(clip.category);
    const double categoryWidth = headlineMetrics.horizontalAdvance(category);
    const QString name = titleMetrics.elidedText(clip.name, Qt::ElideRight, content - categoryWidth - 8);
    painter.drawText(QPointF(padding, headerY + headerAscent), name);
    painter.setFont(headlineFont);
    painter.setPen(secondaryColor);
    painter.drawText(QPointF(padding + content - categoryWidth, headerY + headerAscent), category);

    if (!front.isNull())
        painter.drawImage(QRectF(QPointF(padding, frontY), frontSize), opaque(front));
    if (rear && !rear->isNull())
        painter.drawImage(QRectF(QPointF(padding + (content - rearSize.width()) / 2, rearY), rearSize),
                          opaque(*rear));

    painter.setFont(gridFont);
    double rowY = gridY;
    for (qsizetype i = 0; i < table.size(); ++i) {
        painter.setPen(secondaryColor);
        painter.drawText(QRectF(padding, rowY, labelWidth + 1, rowHeights[i]), Qt::AlignLeft | Qt::AlignTop,
                         table[i].label);
        painter.setPen(primaryColor);
        painter.drawText(QRectF(padding + valueX, rowY, valueWidth, rowHeights[i]),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, table[i].value);
        rowY += rowHeights[i] + 6;
    }

    painter.setFont(captionFont);
    painter.setPen(secondaryColor);
    painter.drawText(QPointF(padding, footerY + captionMetrics.ascent()), footerText);
    painter.end();
    return image;
}
