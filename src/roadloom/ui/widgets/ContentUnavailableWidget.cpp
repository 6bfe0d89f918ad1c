#include "roadloom/ui/widgets/ContentUnavailableWidget.h"

#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/SymbolLabel.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int textWidth = 340;
constexpr int margin = 20;

// A wrapped label as wide as its text up to the text width and as high as its lines (a wrapped label left to
// the layout is cut to its first line or word).
void fitSize(QLabel *label, int limit)
{
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString &line : label->text().split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    const int width = std::clamp(widest + 2, 1, limit);
    // Measured here rather than by QLabel::heightForWidth, which can answer for the label's previous width.
    const QRect lines = metrics.boundingRect(QRect(0, 0, width, 1 << 20),
                                             int(Qt::AlignHCenter | Qt::TextWordWrap), label->text());
    const QMargins margins = label->contentsMargins();
    label->setFixedSize(width, lines.height() + margins.top() + margins.bottom());
}

} // namespace

ContentUnavailableWidget::ContentUnavailableWidget(QWidget *parent)
    : ContentUnavailableWidget(QString(), QString(), QString(), parent)
{
}

ContentUnavailableWidget::ContentUnavailableWidget(const QString &symbol, const QString &title,
                                                   const QString &description, QWidget *parent)
    : QWidget(parent)
{
    const QFontMetrics body(TextStyles::body());
    m_symbol = new SymbolLabel(symbol, body.height() * 3, this);
    m_symbol->setVisible(!symbol.isEmpty());

    m_title = new QLabel(title, this);
    m_title->setFont(TextStyles::title3());
    m_title->setAlignment(Qt::AlignHCenter);
    m_title->setWordWrap(true);
    m_title->setTextFormat(Qt::PlainText);

    m_description = new QLabel(description, this);
    m_description->setFont(TextStyles::callout());
    m_description->setAlignment(Qt::AlignHCenter);
    m_description->setWordWrap(true);
    m_description->setTextFormat(Qt::PlainText);
    m_description->setVisible(!description.isEmpty());
    fitTexts();

    m_buttonRow = new QWidget(this);
    m_buttons = new QHBoxLayout(m_buttonRow);
    m_buttons->setContentsMargins(0, 6, 0, 0);
    m_buttonRow->hide();

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(margin, margin, margin, margin);
    // The texts follow the page's width (resizeEvent), so the page never asks for the width of its text.
    column->setSizeConstraint(QLayout::SetNoConstraint);
    column->setSpacing(6);
    column->addStretch(1);
    column->addWidget(m_symbol, 0, Qt::AlignHCenter);
    column->addSpacing(4);
    column->addWidget(m_title, 0, Qt::AlignHCenter);
    column->addWidget(m_description, 0, Qt::AlignHCenter);
    column->addWidget(m_buttonRow, 0, Qt::AlignHCenter);
    column->addStretch(1);

    applyColors();
}

void ContentUnavailableWidget::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
    if (event->type() == QEvent::FontChange)
        fitTexts();
}

void ContentUnavailableWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitTexts();
}

QSize ContentUnavailableWidget::minimumSizeHint() const
{
    return QSize(2 * margin, 2 * margin);
}

void ContentUnavailableWidget::fitTexts()
{
    // Before the first layout the page has no width of its own yet: take the full text width.
    const int limit = testAttribute(Qt::WA_Resized) || isVisible()
                          ? std::clamp(width() - 2 * margin, 60, textWidth)
                          : textWidth;
    fitSize(m_title, limit);
    fitSize(m_description, limit);
    fitParts();
}

void ContentUnavailableWidget::fitParts()
{
    m_symbol->setVisible(!m_symbol->symbol().isEmpty());
    m_description->setVisible(!m_description->text().isEmpty());
    if (!layout() || (!testAttribute(Qt::WA_Resized) && !isVisible()))
        return;
    // A page shorter than all its parts (a card of a deck in a small window) gives up its symbol, then its
    // description, rather than drawing its texts over each other.
    const auto fits = [this] {
        layout()->invalidate();
        return layout()->minimumSize().height() <= height();
    };
    for (QWidget *part : {static_cast<QWidget *>(m_symbol), static_cast<QWidget *>(m_description)}) {
        if (fits())
            return;
        part->hide();
    }
}

void ContentUnavailableWidget::applyColors()
{
    // The description in the secondary colour of whatever palette the page has now.
    QPalette p = m_description->palette();
    p.setColor(QPalette::WindowText, Palette::secondaryText(palette()));
    m_description->setPalette(p);
}

QString ContentUnavailableWidget::searchTitle(const QString &text)
{
    return QStringLiteral("No Results for \u201C") + text + QStringLiteral("\u201D");
}

QString ContentUnavailableWidget::searchDescription()
{
    return QStringLiteral("Check the spelling or try a new search.");
}

void ContentUnavailableWidget::showSearch(const QString &text)
{
    setSymbol(QStringLiteral("magnifyingglass"));
    setTitle(searchTitle(text));
    setDescription(searchDescription());
    clearButtons();
}

QString ContentUnavailableWidget::symbol() const
{
    return m_symbol->symbol();
}

void ContentUnavailableWidget::setSymbol(const QString &symbol)
{
    m_symbol->setSymbol(symbol);
    fitParts();
}

QString ContentUnavailableWidget::title() const
{
    return m_title->text();
}

void ContentUnavailableWidget::setTitle(const QString &title)
{
    m_title->setText(title);
    fitTexts();
}

QString ContentUnavailableWidget::description() const
{
    return m_description->text();
}

void ContentUnavailableWidget::setDescription(const QString &description)
{
    m_description->setText(description);
    fitTexts();
}

QPushButton *ContentUnavailableWidget::addButton(const QString &text)
{
    auto *button = new QPushButton(text, m_buttonRow);
    button->setDefault(m_buttons->count() == 0);
    m_buttons->addWidget(button);
    m_buttonRow->show();
    return button;
}

void ContentUnavailableWidget::clearButtons()
{
    while (QLayoutItem *item = m_buttons->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_buttonRow->hide();
}
