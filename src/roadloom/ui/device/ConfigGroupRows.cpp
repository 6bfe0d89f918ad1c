#include "roadloom/ui/device/ConfigGroupRows.h"

#include "roadloom/ui/device/ConfigRow.h"
#include "roadloom/ui/widgets/Palette.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>

namespace {

// The space between two rows, the line in its middle: as between the rows of a form section.
constexpr int gap = 15;

} // namespace

ConfigGroupRows::ConfigGroupRows(QWidget *parent) : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void ConfigGroupRows::addRow(ConfigRow *row)
{
    row->setParent(this);
    m_rows.append(row);
    m_heights.clear();
    updateGeometry(); // placed when the group gets its size
}

bool ConfigGroupRows::showOnly(const QSet<int> &lines)
{
    bool any = false, moved = false;
    for (ConfigRow *row : std::as_const(m_rows)) {
        const bool shown = lines.contains(row->entry().lineIndex);
        if (row->isHidden() == shown) {
            row->setVisible(shown);
            moved = true;
        }
        any = any || shown;
    }
    if (moved)
        changed();
    return any;
}

int ConfigGroupRows::rowHeight(const ConfigRow *row, int width)
{
    return row->hasHeightForWidth() ? row->heightForWidth(width) : row->sizeHint().height();
}

int ConfigGroupRows::heightForWidth(int width) const
{
    if (const auto known = m_heights.constFind(width); known != m_heights.cend())
        return *known;
    int height = 0, shown = 0;
    for (const ConfigRow *row : m_rows) {
        if (row->isHidden())
            continue;
        height += rowHeight(row, width) + (shown++ ? gap : 0);
    }
    if (m_heights.size() > 8)
        m_heights.clear();
    m_heights.insert(width, height);
    return height;
}

QSize ConfigGroupRows::sizeHint() const
{
    int width = 0;
    for (const ConfigRow *row : m_rows)
        if (!row->isHidden())
            width = std::max(width, row->sizeHint().width());
    return QSize(width, heightForWidth(std::max(width, 1)));
}

QSize ConfigGroupRows::minimumSizeHint() const
{
    int width = 0;
    for (const ConfigRow *row : m_rows)
        if (!row->isHidden())
            width = std::max(width, row->minimumSizeHint().width());
    return QSize(width, 0);
}

void ConfigGroupRows::changed()
{
    m_heights.clear();
    updateGeometry();
    place();
    update();
}

bool ConfigGroupRows::event(QEvent *event)
{
    // A row's size changed (a longer choice, a new font).
    if (event->type() == QEvent::LayoutRequest)
        changed();
    return QWidget::event(event);
}

void ConfigGroupRows::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    place();
}

void ConfigGroupRows::place()
{
    int y = 0;
    for (ConfigRow *row : std::as_const(m_rows)) {
        if (row->isHidden())
            continue;
        const int height = rowHeight(row, width());
        row->setGeometry(0, y, width(), height);
        y += height + gap;
    }
}

void ConfigGroupRows::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor line = Palette::separator(palette());
    const ConfigRow *previous = nullptr;
    for (const ConfigRow *row : std::as_const(m_rows)) {
        if (row->isHidden())
            continue;
        if (previous)
            painter.fillRect(
                QRect(0, (previous->geometry().bottom() + row->geometry().top() + 1) / 2, width(), 1), line);
        previous = row;
    }
}
