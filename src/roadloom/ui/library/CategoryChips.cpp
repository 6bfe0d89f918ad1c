#include "roadloom/ui/library/CategoryChips.h"

#include "roadloom/model/LibraryStore.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/Symbols.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <functional>
#include <utility>

namespace {

constexpr int symbolExtent = 12;
constexpr int spacing = 5;

QFont chipFont()
{
    QFont font = TextStyles::callout();
    font.setWeight(QFont::Medium);
    return font;
}

// The colour the strip lies on: that of the nearest widget that fills its background.
QColor groundOf(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget())
        if (w->autoFillBackground() || w->isWindow())
            return w->palette().color(w->backgroundRole());
    return widget->palette().color(QPalette::Window);
}

// Fades the chips under it into the ground towards the strip's edge; clicks and the wheel pass through.
class EdgeFade : public QWidget {
public:
    EdgeFade(Qt::Edge edge, QWidget *parent) : QWidget(parent), m_edge(edge)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QRectF area(rect());
        const bool left = m_edge == Qt::LeftEdge;
        QLinearGradient gradient(left ? area.topRight() : area.topLeft(),
                                 left ? area.topLeft() : area.topRight());
        QColor ground = groundOf(this);
        gradient.setColorAt(1, ground);
        ground.setAlpha(0);
        gradient.setColorAt(0, ground);
        painter.fillRect(area, gradient);
    }

private:
    Qt::Edge m_edge;
};

// Hands key presses to a function ahead of the widgets (and of filters installed before it).
class KeyTap : public QObject {
public:
    KeyTap(std::function<bool(QObject *, const QKeyEvent &)> take, QObject *parent)
        : QObject(parent), m_take(std::move(take))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        return event->type() == QEvent::KeyPress && m_take(watched, *static_cast<QKeyEvent *>(event));
    }

private:
    std::function<bool(QObject *, const QKeyEvent &)> m_take;
};

bool isChipKey(const QKeyEvent &event)
{
    if ((event.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    switch (event.key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return true;
    default:
        return false;
    }
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

void CategoryChip::paintEvent(QPaintEvent *)
{
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
        // On a tinted fill an accent ring could vanish: white, just inside the edge.
        painter.setPen(QPen(selected ? QColor(Qt::white) : Palette::accent(palette()), 2));
        if (selected) {
            const QRectF inside = shape.adjusted(2.5, 2.5, -2.5, -2.5);
            painter.drawRoundedRect(inside, inside.height() / 2, inside.height() / 2);
        } else {
            painter.drawPath(capsule);
        }
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
    setFocusPolicy(Qt::NoFocus); // the chips take the keyboard, the strip itself never
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
    m_leftFade = new EdgeFade(Qt::LeftEdge, viewport());
    m_rightFade = new EdgeFade(Qt::RightEdge, viewport());
    viewport()->installEventFilter(this);
    // Space, Enter and the side arrows belong to a chip that has the keyboard, not to the player.
    m_keys = new KeyTap(
        [this](QObject *watched, const QKeyEvent &event) {
            CategoryChip *chip = ownChip(watched);
            return chip && chip->hasFocus() && moveAlong(chip, event);
        },
        this);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &CategoryChips::placeFades);
    connect(horizontalScrollBar(), &QScrollBar::rangeChanged, this, &CategoryChips::placeFades);

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
        chip->installEventFilter(this);
        m_layout->addWidget(chip);
    };
    add(std::nullopt, QStringLiteral("All"), QStringLiteral("square.grid.2x2"));
    for (ClipCategory category : m_library.presentCategories())
        add(category, title(category), symbol(category));
    m_layout->addStretch(1);
    placeInTabChain();
    showFilter();
}

CategoryChip *CategoryChips::ownChip(QObject *object) const
{
    auto *chip = qobject_cast<CategoryChip *>(object);
    return chip && chip->parentWidget() == m_strip ? chip : nullptr;
}

void CategoryChips::placeInTabChain()
{
    // New chips join the window's tab chain at its end; Tab reaches them where the strip lies instead, after
    // the last widget before it that takes Tab.
    QWidget *before = previousInFocusChain();
    while (before != this && (isAncestorOf(before) || !(before->focusPolicy() & Qt::TabFocus)))
        before = before->previousInFocusChain();
    for (CategoryChip *chip : chips()) {
        if (before != this)
            setTabOrder(before, chip);
        before = chip;
    }
}

bool CategoryChips::showsFade(Qt::Edge edge) const
{
    return (edge == Qt::LeftEdge ? m_leftFade : m_rightFade)->isVisibleTo(this);
}

void CategoryChips::showFilter()
{
    for (CategoryChip *chip : chips()) {
        chip->setChecked(chip->category() == m_library.categoryFilter());
        chip->update();
        if (chip->isChecked())
            bringIntoView(chip);
    }
}

void CategoryChips::bringIntoView(const CategoryChip *chip)
{
    // Clear of the fades too, which ensureWidgetVisible would leave a chip under.
    QScrollBar *bar = horizontalScrollBar();
    const int width = viewport()->width();
    const int left = chip->x() - fadeWidth;
    const int right = chip->x() + chip->width() + fadeWidth;
    if (left < bar->value())
        bar->setValue(left);
    else if (right > bar->value() + width)
        bar->setValue(std::min(left, right - width)); // its start first when it is wider than the strip
}

void CategoryChips::placeFades()
{
    const QScrollBar *bar = horizontalScrollBar();
    const QSize size = viewport()->size();
    m_leftFade->setGeometry(0, 0, fadeWidth, size.height());
    m_rightFade->setGeometry(size.width() - fadeWidth, 0, fadeWidth, size.height());
    m_leftFade->setVisible(bar->value() > bar->minimum());
    m_rightFade->setVisible(bar->value() < bar->maximum());
    m_leftFade->raise();
    m_rightFade->raise();
}

bool CategoryChips::drag(CategoryChip *chip, const QMouseEvent &event)
{
    QScrollBar *bar = horizontalScrollBar();
    const qreal x = event.globalPosition().x();
    switch (event.type()) {
    case QEvent::MouseButtonPress:
        if (event.button() == Qt::LeftButton) {
            m_pressX = x;
            m_pressValue = bar->value();
            m_dragging = false;
        }
        return false;
    case QEvent::MouseMove: {
        if (!m_pressX || !(event.buttons() & Qt::LeftButton))
            return false;
        const int moved = qRound(x - *m_pressX);
        if (!m_dragging) {
            if (bar->maximum() == bar->minimum() || std::abs(moved) < QApplication::startDragDistance())
                return false;
            m_dragging = true;
            // Let go of the chip, so that the release after a drag chooses nothing.
            if (chip)
                chip->setDown(false);
        }
        bar->setValue(m_pressValue - moved);
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (event.button() == Qt::LeftButton) {
            m_pressX.reset();
            if (std::exchange(m_dragging, false) && chip)
                chip->setDown(false);
        }
        return false;
    default:
        return false;
    }
}

bool CategoryChips::moveAlong(CategoryChip *chip, const QKeyEvent &event)
{
    if (!isChipKey(event))
        return false;
    const QList<CategoryChip *> all = chips();
    switch (event.key()) {
    case Qt::Key_Left:
        if (const int at = all.indexOf(chip); at > 0)
            all[at - 1]->setFocus(Qt::BacktabFocusReason);
        break;
    case Qt::Key_Right:
        if (const int at = all.indexOf(chip); at + 1 < all.size())
            all[at + 1]->setFocus(Qt::TabFocusReason);
        break;
    default:
        chip->click();
        break;
    }
    return true;
}

bool CategoryChips::eventFilter(QObject *watched, QEvent *event)
{
    CategoryChip *chip = ownChip(watched);
    if (!chip && watched != viewport())
        return QScrollArea::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Wheel:
        // A chip passes the wheel on to the viewport.
        if (!chip) {
            const auto *wheel = static_cast<QWheelEvent *>(event);
            const QPoint delta = wheel->pixelDelta().isNull() ? wheel->angleDelta() / 4 : wheel->pixelDelta();
            const int step = std::abs(delta.x()) > std::abs(delta.y()) ? delta.x() : delta.y();
            horizontalScrollBar()->setValue(horizontalScrollBar()->value() - step);
            return true;
        }
        break;
    case QEvent::Resize:
        if (!chip)
            placeFades();
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        if (drag(chip, *static_cast<QMouseEvent *>(event)))
            return true;
        break;
    case QEvent::FocusIn:
        if (chip) {
            bringIntoView(chip);
            // Installed last, it sees the keys before the application's other filters (the player's).
            qApp->installEventFilter(m_keys);
        }
        break;
    case QEvent::FocusOut:
        if (chip)
            qApp->removeEventFilter(m_keys);
        break;
    case QEvent::ShortcutOverride:
        // The window's keys (Space plays, the arrows skip) wait while a chip has the keyboard.
        if (chip && isChipKey(*static_cast<QKeyEvent *>(event))) {
            event->accept();
            return true;
        }
        break;
    default:
        break;
    }
    return QScrollArea::eventFilter(watched, event);
}
