#pragma once

#include "platform/gui/MapTileLoader.h"
#include "platform/gui/WebMercator.h"

#include <QColor>
#include <QEasingCurve>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

#include <array>
#include <optional>

// A flat, north-up map of web tiles with a route, markers and a vehicle arrow. Without tiles (offline, or
// while they load) it draws a plain background with a graticule, and the route, markers and scale still
// draw. Drag pans, the wheel zooms about the pointer, a double-click zooms in, and the stepper at the top
// trailing corner zooms by whole levels. The camera either frames the route by itself (automatic) or stays
// where it was put; moves can be animated.
class SlippyMap : public QWidget {
    Q_OBJECT
public:
    static constexpr double minimumZoom = 2;
    static constexpr double maximumZoom = 20;
    static constexpr double framePadding = 24;       // pixels around the framed route
    static constexpr double singlePointGround = 700; // metres of ground the map's height shows
    static constexpr int wheelPauseMs = 150;         // a pause this long ends a wheel zoom
    static constexpr int routeMargin = 256;          // pixels of route drawn beyond the view

    struct Camera {
        GeoPoint centre;
        double zoom = minimumZoom;
    };
    struct Region {
        GeoPoint centre;
        double latitudeSpan = 0;
        double longitudeSpan = 0;
    };
    struct Marker {
        GeoPoint at;
        QString title;
        QIcon glyph; // drawn white on the tint
        QColor tint;
    };
    struct Vehicle {
        GeoPoint at;
        double course = 0; // degrees clockwise from north
    };

    explicit SlippyMap(QWidget *parent = nullptr);
    ~SlippyMap() override;

    void setLayers(const QList<MapLayer> &layers);
    const QList<MapLayer> &layers() const { return m_layers; }
    void setRoute(const QList<GeoPoint> &route);
    void setMarkers(const QList<Marker> &markers);
    const QList<Marker> &markers() const { return m_markers; }
    const std::optional<Vehicle> &vehicle() const { return m_vehicle; }
    void setVehicle(const std::optional<Vehicle> &vehicle);
    // The colour outside the rounded corners (the surface the map sits on); invalid: square corners.
    void setCornerColor(const QColor &color, double radius);

    // Keeps the camera's centre and the framed route clear of the map's own controls and labels (the zoom
    // stepper, the scale and the attribution), with a vehicle's size of room to the edges: the centre
    // becomes that of the view less the controls' strips.
    void setKeepsClearOfControls(bool keep);
    bool keepsClearOfControls() const { return m_keepClear; }
    // The part of the view whose middle is the camera's centre and that the framing fills.
    QRectF contentRect() const;
    // What the controls and labels cover, in the widget's coordinates: the zoom stepper first, then the
    // scale and the attribution along the bottom edge.
    QList<QRectF> controlRects() const;
    static constexpr double vehicleSize = 28;

    // Frames the whole route now and again after every change of the route or the size.
    void setAutomatic(bool animated = false);
    bool isAutomatic() const { return m_automatic; }
    // Moves the camera there, at once or over a duration along the curve.
    void setCamera(const Camera &camera, int durationMs = 0, QEasingCurve curve = QEasingCurve::Linear);
    Camera camera() const;
    Region region() const;
    bool isDragging() const { return m_dragging; }
    bool isAnimating() const;

    // The zoom at which the map's height shows this many metres of ground at a latitude.
    double zoomForGroundHeight(double metres, double latitude) const;
    // Where a point is drawn, in the widget's coordinates.
    QPointF pointFor(const GeoPoint &point) const;
    // The zoom stepper's two buttons, for a pointer.
    QRect zoomInButton() const;
    QRect zoomOutButton() const;

    MapTileLoader &tiles() { return m_tiles; }

signals:
    // A move of the camera came to rest: after a drag, a pause of the wheel, the stepper, a double-click
    // (all by the user), an animation, or a jump of the camera or the framing put by the program.
    void cameraChangeEnded(bool byUser);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    struct Frame {
        QPointF centre; // projected
        double zoom = minimumZoom;
    };

    double scale() const { return WebMercator::worldSize(m_zoom); }
    QPointF viewCentre() const { return QPointF(width() / 2.0, height() / 2.0); }
    // From the view's centre to the camera's, in pixels.
    QPointF focusOffset() const { return contentRect().center() - viewCentre(); }
    QFont scaleFont() const;
    QFont attributionFont() const;
    QString attributionText() const;
    QPointF toScreen(const QPointF &projected) const;
    QPointF toProjected(const QPointF &screen) const;
    QPointF projectNearCentre(const GeoPoint &point) const;
    std::optional<Frame> routeFrame() const;
    void applyFrame(const Frame &frame);
    void animateTo(const Frame &target, int durationMs, const QEasingCurve &curve, bool byUser,
                   std::optional<QPointF> anchor = {});
    void stopAnimation();
    void zoomAbout(const QPointF &screen, double zoom);
    void cameraMoved();
    void scheduleTiles();
    void requestTiles();
    int tileLevel(const MapLayer &layer) const;

    void paintBackground(QPainter &painter, const QRect &area) const;
    void paintTiles(QPainter &painter, const QRect &area);
    void paintRoute(QPainter &painter);
    void rebuildRouteLayer();
    void paintMarker(QPainter &painter, const Marker &marker, bool title) const;
    void paintMarkerTitle(QPainter &painter, const Marker &marker, const QPointF &at) const;
    void paintVehicle(QPainter &painter) const;
    void paintScale(QPainter &painter) const;
    void paintStepper(QPainter &painter) const;
    void paintAttribution(QPainter &painter) const;
    QRect vehicleRect() const;

    MapTileLoader m_tiles;
    QList<MapLayer> m_layers;
    QList<GeoPoint> m_route; // longitudes unwrapped
    QList<QPointF> m_routeProjected;
    QList<Marker> m_markers;
    std::optional<Vehicle> m_vehicle;
    QColor m_cornerColor;
    double m_cornerRadius = 0;
    struct {
        QSize size;
        double radius = 0;
        std::array<QPainterPath, 4> shapes; // the corners outside the rounded edge
    } m_corners;

    QPointF m_centre{0.5, 0.5};
    double m_zoom = minimumZoom;
    // The camera as the whole map was last painted; moves of less than half a device pixel from it are
    // not painted, and a partial paint keeps to it so that its pixels meet the rest.
    QPointF m_paintedCentre{-1, -1};
    double m_paintedZoom = -1;
    bool moveIsVisible() const;
    bool m_automatic = true;
    bool m_keepClear = false;

    // The route drawn into a layer bigger than the view; a move within its margin only shifts it.
    QImage m_routeLayer;
    QPointF m_routeLayerOrigin; // world pixels of its top left corner
    double m_routeLayerZoom = -1;
    bool m_routeLayerValid = false;

    QVariantAnimation m_animation;
    Frame m_animationFrom, m_animationTo;
    std::optional<QPointF> m_animationAnchor; // screen point that stays over the same ground
    bool m_animationByUser = false;

    bool m_dragging = false;
    bool m_dragMoved = false;
    QPointF m_dragLast;
    QTimer m_wheelPause;
    QTimer m_tileTimer;
};
