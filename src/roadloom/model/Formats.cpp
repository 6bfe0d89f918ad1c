#include "roadloom/model/Formats.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// Removes the fields matched by `pattern` from a date or time format and the separators they leave behind.
QString withoutFields(QString format, const QRegularExpression &pattern)
{
    format.remove(pattern);
    static const QRegularExpression edges(QStringLiteral("^[\\s,]+|[\\s,]+$"));
    return format.remove(edges);
}

// The date and time formats made from a locale's own, kept for the last locale asked on each thread: a list
// or the playing readout formats thousands of times with the same one, and each making costs two pattern
// searches.
struct DerivedFormats {
    QLocale locale;
    QString date; // the long date without its weekday, its month abbreviated
    QString time; // the long time without its zone
};

const DerivedFormats &derivedFormats(const QLocale &locale)
{
    thread_local std::optional<DerivedFormats> last;
    if (!last || !(last->locale == locale)) {
        static const QRegularExpression weekday(QStringLiteral("d{4}[\\s,.]*"));
        static const QRegularExpression fullMonth(QStringLiteral("M{4}"));
        static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?"));
        QString date = withoutFields(locale.dateFormat(QLocale::LongFormat), weekday);
        date.replace(fullMonth, QStringLiteral("MMM"));
        last = DerivedFormats{locale, date, withoutFields(locale.timeFormat(QLocale::LongFormat), zone)};
    }
    return *last;
}

} // namespace

QString Formats::joined(const QStringList &parts)
{
    QStringList kept;
    for (const QString &part : parts) {
        if (!part.isEmpty())
            kept.append(part);
    }
    return kept.join(separator);
}

QString Formats::byteCount(qint64 bytes, const QLocale &locale)
{
    bytes = std::max<qint64>(bytes, 0);
    // Whole kilobytes, one decimal from a megabyte on.
    auto precisionOf = [](qint64 size) { return size >= 1000 * 1000 ? 1 : 0; };
    // A size that rounds up to a thousand of its unit reads as one of the next ("1.0 MB", not "1000 kB").
    qint64 unit = 1;
    while (unit <= bytes / 1000 && unit < qint64(1e15))
        unit *= 1000;
    if (unit > 1) {
        const double step = precisionOf(bytes) ? 0.1 : 1.0;
        if (std::round(double(bytes) / double(unit) / step) * step >= 1000)
            bytes = unit * 1000;
    }
    return locale.formattedDataSize(bytes, precisionOf(bytes), QLocale::DataSizeSIFormat);
}

QString Formats::count(qint64 value, const QLocale &locale)
{
    return locale.toString(value);
}

QString Formats::dayTitle(const QDateTime &moment, const QLocale &locale)
{
    if (!moment.isValid())
        return absent;
    return dayTitle(moment.toLocalTime().date(), locale);
}

QString Formats::dayTitle(const QDate &day, const QLocale &locale)
{
    if (!day.isValid())
        return absent;
    return locale.toString(day, QLocale::LongFormat);
}

QString Formats::abbreviatedDate(const QDate &day, const QLocale &locale)
{
    if (!day.isValid())
        return absent;
    return locale.toString(day, derivedFormats(locale).date);
}

QString Formats::time(const QTime &time, const QLocale &locale)
{
    if (!time.isValid())
        return absent;
    return locale.toString(time, derivedFormats(locale).time);
}

QString Formats::time(const QDateTime &moment, const QLocale &locale)
{
    if (!moment.isValid())
        return absent;
    return time(moment.toLocalTime().time(), locale);
}

QString Formats::dateTime(const QDateTime &moment, const QLocale &locale)
{
    if (!moment.isValid())
        return absent;
    const QDateTime local = moment.toLocalTime();
    return abbreviatedDate(local.date(), locale) + QStringLiteral(", ") + time(local.time(), locale);
}

QString Formats::clock(const QDateTime &moment, const QLocale &locale)
{
    if (!moment.isValid())
        return absent;
    const QDateTime local = moment.toLocalTime();
    return abbreviatedDate(local.date(), locale) + QLatin1Char(' ') + time(local.time(), locale);
}

QString Formats::shortDateTime(const QDateTime &moment, const QLocale &locale)
{
    if (!moment.isValid())
        return absent;
    const QDateTime local = moment.toLocalTime();
    return locale.toString(local.date(), QLocale::ShortFormat) + QStringLiteral(", ") +
           time(local.time(), locale);
}

QString Formats::clockOffset(double seconds)
{
    if (!std::isfinite(seconds))
        return QString();
    const qint64 whole = qint64(std::min(std::abs(seconds), 1e15));
    const auto units =
        whole >= 3600 ? std::pair{whole / 3600, (whole % 3600) / 60} : std::pair{whole / 60, whole % 60};
    const auto names = whole >= 3600 ? std::pair{'h', 'm'} : std::pair{'m', 's'};
    QStringList parts;
    if (units.first > 0)
        parts.append(QString::number(units.first) + QLatin1Char(names.first));
    if (units.second > 0)
        parts.append(QString::number(units.second) + QLatin1Char(names.second));
    return parts.join(QLatin1Char(' '));
}

namespace {

template <typename Char> bool isBlank(Char c)
{
    return c == Char(u' ') || c == Char(u'\t');
}

template <typename Char> bool isLineEnd(Char c)
{
    return c == Char(u'\n') || c == Char(u'\r');
}

// Calls `line(from, to)` for each line of `text` that holds more than blanks, trimmed.
template <typename Text, typename Line> void forEachLine(const Text &text, Line line)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && (isLineEnd(text[i]) || isBlank(text[i])))
            ++i;
        qsizetype end = i;
        while (end < n && !isLineEnd(text[end]))
            ++end;
        qsizetype last = end;
        while (last > i && isBlank(text[last - 1]))
            --last;
        if (last > i)
            line(i, last);
        i = end;
    }
}

} // namespace

QString Formats::recordLines(QStringView record)
{
    QString out;
    out.reserve(record.size());
    forEachLine(record, [&](qsizetype from, qsizetype to) {
        if (!out.isEmpty())
            out += u'\n';
        out += record.sliced(from, to - from);
    });
    return out;
}

int Formats::recordLineCount(QByteArrayView utf8)
{
    // Most records are one sentence: two searches for a line end (memchr) instead of a walk over every byte
    // keep the opening of a long log quick.
    if (!utf8.contains('\n') && !utf8.contains('\r'))
        return std::any_of(utf8.begin(), utf8.end(), [](char c) { return !isBlank(c); }) ? 1 : 0;
    int lines = 0;
    forEachLine(utf8, [&lines](qsizetype, qsizetype) { ++lines; });
    return lines;
}
