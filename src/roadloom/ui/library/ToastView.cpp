#include "roadloom/ui/library/ToastView.h"

#include "platform/gui/FileRevealer.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/SymbolLabel.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QPushButton>

#include <algorithm>

namespace {

// The capsule: the window colour at 92 % behind a hairline, with a soft shadow below.
class Capsule : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal radius = shape.height() / 2;
        QColor fill = palette().color(QPalette::Window);
        fill.setAlphaF(0.92f);
        QPainterPath path;
        path.addRoundedRect(shape, radius, radius);
        painter.fillPath(path, fill);
        painter.setPen(QPen(Palette::separator(palette()), 1));
        painter.drawPath(path);
    }
};

QPropertyAnimation *animate(QObject *target, const QByteArray &property, const QVariant &from,
                            const QVariant &to, QObject *parent)
{
    auto *animation = new QPropertyAnimation(target, property, parent);
    animation->setDuration(ToastView::duration);
    animation->setEasingCurve(QEasingCurve::OutCubic);
    animation->setStartValue(from);
    animation->setEndValue(to);
    return animation;
}

} // namespace

ToastView::ToastView(AppModel &model, QWidget *window) : QWidget(window), m_model(model)
{
    setObjectName(QStringLiteral("toast"));
    setAttribute(Qt::WA_TranslucentBackground);
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(shadowMargin, shadowMargin / 2, shadowMargin, shadowMargin);

    m_capsule = new Capsule(this);
    auto *shadow = new QGraphicsDropShadowEffect(m_capsule);
    shadow->setColor(QColor(0, 0, 0, 38));
    shadow->setBlurRadius(16);
    shadow->setOffset(0, 2);
    m_capsule->setGraphicsEffect(shadow);
    outer->addWidget(m_capsule);

    auto *row = new QHBoxLayout(m_capsule);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(10);
    m_symbol = new SymbolLabel(QString(), 16, m_capsule);
    m_message = new QLabel(m_capsule);
    m_message->setWordWrap(true);
    m_message->setMaximumWidth(640);
    m_message->setMaximumHeight(m_message->fontMetrics().lineSpacing() * 2 + 2);
    m_reveal = new QPushButton(QStringLiteral("Show in File Manager"), m_capsule);
    m_reveal->setFlat(true);
    m_reveal->setCursor(Qt::PointingHandCursor);
    m_reveal->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; }"));
    row->addWidget(m_symbol);
    row->addWidget(m_message, 1);
    row->addWidget(m_reveal);

    // The reveal leaves the toast: its own timer ends it.
    connect(m_reveal, &QPushButton::clicked, this, [this] {
        if (m_toast && m_toast->revealURL)
            m_model.revealer().reveal(*m_toast->revealURL);
    });
    connect(&model, &AppModel::toastChanged, this, &ToastView::follow);
    window->installEventFilter(this);
    hide();
    follow(model.toast());
}

bool ToastView::isAnimating() const
{
    return m_animation && m_animation->state() == QAbstractAnimation::Running;
}

QPoint ToastView::restingPosition() const
{
    const QWidget *window = parentWidget();
    return {(window->width() - width()) / 2, window->height() - height() + shadowMargin - bottomSpace};
}

void ToastView::follow(const std::optional<Toast> &toast)
{
    if (toast && m_toast && toast->id == m_toast->id)
        return;
    if (m_animation)
        m_animation->stop(); // a banner still sliding in now leaves from where it is
    if (m_toast && (isVisible() || m_arriving))
        slide(false);
    hide();
    m_toast = toast;
    if (!toast)
        return;
    m_symbol->setSymbol(toast->systemImage);
    m_symbol->setColor(Palette::accent(palette()));
    m_message->setText(toast->message);
    // A wrapped label asks for a narrow width: a long message (a file name in it) takes the width that
    // shows it in its two lines.
    const QFontMetrics metrics = m_message->fontMetrics();
    int width = std::min(m_message->maximumWidth(), metrics.horizontalAdvance(toast->message) / 2);
    while (width < m_message->maximumWidth() &&
           metrics.boundingRect(QRect(0, 0, width, 1 << 16), Qt::TextWordWrap, toast->message).height() >
               metrics.lineSpacing() * 2)
        width += 8;
    m_message->setMinimumWidth(std::min(width, m_message->maximumWidth()));
    m_reveal->setVisible(toast->revealURL.has_value());
    QPalette link = m_reveal->palette();
    link.setColor(QPalette::ButtonText, Palette::accent(palette()));
    m_reveal->setPalette(link);
    slide(true);
}

// A picture of the banner moves and fades (one effect a widget: the banner's own shadow stays as drawn);
// the banner itself shows once it rests.
void ToastView::slide(bool in)
{
    QWidget *window = parentWidget();
    if (in) {
        if (QLayout *layout = this->layout())
            layout->activate();
        adjustSize();
    }
    const QPoint from =
        in ? QPoint(restingPosition().x(), window->height()) : (m_arriving ? m_arriving->pos() : pos());
    const QPoint to = in ? restingPosition() : QPoint(from.x(), window->height());
    const qreal opacity = m_arriving && !in ? m_arrivingOpacity : (in ? 0.0 : 1.0);

    auto *copy = new QLabel(window);
    copy->setObjectName(QStringLiteral("toastCopy"));
    copy->setAttribute(Qt::WA_TransparentForMouseEvents);
    copy->setAttribute(Qt::WA_TranslucentBackground);
    copy->setPixmap(grab());
    copy->setGeometry(QRect(from, size()));
    auto *fade = new QGraphicsOpacityEffect(copy);
    fade->setOpacity(opacity);
    copy->setGraphicsEffect(fade);
    if (m_arriving && !in)
        m_arriving->deleteLater();
    m_arriving = nullptr;
    copy->show();
    copy->raise();

    auto *group = new QParallelAnimationGroup(copy);
    QPropertyAnimation *move = animate(copy, "pos", from, to, group);
    group->addAnimation(move);
    group->addAnimation(animate(fade, "opacity", opacity, in ? 1.0 : 0.0, group));
    if (in) {
        m_arriving = copy;
        m_slide = move;
        m_animation = group;
        connect(fade, &QGraphicsOpacityEffect::opacityChanged, this,
                [this](qreal value) { m_arrivingOpacity = value; });
        connect(group, &QAbstractAnimation::finished, this, [this, copy] {
            copy->deleteLater();
            if (m_arriving == copy)
                m_arriving = nullptr;
            show();
            raise();
            place();
        });
    } else {
        connect(group, &QAbstractAnimation::finished, copy, &QObject::deleteLater);
    }
    group->start();
}

void ToastView::place()
{
    if (!m_toast)
        return;
    adjustSize();
    if (isAnimating()) {
        // Sliding in: aim at where the banner rests in the window as it is now.
        if (m_slide)
            m_slide->setEndValue(restingPosition());
        return;
    }
    move(restingPosition());
}

bool ToastView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        place();
    return QWidget::eventFilter(watched, event);
}
