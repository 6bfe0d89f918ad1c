#include "roadcore/TelemetryParser.h"

#include "platform/Numbers.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace TelemetryParser {

namespace {

bool isTrimmed(char32_t c)
{
    if (c < 0x80)
        return c <= 0x20 || c == 0x7F; // controls and the space
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
    // NUL, LF, VT, FF, CR and ";" among the first 64 code points.
    constexpr quint64 ascii = 1ull | 1ull << 0x0A | 1ull << 0x0B | 1ull << 0x0C | 1ull << 0x0D | 1ull << u';';
    const char16_t u = c.unicode();
    return u < 64 ? (ascii >> u) & 1 : u == 0x85 || u == 0x2028 || u == 0x2029;
}

// Calls f with each non-empty piece between separators.
template <typename F> void forEachPiece(QStringView cleaned, F &&f)
{
    qsizetype start = 0;
    const qsizetype n = cleaned.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (isSeparator(cleaned[i])) {
            if (i > start)
                f(cleaned.sliced(start, i - start));
            start = i + 1;
        }
    }
    if (n > start)
        f(cleaned.sliced(start, n - start));
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
Fields fields(QStringView body)
{
    Fields result;
    const QChar *text = body.data();
    const qsizetype n = body.size();
    qsizetype start = 0, i = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c == u',') {
            result.append(trimSpacesAndTabs(body.sliced(start, i - start)));
            start = i + 1;
        } else if (c == u'*' || c == u'<') {
            break; // the checksum, or markup left over
        }
    }
    result.append(trimSpacesAndTabs(body.sliced(start, i - start)));
    return result;
}

QStringList owned(const Fields &views)
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

// Where the text after the first match of each key begins, or -1. Every key ends in a comma, so one walk
// over the commas finds them all.
struct Keys {
    qsizetype sensorWithRange = -1, sensor = -1, rmc = -1, gga = -1, car = -1;
};

bool endsWith(QStringView s, qsizetype end, QLatin1StringView key)
{
    if (end < key.size())
        return false;
    for (qsizetype i = 0; i < key.size(); ++i)
        if (s[end - key.size() + i] != QLatin1Char(key[i]))
            return false;
    return true;
}

// "G", an upper-case letter and the sentence name, such as GPRMC or GNGGA.
bool endsWithTalker(QStringView s, qsizetype end, QLatin1StringView name)
{
    return end >= name.size() + 2 && endsWith(s, end, name) && s[end - name.size() - 2] == u'G' &&
           s[end - name.size() - 1] >= u'A' && s[end - name.size() - 1] <= u'Z';
}

Keys findKeys(QStringView s)
{
    Keys keys;
    const auto note = [](qsizetype &slot, qsizetype at) {
        if (slot < 0)
            slot = at;
    };
    const qsizetype n = s.size();
    for (qsizetype comma = 0; comma < n; ++comma) {
        if (s[comma] != u',')
            continue;
        if (comma == 0)
            continue;
        const qsizetype after = comma + 1;
        // The last letter of a key tells which one it can be.
        switch (s[comma - 1].unicode()) {
        case u'i':
            if (endsWith(s, comma, QLatin1StringView("gsensori"))) {
                keys.sensorWithRange = after;
                return keys; // decides whatever else the sentence holds
            }
            break;
        case u'r':
            if (endsWith(s, comma, QLatin1StringView("gsensor")))
                note(keys.sensor, after);
            break;
        case u'C':
            if (endsWithTalker(s, comma, QLatin1StringView("RMC")))
                note(keys.rmc, after);
            break;
        case u'A':
            if (endsWithTalker(s, comma, QLatin1StringView("GGA")))
                note(keys.gga, after);
            break;
        case u'R':
            if (endsWith(s, comma, QLatin1StringView("CAR")))
                note(keys.car, after);
            break;
        default:
            break;
        }
    }
    return keys;
}

std::optional<Sentence> parseSensorWithRange(const Fields &f)
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

std::optional<Sentence> parseSensor(const Fields &f)
{
    if (f.size() < 3)
        return std::nullopt;
    const auto a = number(f[0]), b = number(f[1]), c = number(f[2]);
    if (!a || !b || !c)
        return std::nullopt;
    return Sensor{*a * 0.0078125, *b * 0.0078125, *c * 0.0078125, std::nullopt, 128};
}

std::optional<Sentence> parseGGA(const Fields &f)
{
    if (f.size() < 9)
        return std::nullopt;
    return Gga{whole(f[5]), whole(f[6]), number(f[7]), number(f[8]), timeOfDay(f[0])};
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

using Anchor = std::pair<double, double>;

// Piecewise linear over the anchors, using the first pair that holds x. Anchors in ascending order (as
// records arrive) are searched by bisection, so that a long recording stays linear in its records.
double interpolateFrom(double x, const QList<Anchor> &anchors, bool ascending)
{
    qsizetype a = -1;
    if (ascending) {
        const auto j = std::lower_bound(anchors.begin(), anchors.end(), x,
                                        [](const Anchor &anchor, double v) { return anchor.first < v; }) -
                       anchors.begin();
        if (j < anchors.size() && anchors[j].first >= x && x >= anchors.first().first)
            a = std::max<qsizetype>(j - 1, 0);
    } else {
        for (qsizetype i = 0; i + 1 < anchors.size(); ++i) {
            if (anchors[i].first <= x && x <= anchors[i + 1].first) {
                a = i;
                break;
            }
        }
    }
    Anchor p0, p1;
    if (a >= 0) {
        p0 = anchors[a];
        p1 = anchors[a + 1];
    } else if (x < anchors.first().first) {
        p0 = anchors[0];
        p1 = anchors[1];
    } else if (x > anchors.last().first) {
        p0 = anchors[anchors.size() - 2];
        p1 = anchors.last();
    } else {
        p0 = anchors.first();
        p1 = anchors.last();
    }
    if (p1.first == p0.first)
        return p0.second;
    return p0.second + (p1.second - p0.second) * (x - p0.first) / (p1.first - p0.first);
}

// Where the text is left after trimming: from the first to the last character that is not a space, a
// separator, a control or a format character.
std::pair<qsizetype, qsizetype> trimmedRange(const QString &s)
{
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
    return {begin, end};
}

bool hasMarkup(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c == u'<' || c == u'{'; });
}

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return quint8(c) < 0x80; });
}

// clean() of a record, decoded into `text`; what is kept for the data log is, for plain ASCII without
// markup, the trimmed piece of the record's own bytes, so the records of a long recording are not copied.
TextRef cleaned(const TextRef &record, QString &text)
{
    const QByteArrayView raw = record.bytes();
    const bool ascii = isAscii(raw);
    text = ascii ? QString::fromLatin1(raw) : Utf8::decode(raw);
    if (hasMarkup(text)) {
        text = clean(text);
        return TextRef(text);
    }
    const auto [begin, end] = trimmedRange(text);
    text.truncate(end);
    text.remove(0, begin);
    if (ascii) // one byte a character
        return record.piece(begin, end - begin);
    return TextRef(text);
}

} // namespace

QString clean(const QString &text)
{
    QString stripped;
    const QString *source = &text;
    if (hasMarkup(text)) {
        stripped.reserve(text.size());
        const qsizetype n = text.size();
        qsizetype i = 0;
        // Once a closing character is missing it stays missing: no search runs twice over the rest.
        bool noTagEnd = false, noBlockEnd = false;
        while (i < n) {
            const QChar c = text[i];
            if (c == u'<' && !noTagEnd) {
                const qsizetype close = text.indexOf(u'>', i + 1);
                if (close >= 0) {
                    i = close + 1;
                    continue;
                }
                noTagEnd = true;
            } else if (c == u'{' && !noBlockEnd && i + 1 < n && text[i + 1] == u'\\') {
                const qsizetype close = text.indexOf(u'}', i + 2);
                if (close >= 0) {
                    i = close + 1;
                    continue;
                }
                noBlockEnd = true;
            }
            stripped.append(c);
            ++i;
        }
        source = &stripped;
    }
    const auto [begin, end] = trimmedRange(*source);
    if (begin == 0 && end == source->size())
        return *source;
    return source->sliced(begin, end - begin);
}

QList<Sentence> sentences(const QString &text)
{
    const QString cleaned = clean(text);
    QList<Sentence> result;
    forEachPiece(cleaned, [&](QStringView piece) {
        if (auto sentence = parse(piece))
            result.append(std::move(*sentence));
    });
    return result;
}

std::optional<Sentence> parse(QStringView sentence)
{
    const Keys keys = findKeys(sentence);
    if (keys.sensorWithRange >= 0)
        return parseSensorWithRange(fields(sentence.sliced(keys.sensorWithRange)));
    if (keys.sensor >= 0)
        return parseSensor(fields(sentence.sliced(keys.sensor)));
    if (keys.rmc >= 0) {
        if (auto fix = parseRMC(fields(sentence.sliced(keys.rmc))))
            return std::move(*fix);
        return RmcNoFix{};
    }
    if (keys.gga >= 0)
        return parseGGA(fields(sentence.sliced(keys.gga)));
    if (keys.car >= 0)
        return Vehicle{owned(fields(sentence.sliced(keys.car)))};
    return parseOther(sentence);
}

std::optional<Rmc> parseRMC(const Fields &f)
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
    rmc.timeOfDay = timeOfDay(f[0]);
    if (f.size() >= 9)
        rmc.timestamp = nmeaDate(f[0], f[8]);
    if (f.size() >= 12 && !f[11].isEmpty())
        rmc.mode = f[11].toString();
    return rmc;
}

std::optional<qint64> timeOfDay(QStringView time)
{
    if (time.size() < 6)
        return std::nullopt;
    const auto hour = whole(time.sliced(0, 2)), minute = whole(time.sliced(2, 2));
    const auto seconds = number(time.sliced(4));
    if (!hour || !minute || !seconds || !std::isfinite(*seconds) || *hour < 0 || *hour > 23 || *minute < 0 ||
        *minute > 59 || *seconds < 0 || *seconds >= 61)
        return std::nullopt;
    return *hour * 3'600'000 + *minute * 60'000 + std::llround(*seconds * 1000);
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

namespace {

constexpr qint64 noUtc = std::numeric_limits<qint64>::min();

// The time items of the kept records without a copy per record: the source's time of item k lives in the
// caller's list (NaN when none) and is overwritten with the resolved one; indices are kept as runs of
// consecutive numbers and receiver times only where a record has one.
struct Stamps {
    qsizetype count = 0;
    std::vector<std::pair<qsizetype, qint64>> indexRuns; // (first item, its index minus its item number)
    std::vector<std::pair<qsizetype, qint64>> utcs;      // (item, milliseconds since 1970)

    void add(qint64 index, qint64 utc)
    {
        const qint64 shift = qint64(quint64(index) - quint64(count)); // hostile indices wrap, as they are
        if (indexRuns.empty() || indexRuns.back().second != shift)
            indexRuns.emplace_back(count, shift);
        if (utc != noUtc)
            utcs.emplace_back(count, utc);
        ++count;
    }
    qint64 index(qsizetype item) const
    {
        const auto run = std::upper_bound(indexRuns.begin(), indexRuns.end(), item,
                                          [](qsizetype k, const auto &r) { return k < r.first; }) -
                         1;
        return qint64(quint64(item) + quint64(run->second));
    }
};

// Replaces each item's time (timeAt(k), a reference) with its resolved one.
template <typename TimeAt>
void resolveStamps(const Stamps &items, TimeAt timeAt, std::optional<double> duration)
{
    // A time that is not finite carries no information and would break the ordering of samples.
    const qsizetype n = items.count;
    bool allGiven = true;
    for (qsizetype k = 0; k < n && allGiven; ++k)
        allGiven = std::isfinite(timeAt(k));
    if (allGiven)
        return;

    QList<Anchor> anchors;
    qint64 base = noUtc;
    for (const auto &[k, utc] : items.utcs) {
        if (base == noUtc)
            base = utc;
        anchors.append({double(items.index(k)), double(utc - base) / 1000});
    }
    if (anchors.size() >= 2) {
        const bool ascending =
            std::is_sorted(anchors.begin(), anchors.end(),
                           [](const Anchor &a, const Anchor &b) { return a.first < b.first; });
        for (qsizetype k = 0; k < n; ++k) {
            double &t = timeAt(k);
            if (!std::isfinite(t))
                t = std::max(0.0, interpolateFrom(double(items.index(k)), anchors, ascending));
        }
    } else {
        qint64 maxIndex = items.index(0);
        for (qsizetype k = 0; k < n; ++k)
            maxIndex = std::max(maxIndex, items.index(k));
        double step = 1.0;
        if (const double length = duration.value_or(qQNaN()); std::isfinite(length))
            step = double(maxIndex) + 1 > 1 ? length / (double(maxIndex) + 1) : length;
        for (qsizetype k = 0; k < n; ++k) {
            double &t = timeAt(k);
            if (!std::isfinite(t))
                t = double(items.index(k)) * step;
        }
    }
    // Only hostile indices overflow; such a record goes to the start.
    for (qsizetype k = 0; k < n; ++k) {
        double &t = timeAt(k);
        if (!std::isfinite(t))
            t = 0;
    }
}

// Gives back the pages of a handed-over record list as the pass reads it, so that the list and the telemetry
// made from it are never both whole in memory. A read record is reset, and a default record is all zero
// bytes, which is what a page given back reads as.
class ReadRecords {
public:
    explicit ReadRecords(QList<RawRecord> &records)
    {
        if (records.isEmpty())
            return;
        m_records = records.data(); // detached here, before the pass writes to it
        m_page = quintptr(sysconf(_SC_PAGESIZE));
        m_released = roundUp(quintptr(m_records));
    }
    // Records [0, count) are read and reset.
    void upTo(qsizetype count)
    {
        if (!m_records)
            return;
        const quintptr end = quintptr(m_records + count) & ~(m_page - 1);
        if (end >= m_released + chunk) {
            madvise(reinterpret_cast<void *>(m_released), end - m_released, MADV_DONTNEED);
            m_released = end;
        }
    }

private:
    static constexpr quintptr chunk = 1 << 20;
    quintptr roundUp(quintptr address) const { return (address + m_page - 1) & ~(m_page - 1); }
    RawRecord *m_records = nullptr;
    quintptr m_page = 4096, m_released = 0;
};

} // namespace

QList<double> resolveTimes(const QList<TimeItem> &items, std::optional<double> duration)
{
    Stamps stamps;
    QList<double> times;
    times.reserve(items.size());
    for (const TimeItem &item : items) {
        stamps.add(item.index, item.utc ? item.utc->toMSecsSinceEpoch() : noUtc);
        times.append(item.time.value_or(qQNaN()));
    }
    resolveStamps(
        stamps, [&](qsizetype k) -> double & { return times[k]; }, duration);
    return times;
}

double interpolate(double x, const QList<std::pair<double, double>> &anchors)
{
    return interpolateFrom(x, anchors, false);
}

Telemetry build(QList<RawRecord> records, std::optional<double> duration, const QString &source)
{
    // One pass appends every sample with the number of its record in place of its time; the times are
    // known only once every record has been read, and are filled in afterwards.
    Telemetry telemetry;
    telemetry.source = source;
    Stamps items;
    telemetry.records.reserve(records.size());
    // Growing a long recording's lists would hold the old and the new copy at once: room for as many
    // G-sensor samples as the texts have lines, and for as many fixes as they have "C," (as in "RMC,"), is
    // reserved instead; pages that are never written take no memory.
    qsizetype lines = 0, fixes = 0;
    for (const RawRecord &record : std::as_const(records)) {
        char previous = 0;
        for (char c : record.text.bytes()) {
            lines += c == '\n' || c == ';';
            fixes += c == ',' && previous == 'C';
            previous = c;
        }
    }
    telemetry.sensor.reserve(std::max(records.size(), lines));
    telemetry.gps.reserve(fixes);

    // A GGA sentence in a record without its own fix joins the last fix only if that fix is at most a
    // second away, which is known once the times are.
    struct PendingJoin {
        qsizetype record;
        qsizetype fix;
        Gga values;
    };
    QList<PendingJoin> pending;
    // Where both sentences state the receiver's time of day, a GGA sentence belongs to the fix of the same
    // second, wherever the record boundaries fall: receivers that send the GGA before its RMC would
    // otherwise give each fix the next second's altitude. A GGA sentence ahead of its RMC waits for it; only
    // the latest few wait, since a receiver sends the two sentences of a second together.
    constexpr qsizetype mostWaiting = 8;
    QList<std::pair<qint64, Gga>> waiting;
    std::optional<qint64> lastFixTime;
    const auto join = [](GPSFix &fix, const Gga &gga) {
        fix.fixQuality = gga.quality;
        fix.satellites = gga.satellites;
        fix.hdop = gga.hdop;
        fix.altitude = gga.altitude;
    };

    qint64 sensorCount = 0, rmcCount = 0, ggaCount = 0, carCount = 0;
    QHash<QString, qint64> otherCounts;
    ReadRecords done(records);
    for (qsizetype at = 0; at < records.size(); ++at) {
        RawRecord &record = records[at];
        QString text;
        TextRef kept = cleaned(record.text, text);
        const qint64 recordIndex = record.index;
        const double recordTime = record.time.value_or(qQNaN());
        record = RawRecord(); // the buffer is let go of once the last record holding it is read
        done.upTo(at + 1);
        const double r = double(items.count); // this record's number among the kept ones
        bool recognised = false;
        qsizetype recordFix = -1;
        std::optional<qint64> recordFixTime;
        qint64 utc = noUtc;
        forEachPiece(text, [&](QStringView piece) {
            std::optional<Sentence> sentence = parse(piece);
            if (!sentence)
                return;
            recognised = true;
            if (const auto *s = std::get_if<Sensor>(&*sentence)) {
                ++sensorCount;
                telemetry.sensor.append({r, s->x, s->y, s->z});
                if (s->rangeG)
                    telemetry.sensorRangeG = s->rangeG;
                telemetry.sensorCountsPerG = s->countsPerG;
            } else if (auto *rmc = std::get_if<Rmc>(&*sentence)) {
                ++rmcCount;
                if (utc == noUtc && rmc->timestamp)
                    utc = rmc->timestamp->toMSecsSinceEpoch();
                GPSFix fix;
                fix.time = r;
                fix.latitude = rmc->lat;
                fix.longitude = rmc->lon;
                fix.speedKnots = rmc->knots;
                fix.course = rmc->course;
                fix.timestamp = std::move(rmc->timestamp);
                fix.mode = std::move(rmc->mode);
                telemetry.gps.append(std::move(fix));
                recordFix = telemetry.gps.size() - 1;
                recordFixTime = lastFixTime = rmc->timeOfDay;
                if (rmc->timeOfDay && !waiting.isEmpty()) {
                    for (const auto &[at, gga] : std::as_const(waiting)) {
                        if (at == *rmc->timeOfDay)
                            join(telemetry.gps[recordFix], gga);
                    }
                    waiting.removeIf([&](const auto &early) { return early.first == *rmc->timeOfDay; });
                }
            } else if (const auto *gga = std::get_if<Gga>(&*sentence)) {
                ++ggaCount;
                if (const std::optional<qint64> at = gga->timeOfDay) {
                    if (recordFix >= 0 && recordFixTime == at) {
                        join(telemetry.gps[recordFix], *gga);
                        return;
                    }
                    if (!telemetry.gps.isEmpty() && lastFixTime == at) {
                        join(telemetry.gps.last(), *gga);
                        return;
                    }
                    // Only a fix without a time of its own is joined by the record rule below.
                    if (telemetry.gps.isEmpty() || (recordFix >= 0 ? recordFixTime : lastFixTime)) {
                        if (waiting.size() == mostWaiting)
                            waiting.removeFirst();
                        waiting.append({*at, *gga});
                        return;
                    }
                }
                if (recordFix >= 0)
                    join(telemetry.gps[recordFix], *gga);
                else if (!telemetry.gps.isEmpty())
                    pending.append({qsizetype(r), telemetry.gps.size() - 1, *gga});
            } else if (auto *vehicle = std::get_if<Vehicle>(&*sentence)) {
                ++carCount;
                telemetry.vehicle.append({r, std::move(vehicle->fields)});
            } else if (auto *other = std::get_if<Other>(&*sentence)) {
                ++otherCounts[other->type];
                telemetry.other.append({r, std::move(other->type), std::move(other->fields)});
            } else {
                ++rmcCount;
                ++telemetry.gpsNoFixCount;
            }
        });
        if (!recognised)
            continue;
        items.add(recordIndex, utc);
        telemetry.records.append({recordTime, std::move(kept)}); // resolved below
    }
    records = QList<RawRecord>(); // their texts live on in the kept records; the list is let go of first
    if (items.count == 0)
        return telemetry;

    // Kept record k is item k: its time is resolved in place, and every sample of it takes that time.
    resolveStamps(
        items, [&](qsizetype k) -> double & { return telemetry.records[k].time; }, duration);
    const auto timeOf = [&](double r) { return telemetry.records[qsizetype(r)].time; };
    for (SensorSample &s : telemetry.sensor)
        s.time = timeOf(s.time);
    for (GPSFix &f : telemetry.gps)
        f.time = timeOf(f.time);
    for (VehicleSample &v : telemetry.vehicle)
        v.time = timeOf(v.time);
    for (OtherSentence &o : telemetry.other)
        o.time = timeOf(o.time);
    // A fix is joined by its own record's GGA sentences first; later records only ever join it afterwards.
    for (const PendingJoin &p : pending) {
        GPSFix &fix = telemetry.gps[p.fix];
        if (std::abs(fix.time - timeOf(double(p.record))) <= 1.0)
            join(fix, p.values);
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
