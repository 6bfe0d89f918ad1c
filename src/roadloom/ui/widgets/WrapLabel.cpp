#include "roadloom/ui/widgets/WrapLabel.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStringList>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

const QChar ellipsis(0x2026);

// The text as the layout takes it: QTextLayout breaks only at the line separator, and a "\n" would run
// two sentences together. One character for one, so positions in it are positions in the text.
QString laidOut(QString text)
{
    return text.replace(QLatin1Char('\n'), QChar::LineSeparator);
}

// The width of the widest line.
int naturalWidth(const QFontMetrics &metrics, const QString &text)
{
    int widest = 0;
    for (QStringView line : QStringView(text).tokenize(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line.toString()));
    return widest;
}

} // namespace

WrapLabel::WrapLabel(const QString &text, QWidget *parent) : QWidget(parent), m_text(text)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    m_shown = m_text;
}

void WrapLabel::setText(const QString &text)
{
    if (m_text == text)
        return;
    m_text = text;
    m_anchor = m_position = -1;
    m_cachedWidth = -1;
    // A text that keeps the height it has at its width changes nothing around it: the live rows set their
    // text on every tick, and asking the column to lay itself out again each time would cost the most.
    const int width = contentsRect().width();
    if (isVisible() && width > 0) {
        const int before = height() - contentsMargins().top() - contentsMargins().bottom();
        const Shaped shaped = shape(width);
        const bool fitsAsBefore = shaped.height == before && (m_maximumLines > 0 || shaped.lines > 1 ||
                                                              naturalWidth(fontMetrics(), m_text) < width);
        if (fitsAsBefore) {
            m_shown = shaped.text;
            m_shownWidth = width;
            update();
            return;
        }
    }
    relayout();
}

void WrapLabel::setWrapMode(QTextOption::WrapMode mode)
{
    m_wrapMode = mode;
    relayout();
}

void WrapLabel::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    update();
}

void WrapLabel::setMaximumLines(int lines, LineLimit scope)
{
    m_maximumLines = std::max(0, lines);
    m_lineLimit = scope;
    relayout();
}

void WrapLabel::setSelectable(bool selectable)
{
    m_selectable = selectable;
    setFocusPolicy(selectable ? Qt::ClickFocus : Qt::NoFocus);
    setCursor(selectable ? Qt::IBeamCursor : Qt::ArrowCursor);
    setContextMenuPolicy(selectable ? Qt::DefaultContextMenu : Qt::NoContextMenu);
}

void WrapLabel::setColor(const QColor &color)
{
    m_color = color;
    update();
}

QString WrapLabel::displayedText() const
{
    return shownText();
}

const QString &WrapLabel::shownText() const
{
    // Also for a hidden label, which is told of no resize.
    const int width = contentsRect().width();
    if (width != m_shownWidth) {
        const QString shown = shape(width).text;
        if (shown != m_shown) {
            m_shown = shown;
            m_anchor = m_position = -1;
        }
        m_shownWidth = width;
    }
    return m_shown;
}

QString WrapLabel::selectedText() const
{
    if (m_anchor < 0 || m_anchor == m_position)
        return QString();
    const int from = std::min(m_anchor, m_position), to = std::max(m_anchor, m_position);
    return shownText().mid(from, to - from);
}

int WrapLabel::linesOf(const QString &text, int width, int *height) const
{
    QTextLayout layout(laidOut(text), font());
    QTextOption option(m_alignment);
    option.setWrapMode(m_wrapMode);
    layout.setTextOption(option);
    layout.beginLayout();
    int lines = 0;
    qreal y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1, width));
        y += line.height();
        ++lines;
    }
    layout.endLayout();
    if (height)
        *height = int(std::ceil(y));
    return lines;
}

WrapLabel::Shaped WrapLabel::shape(int width) const
{
    Shaped shaped{m_text, 0, 0};
    shaped.lines = linesOf(m_text, width, &shaped.height);
    if (m_maximumLines <= 0 || shaped.lines <= m_maximumLines)
        return shaped;
    if (m_lineLimit == LineLimit::whole || !m_text.contains(QLatin1Char('\n'))) {
        shaped.text = shortened(m_text, width);
    } else {
        QStringList paragraphs = m_text.split(QLatin1Char('\n'));
        for (QString &paragraph : paragraphs)
            if (linesOf(paragraph, width, nullptr) > m_maximumLines)
                paragraph = shortened(paragraph, width);
        shaped.text = paragraphs.join(QLatin1Char('\n'));
    }
    shaped.lines = linesOf(shaped.text, width, &shaped.height);
    return shaped;
}

QString WrapLabel::shortened(const QString &text, int width) const
{
    // Keep the most characters from both ends that still fit: the head and tail of a path tell most.
    int low = 0, high = int(text.size());
    while (low < high) {
        const int keep = (low + high + 1) / 2;
        const QString candidate = text.left((keep + 1) / 2) + ellipsis + text.right(keep / 2);
        if (linesOf(candidate, width, nullptr) <= m_maximumLines)
            low = keep;
        else
            high = keep - 1;
    }
    return text.left((low + 1) / 2) + ellipsis + text.right(low / 2);
}

int WrapLabel::lineCount() const
{
    return linesOf(shownText(), contentsRect().width(), nullptr);
}

int WrapLabel::heightForWidth(int width) const
{
    if (width == m_cachedWidth)
        return m_cachedHeight;
    const QMargins margins = contentsMargins();
    const int inner = width - margins.left() - margins.right();
    const int height = m_text.isEmpty() ? fontMetrics().height() : shape(inner).height;
    m_cachedWidth = width;
    m_cachedHeight = height + margins.top() + margins.bottom();
    return m_cachedHeight;
}

QSize WrapLabel::sizeHint() const
{
    // As wide as the text on one line (up to a sensible measure), as high as it is then.
    const QMargins margins = contentsMargins();
    const int natural =
        std::min(naturalWidth(fontMetrics(), m_text) + 1, 40 * fontMetrics().averageCharWidth());
    const int width = std::max(natural, 1) + margins.left() + margins.right();
    return QSize(width, heightForWidth(width));
}

QSize WrapLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    const int width = std::min(naturalWidth(fontMetrics(), m_text) + 1, fontMetrics().averageCharWidth() * 6);
    return QSize(std::max(width, 1) + margins.left() + margins.right(), fontMetrics().height());
}

void WrapLabel::relayout()
{
    m_cachedWidth = -1;
    m_shownWidth = -1;
    updateGeometry();
    update();
}

void WrapLabel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
}

void WrapLabel::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        relayout();
}

void WrapLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    QTextLayout layout(laidOut(shownText()), font());
    QTextOption option(m_alignment);
    option.setWrapMode(m_wrapMode);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(area.width());
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    QList<QTextLayout::FormatRange> selections;
    if (m_anchor >= 0 && m_anchor != m_position) {
        QTextLayout::FormatRange range;
        range.start = std::min(m_anchor, m_position);
        range.length = std::abs(m_position - m_anchor);
        range.format.setBackground(palette().brush(QPalette::Highlight));
        range.format.setForeground(palette().brush(QPalette::HighlightedText));
        selections.append(range);
    }
    painter.setPen(m_color.isValid() ? m_color : palette().color(foregroundRole()));
    layout.draw(&painter, area.topLeft(), selections);
}

bool WrapLabel::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        auto *help = static_cast<QHelpEvent *>(event);
        if (shownText() != m_text)
            QToolTip::showText(help->globalPos(), m_text, this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

int WrapLabel::cursorAt(const QPoint &point) const
{
    const QRect area = contentsRect();
    QTextLayout layout(laidOut(shownText()), font());
    QTextOption option(m_alignment);
    option.setWrapMode(m_wrapMode);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    int found = int(shownText().size());
    bool done = false;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(area.width());
        line.setPosition(QPointF(0, y));
        if (!done && point.y() - area.top() < y + line.height()) {
            found = line.xToCursor(point.x() - area.left());
            done = true;
        }
        y += line.height();
    }
    layout.endLayout();
    if (!done && point.y() < area.top())
        found = 0;
    return found;
}

void WrapLabel::mousePressEvent(QMouseEvent *event)
{
    if (!m_selectable || event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_anchor = m_position = cursorAt(event->position().toPoint());
    update();
}

void WrapLabel::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_selectable || !(event->buttons() & Qt::LeftButton) || m_anchor < 0)
        return QWidget::mouseMoveEvent(event);
    m_position = cursorAt(event->position().toPoint());
    update();
}

void WrapLabel::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (!m_selectable)
        return QWidget::mouseDoubleClickEvent(event);
    // The whole text: a record or a position is copied as one.
    m_anchor = 0;
    m_position = int(shownText().size());
    update();
}

void WrapLabel::keyPressEvent(QKeyEvent *event)
{
    if (m_selectable && event == QKeySequence::Copy) {
        copy();
        return event->accept();
    }
    if (m_selectable && event == QKeySequence::SelectAll) {
        m_anchor = 0;
        m_position = int(shownText().size());
        update();
        return event->accept();
    }
    QWidget::keyPressEvent(event);
}

void WrapLabel::contextMenuEvent(QContextMenuEvent *event)
{
    if (!m_selectable)
        return QWidget::contextMenuEvent(event);
    QMenu menu(this);
    QAction *copyAction = menu.addAction(tr("Copy"), this, [this] { copy(); });
    copyAction->setEnabled(!selectedText().isEmpty());
    menu.addAction(tr("Select All"), this, [this] {
        m_anchor = 0;
        m_position = int(shownText().size());
        update();
    });
    menu.exec(event->globalPos());
}

void WrapLabel::copy() const
{
    const QString selected = selectedText();
    if (!selected.isEmpty())
        QGuiApplication::clipboard()->setText(selected);
}
