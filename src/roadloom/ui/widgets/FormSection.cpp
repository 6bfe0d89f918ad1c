#include "roadloom/ui/widgets/FormSection.h"

#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr double radius = 8;
constexpr int rowPadding = 10;

// A row's label: on one line while the row has room for it, wrapping at its spaces only when it has not.
// A word-wrapped QLabel on its own asks for a narrower, balanced block and wraps even in a wide form.
class RowLabel : public QLabel {
public:
    using QLabel::QLabel;

    QSize sizeHint() const override
    {
        const QMargins margins = contentsMargins();
        const int width = fontMetrics().size(0, text()).width() + margins.left() + margins.right() + 1;
        return QSize(width, heightForWidth(width));
    }
    // A short label never breaks for its value; a long one gives way at its spaces down to a dozen or so
    // characters.
    QSize minimumSizeHint() const override
    {
        const int width = std::max(QLabel::minimumSizeHint().width(),
                                   std::min(sizeHint().width(), 14 * fontMetrics().averageCharWidth()));
        return QSize(width, heightForWidth(width));
    }
};

} // namespace

// The rounded panel behind the rows; it draws the lines between the visible rows.
class FormSection::Panel : public QWidget {
public:
    explicit Panel(QWidget *parent) : QWidget(parent) {}
    QList<QWidget *> rows;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPalette pal = palette();
        QColor fill = Palette::isDark(pal) ? QColor(255, 255, 255, 20) : pal.color(QPalette::Base);
        painter.setPen(QPen(Palette::separator(pal), 1));
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);

        painter.setRenderHint(QPainter::Antialiasing, false);
        const QWidget *previous = nullptr;
        for (const QWidget *row : rows) {
            if (row->isHidden())
                continue;
            if (previous) {
                const int y = (previous->geometry().bottom() + row->geometry().top() + 1) / 2;
                painter.fillRect(QRect(rowPadding, y, width() - 2 * rowPadding, 1), Palette::separator(pal));
            }
            previous = row;
        }
    }
};

FormSection::FormSection(const QString &header, QWidget *parent) : QWidget(parent)
{
    m_header = new QLabel(header, this);
    m_header->setFont(TextStyles::headline());
    m_header->setTextFormat(Qt::PlainText);
    m_header->setContentsMargins(rowPadding, 0, rowPadding, 0);
    m_header->setVisible(!header.isEmpty());

    m_panel = new Panel(this);
    m_rowsLayout = new QVBoxLayout(m_panel);
    m_rowsLayout->setContentsMargins(0, 2, 0, 2);
    m_rowsLayout->setSpacing(1);

    m_footer = new QLabel(this);
    m_footer->setFont(TextStyles::caption());
    m_footer->setWordWrap(true);
    m_footer->setTextFormat(Qt::PlainText);
    m_footer->setContentsMargins(rowPadding, 0, rowPadding, 0);
    m_footer->hide();

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(m_header);
    column->addWidget(m_panel);
    column->addWidget(m_footer);
    applyColors();
}

QString FormSection::header() const
{
    return m_header->text();
}

void FormSection::setHeader(const QString &header)
{
    m_header->setText(header);
    m_header->setVisible(!header.isEmpty());
}

QString FormSection::footer() const
{
    return m_footer->text();
}

void FormSection::setFooter(const QString &footer)
{
    m_footer->setText(footer);
    m_footer->setVisible(!footer.isEmpty());
}

int FormSection::addRow(const QString &label, QWidget *value)
{
    auto *row = new QWidget(m_panel);
    auto *line = new QHBoxLayout(row);
    line->setContentsMargins(rowPadding, 7, rowPadding, 7);
    line->setSpacing(12);
    auto *text = new RowLabel(label, row);
    text->setTextFormat(Qt::PlainText);
    // In a narrow column a long label wraps at its spaces too, so the value keeps room for its own words
    // instead of breaking inside a number.
    text->setWordWrap(true);
    line->addWidget(text, 0, Qt::AlignVCenter);
    line->addStretch(1);
    if (value) {
        value->setParent(row);
        line->addWidget(value, 0, Qt::AlignVCenter);
    }
    m_rowsLayout->addWidget(row);
    m_panel->rows.append(row);
    m_rows.append(Row{row, text, value});
    return rowCount() - 1;
}

int FormSection::addRow(QWidget *content)
{
    auto *row = new QWidget(m_panel);
    auto *line = new QHBoxLayout(row);
    line->setContentsMargins(rowPadding, 7, rowPadding, 7);
    if (content) {
        content->setParent(row);
        line->addWidget(content);
    }
    m_rowsLayout->addWidget(row);
    m_panel->rows.append(row);
    m_rows.append(Row{row, nullptr, content});
    return rowCount() - 1;
}

QLabel *FormSection::rowLabel(int index) const
{
    return index >= 0 && index < rowCount() ? m_rows[index].label : nullptr;
}

QWidget *FormSection::rowWidget(int index) const
{
    return index >= 0 && index < rowCount() ? m_rows[index].value : nullptr;
}

void FormSection::setRowVisible(int index, bool visible)
{
    if (index < 0 || index >= rowCount())
        return;
    m_rows[index].row->setVisible(visible);
    m_panel->update();
}

void FormSection::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void FormSection::applyColors()
{
    QPalette p = m_footer->palette();
    p.setColor(QPalette::WindowText, Palette::secondaryText(palette()));
    m_footer->setPalette(p);
}
