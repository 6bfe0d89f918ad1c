#pragma once

#include "roadcore/Telemetry.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVarLengthArray>

#include <optional>
#include <utility>
#include <variant>

// The grammar of the camera's embedded text: NMEA position sentences, G-sensor lines, vehicle-data lines and
// other sentences, and the assembly of a recording's records into its telemetry.
namespace TelemetryParser {

struct Sensor {
    double x = 0, y = 0, z = 0; // g
    std::optional<double> rangeG;
    double countsPerG = 0;
    friend bool operator==(const Sensor &, const Sensor &) = default;
};

struct Rmc {
    double lat = 0, lon = 0;
    double knots = 0;
    std::optional<double> course;
    std::optional<QDateTime> timestamp;
    std::optional<QString> mode;
    std::optional<qint64> timeOfDay; // milliseconds after midnight UTC, as the sentence states it
    friend bool operator==(const Rmc &, const Rmc &) = default;
};

struct Gga {
    std::optional<qint64> quality;
    std::optional<qint64> satellites;
    std::optional<double> hdop;
    std::optional<double> altitude;
    std::optional<qint64> timeOfDay; // milliseconds after midnight UTC
    friend bool operator==(const Gga &, const Gga &) = default;
};

struct Vehicle {
    QStringList fields;
    friend bool operator==(const Vehicle &, const Vehicle &) = default;
};

struct Other {
    QString type;
    QStringList fields;
    friend bool operator==(const Other &, const Other &) = default;
};

// An RMC sentence without a usable fix, kept so that it can be counted.
struct RmcNoFix {
    friend bool operator==(const RmcNoFix &, const RmcNoFix &) = default;
};

using Sentence = std::variant<Sensor, Rmc, Gga, Vehicle, Other, RmcNoFix>;

// The fields of one sentence body, as views into its text.
using Fields = QVarLengthArray<QStringView, 24>;

// The record text without subtitle markup, trimmed.
QString clean(const QString &text);
// All recognised sentences of one record's text, in text order: the cleaned text is cut at ";", line
// breaks and NUL, and each piece is parsed.
QList<Sentence> sentences(const QString &text);
std::optional<Sentence> parse(QStringView sentence);
// The fix of the fields after an RMC key; absent when there is no usable fix.
std::optional<Rmc> parseRMC(const Fields &fields);
// Milliseconds after midnight of an NMEA time hhmmss(.sss).
std::optional<qint64> timeOfDay(QStringView time);
// The UTC instant of an NMEA time hhmmss(.sss) and date ddmmyy.
std::optional<QDateTime> nmeaDate(QStringView time, QStringView date);

// One record's index, its time from the source, and the receiver's time of its first dated RMC sentence.
struct TimeItem {
    qint64 index = 0;
    std::optional<double> time;
    std::optional<QDateTime> utc;
};

// One time per item, in item order: the source's times, else the receiver's clock, else spread evenly.
QList<double> resolveTimes(const QList<TimeItem> &items, std::optional<double> duration);
// Piecewise linear over the anchors (index, seconds), extended past both ends. Needs two anchors.
double interpolate(double x, const QList<std::pair<double, double>> &anchors);

// The telemetry of one file's records; `duration` is the file's length in seconds when known. Records handed
// over (moved in) lend their texts to the result instead of being copied.
Telemetry build(QList<RawRecord> records, std::optional<double> duration, const QString &source);

} // namespace TelemetryParser
