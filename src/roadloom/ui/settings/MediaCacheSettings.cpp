#include "roadloom/ui/settings/MediaCacheSettings.h"

#include "platform/Alerts.h"
#include "platform/gui/FileRevealer.h"
#include "roadcore/CachePolicy.h"
#include "roadcore/MediaCacheTypes.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/Formats.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/widgets/BusyIndicator.h"
#include "roadloom/ui/widgets/ElidedLabel.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/SymbolLabel.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

int indexOf(CachePolicy policy)
{
    return int(std::find(allCachePolicies.begin(), allCachePolicies.end(), policy) -
               allCachePolicies.begin());
}

} // namespace

MediaCacheSettings::MediaCacheSettings(AppModel &model, QWidget *parent)
    : FormSection(QStringLiteral("Media Cache"), parent), m_model(model)
{
    setFooter(QStringLiteral(
        "Imported recordings are copied here in the background so they keep playing if the originals are "
        "moved, renamed, deleted or the SD card is removed. Copies on the same Btrfs or XFS volume take "
        "almost no extra space."));
    Preferences &prefs = model.preferences();
    CacheCoordinator &cache = model.cache();

    m_policy = new QComboBox;
    for (CachePolicy policy : allCachePolicies)
        m_policy->addItem(title(policy));
    m_policy->setCurrentIndex(indexOf(prefs.cachePolicy()));
    addRow(QStringLiteral("Keep backup copies of"), m_policy);
    connect(m_policy, &QComboBox::activated, this, &MediaCacheSettings::policyChosen);
    connect(&prefs, &Preferences::cachePolicyChanged, this, [this](CachePolicy policy) {
        const QSignalBlocker block(m_policy);
        m_policy->setCurrentIndex(indexOf(policy));
    });

    m_stored = new QStackedWidget;
    m_busy = new BusyIndicator(BusyIndicator::Size::small);
    auto *busyRow = new QWidget;
    auto *busyLayout = new QHBoxLayout(busyRow);
    busyLayout->setContentsMargins(0, 0, 0, 0);
    busyLayout->addStretch();
    busyLayout->addWidget(m_busy);
    m_storedText = new QLabel;
    m_storedText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_stored->addWidget(busyRow);
    m_stored->addWidget(m_storedText);
    m_stored->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    addRow(QStringLiteral("Stored"), m_stored);
    connect(&cache, &CacheCoordinator::usageChanged, this, &MediaCacheSettings::usageChanged);
    usageChanged(cache.usage());

    auto *location = new QWidget;
    auto *locationLayout = new QHBoxLayout(location);
    locationLayout->setContentsMargins(0, 0, 0, 0);
    m_location = new ElidedLabel(cache.root(), Qt::ElideLeft);
    m_location->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_location->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_show = new QPushButton(QStringLiteral("Show"));
    locationLayout->addWidget(m_location, 1);
    locationLayout->addWidget(m_show);
    addRow(QStringLiteral("Location"), location);
    connect(m_show, &QPushButton::clicked, this,
            [this] { m_model.revealer().reveal(m_model.cache().root()); });

    auto *actions = new QWidget;
    auto *actionsColumn = new QVBoxLayout(actions);
    actionsColumn->setContentsMargins(0, 0, 0, 0);
    auto *actionsLayout = new QHBoxLayout;
    actionsColumn->addLayout(actionsLayout);
    m_removeAvailable = new QPushButton(QStringLiteral("Remove Copies of Available Originals"));
    m_removeAvailable->setToolTip(
        QStringLiteral("Frees space but keeps copies whose original can no longer be found"));
    m_clear = new QPushButton(QStringLiteral("Clear Entire Cache…"));
    actionsLayout->addStretch();
    actionsLayout->addWidget(m_removeAvailable);
    actionsLayout->addWidget(m_clear);
    // Where the user pressed them: the sidebar, where the cache also says it, may be out of sight.
    m_refusal = new QWidget;
    auto *refusalLayout = new QHBoxLayout(m_refusal);
    refusalLayout->setContentsMargins(0, 0, 0, 0);
    refusalLayout->setSpacing(5);
    m_refusalSymbol = new SymbolLabel(QStringLiteral("exclamationmark.triangle"), 12);
    m_refusalText = new QLabel;
    m_refusalText->setFont(TextStyles::caption());
    m_refusalText->setWordWrap(true);
    refusalLayout->addWidget(m_refusalSymbol, 0, Qt::AlignTop);
    refusalLayout->addWidget(m_refusalText, 1);
    actionsColumn->addWidget(m_refusal);
    addRow(actions);
    connect(&cache, &CacheCoordinator::clearRefusalChanged, this, &MediaCacheSettings::showRefusal);
    showRefusal(cache.clearRefusal());
    // Neither waits for the clear: the buttons stay enabled while it runs.
    connect(m_removeAvailable, &QPushButton::clicked, this, [this] { m_model.clearMediaCache(true); });
    connect(m_clear, &QPushButton::clicked, this, &MediaCacheSettings::confirmClear);

    applyColors();
}

QString MediaCacheSettings::storedDescription(const MediaCacheUsage &usage)
{
    return Formats::byteCount(usage.cachedBytes) + Formats::separator + Formats::count(usage.cachedFiles) +
           QStringLiteral(" files") + Formats::separator + Formats::count(usage.recordings) +
           QStringLiteral(" recordings in library");
}

void MediaCacheSettings::policyChosen(int index)
{
    if (index < 0 || index >= int(allCachePolicies.size()))
        return;
    const CachePolicy policy = allCachePolicies.at(std::size_t(index));
    Preferences &prefs = m_model.preferences();
    if (policy == prefs.cachePolicy())
        return;
    // The coordinator starts a run (or re-plans the active one) when the stored policy changes, so this
    // write is the whole of it: a second start would plan twice. Nothing is deleted when the policy narrows.
    prefs.setCachePolicy(policy);
}

void MediaCacheSettings::usageChanged(const std::optional<MediaCacheUsage> &usage)
{
    if (usage) {
        m_storedText->setText(storedDescription(*usage));
        m_stored->setCurrentWidget(m_storedText);
    } else {
        m_stored->setCurrentIndex(0);
    }
}

void MediaCacheSettings::showRefusal(const std::optional<QString> &refusal)
{
    m_refusalText->setText(refusal.value_or(QString()));
    m_refusal->setVisible(refusal.has_value());
}

void MediaCacheSettings::confirmClear()
{
    Alert alert;
    alert.style = Alert::Style::warning;
    alert.messageText = QStringLiteral("Clear the entire media cache?");
    alert.informativeText =
        QStringLiteral("Recordings whose originals are no longer available will be removed "
                       "from the library and can't be played again.");
    alert.buttons = {QStringLiteral("Clear Cache"), QStringLiteral("Cancel")};
    alert.defaultButton = 1; // Enter never clears
    if (m_model.alerts().run(alert, window()) == 0)
        m_model.clearMediaCache(false);
}

void MediaCacheSettings::showEvent(QShowEvent *event)
{
    FormSection::showEvent(event);
    m_model.cache().refreshUsage();
}

void MediaCacheSettings::changeEvent(QEvent *event)
{
    FormSection::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void MediaCacheSettings::applyColors()
{
    m_location->setColor(Palette::secondaryText(palette()));
    const QColor orange = Palette::orange(palette());
    m_refusalSymbol->setColor(orange);
    QPalette text = m_refusalText->palette();
    text.setColor(QPalette::WindowText, orange);
    m_refusalText->setPalette(text);
}
