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
    // The size follows the readout's texts (and the font, which clears it).
    const QSize wanted = changed || m_size.isEmpty() ? sizeHint() : m_size;
    if (wanted != m_size) {
        m_size = wanted;
        resize(wanted);
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

int VideoHUD::itemWidth(const Item &item) const
{
    const QFontMetrics metrics(font());
    return metrics.height() + symbolGap + metrics.horizontalAdvance(item.widthTemplate);
}

QSize VideoHUD::sizeHint() const
{
    const QList<Item> list = items();
    if (list.isEmpty())
        return QSize(0, 0);
    int width = 2 * horizontalPadding + itemSpacing * int(list.size() - 1);
    for (const Item &item : list)
        width += itemWidth(item);
    return QSize(width, QFontMetrics(font()).height() + 2 * verticalPadding);
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
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF capsule = QRectF(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 115));
    painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);

    const QFontMetrics metrics(font());
    const int extent = metrics.height();
    int x = horizontalPadding;
    const int y = verticalPadding;
    for (const Item &item : items()) {
        const QColor colour = item.red ? Palette::red() : QColor(Qt::white);
        painter.drawPixmap(QPoint(x, y), Symbols::pixmap(item.symbol, extent - 2, colour, ratio));
        painter.setPen(colour);
        painter.drawText(QRect(x + extent + symbolGap, y, itemWidth(item) - extent - symbolGap, extent),
                         Qt::AlignLeft | Qt::AlignVCenter, item.text);
        x += itemWidth(item) + itemSpacing;
    }
}

void VideoHUD::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_size = {};
        refresh();
    }
}
