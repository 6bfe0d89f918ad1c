#include "roadcore/TelemetryExporter.h"

#include "platform/Numbers.h"

#include <cmath>

QString rawValue(TelemetryFormat format)
{
    switch (format) {
    case TelemetryFormat::gpx:
        return QStringLiteral("gpx");
    case TelemetryFormat::kml:
        return QStringLiteral("kml");
    case TelemetryFormat::csv:
        return QStringLiteral("csv");
    case TelemetryFormat::srt:
        return QStringLiteral("srt");
    case TelemetryFormat::txt:
        break;
    }
    return QStringLiteral("txt");
}

QString title(TelemetryFormat format)
{
    switch (format) {
    case TelemetryFormat::gpx:
        return QStringLiteral("GPX Track");
    case TelemetryFormat::kml:
        return QStringLiteral("Google Earth KML");
    case TelemetryFormat::csv:
        return QStringLiteral("CSV Spreadsheet");
    case TelemetryFormat::srt:
        return QStringLiteral("SRT Subtitles");
    case TelemetryFormat::txt:
        break;
    }
    return QStringLiteral("Raw Data Log");
}

std::optional<TelemetryFormat> telemetryFormatFromRaw(QStringView raw)
{
    for (TelemetryFormat format : allTelemetryFormats)
        if (raw == rawValue(format))
            return format;
    return std::nullopt;
}

namespace TelemetryExporter {

namespace {

// A value that is not finite is written like a missing one.
QString number(double value, int decimals)
{
    return std::isfinite(value) ? Numbers::fixed(value, decimals) : QString();
}

bool hasPosition(const GPSFix &fix)
{
    return std::isfinite(fix.latitude) && std::isfinite(fix.longitude);
}

QString escaped(QString text)
{
    return text.replace(u'&', QStringLiteral("&amp;"))
        .replace(u'<', QStringLiteral("&lt;"))
        .replace(u'>', QStringLiteral("&gt;"));
}

// The receiver's time of a fix, else the recording's start moved by the fix's time.
std::optional<QDateTime> utcOf(const GPSFix &fix, const std::optional<QDateTime> &start)
{
    if (fix.timestamp)
        return fix.timestamp;
    if (start)
        return addingSeconds(*start, fix.time);
    return std::nullopt;
}

QString coordinate(const GPSFix &fix)
{
    return Numbers::fixed(fix.longitude, 7) + u',' + Numbers::fixed(fix.latitude, 7) + QStringLiteral(",0");
}

// A bogus date can stretch the times to years; a day of cues is more than any recording holds.
constexpr double maxCues = 86400;

} // namespace

QString isoTime(const QDateTime &date)
{
    const QDateTime utc = date.toUTC();
    const QDate d = utc.date();
    const QTime t = utc.time();
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", d.year(), d.month(), d.day(), t.hour(),
                             t.minute(), t.second(), t.msec());
}

QString srtTime(double seconds)
{
    const double rounded = std::round(seconds * 1000);
    const qint64 ms = std::isfinite(rounded) && std::abs(rounded) < 9e15 ? qint64(rounded) : 0;
    return QString::asprintf("%02lld:%02lld:%02lld,%03lld", ms / 3600000, (ms / 60000) % 60, (ms / 1000) % 60,
                             ms % 1000);
}

QString exportText(const Telemetry &telemetry, TelemetryFormat format, const QString &name,
                   const std::optional<QDateTime> &start, SpeedUnit unit)
{
    switch (format) {
    case TelemetryFormat::gpx:
        return gpx(telemetry, name, start);
    case TelemetryFormat::kml:
        return kml(telemetry, name);
    case TelemetryFormat::csv:
        return csv(telemetry, start, unit);
    case TelemetryFormat::srt:
        return srt(telemetry, unit);
    case TelemetryFormat::txt:
        break;
    }
    return rawLog(telemetry, name);
}

QString gpx(const Telemetry &telemetry, const QString &name, const std::optional<QDateTime> &start)
{
    QString out;
    out.reserve(256 + telemetry.gps.size() * 120);
    out += u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           u"<gpx version=\"1.1\" creator=\"Roadloom\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
           u"  <trk><name>";
    out += escaped(name);
    out += u"</name><trkseg>\n";
    for (const GPSFix &fix : telemetry.gps) {
        if (!hasPosition(fix))
            continue;
        out += u"    <trkpt lat=\"";
        out += Numbers::fixed(fix.latitude, 7);
        out += u"\" lon=\"";
        out += Numbers::fixed(fix.longitude, 7);
        out += u"\">";
        if (const auto utc = utcOf(fix, start)) {
            out += u"<time>";
            out += isoTime(*utc);
            out += u"</time>";
        }
        if (fix.course && std::isfinite(*fix.course)) {
            out += u"<course>";
            out += Numbers::fixed(*fix.course, 1);
            out += u"</course>";
        }
        if (const QString speed = number(fix.speedKnots * 0.514444, 2); !speed.isEmpty()) {
            out += u"<speed>";
            out += speed;
            out += u"</speed>";
        }
        out += u"</trkpt>\n";
    }
    out += u"  </trkseg></trk>\n</gpx>\n";
    return out;
}

QString kml(const Telemetry &telemetry, const QString &name)
{
    QString route;
    const GPSFix *first = nullptr, *last = nullptr;
    for (const GPSFix &fix : telemetry.gps) {
        if (!hasPosition(fix))
            continue;
        if (first)
            route += u' ';
        else
            first = &fix;
        last = &fix;
        route += coordinate(fix);
    }
    QString out;
    out.reserve(512 + route.size());
    out += u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           u"<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>\n"
           u"  <name>";
    out += escaped(name);
    out += u"</name>\n"
           u"  <Style id=\"route\"><LineStyle><color>ffff7a1e</color><width>4</width></LineStyle></Style>\n"
           u"  <Placemark><name>Route</name><styleUrl>#route</styleUrl>\n"
           u"    <LineString><tessellate>1</tessellate><coordinates>";
    out += route;
    out += u"</coordinates></LineString>\n"
           u"  </Placemark>\n";
    if (first) {
        out += u"    <Placemark><name>Start</name><Point><coordinates>";
        out += coordinate(*first);
        out += u"</coordinates></Point></Placemark>\n"
               u"    <Placemark><name>End</name><Point><coordinates>";
        out += coordinate(*last);
        out += u"</coordinates></Point></Placemark>\n";
    }
    out += u"</Document></kml>\n";
    return out;
}

QString csv(const Telemetry &telemetry, const std::optional<QDateTime> &start, SpeedUnit unit)
{
    QString out;
    out += u"time_s,utc,latitude,longitude,speed_";
    out += rawValue(unit);
    out += u",course,gps_mode,satellites,altitude_m,gx,gy,gz,g_total,car_fields\n";

    QList<double> rowTimes;
    if (telemetry.hasSensor()) {
        rowTimes.reserve(telemetry.sensor.size());
        for (const SensorSample &s : telemetry.sensor)
            rowTimes.append(s.time);
    } else {
        rowTimes.reserve(telemetry.gps.size());
        for (const GPSFix &f : telemetry.gps)
            rowTimes.append(f.time);
    }
    out.reserve(out.size() + rowTimes.size() * 130);
    for (double t : rowTimes) {
        out += number(t, 3);
        out += u',';
        if (const auto fix = telemetry.gpsAt(t)) {
            if (const auto utc = utcOf(*fix, start))
                out += isoTime(*utc);
            out += u',';
            out += number(fix->latitude, 7);
            out += u',';
            out += number(fix->longitude, 7);
            out += u',';
            out += number(value(unit, *fix), 1);
            out += u',';
            if (fix->course)
                out += number(*fix->course, 1);
            out += u',';
            if (fix->mode)
                out += *fix->mode;
            out += u',';
            if (fix->satellites)
                out += QString::number(*fix->satellites);
            out += u',';
            if (fix->altitude)
                out += number(*fix->altitude, 1);
            out += u',';
        } else {
            out += u",,,,,,,,";
        }
        if (const auto sample = telemetry.sensorAt(t)) {
            out += number(sample->x, 3);
            out += u',';
            out += number(sample->y, 3);
            out += u',';
            out += number(sample->z, 3);
            out += u',';
            out += number(sample->magnitude(), 3);
            out += u',';
        } else {
            out += u",,,,";
        }
        if (const auto vehicle = telemetry.vehicleAt(t))
            out += vehicle->fields.join(u'|');
        out += u'\n';
    }
    return out;
}

QString srt(const Telemetry &telemetry, SpeedUnit unit)
{
    const double count = std::min(std::max(std::ceil(telemetry.duration()), 1.0), maxCues);
    QString out;
    for (int i = 0; i < int(count); ++i) {
        const double t = i;
        QStringList lines;
        if (const auto fix = telemetry.gpsAt(t)) {
            QString speed = number(value(unit, *fix), 0);
            if (!speed.isEmpty())
                speed += QChar(u' ') + label(unit);
            QString first;
            if (fix->timestamp)
                first = fix->timestamp->toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss");
            if (!first.isEmpty() && !speed.isEmpty())
                first += u"  ";
            first += speed;
            if (!first.isEmpty())
                lines.append(first);
            lines.append(number(fix->latitude, 6) + QStringLiteral(", ") + number(fix->longitude, 6));
        }
        if (const auto sample = telemetry.sensorAt(t)) {
            const auto signedNumber = [](double v) {
                const QString text = number(v, 2);
                return text.startsWith(u'-') ? text : QChar(u'+') + text;
            };
            lines.append(QStringLiteral("G  x ") + signedNumber(sample->x) + QStringLiteral("  y ") +
                         signedNumber(sample->y) + QStringLiteral("  z ") + signedNumber(sample->z));
        }
        if (lines.isEmpty())
            continue;
        out += QString::number(i + 1);
        out += u'\n';
        out += srtTime(t);
        out += u" --> ";
        out += srtTime(t + 1);
        out += u'\n';
        out += lines.join(u'\n');
        out += u"\n\n";
    }
    return out;
}

QString rawLog(const Telemetry &telemetry, const QString &name)
{
    QString out;
    out += u"# ";
    out += name;
    out += u" \u2014 embedded data (";
    out += telemetry.source;
    out += u")\n# time_s\trecord\n";
    for (const TelemetryRecord &record : telemetry.records) {
        out += number(record.time, 3);
        out += u'\t';
        out += record.text.toString();
        out += u'\n';
    }
    return out;
}

} // namespace TelemetryExporter
