#include "roadloom/ui/ToastView.h"

#include "platform/gui/FileRevealer.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/ui/Palette.h"
#include "roadloom/ui/SymbolLabel.h"
#include "roadloom/ui/TextStyles.h"

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
    m_message->setMaximumWidth(480);
    m_message->setMaximumHeight(m_message->fontMetrics().lineSpacing() * 2 + 2);
    m_reveal = new QPushButton(QStringLiteral("Show in File Manager"), m_capsule);
    m_reveal->setFlat(true);
    m_reveal->setCursor(Qt::PointingHandCursor);
    m_reveal->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; }"));
    row->addWidget(m_symbol);
    row->addWidget(m_message, 1);
    row->addWidget(m_reveal);

    m_opacity = new QGraphicsOpacityEffect(this);
    m_opacity->setOpacity(1);
    setGraphicsEffect(m_opacity);

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
    if (m_toast && isVisible())
        toast ? slideOutCopy() : slideOut();
    m_toast = toast;
    if (!toast)
        return;
    m_symbol->setSymbol(toast->systemImage);
    m_symbol->setColor(Palette::accent(palette()));
    m_message->setText(toast->message);
    m_reveal->setVisible(toast->revealURL.has_value());
    QPalette link = m_reveal->palette();
    link.setColor(QPalette::ButtonText, Palette::accent(palette()));
    m_reveal->setPalette(link);
    slideIn();
}

// The old banner leaves as a picture of itself, so the new one can come in at the same time.
void ToastView::slideOutCopy()
{
    auto *copy = new QLabel(parentWidget());
    copy->setAttribute(Qt::WA_TransparentForMouseEvents);
    copy->setAttribute(Qt::WA_TranslucentBackground);
    copy->setPixmap(grab());
    copy->setGeometry(geometry());
    auto *fade = new QGraphicsOpacityEffect(copy);
    fade->setOpacity(m_opacity->opacity());
    copy->setGraphicsEffect(fade);
    copy->show();
    copy->raise();
    auto *group = new QParallelAnimationGroup(copy);
    group->addAnimation(
        animate(copy, "pos", copy->pos(), QPoint(copy->x(), parentWidget()->height()), group));
    group->addAnimation(animate(fade, "opacity", fade->opacity(), 0.0, group));
    connect(group, &QAbstractAnimation::finished, copy, &QObject::deleteLater);
    group->start();
}

void ToastView::slideIn()
{
    if (m_animation)
        m_animation->stop();
    adjustSize();
    const QPoint rest = restingPosition();
    const QPoint below(rest.x(), parentWidget()->height());
    move(below);
    m_opacity->setOpacity(0);
    show();
    raise();
    auto *group = new QParallelAnimationGroup(this);
    group->addAnimation(animate(this, "pos", below, rest, group));
    group->addAnimation(animate(m_opacity, "opacity", 0.0, 1.0, group));
    m_animation = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void ToastView::slideOut()
{
    if (m_animation)
        m_animation->stop();
    auto *group = new QParallelAnimationGroup(this);
    group->addAnimation(animate(this, "pos", pos(), QPoint(x(), parentWidget()->height()), group));
    group->addAnimation(animate(m_opacity, "opacity", m_opacity->opacity(), 0.0, group));
    connect(group, &QAbstractAnimation::finished, this, [this] {
        if (!m_toast)
            hide();
    });
    m_animation = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void ToastView::place()
{
    if (!isVisible() || isAnimating())
        return;
    adjustSize();
    move(restingPosition());
}

bool ToastView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        place();
    return QWidget::eventFilter(watched, event);
}
