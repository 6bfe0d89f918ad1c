#include "roadcore/Telemetry.h"

#include "platform/Numbers.h"

#include <QHashFunctions>

#include <cmath>
#include <numbers>

namespace {

template <typename T> size_t hashOptional(const std::optional<T> &value, size_t seed)
{
    return value ? qHashMulti(seed, true, *value) : qHash(false, seed);
}

size_t hashOptional(const std::optional<QDateTime> &value, size_t seed)
{
    return value ? qHashMulti(seed, true, value->toMSecsSinceEpoch()) : qHash(false, seed);
}

// value + f × (next − value), falling back to the weighted sum when the difference overflows.
double lerp(double value, double next, double f)
{
    const double result = value + f * (next - value);
    return std::isfinite(result) ? result : (1 - f) * value + f * next;
}

// Longitudes are interpolated the short way round, so a track crossing ±180° stays in the Pacific.
double lerpLongitude(double value, double next, double f)
{
    double delta = next - value;
    if (delta > 180)
        delta -= 360;
    else if (delta < -180)
        delta += 360;
    double result = value + f * delta;
    if (result > 180)
        result -= 360;
    else if (result < -180)
        result += 360;
    return result;
}

template <typename T> std::optional<T> currentAt(const QList<T> &list, double t)
{
    if (list.isEmpty())
        return std::nullopt;
    const auto i = Telemetry::lastIndex(list, t, [](const T &e) { return e.time; });
    return list[i.value_or(0)];
}

template <typename T> std::optional<double> rateHz(const QList<T> &list)
{
    if (list.size() < 2)
        return std::nullopt;
    const double span = list.last().time - list.first().time;
    if (!(span > 0))
        return std::nullopt;
    return double(list.size() - 1) / span;
}

constexpr qint64 firstMSecs = -62135596800000; // 0001-01-01T00:00:00Z
constexpr qint64 lastMSecs = 253402300799999;  // 9999-12-31T23:59:59.999Z

} // namespace

size_t qHash(const SensorSample &v, size_t seed)
{
    return qHashMulti(seed, v.time, v.x, v.y, v.z);
}

size_t qHash(const GPSFix &v, size_t seed)
{
    seed = qHashMulti(seed, v.time, v.latitude, v.longitude, v.speedKnots);
    seed = hashOptional(v.course, seed);
    seed = hashOptional(v.timestamp, seed);
    seed = hashOptional(v.mode, seed);
    seed = hashOptional(v.fixQuality, seed);
    seed = hashOptional(v.satellites, seed);
    seed = hashOptional(v.hdop, seed);
    return hashOptional(v.altitude, seed);
}

size_t qHash(const VehicleSample &v, size_t seed)
{
    return qHashMulti(seed, v.time, v.fields);
}
size_t qHash(const OtherSentence &v, size_t seed)
{
    return qHashMulti(seed, v.time, v.type, v.fields);
}
size_t qHash(const TelemetryRecord &v, size_t seed)
{
    return qHashMulti(seed, v.time, v.text.toString());
}

std::optional<QString> GPSFix::modeDescription() const
{
    if (!mode)
        return std::nullopt;
    static const QMap<QString, QString> texts{
        {"A", "Autonomous"},
        {"D", "Differential (SBAS/DGPS)"},
        {"E", "Estimated (dead reckoning)"},
        {"F", "RTK float"},
        {"R", "RTK fixed"},
        {"M", "Manual"},
        {"S", "Simulated"},
        {"N", "No fix"},
    };
    return texts.value(*mode, *mode);
}

bool VehicleSample::isAllZero() const
{
    for (const QString &field : fields) {
        if (field.isEmpty())
            continue;
        const auto number = Numbers::parseDouble(field);
        if (!number || *number != 0)
            return false;
    }
    return true;
}

Telemetry::Telemetry(QList<SensorSample> sensor, QList<GPSFix> gps, QString source)
    : sensor(std::move(sensor)), gps(std::move(gps)), source(std::move(source))
{
}

const Telemetry &Telemetry::empty()
{
    static const Telemetry value;
    return value;
}

double Telemetry::duration() const
{
    const double lastSensor = sensor.isEmpty() ? 0 : sensor.last().time;
    const double lastFix = gps.isEmpty() ? 0 : gps.last().time;
    return std::max(lastSensor, lastFix);
}

double Telemetry::maxSpeedKnots() const
{
    if (gps.isEmpty())
        return 0;
    double best = gps.first().speedKnots;
    for (const GPSFix &fix : gps)
        best = std::max(best, fix.speedKnots);
    return best;
}

std::optional<SensorSample> Telemetry::peakG() const
{
    if (sensor.isEmpty())
        return std::nullopt;
    const SensorSample *best = &sensor.first();
    double bestMagnitude = best->magnitude();
    for (const SensorSample &sample : sensor) {
        const double m = sample.magnitude();
        if (m > bestMagnitude) {
            best = &sample;
            bestMagnitude = m;
        }
    }
    return *best;
}

std::optional<double> Telemetry::sensorRateHz() const
{
    return rateHz(sensor);
}
std::optional<double> Telemetry::gpsRateHz() const
{
    return rateHz(gps);
}

double distanceMeters(double latitude1, double longitude1, double latitude2, double longitude2)
{
    constexpr double radius = 6371008.8;
    constexpr double toRadians = std::numbers::pi / 180;
    const double phi1 = latitude1 * toRadians, phi2 = latitude2 * toRadians;
    const double dPhi = phi2 - phi1, dLambda = (longitude2 - longitude1) * toRadians;
    const double a = std::sin(dPhi / 2) * std::sin(dPhi / 2) +
                     std::cos(phi1) * std::cos(phi2) * std::sin(dLambda / 2) * std::sin(dLambda / 2);
    return 2 * radius * std::asin(std::sqrt(std::clamp(a, 0.0, 1.0)));
}

double Telemetry::distanceMeters() const
{
    double total = 0;
    for (qsizetype i = 1; i < gps.size(); ++i)
        total +=
            ::distanceMeters(gps[i - 1].latitude, gps[i - 1].longitude, gps[i].latitude, gps[i].longitude);
    return total;
}

std::optional<double> Telemetry::cameraClockOffset(const std::optional<QDateTime> &clipStart) const
{
    if (!clipStart || gps.isEmpty())
        return std::nullopt;
    for (const GPSFix &fix : gps) {
        if (fix.timestamp) {
            const double receiverStart = double(fix.timestamp->toMSecsSinceEpoch()) / 1000 - fix.time;
            return receiverStart - double(clipStart->toMSecsSinceEpoch()) / 1000;
        }
    }
    return std::nullopt;
}

std::optional<GPSFix> Telemetry::gpsAt(double t) const
{
    if (gps.isEmpty())
        return std::nullopt;
    const auto i = lastIndex(gps, t, [](const GPSFix &f) { return f.time; });
    if (!i)
        return gps.first();
    const GPSFix &fix = gps[*i];
    if (*i + 1 >= gps.size())
        return fix;
    const GPSFix &next = gps[*i + 1];
    const double dt = next.time - fix.time;
    if (!(dt > 0))
        return fix;
    double f = (t - fix.time) / dt;
    // Two finite times far apart can span more than a double holds; halved, the span always fits.
    if (!std::isfinite(dt))
        f = (t / 2 - fix.time / 2) / (next.time / 2 - fix.time / 2);
    f = std::clamp(f, 0.0, 1.0);
    GPSFix result = fix;
    result.time = t;
    result.latitude = lerp(fix.latitude, next.latitude, f);
    result.longitude = lerpLongitude(fix.longitude, next.longitude, f);
    result.speedKnots = lerp(fix.speedKnots, next.speedKnots, f);
    if (fix.timestamp)
        result.timestamp = addingSeconds(*fix.timestamp, t - fix.time);
    return result;
}

std::optional<SensorSample> Telemetry::sensorAt(double t) const
{
    return currentAt(sensor, t);
}
std::optional<TelemetryRecord> Telemetry::recordAt(double t) const
{
    return currentAt(records, t);
}
std::optional<VehicleSample> Telemetry::vehicleAt(double t) const
{
    return currentAt(vehicle, t);
}

std::optional<QDateTime> addingSeconds(const QDateTime &date, double seconds)
{
    const double msecs = double(date.toMSecsSinceEpoch()) + seconds * 1000;
    if (!(msecs >= double(firstMSecs) && msecs <= double(lastMSecs)))
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(date.toMSecsSinceEpoch() + std::llround(seconds * 1000), Qt::UTC);
}

QString rawValue(SpeedUnit unit)
{
    return unit == SpeedUnit::kmh ? QStringLiteral("kmh") : QStringLiteral("mph");
}

QString label(SpeedUnit unit)
{
    return unit == SpeedUnit::kmh ? QStringLiteral("km/h") : QStringLiteral("mph");
}

double factorFromKnots(SpeedUnit unit)
{
    return unit == SpeedUnit::kmh ? 1.852 : 1.150779;
}

std::optional<SpeedUnit> speedUnitFromRaw(QStringView raw)
{
    for (SpeedUnit unit : allSpeedUnits)
        if (raw == rawValue(unit))
            return unit;
    return std::nullopt;
}

double value(SpeedUnit unit, const GPSFix &fix)
{
    return fix.speedKnots * factorFromKnots(unit);
}
