#include "roadloom/ui/detail/VideoHUD.h"

#include "roadloom/model/AppModel.h"
#include "roadloom/model/Formats.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/Symbols.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QEvent>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int horizontalPadding = 12;
constexpr int verticalPadding = 7;
constexpr int itemSpacing = 14;
constexpr int symbolGap = 5;
constexpr int rowSpacing = 4;

QFont hudFont()
{
    QFont font = TextStyles::callout();
    font.setWeight(QFont::Medium);
    return font;
}

} // namespace

VideoHUD::VideoHUD(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFont(hudFont());
    // The stage's size decides how the capsule is laid out.
    if (parent)
        parent->installEventFilter(this);
    PlayerController &player = model.player();
    connect(&player, &PlayerController::currentTimeChanged, this, &VideoHUD::refresh);
    connect(&player, &PlayerController::telemetryChanged, this, &VideoHUD::refresh);
    connect(&player, &PlayerController::clipChanged, this, &VideoHUD::refresh);
    connect(&player, &PlayerController::hasMediaChanged, this, &VideoHUD::refresh);
    connect(&model.preferences(), &Preferences::speedUnitChanged, this, &VideoHUD::refresh);
    refresh();
}

VideoHUD::Readout VideoHUD::readout() const
{
    const PlayerController &player = m_model.player();
    if (!player.hasMedia())
        return {};
    const std::optional<DashClip> &clip = player.clip();
    return readout(player.telemetry(), player.currentTime(), clip ? clip->date : std::nullopt,
                   m_model.preferences().speedUnit());
}

VideoHUD::Readout VideoHUD::readout(const Telemetry &telemetry, double time,
                                    const std::optional<QDateTime> &clipDate, SpeedUnit unit)
{
    Readout result;
    const std::optional<GPSFix> fix = telemetry.gpsAt(time);
    const std::optional<SensorSample> g = telemetry.sensorAt(time);
    std::optional<QDateTime> date;
    if (fix && fix->timestamp)
        date = fix->timestamp;
    else if (clipDate)
        date = addingSeconds(*clipDate, time);
    if (date && date->isValid())
        result.clock = Formats::clock(*date);
    if (fix) {
        result.speed = QString::number(value(unit, *fix), 'f', 0) + QLatin1Char(' ') + label(unit);
    }
    if (g) {
        const double magnitude = g->magnitude();
        result.gForce = QString::number(magnitude, 'f', 2) + QStringLiteral(" g");
        result.gForceHigh = magnitude > highG;
    }
    return result;
}

void VideoHUD::refresh()
{
    const Readout now = readout();
    bool changed = now != m_readout;
    m_readout = now;
    if (now.isEmpty()) {
        if (!isHidden()) {
            hide();
            emit pictureChanged();
        }
        return;
    }
    // The size follows the readout's texts, the font and the stage's room.
    const Arrangement arranged = arrange(items(), room());
    if (arranged.rows != m_arrangement.rows || arranged.symbols != m_arrangement.symbols ||
        arranged.scale != m_arrangement.scale)
        changed = true;
    m_arrangement = arranged;
    if (arranged.size != m_size) {
        m_size = arranged.size;
        resize(m_size);
        updateGeometry();
        changed = true;
    }
    if (parentWidget())
        move(itemSpacing, parentWidget()->height() - itemSpacing - height());
    if (isHidden()) {
        show();
        changed = true;
    }
    if (changed) {
        if (!m_drawnElsewhere)
            update();
        emit pictureChanged();
    }
}

QList<VideoHUD::Item> VideoHUD::items() const
{
    const auto widestDigits = [this](QString text) {
        const QFontMetrics metrics(font());
        QChar widest = QLatin1Char('0');
        int widestAdvance = 0;
        for (char digit = '0'; digit <= '9'; ++digit) {
            const int advance = metrics.horizontalAdvance(QLatin1Char(digit));
            if (advance > widestAdvance) {
                widestAdvance = advance;
                widest = QLatin1Char(digit);
            }
        }
        for (QChar &c : text) {
            if (c.isDigit())
                c = widest;
        }
        return text;
    };
    QList<Item> list;
    if (m_readout.clock)
        list.append({QStringLiteral("clock"), *m_readout.clock, widestDigits(*m_readout.clock), false});
    if (m_readout.speed)
        list.append({QStringLiteral("speedometer"), *m_readout.speed, widestDigits(*m_readout.speed), false});
    if (m_readout.gForce) {
        list.append({QStringLiteral("waveform.path.ecg"), *m_readout.gForce, widestDigits(*m_readout.gForce),
                     m_readout.gForceHigh});
    }
    return list;
}

int VideoHUD::itemWidth(const Item &item, bool symbol) const
{
    const QFontMetrics metrics(font());
    return (symbol ? metrics.height() + symbolGap : 0) + metrics.horizontalAdvance(item.widthTemplate);
}

QSize VideoHUD::room() const
{
    const QWidget *stage = parentWidget();
    if (!stage)
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    return QSize(std::max(1, stage->width() - 2 * itemSpacing),
                 std::max(1, stage->height() - 2 * itemSpacing));
}

QSize VideoHUD::unscaledSize(const QList<Item> &list, const QList<QList<int>> &rows, bool symbols) const
{
    int width = 0;
    for (const QList<int> &row : rows) {
        int rowWidth = itemSpacing * int(row.size() - 1);
        for (int i : row)
            rowWidth += itemWidth(list.at(i), symbols);
        width = std::max(width, rowWidth);
    }
    const int lines = int(rows.size());
    return QSize(width + 2 * horizontalPadding,
                 lines * QFontMetrics(font()).height() + (lines - 1) * rowSpacing + 2 * verticalPadding);
}

VideoHUD::Arrangement VideoHUD::arrange(const QList<Item> &list, const QSize &room) const
{
    Arrangement result;
    if (list.isEmpty())
        return result;
    // Rows filled in order, each taking what fits beside its first item.
    const auto flowed = [&](bool symbols) {
        QList<QList<int>> rows{{0}};
        int used = 2 * horizontalPadding + itemWidth(list.at(0), symbols);
        for (int i = 1; i < list.size(); ++i) {
            const int width = itemWidth(list.at(i), symbols);
            if (used + itemSpacing + width <= room.width()) {
                rows.last().append(i);
                used += itemSpacing + width;
            } else {
                rows.append(QList<int>{i});
                used = 2 * horizontalPadding + width;
            }
        }
        return rows;
    };
    QList<int> all;
    for (int i = 0; i < list.size(); ++i)
        all.append(i);
    const std::pair<QList<QList<int>>, bool> tries[] = {
        {{all}, true}, {flowed(true), true}, {flowed(false), false}};
    for (const auto &[rows, symbols] : tries) {
        const QSize size = unscaledSize(list, rows, symbols);
        result = {rows, symbols, 1, size};
        if (size.width() <= room.width() && size.height() <= room.height())
            return result;
    }
    // Not even that fits: the last form, drawn smaller as a whole.
    const QSize full = result.size;
    result.scale = std::min(double(room.width()) / full.width(), double(room.height()) / full.height());
    result.size =
        QSize(std::max(1, int(full.width() * result.scale)), std::max(1, int(full.height() * result.scale)));
    return result;
}

QSize VideoHUD::sizeHint() const
{
    const QList<Item> list = items();
    if (list.isEmpty())
        return QSize(0, 0);
    return arrange(list, room()).size;
}

QImage VideoHUD::picture(qreal devicePixelRatio)
{
    QImage image(size() * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    // The widget's resolution, so that the font's points come out as large as on the screen.
    image.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
    image.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
    QPainter painter(&image);
    painter.setFont(font());
    draw(painter, devicePixelRatio);
    return image;
}

void VideoHUD::setDrawnElsewhere(bool elsewhere)
{
    m_drawnElsewhere = elsewhere;
    update();
}

void VideoHUD::paintEvent(QPaintEvent *)
{
    if (m_drawnElsewhere)
        return;
    QPainter painter(this);
    draw(painter, devicePixelRatioF());
}

void VideoHUD::draw(QPainter &painter, qreal ratio) const
{
    const QList<Item> list = items();
    const Arrangement &arranged = m_arrangement;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(arranged.scale, arranged.scale);
    const QFontMetrics metrics(font());
    const int extent = metrics.height();
    const QRectF capsule(QPointF(0, 0), QSizeF(size()) / arranged.scale);
    const double radius = std::min(capsule.height(), double(extent + 2 * verticalPadding)) / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 115));
    painter.drawRoundedRect(capsule, radius, radius);

    int y = verticalPadding;
    for (const QList<int> &row : arranged.rows) {
        int x = horizontalPadding;
        for (int i : row) {
            if (i >= list.size())
                continue; // the readout changed since the arrangement: the next refresh arranges it again
            const Item &item = list.at(i);
            const QColor colour = item.red ? Palette::red() : QColor(Qt::white);
            int textX = x;
            if (arranged.symbols) {
                painter.drawPixmap(QPoint(x, y),
                                   Symbols::pixmap(item.symbol, extent - 2, colour, ratio * arranged.scale));
                textX += extent + symbolGap;
            }
            painter.setPen(colour);
            const int width = itemWidth(item, arranged.symbols);
            painter.drawText(QRect(textX, y, x + width - textX, extent), Qt::AlignLeft | Qt::AlignVCenter,
                             item.text);
            x += width + itemSpacing;
        }
        y += extent + rowSpacing;
    }
}

bool VideoHUD::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        refresh();
    return QWidget::eventFilter(watched, event);
}

void VideoHUD::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_size = {};
        refresh();
    }
}
