#include "roadcore/TelemetryParser.h"

#include "platform/Numbers.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <limits>

namespace TelemetryParser {

namespace {

bool isTrimmed(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Control:
    case QChar::Other_Format:
        return true;
    default:
        return false;
    }
}

bool isSeparator(QChar c)
{
    const char16_t u = c.unicode();
    return u == u';' || (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029 || u == 0;
}

QStringView trimSpacesAndTabs(QStringView s)
{
    qsizetype begin = 0, end = s.size();
    while (begin < end && (s[begin] == u' ' || s[begin] == u'\t'))
        ++begin;
    while (end > begin && (s[end - 1] == u' ' || s[end - 1] == u'\t'))
        --end;
    return s.sliced(begin, end - begin);
}

// The comma-separated fields of a sentence body, up to its checksum or any left-over markup.
QList<QStringView> fields(QStringView body)
{
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body[i] == u'*' || body[i] == u'<') {
            body.truncate(i);
            break;
        }
    }
    QList<QStringView> result;
    result.reserve(16);
    qsizetype start = 0;
    for (qsizetype i = 0; i <= body.size(); ++i) {
        if (i == body.size() || body[i] == u',') {
            result.append(trimSpacesAndTabs(body.sliced(start, i - start)));
            start = i + 1;
        }
    }
    return result;
}

QStringList owned(const QList<QStringView> &views)
{
    QStringList list;
    list.reserve(views.size());
    for (QStringView v : views)
        list.append(v.toString());
    return list;
}

std::optional<double> number(QStringView text)
{
    return Numbers::parseDouble(text);
}
std::optional<qint64> whole(QStringView text)
{
    return Numbers::parseInt(text);
}

// The end of the first "G<upper-case letter><tail>" in the sentence, or -1.
qsizetype findTalkerKey(QStringView s, QStringView tail)
{
    qsizetype from = 2;
    while (true) {
        const qsizetype at = s.indexOf(tail, from);
        if (at < 0)
            return -1;
        if (s[at - 2] == u'G' && s[at - 1] >= u'A' && s[at - 1] <= u'Z')
            return at + tail.size();
        from = at + 1;
    }
}

qsizetype findLiteral(QStringView s, QStringView key)
{
    const qsizetype at = s.indexOf(key);
    return at < 0 ? -1 : at + key.size();
}

std::optional<Sentence> parseSensorWithRange(const QList<QStringView> &f)
{
    if (f.size() < 5)
        return std::nullopt;
    const auto range = number(f[0]), full = number(f[1]);
    const auto a = number(f[2]), b = number(f[3]), c = number(f[4]);
    if (!range || !full || !(*range > 0) || !(*full > 0) || !a || !b || !c)
        return std::nullopt;
    const double countsPerG = *full / *range;
    Sensor s{*a / countsPerG, *b / countsPerG, *c / countsPerG, *range, countsPerG};
    // Extreme declared scales overflow; such a line carries no measurement.
    if (!std::isfinite(countsPerG) || !(countsPerG > 0) || !std::isfinite(s.x) || !std::isfinite(s.y) ||
        !std::isfinite(s.z))
        return std::nullopt;
    return s;
}

std::optional<Sentence> parseSensor(const QList<QStringView> &f)
{
    if (f.size() < 3)
        return std::nullopt;
    const auto a = number(f[0]), b = number(f[1]), c = number(f[2]);
    if (!a || !b || !c)
        return std::nullopt;
    return Sensor{*a * 0.0078125, *b * 0.0078125, *c * 0.0078125, std::nullopt, 128};
}

std::optional<Sentence> parseGGA(const QList<QStringView> &f)
{
    if (f.size() < 9)
        return std::nullopt;
    return Gga{whole(f[5]), whole(f[6]), number(f[7]), number(f[8])};
}

bool isNameCharacter(char32_t c)
{
    return c == U'_' || QChar::isLetterOrNumber(c);
}

std::optional<Sentence> parseOther(QStringView sentence)
{
    QStringView s = trimSpacesAndTabs(sentence);
    while (!s.isEmpty() && s.front() == u'$')
        s = s.sliced(1);
    const qsizetype comma = s.indexOf(u',');
    if (comma < 0)
        return std::nullopt;
    const QStringView name = s.first(comma);
    qsizetype length = 0;
    for (qsizetype i = 0; i < name.size(); ++i, ++length) {
        char32_t c = name[i].unicode();
        if (name[i].isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(name[i], name[i + 1]);
            ++i;
        }
        if (!isNameCharacter(c))
            return std::nullopt;
    }
    if (length < 2 || length > 12)
        return std::nullopt;
    return Other{name.toString(), owned(fields(s.sliced(comma + 1)))};
}

// Lenient like a calendar: a month 13 is January of the next year, an hour 24 the next day.
std::optional<QDateTime> utcDate(qint64 year, qint64 month, qint64 day, qint64 hour, qint64 minute,
                                 double wholeSeconds, double fraction)
{
    const qint64 months = year * 12 + (month - 1);
    const qint64 y = months >= 0 ? months / 12 : (months - 11) / 12;
    const qint64 m = months - y * 12 + 1;
    const QDate first(int(y), int(m), 1);
    if (!first.isValid())
        return std::nullopt;
    const QDateTime midnight(first.addDays(day - 1), QTime(0, 0), Qt::UTC);
    const qint64 micros = std::llround(fraction * 1e6);
    const double seconds =
        double(hour * 3600 + minute * 60) + wholeSeconds + double((micros + 500) / 1000) / 1000;
    return addingSeconds(midnight, seconds);
}

} // namespace

QString clean(const QString &text)
{
    QString stripped;
    const QString *source = &text;
    if (text.contains(u'<') || text.contains(u"{\\")) {
        stripped.reserve(text.size());
        const qsizetype n = text.size();
        qsizetype i = 0;
        while (i < n) {
            const QChar c = text[i];
            if (c == u'<') {
                const qsizetype close = text.indexOf(u'>', i + 1);
                if (close >= 0) {
                    i = close + 1;
                    continue;
                }
            } else if (c == u'{' && i + 1 < n && text[i + 1] == u'\\') {
                const qsizetype close = text.indexOf(u'}', i + 2);
                if (close >= 0) {
                    i = close + 1;
                    continue;
                }
            }
            stripped.append(c);
            ++i;
        }
        source = &stripped;
    }
    const QString &s = *source;
    qsizetype begin = 0, end = s.size();
    while (begin < end) {
        if (s[begin].isHighSurrogate() && begin + 1 < end && s[begin + 1].isLowSurrogate()) {
            if (!isTrimmed(QChar::surrogateToUcs4(s[begin], s[begin + 1])))
                break;
            begin += 2;
        } else {
            if (!isTrimmed(s[begin].unicode()))
                break;
            ++begin;
        }
    }
    while (end > begin) {
        if (s[end - 1].isLowSurrogate() && end - 2 >= begin && s[end - 2].isHighSurrogate()) {
            if (!isTrimmed(QChar::surrogateToUcs4(s[end - 2], s[end - 1])))
                break;
            end -= 2;
        } else {
            if (!isTrimmed(s[end - 1].unicode()))
                break;
            --end;
        }
    }
    if (begin == 0 && end == s.size())
        return s;
    return s.sliced(begin, end - begin);
}

QList<QStringView> split(QStringView cleaned)
{
    QList<QStringView> pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= cleaned.size(); ++i) {
        if (i == cleaned.size() || isSeparator(cleaned[i])) {
            if (i > start)
                pieces.append(cleaned.sliced(start, i - start));
            start = i + 1;
        }
    }
    return pieces;
}

QList<Sentence> sentences(const QString &text)
{
    const QString cleaned = clean(text);
    QList<Sentence> result;
    for (QStringView piece : split(cleaned))
        if (auto sentence = parse(piece))
            result.append(std::move(*sentence));
    return result;
}

std::optional<Sentence> parse(QStringView sentence)
{
    if (const qsizetype end = findLiteral(sentence, u"gsensori,"); end >= 0)
        return parseSensorWithRange(fields(sentence.sliced(end)));
    if (const qsizetype end = findLiteral(sentence, u"gsensor,"); end >= 0)
        return parseSensor(fields(sentence.sliced(end)));
    if (const qsizetype end = findTalkerKey(sentence, u"RMC,"); end >= 0) {
        if (auto fix = parseRMC(fields(sentence.sliced(end))))
            return std::move(*fix);
        return RmcNoFix{};
    }
    if (const qsizetype end = findTalkerKey(sentence, u"GGA,"); end >= 0)
        return parseGGA(fields(sentence.sliced(end)));
    if (const qsizetype end = findLiteral(sentence, u"CAR,"); end >= 0)
        return Vehicle{owned(fields(sentence.sliced(end)))};
    return parseOther(sentence);
}

std::optional<Rmc> parseRMC(const QList<QStringView> &f)
{
    if (f.size() < 7 || f[1] != u"A")
        return std::nullopt;
    if (f[2].size() < 3 || f[4].size() < 4)
        return std::nullopt;
    const auto latDegrees = number(f[2].first(2)), latMinutes = number(f[2].sliced(2));
    const auto lonDegrees = number(f[4].first(3)), lonMinutes = number(f[4].sliced(3));
    if (!latDegrees || !latMinutes || !lonDegrees || !lonMinutes)
        return std::nullopt;
    double lat = *latDegrees + *latMinutes / 60;
    double lon = *lonDegrees + *lonMinutes / 60;
    if (f[3] == u"S")
        lat = -lat;
    if (f[5] == u"W")
        lon = -lon;
    if (std::abs(lat) > 90 || std::abs(lon) > 180 || (lat == 0 && lon == 0))
        return std::nullopt;
    Rmc rmc;
    rmc.lat = lat;
    rmc.lon = lon;
    rmc.knots = number(f[6]).value_or(0);
    if (f.size() >= 8)
        rmc.course = number(f[7]);
    if (f.size() >= 9)
        rmc.timestamp = nmeaDate(f[0], f[8]);
    if (f.size() >= 12 && !f[11].isEmpty())
        rmc.mode = f[11].toString();
    return rmc;
}

std::optional<QDateTime> nmeaDate(QStringView time, QStringView date)
{
    if (time.size() < 6 || date.size() != 6)
        return std::nullopt;
    const auto hour = whole(time.sliced(0, 2)), minute = whole(time.sliced(2, 2));
    const auto seconds = number(time.sliced(4));
    const auto day = whole(date.sliced(0, 2)), month = whole(date.sliced(2, 2)),
               year = whole(date.sliced(4, 2));
    if (!hour || !minute || !seconds || !day || !month || !year || !std::isfinite(*seconds))
        return std::nullopt;
    return utcDate(2000 + *year, *month, *day, *hour, *minute, std::trunc(*seconds),
                   *seconds - std::floor(*seconds));
}

QList<double> resolveTimes(const QList<TimeItem> &items, std::optional<double> duration)
{
    // A time that is not finite carries no information and would break the ordering of samples.
    const auto given = [](const TimeItem &item) -> std::optional<double> {
        return item.time && std::isfinite(*item.time) ? item.time : std::nullopt;
    };
    if (duration && !std::isfinite(*duration))
        duration.reset();

    QList<double> times;
    times.reserve(items.size());
    if (items.isEmpty())
        return times;
    if (std::all_of(items.begin(), items.end(), [&](const TimeItem &i) { return given(i).has_value(); })) {
        for (const TimeItem &item : items)
            times.append(*given(item));
        return times;
    }

    QList<std::pair<double, double>> anchors;
    std::optional<QDateTime> base;
    for (const TimeItem &item : items) {
        if (!item.utc)
            continue;
        if (!base)
            base = item.utc;
        anchors.append({double(item.index), double(base->msecsTo(*item.utc)) / 1000});
    }
    if (anchors.size() >= 2) {
        for (const TimeItem &item : items)
            times.append(given(item).value_or(std::max(0.0, interpolate(double(item.index), anchors))));
    } else {
        qint64 maxIndex = items.first().index;
        for (const TimeItem &item : items)
            maxIndex = std::max(maxIndex, item.index);
        double step = 1.0;
        if (duration)
            step = double(maxIndex) + 1 > 1 ? *duration / (double(maxIndex) + 1) : *duration;
        for (const TimeItem &item : items)
            times.append(given(item).value_or(double(item.index) * step));
    }
    // Only hostile indices overflow; such a record goes to the start.
    for (double &t : times)
        if (!std::isfinite(t))
            t = 0;
    return times;
}

double interpolate(double x, const QList<std::pair<double, double>> &anchors)
{
    qsizetype a = -1;
    for (qsizetype i = 0; i + 1 < anchors.size(); ++i) {
        if (anchors[i].first <= x && x <= anchors[i + 1].first) {
            a = i;
            break;
        }
    }
    std::pair<double, double> p0, p1;
    if (x < anchors.first().first) {
        p0 = anchors[0];
        p1 = anchors[1];
    } else if (x > anchors.last().first) {
        p0 = anchors[anchors.size() - 2];
        p1 = anchors.last();
    } else if (a >= 0) {
        p0 = anchors[a];
        p1 = anchors[a + 1];
    } else {
        p0 = anchors.first();
        p1 = anchors.last();
    }
    if (p1.first == p0.first)
        return p0.second;
    return p0.second + (p1.second - p0.second) * (x - p0.first) / (p1.first - p0.first);
}

Telemetry build(const QList<RawRecord> &records, std::optional<double> duration, const QString &source)
{
    struct Kept {
        qint64 index;
        std::optional<double> time;
        QString text;
        qsizetype first, count;
    };
    QList<Kept> kept;
    QList<Sentence> all;
    for (const RawRecord &record : records) {
        QString cleaned = clean(record.text);
        const qsizetype first = all.size();
        for (QStringView piece : split(cleaned))
            if (auto sentence = parse(piece))
                all.append(std::move(*sentence));
        if (all.size() > first)
            kept.append({record.index, record.time, std::move(cleaned), first, all.size() - first});
    }

    Telemetry telemetry;
    telemetry.source = source;
    if (kept.isEmpty())
        return telemetry;

    QList<TimeItem> items;
    items.reserve(kept.size());
    for (const Kept &k : kept) {
        TimeItem item{k.index, k.time, std::nullopt};
        for (qsizetype i = k.first; i < k.first + k.count; ++i) {
            if (const auto *rmc = std::get_if<Rmc>(&all[i]); rmc && rmc->timestamp) {
                item.utc = rmc->timestamp;
                break;
            }
        }
        items.append(item);
    }
    const QList<double> times = resolveTimes(items, duration);

    qint64 sensorCount = 0, rmcCount = 0, ggaCount = 0, carCount = 0;
    QHash<QString, qint64> otherCounts;
    telemetry.records.reserve(kept.size());
    for (qsizetype r = 0; r < kept.size(); ++r) {
        const Kept &k = kept[r];
        const double t = times[r];
        telemetry.records.append({t, k.text});
        qsizetype recordFix = -1;
        for (qsizetype i = k.first; i < k.first + k.count; ++i) {
            const Sentence &sentence = all[i];
            if (const auto *s = std::get_if<Sensor>(&sentence)) {
                ++sensorCount;
                telemetry.sensor.append({t, s->x, s->y, s->z});
                if (s->rangeG)
                    telemetry.sensorRangeG = s->rangeG;
                telemetry.sensorCountsPerG = s->countsPerG;
            } else if (const auto *rmc = std::get_if<Rmc>(&sentence)) {
                ++rmcCount;
                GPSFix fix;
                fix.time = t;
                fix.latitude = rmc->lat;
                fix.longitude = rmc->lon;
                fix.speedKnots = rmc->knots;
                fix.course = rmc->course;
                fix.timestamp = rmc->timestamp;
                fix.mode = rmc->mode;
                telemetry.gps.append(std::move(fix));
                recordFix = telemetry.gps.size() - 1;
            } else if (const auto *gga = std::get_if<Gga>(&sentence)) {
                ++ggaCount;
                qsizetype target = recordFix;
                if (target < 0 && !telemetry.gps.isEmpty() && std::abs(telemetry.gps.last().time - t) <= 1.0)
                    target = telemetry.gps.size() - 1;
                if (target >= 0) {
                    GPSFix &fix = telemetry.gps[target];
                    fix.fixQuality = gga->quality;
                    fix.satellites = gga->satellites;
                    fix.hdop = gga->hdop;
                    fix.altitude = gga->altitude;
                }
            } else if (const auto *vehicle = std::get_if<Vehicle>(&sentence)) {
                ++carCount;
                telemetry.vehicle.append({t, vehicle->fields});
            } else if (const auto *other = std::get_if<Other>(&sentence)) {
                ++otherCounts[other->type];
                telemetry.other.append({t, other->type, other->fields});
            } else {
                ++rmcCount;
                ++telemetry.gpsNoFixCount;
            }
        }
    }

    for (auto it = otherCounts.cbegin(); it != otherCounts.cend(); ++it)
        telemetry.sentenceCounts[it.key()] += it.value();
    const std::pair<const char *, qint64> fixed[] = {
        {"G-sensor", sensorCount}, {"RMC", rmcCount}, {"GGA", ggaCount}, {"CAR", carCount}};
    for (const auto &[key, count] : fixed)
        if (count > 0)
            telemetry.sentenceCounts[QString::fromLatin1(key)] += count;

    const auto byTime = [](const auto &a, const auto &b) { return a.time < b.time; };
    const auto sortByTime = [&](auto &list) {
        if (!std::is_sorted(list.begin(), list.end(), byTime))
            std::stable_sort(list.begin(), list.end(), byTime);
    };
    sortByTime(telemetry.sensor);
    sortByTime(telemetry.gps);
    sortByTime(telemetry.records);
    return telemetry;
}

} // namespace TelemetryParser
