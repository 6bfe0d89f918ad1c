#include "platform/gui/SlippyMap.h"

#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

const QColor landColor(0xf2, 0xef, 0xe9);
const QColor gridColor(0xdd, 0xd8, 0xcf);
const QColor routeColor(0x0a, 0x7a, 0xff);
const QColor vehicleColor(0x0a, 0x7a, 0xff);
constexpr double markerRadius = 11;
constexpr double vehicleRadius = 14;

double clampZoom(double zoom)
{
    return std::clamp(std::isfinite(zoom) ? zoom : SlippyMap::minimumZoom, SlippyMap::minimumZoom,
                      SlippyMap::maximumZoom);
}

// Text with a light halo around its glyphs, readable on any tile; drawn from the glyph cache.
void haloText(QPainter &painter, const QPointF &baseline, const QString &text, const QColor &color)
{
    painter.setPen(QColor(255, 255, 255, 200));
    for (const QPointF offset : {QPointF(-1, 0), QPointF(1, 0), QPointF(0, -1), QPointF(0, 1),
                                 QPointF(-1, -1), QPointF(1, 1), QPointF(-1, 1), QPointF(1, -1)})
        painter.drawText(baseline + offset, text);
    painter.setPen(color);
    painter.drawText(baseline, text);
}

// Douglas–Peucker: marks the points of [first, last] needed to stay within the tolerance of the line.
void simplify(const QList<QPointF> &points, qsizetype first, qsizetype last, double tolerance,
              std::vector<char> &keep)
{
    std::vector<std::pair<qsizetype, qsizetype>> pending{{first, last}};
    while (!pending.empty()) {
        const auto [from, to] = pending.back();
        pending.pop_back();
        if (to <= from + 1)
            continue;
        const QPointF a = points[from], d = points[to] - a;
        const double length = std::hypot(d.x(), d.y());
        double worst = -1;
        qsizetype index = -1;
        for (qsizetype i = from + 1; i < to; ++i) {
            const QPointF p = points[i] - a;
            const double distance =
                length > 0 ? std::abs(d.x() * p.y() - d.y() * p.x()) / length : std::hypot(p.x(), p.y());
            if (distance > worst) {
                worst = distance;
                index = i;
            }
        }
        if (worst <= tolerance)
            continue;
        keep[size_t(index)] = 1;
        pending.push_back({from, index});
        pending.push_back({index, to});
    }
}

bool finite(const GeoPoint &point)
{
    return std::isfinite(point.latitude) && std::isfinite(point.longitude);
}

// A round length of 1, 2 or 5 times a power of ten not above the limit.
double roundLength(double limit)
{
    if (!(limit > 0))
        return 0;
    const double power = std::pow(10.0, std::floor(std::log10(limit)));
    for (double step : {5.0, 2.0, 1.0})
        if (step * power <= limit)
            return step * power;
    return power;
}

} // namespace

SlippyMap::SlippyMap(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
    setMinimumSize(120, 90);
    m_wheelPause.setSingleShot(true);
    m_wheelPause.setInterval(wheelPauseMs);
    connect(&m_wheelPause, &QTimer::timeout, this, [this] { emit cameraChangeEnded(true); });
    m_tileTimer.setSingleShot(true);
    m_tileTimer.setInterval(0);
    connect(&m_tileTimer, &QTimer::timeout, this, &SlippyMap::requestTiles);
    connect(&m_tiles, &MapTileLoader::tileReady, this, [this] { update(); });
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        if (m_animation.state() != QAbstractAnimation::Running)
            return;
        const double t = value.toDouble();
        Frame frame;
        frame.zoom = m_animationFrom.zoom + (m_animationTo.zoom - m_animationFrom.zoom) * t;
        if (m_animationAnchor) {
            // Keep the ground under the pointer where it is while the zoom changes.
            const QPointF ground = m_animationFrom.centre + (*m_animationAnchor - viewCentre()) /
                                                                WebMercator::worldSize(m_animationFrom.zoom);
            frame.centre = ground - (*m_animationAnchor - viewCentre()) / WebMercator::worldSize(frame.zoom);
        } else {
            frame.centre = m_animationFrom.centre + (m_animationTo.centre - m_animationFrom.centre) * t;
        }
        applyFrame(frame);
    });
    connect(&m_animation, &QVariantAnimation::finished, this, [this] {
        applyFrame(m_animationAnchor ? Frame{m_centre, m_animationTo.zoom} : m_animationTo);
        emit cameraChangeEnded(m_animationByUser);
    });
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(1.0);
}

SlippyMap::~SlippyMap() = default;

void SlippyMap::setLayers(const QList<MapLayer> &layers)
{
    if (m_layers == layers)
        return;
    m_layers = layers;
    scheduleTiles();
    update();
}

void SlippyMap::setRoute(const QList<GeoPoint> &route)
{
    QList<GeoPoint> kept;
    kept.reserve(route.size());
    for (const GeoPoint &point : route)
        if (finite(point))
            kept.append(point);
    m_route = WebMercator::unwrapped(std::move(kept));
    m_routeProjected.clear();
    m_routeProjected.reserve(m_route.size());
    for (const GeoPoint &point : std::as_const(m_route))
        m_routeProjected.append(WebMercator::project(point));
    m_routeLayerValid = false;
    if (m_automatic) {
        if (auto frame = routeFrame())
            applyFrame(*frame);
    }
    update();
}

void SlippyMap::setMarkers(const QList<Marker> &markers)
{
    m_markers.clear();
    for (const Marker &marker : markers)
        if (finite(marker.at))
            m_markers.append(marker);
    update();
}

void SlippyMap::setVehicle(const std::optional<Vehicle> &vehicle)
{
    const std::optional<Vehicle> before = m_vehicle;
    const QRect beforeRect = vehicleRect();
    m_vehicle = vehicle && finite(vehicle->at) ? vehicle : std::nullopt;
    // Between fixes the vehicle creeps along by fractions of a pixel at every tick.
    if (before && m_vehicle && std::abs(before->course - m_vehicle->course) < 0.5) {
        const QPointF moved = (pointFor(m_vehicle->at) - pointFor(before->at)) * devicePixelRatioF();
        if (std::abs(moved.x()) < 0.5 && std::abs(moved.y()) < 0.5) {
            m_vehicle = before;
            return;
        }
    }
    update(beforeRect.united(vehicleRect()));
}

void SlippyMap::setCornerColor(const QColor &color, double radius)
{
    m_cornerColor = color;
    m_cornerRadius = radius;
    update();
}

void SlippyMap::setAutomatic(bool animated)
{
    m_automatic = true;
    const auto frame = routeFrame();
    if (!frame)
        return;
    if (animated && isVisible())
        animateTo(*frame, 350, QEasingCurve::OutCubic, false);
    else {
        stopAnimation();
        applyFrame(*frame);
        emit cameraChangeEnded(false);
    }
}

void SlippyMap::setCamera(const Camera &camera, int durationMs, QEasingCurve curve)
{
    m_automatic = false;
    if (!finite(camera.centre))
        return;
    GeoPoint centre = camera.centre;
    centre.longitude =
        WebMercator::nearestLongitude(centre.longitude, WebMercator::unproject(m_centre).longitude);
    const double zoom = clampZoom(camera.zoom);
    const Frame target{WebMercator::project(centre) - focusOffset() / WebMercator::worldSize(zoom), zoom};
    if (durationMs > 0)
        animateTo(target, durationMs, curve, false);
    else {
        stopAnimation();
        applyFrame(target);
        emit cameraChangeEnded(false);
    }
}

SlippyMap::Camera SlippyMap::camera() const
{
    return {WebMercator::unproject(m_centre + focusOffset() / scale()), m_zoom};
}

void SlippyMap::setKeepsClearOfControls(bool keep)
{
    if (keep == m_keepClear)
        return;
    m_keepClear = keep;
    if (m_automatic && !isAnimating()) {
        if (auto frame = routeFrame())
            applyFrame(*frame);
    }
}

QRectF SlippyMap::contentRect() const
{
    const QRectF view(rect());
    if (!m_keepClear)
        return view;
    // Left of the stepper's column, above the band of the scale and the attribution.
    const QList<QRectF> controls = controlRects();
    double bottom = height();
    for (qsizetype i = 1; i < controls.size(); ++i)
        bottom = std::min(bottom, controls[i].top());
    const QRectF content(0, 0, controls.first().left(), bottom);
    // A map too small for both keeps the plain view.
    return content.width() >= 2 * vehicleSize && content.height() >= 2 * vehicleSize ? content : view;
}

QList<QRectF> SlippyMap::controlRects() const
{
    // The stepper first, then what lines the bottom edge.
    QList<QRectF> rects{QRectF(zoomInButton().united(zoomOutButton()))};
    const QFontMetricsF scaleMetrics(scaleFont());
    const double maxWidth = std::min(100.0, width() / 3.0);
    rects.append(
        QRectF(10, height() - 10 - 6 - scaleMetrics.height(), maxWidth, 6 + scaleMetrics.height() + 2));
    const QString text = attributionText();
    if (!text.isEmpty()) {
        const QFontMetrics metrics(attributionFont());
        const int textWidth = metrics.horizontalAdvance(text);
        rects.append(QRectF(width() - textWidth - 10, height() - metrics.height() - 4, textWidth + 8,
                            metrics.height() + 2));
    }
    return rects;
}

QFont SlippyMap::scaleFont() const
{
    QFont f = font();
    f.setPixelSize(10);
    return f;
}

QFont SlippyMap::attributionFont() const
{
    QFont f = font();
    f.setPixelSize(9);
    return f;
}

QString SlippyMap::attributionText() const
{
    QStringList parts;
    for (const MapLayer &layer : m_layers)
        if (!layer.attribution.isEmpty() && !parts.contains(layer.attribution))
            parts.append(layer.attribution);
    if (parts.isEmpty())
        return QString();
    return QFontMetrics(attributionFont())
        .elidedText(parts.join(QStringLiteral(" · ")), Qt::ElideLeft, std::max(40, width() - 90));
}

SlippyMap::Region SlippyMap::region() const
{
    Region region;
    region.centre = camera().centre;
    region.centre.longitude = std::remainder(region.centre.longitude, 360.0);
    const double halfHeight = height() / 2.0 / scale();
    const double top = WebMercator::unproject(QPointF(m_centre.x(), m_centre.y() - halfHeight)).latitude;
    const double bottom = WebMercator::unproject(QPointF(m_centre.x(), m_centre.y() + halfHeight)).latitude;
    region.latitudeSpan = top - bottom;
    region.longitudeSpan = width() / scale() * 360;
    return region;
}

bool SlippyMap::isAnimating() const
{
    return m_animation.state() == QAbstractAnimation::Running;
}

double SlippyMap::zoomForGroundHeight(double metres, double latitude) const
{
    const double clampedLatitude = std::clamp(latitude, -WebMercator::maxLatitude, WebMercator::maxLatitude);
    const double perPixel = metres / std::max(1, height());
    // metresPerPixel(lat, z) = circumference × cos(lat) / (256 × 2^z)
    const double circumference = 2 * std::numbers::pi * WebMercator::earthRadius;
    return clampZoom(std::log2(circumference * std::cos(clampedLatitude * std::numbers::pi / 180) /
                               (WebMercator::tileSize * perPixel)));
}

QPointF SlippyMap::pointFor(const GeoPoint &point) const
{
    return toScreen(projectNearCentre(point));
}

QRect SlippyMap::zoomInButton() const
{
    return QRect(width() - 8 - 28, 8, 28, 28);
}

QRect SlippyMap::zoomOutButton() const
{
    return QRect(width() - 8 - 28, 8 + 28, 28, 28);
}

QPointF SlippyMap::toScreen(const QPointF &projected) const
{
    return (projected - m_centre) * scale() + viewCentre();
}

QPointF SlippyMap::toProjected(const QPointF &screen) const
{
    return m_centre + (screen - viewCentre()) / scale();
}

QPointF SlippyMap::projectNearCentre(const GeoPoint &point) const
{
    GeoPoint near = point;
    near.longitude = WebMercator::nearestLongitude(point.longitude, (m_centre.x() - 0.5) * 360);
    return WebMercator::project(near);
}

std::optional<SlippyMap::Frame> SlippyMap::routeFrame() const
{
    if (m_routeProjected.isEmpty())
        return std::nullopt;
    double left = m_routeProjected.first().x(), right = left;
    double top = m_routeProjected.first().y(), bottom = top;
    for (const QPointF &p : m_routeProjected) {
        left = std::min(left, p.x());
        right = std::max(right, p.x());
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
    }
    const QPointF centre((left + right) / 2, (top + bottom) / 2);
    const QPointF offset = focusOffset();
    const double spanX = (right - left) * WebMercator::tileSize;
    const double spanY = (bottom - top) * WebMercator::tileSize;
    if (spanX <= 0 && spanY <= 0) {
        const GeoPoint at = WebMercator::unproject(centre);
        const double zoom = zoomForGroundHeight(singlePointGround, at.latitude);
        return Frame{centre - offset / WebMercator::worldSize(zoom), zoom};
    }
    // With the controls kept clear, a vehicle anywhere on the route has its own size of room to every edge.
    const double padding = m_keepClear ? std::max(framePadding, vehicleSize) : framePadding;
    const QRectF content = contentRect();
    const double roomX = std::max(1.0, content.width() - 2 * padding);
    const double roomY = std::max(1.0, content.height() - 2 * padding);
    double fit = std::numeric_limits<double>::infinity();
    if (spanX > 0)
        fit = std::min(fit, roomX / spanX);
    if (spanY > 0)
        fit = std::min(fit, roomY / spanY);
    const double zoom = clampZoom(std::log2(fit));
    return Frame{centre - offset / WebMercator::worldSize(zoom), zoom};
}

void SlippyMap::applyFrame(const Frame &frame)
{
    m_centre = QPointF(frame.centre.x(), std::clamp(frame.centre.y(), 0.0, 1.0));
    m_zoom = clampZoom(frame.zoom);
    cameraMoved();
}

void SlippyMap::animateTo(const Frame &target, int durationMs, const QEasingCurve &curve, bool byUser,
                          std::optional<QPointF> anchor)
{
    m_animation.stop();
    m_animationFrom = Frame{m_centre, m_zoom};
    m_animationTo = Frame{target.centre, clampZoom(target.zoom)};
    m_animationAnchor = anchor;
    m_animationByUser = byUser;
    m_animation.setDuration(durationMs);
    m_animation.setEasingCurve(curve);
    m_animation.start();
}

void SlippyMap::stopAnimation()
{
    m_animation.stop();
}

void SlippyMap::zoomAbout(const QPointF &screen, double zoom)
{
    const QPointF ground = toProjected(screen);
    const double clamped = clampZoom(zoom);
    applyFrame(Frame{ground - (screen - viewCentre()) / WebMercator::worldSize(clamped), clamped});
}

void SlippyMap::cameraMoved()
{
    scheduleTiles();
    // Following a vehicle pans the map at the animation's rate, mostly by fractions of a pixel.
    if (moveIsVisible())
        update();
}

bool SlippyMap::moveIsVisible() const
{
    // Following asks for the zoom that shows the same ground at each fix's latitude: a change far below a
    // pixel at the edges.
    const double ratio = devicePixelRatioF();
    const double edge = std::hypot(width(), height()) / 2;
    if (m_paintedZoom < 0 || std::abs(std::exp2(m_zoom - m_paintedZoom) - 1) * edge * ratio >= 0.5)
        return true;
    const QPointF moved = (m_centre - m_paintedCentre) * scale() * ratio;
    return std::abs(moved.x()) >= 0.5 || std::abs(moved.y()) >= 0.5;
}

void SlippyMap::scheduleTiles()
{
    if (!m_tileTimer.isActive())
        m_tileTimer.start();
}

int SlippyMap::tileLevel(const MapLayer &layer) const
{
    return std::clamp(int(std::lround(m_zoom)), 0, std::clamp(layer.maxZoom, 0, 22));
}

void SlippyMap::requestTiles()
{
    if (!isVisible() || width() <= 0 || height() <= 0) {
        m_tiles.want({});
        return;
    }
    struct Wanted {
        double distance;
        int layer;
        QString url;
    };
    QList<Wanted> wanted;
    for (int index = 0; index < m_layers.size(); ++index) {
        const MapLayer &layer = m_layers[index];
        if (layer.urlTemplate.isEmpty())
            continue;
        const int level = tileLevel(layer);
        const double world = WebMercator::tileSize * std::exp2(level);
        const QPointF topLeft = toProjected(QPointF(0, 0)) * world / WebMercator::tileSize;
        const QPointF bottomRight = toProjected(QPointF(width(), height())) * world / WebMercator::tileSize;
        const QPointF centre = m_centre * world / WebMercator::tileSize;
        const int count = 1 << level;
        const int y0 = std::max(0, int(std::floor(topLeft.y())));
        const int y1 = std::min(count - 1, int(std::floor(bottomRight.y())));
        const qint64 x0 = qint64(std::floor(topLeft.x()));
        const qint64 x1 = std::min(qint64(std::floor(bottomRight.x())), x0 + count - 1);
        for (qint64 x = x0; x <= x1; ++x)
            for (int y = y0; y <= y1; ++y) {
                const double distance = std::hypot(x + 0.5 - centre.x(), y + 0.5 - centre.y());
                wanted.append({distance, index, MapTileLoader::tileURL(layer.urlTemplate, level, int(x), y)});
            }
    }
    // The centre first, the base layer before the labels over it.
    std::stable_sort(wanted.begin(), wanted.end(), [](const Wanted &a, const Wanted &b) {
        return a.layer != b.layer ? a.layer < b.layer : a.distance < b.distance;
    });
    QStringList urls;
    urls.reserve(wanted.size());
    for (const Wanted &w : wanted)
        if (!urls.contains(w.url))
            urls.append(w.url);
    m_tiles.want(urls);
}

void SlippyMap::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect area = event->rect();
    // A part painted on its own keeps to the camera the rest was painted with, moved since by less than
    // half a pixel; a whole paint takes the camera as it is.
    const bool whole = area.contains(rect());
    struct Restore {
        SlippyMap &map;
        QPointF centre;
        double zoom;
        bool swapped;
        ~Restore()
        {
            if (swapped) {
                map.m_centre = centre;
                map.m_zoom = zoom;
            }
        }
    } restore{*this, m_centre, m_zoom, !whole && !moveIsVisible()};
    if (restore.swapped) {
        m_centre = m_paintedCentre;
        m_zoom = m_paintedZoom;
    } else if (whole) {
        m_paintedCentre = m_centre;
        m_paintedZoom = m_zoom;
    }
    painter.setClipRect(area);
    paintBackground(painter, area);
    paintTiles(painter, area);
    painter.setRenderHint(QPainter::Antialiasing);
    paintRoute(painter);
    // Balloons first, then every title, so no balloon hides another marker's title.
    for (const Marker &marker : std::as_const(m_markers))
        paintMarker(painter, marker, false);
    for (const Marker &marker : std::as_const(m_markers))
        paintMarker(painter, marker, true);
    paintVehicle(painter);
    paintScale(painter);
    paintStepper(painter);
    paintAttribution(painter);
    if (m_cornerColor.isValid() && m_cornerRadius > 0) {
        // Only the four corner squares: a mask over the whole map would cost a pass over every pixel. Their
        // shapes are cut once for each size, as cutting costs more than filling.
        const double r = m_cornerRadius;
        if (m_corners.size != size() || m_corners.radius != r) {
            QPainterPath rounded;
            rounded.addRoundedRect(QRectF(rect()), r, r);
            const QRectF squares[] = {QRectF(0, 0, r, r), QRectF(width() - r, 0, r, r),
                                      QRectF(0, height() - r, r, r), QRectF(width() - r, height() - r, r, r)};
            for (size_t i = 0; i < std::size(squares); ++i) {
                QPainterPath square;
                square.addRect(squares[i]);
                m_corners.shapes[i] = square.subtracted(rounded);
            }
            m_corners.size = size();
            m_corners.radius = r;
        }
        for (const QPainterPath &corner : m_corners.shapes) {
            if (area.intersects(corner.boundingRect().toAlignedRect()))
                painter.fillPath(corner, m_cornerColor);
        }
    }
}

void SlippyMap::paintBackground(QPainter &painter, const QRect &area) const
{
    painter.fillRect(area, landColor);
    // Lines of latitude and longitude about every hundred pixels, so an empty map still shows movement.
    const double degreesPerPixel = 360 / scale();
    double step = 0;
    for (double candidate : {0.0001, 0.0002, 0.0005, 0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5,
                             1.0, 2.0, 5.0, 10.0, 15.0, 30.0}) {
        step = candidate;
        if (candidate / degreesPerPixel >= 96)
            break;
    }
    painter.setPen(QPen(gridColor, 1));
    const GeoPoint topLeft = WebMercator::unproject(toProjected(area.topLeft()));
    const GeoPoint bottomRight = WebMercator::unproject(toProjected(area.bottomRight() + QPoint(1, 1)));
    QList<QLineF> lines;
    for (double lon = std::floor(topLeft.longitude / step) * step;
         lon <= bottomRight.longitude && lines.size() < 400; lon += step) {
        const double x = std::round(toScreen(WebMercator::project({0, lon})).x()) + 0.5;
        lines.append(QLineF(x, area.top(), x, area.bottom() + 1));
    }
    for (double lat = std::floor(bottomRight.latitude / step) * step;
         lat <= topLeft.latitude && lines.size() < 800; lat += step) {
        const double y = std::round(toScreen(WebMercator::project({lat, 0})).y()) + 0.5;
        lines.append(QLineF(area.left(), y, area.right() + 1, y));
    }
    painter.drawLines(lines);
}

void SlippyMap::paintTiles(QPainter &painter, const QRect &area)
{
    for (const MapLayer &layer : std::as_const(m_layers)) {
        if (layer.urlTemplate.isEmpty())
            continue;
        const int level = tileLevel(layer);
        const double tileOnScreen = WebMercator::tileSize * std::exp2(m_zoom - level);
        const bool scaled = std::abs(tileOnScreen - WebMercator::tileSize) > 0.01;
        painter.setRenderHint(QPainter::SmoothPixmapTransform, scaled);
        const double levelWorld = WebMercator::tileSize * std::exp2(level);
        const QPointF topLeft = toProjected(area.topLeft()) * levelWorld / WebMercator::tileSize;
        const QPointF bottomRight =
            toProjected(area.bottomRight() + QPoint(1, 1)) * levelWorld / WebMercator::tileSize;
        const int count = 1 << level;
        const int y0 = std::max(0, int(std::floor(topLeft.y())));
        const int y1 = std::min(count - 1, int(std::floor(bottomRight.y())));
        const qint64 x0 = qint64(std::floor(topLeft.x()));
        const qint64 x1 = std::min(qint64(std::floor(bottomRight.x())), x0 + count - 1);
        for (qint64 x = x0; x <= x1; ++x)
            for (int y = y0; y <= y1; ++y) {
                const QPointF corner = toScreen(QPointF(double(x) / count, double(y) / count));
                // Whole pixels at both edges, so neighbouring tiles leave no seam.
                const QPointF far = toScreen(QPointF(double(x + 1) / count, double(y + 1) / count));
                const QRect target(QPoint(int(std::floor(corner.x())), int(std::floor(corner.y()))),
                                   QPoint(int(std::floor(far.x())) - 1, int(std::floor(far.y())) - 1));
                if (const QImage *image =
                        m_tiles.tile(MapTileLoader::tileURL(layer.urlTemplate, level, int(x), y))) {
                    painter.drawImage(target, *image);
                    continue;
                }
                // Until the tile arrives, a coarser one already at hand stands in, enlarged.
                for (int up = 1; up <= 4 && level - up >= 0; ++up) {
                    const int px = int(((x % count) + count) % count) >> up, py = y >> up;
                    const QImage *parent =
                        m_tiles.tile(MapTileLoader::tileURL(layer.urlTemplate, level - up, px, py));
                    if (!parent)
                        continue;
                    const double part = parent->width() / double(1 << up);
                    const int mask = (1 << up) - 1;
                    const QRectF source((int(((x % count) + count) % count) & mask) * part, (y & mask) * part,
                                        part, part);
                    painter.drawImage(QRectF(target), *parent, source);
                    break;
                }
            }
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
}

void SlippyMap::paintRoute(QPainter &painter)
{
    if (m_routeProjected.isEmpty())
        return;
    const double world = scale();
    const QPointF viewOrigin = m_centre * world - viewCentre();
    const QRectF view(viewOrigin, QSizeF(width(), height()));
    const QRectF layer(m_routeLayerOrigin, QSizeF(m_routeLayer.size()) / m_routeLayer.devicePixelRatio());
    if (!m_routeLayerValid || m_routeLayerZoom != m_zoom || !layer.contains(view))
        rebuildRouteLayer();
    painter.drawImage(m_routeLayerOrigin - viewOrigin, m_routeLayer);
}

void SlippyMap::rebuildRouteLayer()
{
    const double world = scale();
    const QPointF viewOrigin = m_centre * world - viewCentre();
    const QSize size(width() + 2 * routeMargin, height() + 2 * routeMargin);
    const double ratio = devicePixelRatioF();
    if (m_routeLayer.size() != size * ratio) {
        m_routeLayer = QImage(size * ratio, QImage::Format_ARGB32_Premultiplied);
        m_routeLayer.setDevicePixelRatio(ratio);
    }
    m_routeLayer.fill(Qt::transparent);
    m_routeLayerOrigin =
        QPointF(std::floor(viewOrigin.x()) - routeMargin, std::floor(viewOrigin.y()) - routeMargin);
    m_routeLayerZoom = m_zoom;
    m_routeLayerValid = true;

    // The route in layer pixels, points closer than a pixel to the last kept one dropped; each run of it that
    // crosses the layer is then simplified to stay within a pixel of the fixes, and the rest skipped.
    const QRectF bounds = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(-4, -4, 4, 4);
    QList<QPointF> points;
    points.reserve(std::min<qsizetype>(m_routeProjected.size(), 16384));
    points.append(m_routeProjected.first() * world - m_routeLayerOrigin);
    for (qsizetype i = 1; i < m_routeProjected.size(); ++i) {
        const QPointF p = m_routeProjected[i] * world - m_routeLayerOrigin;
        const QPointF &last = points.last();
        if (std::abs(p.x() - last.x()) < 1 && std::abs(p.y() - last.y()) < 1 &&
            i + 1 < m_routeProjected.size())
            continue;
        points.append(p);
    }
    QList<QLineF> lines;
    std::vector<char> keep(size_t(points.size()), 0);
    qsizetype runStart = -1;
    const auto flushRun = [&](qsizetype runEnd) {
        if (runStart < 0)
            return;
        keep[size_t(runStart)] = keep[size_t(runEnd)] = 1;
        simplify(points, runStart, runEnd, 1.0, keep);
        qsizetype from = runStart;
        for (qsizetype i = runStart + 1; i <= runEnd; ++i)
            if (keep[size_t(i)]) {
                lines.append(QLineF(points[from], points[i]));
                from = i;
            }
        runStart = -1;
    };
    for (qsizetype i = 1; i < points.size(); ++i) {
        const bool visible =
            QRectF(points[i - 1], points[i]).normalized().adjusted(-0.5, -0.5, 0.5, 0.5).intersects(bounds) ||
            bounds.contains(points[i]);
        if (visible && runStart < 0)
            runStart = i - 1;
        if (!visible)
            flushRun(i - 1);
    }
    flushRun(points.size() - 1);
    const QPointF last = points.last();
    QPainter painter(&m_routeLayer);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(routeColor, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (lines.isEmpty())
        painter.drawPoint(last);
    else
        painter.drawLines(lines);
}

void SlippyMap::paintMarker(QPainter &painter, const Marker &marker, bool title) const
{
    const QPointF at = pointFor(marker.at);
    if (title)
        return paintMarkerTitle(painter, marker, at);
    const QPointF head = at - QPointF(0, markerRadius + 6);
    // The balloon's outline, its tip at the origin: made once, as uniting two paths costs more than drawing.
    static const QPainterPath shape = [] {
        const QPointF centre(0, -(markerRadius + 6));
        QPainterPath balloon;
        balloon.addEllipse(centre, markerRadius, markerRadius);
        QPainterPath tip;
        tip.moveTo(centre + QPointF(-6, 7));
        tip.lineTo(0, 0);
        tip.lineTo(centre + QPointF(6, 7));
        tip.closeSubpath();
        return balloon.united(tip);
    }();
    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(marker.tint);
    painter.drawPath(shape.translated(at));
    if (!marker.glyph.isNull()) {
        const QRectF glyph(head - QPointF(7, 7), QSizeF(14, 14));
        marker.glyph.paint(&painter, glyph.toAlignedRect());
    }
    painter.setBrush(Qt::NoBrush);
}

void SlippyMap::paintMarkerTitle(QPainter &painter, const Marker &marker, const QPointF &at) const
{
    if (marker.title.isEmpty())
        return;
    QFont font = painter.font();
    font.setPixelSize(11);
    font.setWeight(QFont::DemiBold);
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    const double width = metrics.horizontalAdvance(marker.title);
    haloText(painter, QPointF(at.x() - width / 2, at.y() + 2 + metrics.ascent()), marker.title,
             QColor(0x22, 0x22, 0x22));
}

QRect SlippyMap::vehicleRect() const
{
    if (!m_vehicle)
        return {};
    const QPointF at = pointFor(m_vehicle->at);
    const double r = vehicleRadius + 5;
    return QRectF(at - QPointF(r, r), QSizeF(2 * r, 2 * r)).toAlignedRect();
}

void SlippyMap::paintVehicle(QPainter &painter) const
{
    if (!m_vehicle)
        return;
    const QPointF at = pointFor(m_vehicle->at);
    painter.setPen(Qt::NoPen);
    for (int ring = 3; ring >= 1; --ring) {
        painter.setBrush(QColor(0, 0, 0, 28));
        painter.drawEllipse(at, vehicleRadius + ring, vehicleRadius + ring);
    }
    painter.setBrush(vehicleColor);
    painter.drawEllipse(at, vehicleRadius, vehicleRadius);
    painter.setPen(QPen(Qt::white, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(at, vehicleRadius - 1, vehicleRadius - 1);

    painter.save();
    painter.translate(at);
    painter.rotate(std::isfinite(m_vehicle->course) ? m_vehicle->course : 0);
    const QPointF arrow[] = {{0, -7.5}, {6, 6.5}, {0, 3}, {-6, 6.5}};
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawPolygon(arrow, 4);
    painter.restore();
}

void SlippyMap::paintScale(QPainter &painter) const
{
    const double metresPerPixel =
        WebMercator::metresPerPixel(WebMercator::unproject(m_centre).latitude, m_zoom);
    if (!(metresPerPixel > 0))
        return;
    const QLocale locale;
    const bool imperial = locale.measurementSystem() != QLocale::MetricSystem;
    const double maxWidth = std::min(100.0, width() / 3.0);
    double length = 0, pixels = 0;
    QString text;
    if (imperial) {
        const double feetPerPixel = metresPerPixel / 0.3048;
        const double miles = roundLength(maxWidth * feetPerPixel / 5280);
        if (miles >= 1) {
            length = miles;
            pixels = miles * 5280 / feetPerPixel;
            text = locale.toString(miles, 'g', 6) + QStringLiteral(" mi");
        } else {
            length = roundLength(maxWidth * feetPerPixel);
            pixels = length / feetPerPixel;
            text = locale.toString(length, 'g', 6) + QStringLiteral(" ft");
        }
    } else {
        length = roundLength(maxWidth * metresPerPixel);
        pixels = length / metresPerPixel;
        text = length >= 1000 ? locale.toString(length / 1000, 'g', 6) + QStringLiteral(" km")
                              : locale.toString(length, 'g', 6) + QStringLiteral(" m");
    }
    if (!(length > 0) || pixels < 4)
        return;
    const QFont font = scaleFont();
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const double left = 10, base = height() - 10;
    const QRectF label(left, base - 6 - metrics.height(),
                       std::max<double>(pixels, metrics.horizontalAdvance(text)), metrics.height());
    painter.setPen(QPen(QColor(255, 255, 255, 200), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(left, base), QPointF(left + pixels, base));
    painter.setPen(QPen(QColor(0x33, 0x33, 0x33), 1.5, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(left, base), QPointF(left + pixels, base));
    painter.drawLine(QPointF(left, base - 4), QPointF(left, base));
    painter.drawLine(QPointF(left + pixels, base - 4), QPointF(left + pixels, base));
    haloText(painter, QPointF(label.left(), label.top() + metrics.ascent()), text, QColor(0x33, 0x33, 0x33));
}

void SlippyMap::paintStepper(QPainter &painter) const
{
    const QRectF frame = QRectF(zoomInButton().united(zoomOutButton())).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(QColor(0, 0, 0, 50), 1));
    painter.setBrush(QColor(255, 255, 255, 235));
    painter.drawRoundedRect(frame, 6, 6);
    painter.setPen(QPen(QColor(0, 0, 0, 40), 1));
    painter.drawLine(QPointF(frame.left() + 5, frame.center().y()),
                     QPointF(frame.right() - 5, frame.center().y()));
    painter.setPen(QPen(QColor(0x33, 0x33, 0x33), 1.6, Qt::SolidLine, Qt::RoundCap));
    const QPointF plus = QRectF(zoomInButton()).center(), minus = QRectF(zoomOutButton()).center();
    painter.drawLine(plus - QPointF(5, 0), plus + QPointF(5, 0));
    painter.drawLine(plus - QPointF(0, 5), plus + QPointF(0, 5));
    painter.drawLine(minus - QPointF(5, 0), minus + QPointF(5, 0));
    painter.setBrush(Qt::NoBrush);
}

void SlippyMap::paintAttribution(QPainter &painter) const
{
    const QString text = attributionText();
    if (text.isEmpty())
        return;
    const QFont font = attributionFont();
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const QRect box(width() - metrics.horizontalAdvance(text) - 10, height() - metrics.height() - 4,
                    metrics.horizontalAdvance(text) + 8, metrics.height() + 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 190));
    painter.drawRoundedRect(box, 3, 3);
    painter.setPen(QColor(0x44, 0x44, 0x44));
    painter.drawText(box, Qt::AlignCenter, text);
    painter.setBrush(Qt::NoBrush);
}

void SlippyMap::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_routeLayerValid = false;
    if (m_automatic && !isAnimating()) {
        if (auto frame = routeFrame())
            applyFrame(*frame);
    }
    scheduleTiles();
}

void SlippyMap::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    scheduleTiles();
}

void SlippyMap::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const QPointF at = event->position();
    if (zoomInButton().contains(at.toPoint()) || zoomOutButton().contains(at.toPoint())) {
        m_automatic = false;
        const double step = zoomInButton().contains(at.toPoint()) ? 1 : -1;
        const double base = isAnimating() ? m_animationTo.zoom : m_zoom;
        animateTo(Frame{m_centre, std::round(base) + step}, 250, QEasingCurve::OutCubic, true);
        return;
    }
    stopAnimation();
    m_dragging = true;
    m_dragMoved = false;
    m_dragLast = at;
}

void SlippyMap::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return QWidget::mouseMoveEvent(event);
    const QPointF delta = event->position() - m_dragLast;
    m_dragLast = event->position();
    if (delta.isNull())
        return;
    m_dragMoved = true;
    m_automatic = false;
    applyFrame(Frame{m_centre - delta / scale(), m_zoom});
}

void SlippyMap::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_dragging)
        return QWidget::mouseReleaseEvent(event);
    m_dragging = false;
    if (m_dragMoved)
        emit cameraChangeEnded(true);
}

void SlippyMap::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || zoomInButton().contains(event->position().toPoint()) ||
        zoomOutButton().contains(event->position().toPoint()))
        return mousePressEvent(event); // a quick second click on the stepper steps again
    m_dragging = false;
    m_automatic = false;
    animateTo(Frame{m_centre, m_zoom + 1}, 300, QEasingCurve::OutCubic, true, event->position());
}

void SlippyMap::wheelEvent(QWheelEvent *event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0)
        return;
    stopAnimation();
    m_automatic = false;
    zoomAbout(event->position(), m_zoom + notches * 0.5);
    m_wheelPause.start();
    event->accept();
}
