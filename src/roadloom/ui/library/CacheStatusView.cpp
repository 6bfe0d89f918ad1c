#include "roadloom/ui/library/CacheStatusView.h"

#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/Formats.h"
#include "roadloom/ui/widgets/ElidedLabel.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/SymbolLabel.h"
#include "roadloom/ui/widgets/Symbols.h"
#include "roadloom/ui/widgets/TextStyles.h"
#include "roadloom/ui/widgets/WrapLabel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

QWidget *line(QWidget *parent, SymbolLabel *symbol, QWidget *text)
{
    auto *widget = new QWidget(parent);
    auto *layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    layout->addWidget(symbol, 0, Qt::AlignTop);
    layout->addWidget(text, 1);
    return widget;
}

} // namespace

CacheStatusView::CacheStatusView(CacheCoordinator &cache, QWidget *parent) : QWidget(parent), m_cache(cache)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);

    m_run = new QWidget(this);
    auto *run = new QVBoxLayout(m_run);
    run->setContentsMargins(0, 0, 0, 0);
    run->setSpacing(5);
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    m_runText = new QLabel(m_run);
    QFont medium = TextStyles::caption();
    medium.setWeight(QFont::Medium);
    m_runText->setFont(medium);
    m_pause = new QToolButton(m_run);
    m_pause->setAutoRaise(true);
    m_pause->setIconSize(QSize(12, 12));
    m_pause->setFocusPolicy(Qt::TabFocus);
    row->addWidget(m_runText);
    row->addStretch(1);
    row->addWidget(m_pause);
    run->addLayout(row);
    m_progress = new QProgressBar(m_run);
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 1000);
    m_progress->setFixedHeight(6);
    run->addWidget(m_progress);
    m_current = new ElidedLabel(QString(), Qt::ElideMiddle, m_run);
    m_current->setFont(TextStyles::caption2());
    run->addWidget(m_current);
    layout->addWidget(m_run);

    m_usageSymbol = new SymbolLabel(QStringLiteral("checkmark.shield"), 12, this);
    m_usageText = new QLabel(this);
    m_usageText->setFont(TextStyles::caption());
    m_usage = line(this, m_usageSymbol, m_usageText);
    layout->addWidget(m_usage);

    m_errorSymbol = new SymbolLabel(QStringLiteral("exclamationmark.triangle"), 12, this);
    m_errorText = new WrapLabel(QString(), this);
    m_errorText->setFont(TextStyles::caption2());
    // Each thing that went wrong in at most three lines, shortened in the middle: what failed stands at
    // the start and why at the end.
    m_errorText->setMaximumLines(3, WrapLabel::LineLimit::eachParagraph);
    m_error = line(this, m_errorSymbol, m_errorText);
    layout->addWidget(m_error);

    connect(m_pause, &QToolButton::clicked, this, [this] { m_cache.setIsPaused(!m_cache.isPaused()); });
    for (auto signal : {&CacheCoordinator::isRunningChanged, &CacheCoordinator::isPausedChanged})
        connect(&cache, signal, this, &CacheStatusView::refresh);
    for (auto signal : {&CacheCoordinator::completedFilesChanged, &CacheCoordinator::totalFilesChanged})
        connect(&cache, signal, this, &CacheStatusView::refresh);
    connect(&cache, &CacheCoordinator::progressChanged, this, &CacheStatusView::refresh);
    connect(&cache, &CacheCoordinator::currentNameChanged, this, &CacheStatusView::refresh);
    connect(&cache, &CacheCoordinator::lastErrorChanged, this, &CacheStatusView::refresh);
    connect(&cache, &CacheCoordinator::lastErrorDetailChanged, this, &CacheStatusView::refresh);
    connect(&cache, &CacheCoordinator::usageChanged, this, &CacheStatusView::refresh);
    applyColors();
    refresh();
}

QString CacheStatusView::runText(bool paused, int completedFiles, int totalFiles)
{
    if (paused)
        return QStringLiteral("Caching paused");
    const int current = std::min(completedFiles + 1, totalFiles);
    return QStringLiteral("Caching %1 of %2").arg(current).arg(totalFiles);
}

QString CacheStatusView::usageText(const MediaCacheUsage &usage)
{
    return Formats::byteCount(usage.cachedBytes) + QStringLiteral(" cached \u00B7 ") +
           QString::number(usage.recordings) + QStringLiteral(" recordings");
}

QString CacheStatusView::pauseHelp(bool paused)
{
    return paused ? QStringLiteral("Resume caching") : QStringLiteral("Pause caching");
}

void CacheStatusView::refresh()
{
    const bool paused = m_cache.isPaused();
    // Paused caching keeps its resume button after the run has ended, or nothing would resume it.
    const bool running = m_cache.isRunning() || paused;
    // Filled before it shows: a progress bar on screen paints the window at once on a new value, in the
    // middle of whatever started the run (a long list arriving).
    if (running) {
        m_runText->setText(runText(paused, m_cache.completedFiles(), m_cache.totalFiles()));
        m_pause->setIcon(Symbols::icon(paused ? QStringLiteral("play.fill") : QStringLiteral("pause.fill")));
        m_pause->setToolTip(pauseHelp(paused));
        m_pause->setAccessibleName(pauseHelp(paused));
        m_progress->setValue(int(std::lround(std::clamp(m_cache.progress(), 0.0, 1.0) * 1000)));
        m_progress->setVisible(m_cache.isRunning());
        const std::optional<QString> name = m_cache.currentName();
        m_current->setVisible(name.has_value());
        m_current->setText(name.value_or(QString()));
    }
    m_run->setVisible(running);
    const std::optional<MediaCacheUsage> usage = m_cache.usage();
    const bool showUsage = !running && usage && usage->cachedFiles >= 1;
    m_usage->setVisible(showUsage);
    if (showUsage)
        m_usageText->setText(usageText(*usage));
    const std::optional<QString> error = m_cache.lastError();
    m_error->setVisible(error.has_value());
    m_errorText->setText(error.value_or(QString()));
    // The names of the recordings and files concerned.
    m_errorText->setToolTip(m_cache.lastErrorDetail().value_or(QString()));
}

void CacheStatusView::applyColors()
{
    const QPalette &palette = this->palette();
    const QColor secondary = Palette::secondaryText(palette);
    m_usageSymbol->setColor(secondary);
    QPalette text = m_usageText->palette();
    text.setColor(QPalette::WindowText, secondary);
    m_usageText->setPalette(text);
    m_current->setColor(secondary);
    const QColor orange = Palette::orange(palette);
    m_errorSymbol->setColor(orange);
    m_errorText->setColor(orange);
}

void CacheStatusView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}
