#include "roadloom/ui/deck/Card.h"

#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/SymbolLabel.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QVBoxLayout>

Card::Card(const QString &title, const QString &systemImage, QWidget *parent)
    : QWidget(parent), m_title(title)
{
    QFont font = TextStyles::caption();
    font.setWeight(QFont::DemiBold);
    m_symbol = new SymbolLabel(systemImage, QFontMetrics(font).height(), this);
    m_caption = new QLabel(caption(), this);
    m_caption->setFont(font);
    m_caption->setTextFormat(Qt::PlainText);

    m_header = new QHBoxLayout;
    m_header->setContentsMargins(0, 0, 0, 0);
    m_header->setSpacing(6);
    m_header->addWidget(m_symbol);
    m_header->addWidget(m_caption);
    m_header->addStretch(1);

    m_column = new QVBoxLayout(this);
    m_column->setContentsMargins(padding, padding, padding, padding);
    m_column->setSpacing(spacing);
    m_column->addLayout(m_header);
    applyColors();
}

QString Card::caption() const
{
    return m_title.toUpper();
}

void Card::setAccessory(QWidget *accessory)
{
    if (m_accessory)
        m_accessory->deleteLater();
    m_accessory = accessory;
    if (accessory)
        m_header->addWidget(accessory, 0, Qt::AlignVCenter);
}

void Card::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitHeader();
}

void Card::fitHeader()
{
    if (!m_accessory || m_accessory->isHidden())
        return applyHeader(Header::full);
    const int room = width() - 2 * padding;
    for (Header state : {Header::full, Header::noCaption, Header::compactAccessory}) {
        if (headerWidth(state) <= room)
            return applyHeader(state);
    }
    applyHeader(Header::accessoryOnly);
}

int Card::headerWidth(Header state)
{
    setAccessoryCompact(state >= Header::compactAccessory);
    if (QLayout *layout = m_accessory->layout())
        layout->invalidate();
    const int gap = m_header->spacing();
    int needed = m_accessory->sizeHint().width();
    if (state < Header::accessoryOnly)
        needed += m_symbol->sizeHint().width() + gap;
    if (state < Header::noCaption)
        needed += m_caption->sizeHint().width() + gap;
    return needed;
}

void Card::applyHeader(Header state)
{
    setAccessoryCompact(state >= Header::compactAccessory);
    m_caption->setVisible(state < Header::noCaption);
    m_symbol->setVisible(state < Header::accessoryOnly);
    m_symbol->setToolTip(state < Header::noCaption ? QString() : m_title);
    m_headerState = state;
}

void Card::setContent(QWidget *content)
{
    if (m_content)
        m_content->deleteLater();
    m_content = content;
    if (content) {
        content->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        m_column->addWidget(content, 1);
    }
}

void Card::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The outline lies inside the background: inset by half its width.
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.fillPath(shape, palette().color(QPalette::Window));
    QColor line = Palette::separator(palette());
    line.setAlphaF(line.alphaF() * 0.6f);
    painter.setPen(QPen(line, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(outline, cornerRadius - 0.5, cornerRadius - 0.5);
}

void Card::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyColors();
        paletteChanged();
    }
}

void Card::applyColors()
{
    QPalette captionPalette = m_caption->palette();
    captionPalette.setColor(QPalette::WindowText, Palette::secondaryText(palette()));
    m_caption->setPalette(captionPalette);
    m_symbol->setColor(Palette::secondaryText(palette()));
}
