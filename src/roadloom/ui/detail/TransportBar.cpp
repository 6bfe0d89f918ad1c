#include "roadloom/ui/detail/TransportBar.h"

#include "roadloom/model/AppModel.h"
#include "roadloom/model/PlaybackRates.h"
#include "roadloom/model/PlayerController.h"
#include "roadloom/model/TimeText.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/detail/Scrubber.h"
#include "roadloom/ui/widgets/Shortcuts.h"
#include "roadloom/ui/widgets/Symbols.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QActionGroup>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidgetAction>

#include <cmath>

namespace {

const char *const symbolProperty = "symbol";

void setSymbol(QToolButton *button, const QString &symbol)
{
    if (button->property(symbolProperty).toString() == symbol)
        return;
    button->setProperty(symbolProperty, symbol);
    button->setIcon(Symbols::icon(symbol));
}

QAction *addOption(QMenu *menu, const QString &text, const QString &symbol)
{
    QAction *action = menu->addAction(Symbols::icon(symbol), text);
    action->setProperty(symbolProperty, symbol);
    return action;
}

} // namespace

TransportBar::TransportBar(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    PlayerController &player = model.player();
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    auto *column = new QVBoxLayout(this);
    // The scrubber reaches into the top padding and the spacing under it for its playhead and marker.
    column->setContentsMargins(14, 8 - Scrubber::topReach, 14, 10); // under the separator line
    column->setSpacing(0);
    m_scrubber = new Scrubber(player, this);
    column->addWidget(m_scrubber);
    column->addSpacing(6 - Scrubber::bottomReach);

    m_upper = new QHBoxLayout;
    m_upper->setSpacing(6);
    column->addLayout(m_upper); // empty, and so of no height, unless stacked
    auto *row = m_row = new QHBoxLayout;
    row->setSpacing(14);
    column->addLayout(row);

    m_time = new QLabel(this);
    m_time->setFont(TextStyles::callout());
    QPalette timePalette = m_time->palette();
    timePalette.setColor(QPalette::WindowText, Palette::secondaryText(palette()));
    m_time->setPalette(timePalette);
    m_time->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_time->setAutoFillBackground(true); // a new time repaints the label alone
    // Wide enough for the widest digits, so the text never asks for a new layout while it runs.
    const QFontMetrics timeMetrics(m_time->font());
    m_time->setFixedWidth(
        std::max(timeWidth, timeMetrics.horizontalAdvance(QStringLiteral("00:00:00 / 00:00:00"))));
    m_time->setFixedHeight(timeMetrics.height());
    row->addWidget(m_time);
    row->addStretch(1);

    m_transport = new QWidget(this);
    auto *group = new QHBoxLayout(m_transport);
    group->setContentsMargins(0, 0, 0, 0);
    group->setSpacing(4);
    using Shortcuts::Command;
    m_previous = transportButton(
        QStringLiteral("backward.end.fill"),
        Shortcuts::tooltip(QStringLiteral("Previous recording"), Command::previousRecording), 30, 16);
    m_back = transportButton(QStringLiteral("gobackward.10"), QStringLiteral("Back 10 seconds"), 30, 16);
    m_previousFrame =
        transportButton(QStringLiteral("backward.frame.fill"),
                        Shortcuts::tooltip(QStringLiteral("Previous frame"), Command::previousFrame), 30, 16);
    m_play = transportButton(QStringLiteral("play.fill"),
                             Shortcuts::tooltip(QStringLiteral("Play / Pause"), Command::playPause), 0, 22);
    m_play->setFixedSize(44, 36);
    m_nextFrame =
        transportButton(QStringLiteral("forward.frame.fill"),
                        Shortcuts::tooltip(QStringLiteral("Next frame"), Command::nextFrame), 30, 16);
    m_forward = transportButton(QStringLiteral("goforward.10"), QStringLiteral("Forward 10 seconds"), 30, 16);
    m_next =
        transportButton(QStringLiteral("forward.end.fill"),
                        Shortcuts::tooltip(QStringLiteral("Next recording"), Command::nextRecording), 30, 16);
    for (QToolButton *button : {m_previous, m_back, m_previousFrame, m_play, m_nextFrame, m_forward, m_next})
        group->addWidget(button, 0, Qt::AlignVCenter);
    row->addWidget(m_transport);
    row->addStretch(1);

    // Seeks are not clamped here: the controller keeps them inside the recording.
    connect(m_previous, &QToolButton::clicked, &model, [&model] { model.goToClip(-1); });
    connect(m_back, &QToolButton::clicked, &player, [&player] { player.seek(player.currentTime() - 10); });
    connect(m_previousFrame, &QToolButton::clicked, &player, [&player] { player.step(-1); });
    connect(m_play, &QToolButton::clicked, &player, &PlayerController::togglePlay);
    connect(m_nextFrame, &QToolButton::clicked, &player, [&player] { player.step(1); });
    connect(m_forward, &QToolButton::clicked, &player, [&player] { player.seek(player.currentTime() + 10); });
    connect(m_next, &QToolButton::clicked, &model, [&model] { model.goToClip(1); });

    auto *right = m_right = new QWidget(this);
    right->setFixedWidth(rightGroupWidth);
    auto *rightRow = new QHBoxLayout(right);
    rightRow->setContentsMargins(0, 0, 0, 0);
    rightRow->setSpacing(10);
    rightRow->addStretch(1);
    rightRow->addWidget(buildSpeed());

    m_mute = new QToolButton(right);
    m_mute->setAutoRaise(true);
    m_mute->setFocusPolicy(Qt::NoFocus);
    m_mute->setFixedWidth(20);
    m_mute->setIconSize(QSize(16, 16));
    rightRow->addWidget(m_mute);
    connect(m_mute, &QToolButton::clicked, &player, [&player] { player.setMuted(!player.isMuted()); });

    m_volume = new QSlider(Qt::Horizontal, right);
    m_volume->setRange(0, 1000);
    m_volume->setFixedWidth(volumeWidth);
    m_volume->setFocusPolicy(Qt::NoFocus);
    rightRow->addWidget(m_volume);
    connect(m_volume, &QSlider::valueChanged, &player,
            [&player](int value) { player.setVolume(value / 1000.0); }); // only the user's move writes

    // Without room for the slider, the mute button's arrow opens a vertical one: a click still mutes.
    m_volumeMenu = new QMenu(m_mute);
    m_popupVolume = new QSlider(Qt::Vertical);
    m_popupVolume->setRange(0, 1000);
    m_popupVolume->setFixedHeight(volumeWidth + 20);
    m_popupVolume->setFocusPolicy(Qt::NoFocus);
    m_popupVolume->setToolTip(QStringLiteral("Volume"));
    auto *holder = new QWidget;
    auto *holderLayout = new QHBoxLayout(holder);
    holderLayout->setContentsMargins(6, 6, 6, 6);
    holderLayout->addWidget(m_popupVolume);
    auto *slot = new QWidgetAction(m_volumeMenu);
    slot->setDefaultWidget(holder);
    m_volumeMenu->addAction(slot);
    connect(m_popupVolume, &QSlider::valueChanged, &player,
            [&player](int value) { player.setVolume(value / 1000.0); });

    rightRow->addWidget(buildOptions());
    row->addWidget(right);

    connect(&player, &PlayerController::currentTimeChanged, this, &TransportBar::showTime);
    connect(&player, &PlayerController::durationChanged, this, &TransportBar::showTime);
    connect(&player, &PlayerController::hasMediaChanged, m_transport, &QWidget::setEnabled);
    connect(&player, &PlayerController::isPlayingChanged, this, &TransportBar::showPlaying);
    connect(&player, &PlayerController::rateChanged, this, &TransportBar::showRate);
    connect(&player, &PlayerController::isMutedChanged, this, &TransportBar::showMute);
    connect(&player, &PlayerController::volumeChanged, this, &TransportBar::showVolume);
    connect(&player, &PlayerController::hasRearChanged, this, &TransportBar::enableRearOptions);
    connect(&player, &PlayerController::showPiPChanged, m_pip, [this](bool show) {
        const QSignalBlocker block(m_pip);
        m_pip->setChecked(show);
    });
    connect(&player, &PlayerController::mirroredChanged, m_mirror, [this](bool mirrored) {
        const QSignalBlocker block(m_mirror);
        m_mirror->setChecked(mirrored);
    });

    showTime();
    m_transport->setEnabled(player.hasMedia());
    showPlaying(player.isPlaying());
    showRate(player.rate());
    showVolume(player.volume());
    m_pip->setChecked(player.showPiP());
    m_mirror->setChecked(player.mirrored());
    enableRearOptions();
}

QToolButton *TransportBar::transportButton(const QString &symbol, const QString &help, int frame, int icon)
{
    auto *button = new QToolButton(this);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolTip(help);
    button->setIconSize(QSize(icon, icon));
    if (frame > 0)
        button->setFixedSize(frame, frame);
    setSymbol(button, symbol);
    return button;
}

QString TransportBar::speedText(double rate)
{
    if (rate == 1.0)
        return QStringLiteral("1×");
    return QLocale().toString(rate, 'g', QLocale::FloatingPointShortest) + QStringLiteral("×");
}

QWidget *TransportBar::buildSpeed()
{
    PlayerController &player = m_model.player();
    m_speed = new QToolButton(this);
    m_speed->setAutoRaise(true);
    m_speed->setFocusPolicy(Qt::NoFocus);
    m_speed->setPopupMode(QToolButton::InstantPopup);
    m_speed->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_speed->setToolTip(QStringLiteral("Playback speed"));
    QFont font = TextStyles::callout();
    font.setWeight(QFont::DemiBold);
    m_speed->setFont(font);

    m_speedMenu = new QMenu(m_speed);
    m_speedMenu->addSection(QStringLiteral("Speed"));
    m_rates = new QActionGroup(m_speedMenu);
    m_rates->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (float rate : PlaybackRates::all) {
        QAction *item = m_speedMenu->addAction(PlaybackRates::label(rate));
        item->setCheckable(true);
        item->setData(double(rate));
        m_rates->addAction(item);
        connect(item, &QAction::triggered, &player, [&player, rate] { player.setRate(rate); });
    }
    m_speed->setMenu(m_speedMenu);
    return m_speed;
}

QWidget *TransportBar::buildOptions()
{
    PlayerController &player = m_model.player();
    m_options = new QToolButton(this);
    m_options->setAutoRaise(true);
    m_options->setFocusPolicy(Qt::NoFocus);
    m_options->setPopupMode(QToolButton::InstantPopup);
    m_options->setIconSize(QSize(16, 16));
    m_options->setToolTip(QStringLiteral("Camera & view options"));
    setSymbol(m_options, QStringLiteral("rectangle.on.rectangle"));

    m_optionsMenu = new QMenu(m_options);
    m_swap = addOption(m_optionsMenu, QStringLiteral("Swap Cameras"), QStringLiteral("arrow.triangle.swap"));
    connect(m_swap, &QAction::triggered, &player, [&player] { player.setSwapped(!player.swapped()); });
    m_pip = addOption(m_optionsMenu, QStringLiteral("Picture in Picture"), QStringLiteral("pip"));
    m_pip->setCheckable(true);
    connect(m_pip, &QAction::triggered, &player, &PlayerController::setShowPiP);
    m_optionsMenu->addSeparator();
    connect(addOption(m_optionsMenu, QStringLiteral("Zoom In"), QStringLiteral("plus.magnifyingglass")),
            &QAction::triggered, &player, &PlayerController::zoomIn);
    connect(addOption(m_optionsMenu, QStringLiteral("Zoom Out"), QStringLiteral("minus.magnifyingglass")),
            &QAction::triggered, &player, &PlayerController::zoomOut);
    connect(addOption(m_optionsMenu, QStringLiteral("Rotate 90°"), QStringLiteral("rotate.right")),
            &QAction::triggered, &player,
            [&player] { player.setRotation(std::fmod(player.rotation() + 90, 360)); });
    m_mirror = addOption(m_optionsMenu, QStringLiteral("Mirror"),
                         QStringLiteral("arrow.left.and.right.righttriangle.left.righttriangle.right"));
    m_mirror->setCheckable(true);
    connect(m_mirror, &QAction::triggered, &player, &PlayerController::setMirrored);
    connect(addOption(m_optionsMenu, QStringLiteral("Reset View"), QStringLiteral("arrow.counterclockwise")),
            &QAction::triggered, &player, &PlayerController::resetView);
    connect(m_optionsMenu, &QMenu::aboutToShow, this, &TransportBar::enableRearOptions);
    m_options->setMenu(m_optionsMenu);
    return m_options;
}

QAction *TransportBar::option(const QString &text) const
{
    for (QAction *action : m_optionsMenu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

void TransportBar::showTime()
{
    const PlayerController &player = m_model.player();
    m_time->setText(timeString(player.currentTime()) + QStringLiteral(" / ") + timeString(player.duration()));
}

void TransportBar::showRate(double rate)
{
    m_speed->setText(speedText(rate));
    const QSignalBlocker block(m_rates);
    bool found = false;
    for (QAction *item : m_rates->actions()) {
        const bool match = !found && float(item->data().toDouble()) == float(rate);
        found = found || match;
        item->setChecked(match);
    }
    // The label's width fits the widest rate, so a change never moves the controls beside it.
    int widest = 0;
    const QFontMetrics metrics(m_speed->font());
    for (float r : PlaybackRates::all)
        widest = std::max(widest, metrics.horizontalAdvance(speedText(r)));
    widest = std::max(widest, metrics.horizontalAdvance(m_speed->text()));
    m_speed->setMinimumWidth(widest + 24);
}

void TransportBar::showMute()
{
    const PlayerController &player = m_model.player();
    const bool silent = player.isMuted() || player.volume() == 0;
    setSymbol(m_mute, silent ? QStringLiteral("speaker.slash.fill") : QStringLiteral("speaker.wave.2.fill"));
}

void TransportBar::showVolume(double volume)
{
    const int value = std::isfinite(volume) ? int(std::lround(std::clamp(volume, 0.0, 1.0) * 1000)) : 0;
    for (QSlider *slider : {m_volume, m_popupVolume}) {
        const QSignalBlocker block(slider);
        slider->setValue(value);
    }
    showMute();
}

void TransportBar::showPlaying(bool playing)
{
    setSymbol(m_play, playing ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"));
}

void TransportBar::enableRearOptions()
{
    const bool rear = m_model.player().hasRear();
    m_swap->setEnabled(rear);
    m_pip->setEnabled(rear);
}

void TransportBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The full row needs fullWidth(); a narrower column (the smallest window, or beside the inspector) drops
    // the volume slider, the frame steps and the fixed widths of the time and the right group rather than
    // letting the controls overlap. The threshold is the full row's, whatever is shown now.
    const int full = fullWidth();
    applyCompact(m_compact ? width() < full + hysteresis : width() < full);
    // Narrower than the narrow row, the time and the right group take a row above the transport buttons
    // (a taller bar, every control still there) rather than dropping more controls.
    const int narrow = compactWidth();
    applyStacked(m_stacked ? width() < narrow + hysteresis : width() < narrow);
}

void TransportBar::applyStacked(bool stacked)
{
    if (stacked == m_stacked)
        return;
    m_stacked = stacked;
    if (stacked) {
        m_row->removeWidget(m_time);
        m_row->removeWidget(m_right);
        m_upper->addWidget(m_time);
        m_upper->addStretch(1);
        m_upper->addWidget(m_right);
        m_upper->setContentsMargins(0, 0, 0, 4);
    } else {
        while (QLayoutItem *item = m_upper->takeAt(0))
            delete item; // not the widget it holds
        m_row->insertWidget(0, m_time);
        m_row->addWidget(m_right);
        m_upper->setContentsMargins(0, 0, 0, 0);
    }
}

int TransportBar::compactTimeWidth() const
{
    return QFontMetrics(m_time->font()).horizontalAdvance(QStringLiteral("00:00.0 / 00:00.0"));
}

int TransportBar::compactWidth() const
{
    // Measured from the controls the narrow row shows, at the widths it gives them, whatever is shown now.
    const auto width = [](const QWidget *w) {
        return std::clamp(w->sizeHint().width(), w->minimumWidth(), w->maximumWidth());
    };
    int transport = 0, buttons = 0;
    for (QToolButton *button : {m_previous, m_back, m_play, m_forward, m_next}) {
        transport += width(button);
        ++buttons;
    }
    transport += (buttons - 1) * m_transport->layout()->spacing();
    const int mute = 20 + m_mute->style()->pixelMetric(QStyle::PM_MenuButtonIndicator);
    const int spacing = m_right->layout()->spacing();
    const int right = std::max(m_speed->sizeHint().width(), m_speed->minimumWidth()) + spacing + mute +
                      spacing + m_options->sizeHint().width();
    const QMargins margins = layout()->contentsMargins();
    return margins.left() + compactTimeWidth() + 6 + transport + 6 + right + margins.right();
}

void TransportBar::applyCompact(bool compact)
{
    if (compact == m_compact)
        return;
    m_compact = compact;
    m_volume->setVisible(!compact);
    m_previousFrame->setVisible(!compact); // the comma and period keys still step
    m_nextFrame->setVisible(!compact);
    m_mute->setMenu(compact ? m_volumeMenu : nullptr);
    m_mute->setPopupMode(compact ? QToolButton::MenuButtonPopup : QToolButton::DelayedPopup);
    m_mute->setFixedWidth(compact ? 20 + m_mute->style()->pixelMetric(QStyle::PM_MenuButtonIndicator) : 20);
    m_row->setSpacing(compact ? 6 : 14);
    const QFontMetrics metrics(m_time->font());
    m_time->setFixedWidth(
        compact ? compactTimeWidth()
                : std::max(timeWidth, metrics.horizontalAdvance(QStringLiteral("00:00:00 / 00:00:00"))));
    if (compact)
        m_right->setFixedWidth(m_right->layout()->minimumSize().width());
    else
        m_right->setFixedWidth(rightGroupWidth);
}

int TransportBar::fullWidth() const
{
    // Measured from every control of the full row, shown or not, so the narrow row cannot move it.
    const QFontMetrics metrics(m_time->font());
    const int time = std::max(timeWidth, metrics.horizontalAdvance(QStringLiteral("00:00:00 / 00:00:00")));
    int transport = 0, buttons = 0;
    for (QToolButton *button :
         {m_previous, m_back, m_previousFrame, m_play, m_nextFrame, m_forward, m_next}) {
        transport += std::clamp(button->sizeHint().width(), button->minimumWidth(), button->maximumWidth());
        ++buttons;
    }
    transport += (buttons - 1) * m_transport->layout()->spacing();
    const QMargins margins = layout()->contentsMargins();
    return margins.left() + time + 14 + transport + 14 + rightGroupWidth + margins.right();
}

QSize TransportBar::minimumSizeHint() const
{
    return {0, QWidget::minimumSizeHint().height()};
}

void TransportBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.fillRect(QRect(0, 0, width(), 1), Palette::separator(palette()));
}
