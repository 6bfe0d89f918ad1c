// Telemetry parsing, assembly and every export: never crashes, keeps its lists sorted by finite times, and
// never writes a number that is not finite.
#include "platform/Numbers.h"
#include "platform/Utf8.h"
#include "roadcore/TelemetryExporter.h"
#include "roadcore/TelemetryParser.h"

#include <QStringList>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Input: one flag byte, an optional duration, then records separated by 0x1E; with the flags, each record
// starts with its own time and index as raw bytes.
enum Flags : uint8_t { hasDuration = 1, hasTimes = 2, hasIndices = 4, hasStart = 8 };

template <typename T> bool take(const uint8_t *&data, size_t &size, T &out)
{
    if (size < sizeof out)
        return false;
    std::memcpy(&out, data, sizeof out);
    data += sizeof out;
    size -= sizeof out;
    return true;
}

bool hasNonFinite(const QString &text)
{
    return text.contains(QLatin1String("nan"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("inf"), Qt::CaseInsensitive);
}

// The CSV without columns 6 (receiver mode) and 13 (vehicle fields), which are the camera's own text.
QString csvNumbers(const QString &csv)
{
    QString numbers;
    numbers.reserve(csv.size());
    int column = 0;
    for (QChar c : csv) {
        if (c == u'\n')
            column = 0;
        else if (c == u',')
            ++column;
        else if (column != 6 && column < 13)
            numbers += c;
        if (c == u'\n' || c == u',')
            numbers += u' ';
    }
    return numbers;
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

template <typename T> void checkSorted(const QList<T> &list)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        check(std::isfinite(list[i].time));
        check(i == 0 || list[i - 1].time <= list[i].time);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint8_t flags = 0;
    if (!take(data, size, flags))
        return 0;
    std::optional<double> duration;
    if (flags & hasDuration) {
        double d = 0;
        if (!take(data, size, d))
            return 0;
        duration = d;
    }
    QList<RawRecord> records;
    qint64 running = 0;
    while (size > 0) {
        RawRecord record;
        record.index = running++;
        if (flags & hasTimes) {
            double t = 0;
            if (take(data, size, t))
                record.time = t;
        }
        if (flags & hasIndices)
            take(data, size, record.index);
        const void *end = std::memchr(data, 0x1E, size);
        const size_t length = end ? size_t(static_cast<const uint8_t *>(end) - data) : size;
        record.text = Utf8::decode(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(length)));
        records.append(record);
        data += length;
        size -= length;
        if (end) {
            ++data;
            --size;
        }
    }

    const Telemetry telemetry = TelemetryParser::build(records, duration, QStringLiteral("raw scan"));
    checkSorted(telemetry.sensor);
    checkSorted(telemetry.gps);
    checkSorted(telemetry.records);
    for (const GPSFix &fix : telemetry.gps)
        check(std::abs(fix.latitude) <= 90 && std::abs(fix.longitude) <= 180);

    std::optional<QDateTime> start;
    if (flags & hasStart)
        start = QDateTime::fromMSecsSinceEpoch(1714564800000, Qt::UTC);
    const QString name = QStringLiteral("fuzz");
    check(!hasNonFinite(TelemetryExporter::gpx(telemetry, name, start)));
    check(!hasNonFinite(TelemetryExporter::kml(telemetry, name)));
    TelemetryExporter::rawLog(telemetry, name);
    for (const TelemetryRecord &record : telemetry.records)
        check(!hasNonFinite(Numbers::fixed(record.time, 3)));
    for (SpeedUnit unit : allSpeedUnits) {
        // The day-long cap on cues is unit-tested; here long recordings would only slow the search down.
        if (telemetry.duration() < 30)
            check(!hasNonFinite(TelemetryExporter::srt(telemetry, unit)));
        check(!hasNonFinite(csvNumbers(TelemetryExporter::csv(telemetry, start, unit))));
    }
    // The point queries at hostile times.
    for (double t : {-1e308, -1.0, 0.5, 1e308, std::nan(""), double(INFINITY)}) {
        if (const auto fix = telemetry.gpsAt(t))
            check(std::abs(fix->longitude) <= 180 && std::abs(fix->latitude) <= 90);
        telemetry.sensorAt(t);
    }
    return 0;
}
