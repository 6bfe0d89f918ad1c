#pragma once

#include "roadcore/Channel.h"
#include "roadcore/RawRecord.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <cmath>
#include <optional>

struct SensorSample {
    double time = 0; // seconds from the recording's start
    double x = 0, y = 0, z = 0;
    // Scaled so that three axes near the largest double still give a finite length.
    double magnitude() const { return std::hypot(x, y, z); }
    friend bool operator==(const SensorSample &, const SensorSample &) = default;
};

struct GPSFix {
    double time = 0;
    double latitude = 0;
    double longitude = 0;
    double speedKnots = 0;
    std::optional<double> course;
    std::optional<QDateTime> timestamp; // UTC time of the fix from the receiver
    std::optional<QString> mode;
    // From a joined GGA sentence.
    std::optional<qint64> fixQuality;
    std::optional<qint64> satellites;
    std::optional<double> hdop;
    std::optional<double> altitude;

    double speedKmh() const { return speedKnots * 1.852; }
    double speedMph() const { return speedKnots * 1.150779; }
    std::optional<QString> modeDescription() const;
    friend bool operator==(const GPSFix &, const GPSFix &) = default;
};

// The camera's vehicle-data line; its fields are kept as text and never interpreted.
struct VehicleSample {
    double time = 0;
    QStringList fields;
    // No fields, or each field empty or a number equal to zero.
    bool isAllZero() const;
    friend bool operator==(const VehicleSample &, const VehicleSample &) = default;
};

struct OtherSentence {
    double time = 0;
    QString type;
    QStringList fields;
    friend bool operator==(const OtherSentence &, const OtherSentence &) = default;
};

// One raw record with its resolved time, for the data log.
struct TelemetryRecord {
    double time = 0;
    TextRef text; // often a piece of the records' shared buffer
    friend bool operator==(const TelemetryRecord &, const TelemetryRecord &) = default;
};

// Moved as bytes when their lists grow, so that a long recording's lists grow in place.
Q_DECLARE_TYPEINFO(GPSFix, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(TelemetryRecord, Q_RELOCATABLE_TYPE);

size_t qHash(const SensorSample &value, size_t seed = 0);
size_t qHash(const GPSFix &value, size_t seed = 0);
size_t qHash(const VehicleSample &value, size_t seed = 0);
size_t qHash(const OtherSentence &value, size_t seed = 0);
size_t qHash(const TelemetryRecord &value, size_t seed = 0);

// All embedded data of one recording; times in seconds from its start, speeds in knots.
struct Telemetry {
    QList<SensorSample> sensor;   // sorted by time (stable)
    QList<GPSFix> gps;            // sorted by time (stable)
    QList<VehicleSample> vehicle; // record order
    QList<OtherSentence> other;   // record order
    QList<TelemetryRecord> records;
    QMap<QString, qint64> sentenceCounts; // "G-sensor", "RMC", "GGA", "CAR" or another sentence's name
    qint64 gpsNoFixCount = 0;
    std::optional<double> sensorRangeG;
    std::optional<double> sensorCountsPerG;
    QString source;
    std::optional<Channel> sourceChannel;

    Telemetry() = default;
    Telemetry(QList<SensorSample> sensor, QList<GPSFix> gps, QString source);

    static const Telemetry &empty();

    bool isEmpty() const { return sensor.isEmpty() && gps.isEmpty() && records.isEmpty(); }
    bool hasGPS() const { return !gps.isEmpty(); }
    bool hasSensor() const { return !sensor.isEmpty(); }
    double duration() const;
    double maxSpeedKnots() const;
    std::optional<SensorSample> peakG() const;
    std::optional<double> sensorRateHz() const;
    std::optional<double> gpsRateHz() const;
    double distanceMeters() const;
    // Seconds by which the receiver's clock is ahead of the camera's at the recording start.
    std::optional<double> cameraClockOffset(const std::optional<QDateTime> &clipStart) const;

    // Index of the last element whose time is at or before t; absent when none is. The list must be sorted
    // by the key; among equal keys the last one is found.
    template <typename T, typename Key>
    static std::optional<qsizetype> lastIndex(const QList<T> &list, double t, Key key)
    {
        if (list.isEmpty() || !(key(list.first()) <= t))
            return std::nullopt;
        qsizetype lo = 0, hi = list.size() - 1;
        while (lo < hi) {
            const qsizetype mid = lo + (hi - lo + 1) / 2;
            if (key(list[mid]) <= t)
                lo = mid;
            else
                hi = mid - 1;
        }
        return lo;
    }

    // The state at playback time t. Positions and speed are interpolated between fixes; the other lists
    // give the element current at t, or their first element before it.
    std::optional<GPSFix> gpsAt(double t) const;
    std::optional<SensorSample> sensorAt(double t) const;
    std::optional<TelemetryRecord> recordAt(double t) const;
    std::optional<VehicleSample> vehicleAt(double t) const;
};

// Great-circle distance in metres on a sphere of the Earth's mean radius.
double distanceMeters(double latitude1, double longitude1, double latitude2, double longitude2);

// A date moved by a number of seconds, rounded to the millisecond; absent when the result falls outside the
// years 1 to 9999 or the seconds are not finite.
std::optional<QDateTime> addingSeconds(const QDateTime &date, double seconds);

enum class SpeedUnit { kmh, mph };

inline constexpr std::array<SpeedUnit, 2> allSpeedUnits{SpeedUnit::kmh, SpeedUnit::mph};

QString rawValue(SpeedUnit unit); // also the unit's id
QString label(SpeedUnit unit);
double factorFromKnots(SpeedUnit unit);
std::optional<SpeedUnit> speedUnitFromRaw(QStringView raw);
// The fix's speed in the unit.
double value(SpeedUnit unit, const GPSFix &fix);
