#include "roadloom/ui/deck/MapPanel.h"
#include "platform/gui/MapTileLoader.h"

#include "roadloom/model/AppModel.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/widgets/ContentUnavailableWidget.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/Symbols.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QToolButton>
#include <QUrl>

#include <cmath>

namespace {

QString attributionFor(const QString &urlTemplate)
{
    const QString host = QUrl(urlTemplate).host();
    const QString domain = QLatin1Char('.') + host.toLower();
    if (domain.endsWith(QLatin1String(".openstreetmap.org")))
        return QStringLiteral("© OpenStreetMap contributors");
    if (domain.endsWith(QLatin1String(".arcgisonline.com")))
        return QStringLiteral("Tiles © Esri");
    return host;
}

MapLayer layerFor(const QString &urlTemplate)
{
    return MapLayer{urlTemplate, 19, attributionFor(urlTemplate)};
}

qint64 halfSecondOf(double time)
{
    return std::isfinite(time) ? qint64(std::trunc(time * 2)) : 0;
}

} // namespace

MapPanel::MapPanel(AppModel &model, QWidget *parent)
    : Card(QStringLiteral("Route"), QStringLiteral("map"), parent), m_model(model)
{
    auto *controls = new QWidget(this);
    auto *row = new QHBoxLayout(controls);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    m_followButton = new QToolButton(controls);
    m_followButton->setAutoRaise(true);
    m_followButton->setIconSize(QSize(14, 14));
    m_styleMenu = new QComboBox(controls);
    m_styleMenu->setToolTip(QStringLiteral("Map style"));
    m_styleMenu->setFont(TextStyles::caption());
    m_styleMenu->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (MapStyleChoice style : allMapStyleChoices)
        m_styleMenu->addItem(::title(style), rawValue(style));
    row->addWidget(m_followButton, 0, Qt::AlignVCenter);
    row->addWidget(m_styleMenu, 0, Qt::AlignVCenter);
    setAccessory(controls);

    m_stack = new QStackedWidget(this);
    m_map = new SlippyMap(m_stack);
    m_map->setCornerColor(palette().color(QPalette::Window), 8);
    m_map->setKeepsClearOfControls(true); // the vehicle never hides under the scale or the stepper
    // As low as the zoom stepper, so a deck in two rows still fits a short column.
    m_map->setMinimumSize(80, 64);
    m_placeholder =
        new ContentUnavailableWidget(QStringLiteral("location.slash"), QString(), QString(), m_stack);
    m_stack->addWidget(m_map);
    m_stack->addWidget(m_placeholder);
    setContent(m_stack);

    PlayerController *player = &model.player();
    Preferences *prefs = &model.preferences();
    connect(player, &PlayerController::telemetryChanged, this, [this] { telemetryChanged(); });
    connect(player, &PlayerController::isLoadingTelemetryChanged, this, [this] { telemetryChanged(); });
    connect(player, &PlayerController::clipChanged, this, [this] { clipChanged(); });
    connect(player, &PlayerController::currentTimeChanged, this, [this](double t) { tick(t); });
    connect(m_map, &SlippyMap::cameraChangeEnded, this, [this](bool byUser) { cameraChangeEnded(byUser); });
    connect(m_followButton, &QToolButton::clicked, this, [this] { toggleFollow(); });
    // Theater mode only hides the deck, but the camera and following belong to the deck's life: a deck that
    // comes back starts over, following and showing the whole route.
    connect(&model, &AppModel::theaterModeChanged, this, [this](bool on) {
        if (on)
            return;
        setFollow(true);
        frameRoute(false);
    });
    connect(prefs, &Preferences::mapStyleChanged, this, [this] { applyStyle(); });
    connect(prefs, &Preferences::mapTileURLChanged, this, [this] { applyStyle(); });
    connect(prefs, &Preferences::mapSatelliteTileURLChanged, this, [this] { applyStyle(); });
    connect(prefs, &Preferences::mapLabelsTileURLChanged, this, [this] { applyStyle(); });
    connect(m_styleMenu, &QComboBox::activated, prefs, [prefs](int i) {
        prefs->setMapStyle(allMapStyleChoices[std::clamp(i, 0, int(allMapStyleChoices.size()) - 1)]);
    });

    const auto &clip = player->clip();
    m_clipID = clip ? std::optional(clip->id) : std::nullopt;
    m_halfSecond = halfSecondOf(player->currentTime());
    setFollow(true);
    applyStyle();
    telemetryChanged();
}

QList<MapLayer> MapPanel::layers(MapStyleChoice style, const QString &street, const QString &satellite,
                                 const QString &labels)
{
    const QString base = MapTileLoader::isUsableTemplate(street) ? street : Preferences::defaultMapTileURL;
    if (style == MapStyleChoice::standard || !MapTileLoader::isUsableTemplate(satellite))
        return {layerFor(base)};
    QList<MapLayer> result{layerFor(satellite)};
    if (style == MapStyleChoice::hybrid && MapTileLoader::isUsableTemplate(labels))
        result.append(layerFor(labels));
    return result;
}

void MapPanel::paletteChanged()
{
    if (!m_placeholder)
        return; // still being built
    m_map->setCornerColor(palette().color(QPalette::Window), 8);
    telemetryChanged(); // marker tints
}

void MapPanel::setAccessoryCompact(bool compact)
{
    // Short of room the menu shows the start of the style's name; its list still names each in full.
    m_styleMenu->setMinimumContentsLength(compact ? 3 : 0);
    m_styleMenu->setSizeAdjustPolicy(compact ? QComboBox::AdjustToMinimumContentsLengthWithIcon
                                             : QComboBox::AdjustToContents);
}

bool MapPanel::showsMap() const
{
    return m_stack->currentWidget() == m_map;
}

void MapPanel::applyStyle()
{
    const Preferences &prefs = m_model.preferences();
    {
        const QSignalBlocker block(m_styleMenu);
        m_styleMenu->setCurrentIndex(
            int(std::find(allMapStyleChoices.begin(), allMapStyleChoices.end(), prefs.mapStyle()) -
                allMapStyleChoices.begin()));
    }
    m_map->setLayers(
        layers(prefs.mapStyle(), prefs.mapTileURL(), prefs.mapSatelliteTileURL(), prefs.mapLabelsTileURL()));
}

void MapPanel::telemetryChanged()
{
    const PlayerController &player = m_model.player();
    const Telemetry &telemetry = player.telemetry();
    if (!telemetry.hasGPS()) {
        m_placeholder->setTitle(player.isLoadingTelemetry() ? QStringLiteral("Reading GPS…")
                                                            : QStringLiteral("No GPS Data"));
        m_placeholder->setDescription(player.isLoadingTelemetry()
                                          ? QString()
                                          : QStringLiteral("This recording has no position fixes."));
        m_stack->setCurrentWidget(m_placeholder);
        m_map->setRoute({});
        m_map->setMarkers({});
        m_map->setVehicle(std::nullopt);
        return;
    }
    QList<GeoPoint> route;
    route.reserve(telemetry.gps.size());
    for (const GPSFix &fix : telemetry.gps)
        route.append({fix.latitude, fix.longitude});
    m_map->setRoute(route);

    QList<SlippyMap::Marker> markers;
    markers.append({route.first(), QStringLiteral("Start"),
                    Symbols::icon(QStringLiteral("flag.fill"), Qt::white), Palette::green(palette())});
    if (const auto peak = telemetry.peakG(); peak && peak->magnitude() > peakThreshold) {
        if (const auto fix = telemetry.gpsAt(peak->time))
            markers.append({{fix->latitude, fix->longitude},
                            QString::asprintf("%.1f g", peak->magnitude()),
                            Symbols::icon(QStringLiteral("exclamationmark.triangle.fill"), Qt::white),
                            Palette::red(palette())});
    }
    m_map->setMarkers(markers);
    m_stack->setCurrentWidget(m_map);
    tick(player.currentTime());
}

void MapPanel::clipChanged()
{
    const auto &clip = m_model.player().clip();
    const std::optional<QString> id = clip ? std::optional(clip->id) : std::nullopt;
    // The same recording comes again once the media cache has resolved it: that is no new recording.
    if (id == m_clipID)
        return;
    m_clipID = id;
    setFollow(true);
    frameRoute(false);
}

void MapPanel::tick(double time)
{
    const auto fix = m_model.player().telemetry().gpsAt(time);
    m_map->setVehicle(
        fix ? std::optional(SlippyMap::Vehicle{{fix->latitude, fix->longitude}, fix->course.value_or(0)})
            : std::nullopt);
    const qint64 half = halfSecondOf(time);
    if (half == m_halfSecond)
        return;
    m_halfSecond = half;
    if (!m_follow || !fix || m_map->isDragging())
        return;
    m_followMoving = true;
    m_map->setCamera(
        {{fix->latitude, fix->longitude}, m_map->zoomForGroundHeight(followGround, fix->latitude)},
        followMoveMs, QEasingCurve::Linear);
}

void MapPanel::cameraChangeEnded(bool byUser)
{
    // Only the user's moves and the moves to the vehicle can end following; the framing of a new recording
    // leaves the vehicle at the route's start, far from the middle, and must not.
    const bool counts = byUser || m_followMoving;
    if (!byUser)
        m_followMoving = false;
    if (!counts || !m_follow)
        return;
    const auto fix = m_model.player().telemetry().gpsAt(m_model.player().currentTime());
    if (!fix)
        return;
    const SlippyMap::Region region = m_map->region();
    const double latitudeOff = std::abs(region.centre.latitude - fix->latitude);
    const double longitudeOff = std::abs(std::remainder(region.centre.longitude - fix->longitude, 360.0));
    if (latitudeOff > followMargin * region.latitudeSpan ||
        longitudeOff > followMargin * region.longitudeSpan)
        setFollow(false);
}

void MapPanel::toggleFollow()
{
    setFollow(!m_follow);
    if (!m_follow)
        frameRoute(true);
}

void MapPanel::setFollow(bool follow)
{
    m_follow = follow;
    m_followButton->setIcon(
        Symbols::icon(follow ? QStringLiteral("location.fill") : QStringLiteral("location")));
    m_followButton->setToolTip(follow ? QStringLiteral("Following vehicle — click to show whole route")
                                      : QStringLiteral("Follow vehicle"));
}

void MapPanel::frameRoute(bool animated)
{
    m_followMoving = false;
    m_map->setAutomatic(animated);
}
