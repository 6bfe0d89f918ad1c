#include "roadloom/ui/library/CategoryChips.h"

#include "roadloom/model/LibraryStore.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/Symbols.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

constexpr int symbolExtent = 12;
constexpr int spacing = 5;

QFont chipFont()
{
    QFont font = TextStyles::callout();
    font.setWeight(QFont::Medium);
    return font;
}

} // namespace

CategoryChip::CategoryChip(std::optional<ClipCategory> category, const QString &title, const QString &symbol,
                           int count, QWidget *parent)
    : QAbstractButton(parent), m_category(category), m_title(title), m_symbol(symbol), m_count(count)
{
    setCheckable(true);
    setFont(chipFont());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(title);
}

QColor CategoryChip::tint() const
{
    return m_category ? Palette::tint(*m_category, palette()) : Palette::accent(palette());
}

QSize CategoryChip::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int width = 10 + symbolExtent + spacing + metrics.horizontalAdvance(m_title) + spacing +
                      metrics.horizontalAdvance(QString::number(m_count)) + 10;
    return {width, metrics.height() + 10};
}

bool CategoryChip::isWhole() const
{
    // The strip's parent is the scroll area's viewport.
    const QWidget *strip = parentWidget();
    const QWidget *viewport = strip ? strip->parentWidget() : nullptr;
    if (!viewport)
        return true;
    return viewport->rect().contains(QRect(mapTo(viewport, QPoint(0, 0)), size()));
}

void CategoryChip::paintEvent(QPaintEvent *)
{
    if (!isWhole())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF shape = QRectF(rect());
    QPainterPath capsule;
    capsule.addRoundedRect(shape, shape.height() / 2, shape.height() / 2);
    const bool selected = isChecked();
    if (selected) {
        QLinearGradient gradient(shape.topLeft(), shape.bottomLeft());
        gradient.setColorAt(0, tint().lighter(115));
        gradient.setColorAt(1, tint());
        painter.fillPath(capsule, gradient);
    } else {
        painter.fillPath(capsule, Palette::quaternaryFill(palette()));
    }
    if (hasFocus()) {
        painter.setPen(QPen(Palette::accent(palette()), 2));
        painter.drawPath(capsule);
    }
    const QColor text = selected ? QColor(Qt::white) : Palette::primaryText(palette());
    QColor countColor = selected ? QColor(255, 255, 255, 204) : Palette::secondaryText(palette());
    const QFontMetrics metrics(font());
    int x = 10;
    const int middle = height() / 2;
    painter.drawPixmap(x, middle - symbolExtent / 2,
                       Symbols::pixmap(m_symbol, symbolExtent, text, devicePixelRatioF()));
    x += symbolExtent + spacing;
    painter.setPen(text);
    painter.drawText(QRect(x, 0, metrics.horizontalAdvance(m_title) + 1, height()), Qt::AlignVCenter,
                     m_title);
    x += metrics.horizontalAdvance(m_title) + spacing;
    painter.setPen(countColor);
    const QString count = QString::number(m_count);
    painter.drawText(QRect(x, 0, metrics.horizontalAdvance(count) + 1, height()), Qt::AlignVCenter, count);
}

CategoryChips::CategoryChips(LibraryStore &library, QWidget *parent) : QScrollArea(parent), m_library(library)
{
    setObjectName(QStringLiteral("categoryChips"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    viewport()->setAutoFillBackground(false);
    m_strip = new QWidget;
    m_strip->setAutoFillBackground(false);
    m_layout = new QHBoxLayout(m_strip);
    m_layout->setContentsMargins(12, 8, 12, 8);
    m_layout->setSpacing(6);
    setWidget(m_strip);
    setFixedHeight(QFontMetrics(chipFont()).height() + 10 + 16);
    viewport()->installEventFilter(this);
    // Scrolling moves drawn pixels; chips that come whole or get cut must draw again.
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, m_strip, qOverload<>(&QWidget::update));

    rebuild();
    connect(&library, &LibraryStore::clipsChanged, this, &CategoryChips::rebuild);
    connect(&library, &LibraryStore::clipRemoved, this, &CategoryChips::rebuild);
    connect(&library, &LibraryStore::categoryFilterChanged, this, &CategoryChips::showFilter);
}

QList<CategoryChip *> CategoryChips::chips() const
{
    return m_strip->findChildren<CategoryChip *>(Qt::FindDirectChildrenOnly);
}

void CategoryChips::rebuild()
{
    for (CategoryChip *chip : chips())
        delete chip;
    while (m_layout->count() > 0)
        delete m_layout->takeAt(0);
    auto add = [this](std::optional<ClipCategory> category, const QString &title, const QString &symbol) {
        auto *chip = new CategoryChip(category, title, symbol, m_library.count(category), m_strip);
        // Tapping the selected chip again changes nothing: only another chip, or "All", moves the filter.
        connect(chip, &QAbstractButton::clicked, this, [this, chip] {
            if (m_library.categoryFilter() != chip->category())
                m_library.setCategoryFilter(chip->category());
            showFilter();
        });
        m_layout->addWidget(chip);
    };
    add(std::nullopt, QStringLiteral("All"), QStringLiteral("square.grid.2x2"));
    for (ClipCategory category : m_library.presentCategories())
        add(category, title(category), symbol(category));
    m_layout->addStretch(1);
    showFilter();
}

void CategoryChips::showFilter()
{
    for (CategoryChip *chip : chips()) {
        chip->setChecked(chip->category() == m_library.categoryFilter());
        chip->update();
        if (chip->isChecked())
            ensureWidgetVisible(chip, 12, 0);
    }
}

void CategoryChips::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    m_strip->update();
}

bool CategoryChips::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == viewport() && event->type() == QEvent::Wheel) {
        const auto *wheel = static_cast<QWheelEvent *>(event);
        const QPoint delta = wheel->pixelDelta().isNull() ? wheel->angleDelta() / 4 : wheel->pixelDelta();
        const int step = std::abs(delta.x()) > std::abs(delta.y()) ? delta.x() : delta.y();
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - step);
        return true;
    }
    return QScrollArea::eventFilter(watched, event);
}
