#include "roadloom/ui/inspector/ClipInspector.h"

#include "roadloom/model/AppModel.h"
#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/inspector/DataLogSheet.h"
#include "roadloom/ui/widgets/FormSection.h"

#include <QScrollBar>
#include <QVBoxLayout>

ClipInspector::ClipInspector(AppModel &model, QWidget *parent) : QScrollArea(parent), m_model(model)
{
    setObjectName(QStringLiteral("clipInspector"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    PlayerController &player = model.player();
    const auto again = [this] { rebuild(); };
    connect(&player, &PlayerController::clipChanged, this, again);
    connect(&player, &PlayerController::telemetryChanged, this, again);
    connect(&player, &PlayerController::isLoadingTelemetryChanged, this, again);
    connect(&player, &PlayerController::mediaInfoChanged, this, again);
    connect(&player, &PlayerController::durationChanged, this, again);
    connect(&player, &PlayerController::frameRateChanged, this, again);
    connect(&model.preferences(), &Preferences::speedUnitChanged, this, again);
    connect(&player, &PlayerController::currentTimeChanged, this, &ClipInspector::followPlayhead);
    connect(&model.cache(), &CacheCoordinator::currentNameChanged, this, &ClipInspector::followCopying);
    rebuild();
}

ClipInspector::~ClipInspector()
{
    delete m_log;
}

void ClipInspector::rebuild()
{
    const PlayerController &player = m_model.player();
    const std::optional<DashClip> &clip = player.clip();
    // The same recording again keeps the reader's place.
    const bool sameRecording = clip && clip->id == m_shownID;
    const int scrolled = sameRecording ? verticalScrollBar()->value() : 0;
    m_shownID = clip ? clip->id : QString();
    m_updaters = {};

    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("inspectorContent"));
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(18);
    if (clip) {
        using namespace InspectorSections;
        const Telemetry &telemetry = player.telemetry();
        column->addWidget(recording(*clip, player));
        column->addWidget(storage(m_model, *clip, m_updaters));
        column->addWidget(embeddedData(
            player, [this] { openDataLog(); }, m_updaters));
        // Sections of the data appear once it has been read.
        if (!player.isLoadingTelemetry()) {
            if (telemetry.hasGPS())
                column->addWidget(gps(telemetry, *clip, m_model.preferences().speedUnit(), m_updaters));
            if (telemetry.hasSensor())
                column->addWidget(sensor(telemetry, m_model.player(), m_updaters));
            if (!telemetry.vehicle.isEmpty())
                column->addWidget(vehicle(telemetry, m_updaters));
            if (!telemetry.other.isEmpty())
                column->addWidget(otherSentences(telemetry));
        }
        const ChannelMediaInfo &media = player.mediaInfo();
        for (Channel channel : allChannels)
            if (const auto info = media.find(channel); info != media.end())
                column->addWidget(InspectorSections::media(channel, info->second));
    }
    column->addStretch(1);

    // A button of the old content may be what asked for this: let it finish first.
    if (QWidget *old = takeWidget())
        old->deleteLater();
    setWidget(content);
    followPlayhead(player.currentTime());
    if (scrolled > 0) {
        content->layout()->activate();
        content->adjustSize();
        verticalScrollBar()->setValue(scrolled);
    }
}

void ClipInspector::followPlayhead(double time)
{
    for (const auto &update : m_updaters.playhead)
        update(time);
}

void ClipInspector::followCopying(const std::optional<QString> &name)
{
    for (const auto &update : m_updaters.copying)
        update(name);
}

QList<FormSection *> ClipInspector::sections() const
{
    QList<FormSection *> found;
    if (!widget())
        return found;
    for (QObject *child : widget()->children())
        if (auto *section = qobject_cast<FormSection *>(child))
            found.append(section);
    return found;
}

FormSection *ClipInspector::section(const QString &header) const
{
    for (FormSection *section : sections())
        if (section->header() == header)
            return section;
    return nullptr;
}

void ClipInspector::openDataLog()
{
    if (m_log)
        return m_log->raise();
    m_log = new DataLogSheet(m_model, window());
    m_log->setAttribute(Qt::WA_DeleteOnClose);
    m_log->open();
}
