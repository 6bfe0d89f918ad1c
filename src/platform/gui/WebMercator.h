#pragma once

#include <QList>
#include <QPointF>

#include <algorithm>
#include <cmath>
#include <numbers>

struct GeoPoint {
    double latitude = 0;
    double longitude = 0;
    friend bool operator==(const GeoPoint &, const GeoPoint &) = default;
};

// The square projection of web map tiles. A point of the world maps to x, y from 0 to 1 (x grows east from
// 180° W, y grows south from the northern edge); longitudes past ±180° give x outside 0…1, so a route that
// crosses the date line stays one line.
namespace WebMercator {

inline constexpr double maxLatitude = 85.0511287798066;
inline constexpr double earthRadius = 6378137.0; // the sphere the tiles are drawn on
inline constexpr double tileSize = 256;

inline double worldSize(double zoom)
{
    return tileSize * std::exp2(zoom);
}

inline QPointF project(const GeoPoint &point)
{
    const double latitude = std::clamp(point.latitude, -maxLatitude, maxLatitude) * std::numbers::pi / 180;
    return {point.longitude / 360 + 0.5,
            0.5 - std::log(std::tan(std::numbers::pi / 4 + latitude / 2)) / (2 * std::numbers::pi)};
}

inline GeoPoint unproject(const QPointF &m)
{
    const double latitude =
        std::atan(std::sinh((0.5 - m.y()) * 2 * std::numbers::pi)) * 180 / std::numbers::pi;
    return {latitude, (m.x() - 0.5) * 360};
}

// Metres of ground one pixel covers at a latitude.
inline double metresPerPixel(double latitude, double zoom)
{
    return 2 * std::numbers::pi * earthRadius * std::cos(latitude * std::numbers::pi / 180) / worldSize(zoom);
}

// The copy of a longitude (±360° steps) nearest to a reference longitude.
inline double nearestLongitude(double longitude, double reference)
{
    if (!std::isfinite(longitude) || !std::isfinite(reference))
        return longitude;
    return reference + std::remainder(longitude - reference, 360.0);
}

// The points with each longitude moved by whole turns to lie within 180° of the one before.
inline QList<GeoPoint> unwrapped(QList<GeoPoint> points)
{
    for (qsizetype i = 1; i < points.size(); ++i)
        points[i].longitude = nearestLongitude(points[i].longitude, points[i - 1].longitude);
    return points;
}

} // namespace WebMercator
