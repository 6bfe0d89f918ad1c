#include "roadloom/ui/widgets/SymbolLabel.h"

#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/Symbols.h"

#include <QPainter>

SymbolLabel::SymbolLabel(const QString &symbol, int extent, QWidget *parent)
    : QWidget(parent), m_symbol(symbol), m_extent(std::max(1, extent))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolLabel::setSymbol(const QString &symbol)
{
    if (m_symbol == symbol)
        return;
    m_symbol = symbol;
    update();
}

void SymbolLabel::setExtent(int extent)
{
    extent = std::max(1, extent);
    if (m_extent == extent)
        return;
    m_extent = extent;
    updateGeometry();
    update();
}

void SymbolLabel::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

QSize SymbolLabel::sizeHint() const
{
    return QSize(m_extent, m_extent);
}

void SymbolLabel::paintEvent(QPaintEvent *)
{
    if (m_symbol.isEmpty())
        return;
    const QColor color = m_color.isValid() ? m_color : Palette::secondaryText(palette());
    const QSize size(m_extent, m_extent);
    const QPixmap image = Symbols::pixmap(m_symbol, size, color, devicePixelRatioF());
    QPainter painter(this);
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    painter.drawPixmap(target, image);
}
