#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTime>

// How the views (and the printed report) write numbers, sizes, days and times. Dates of the model are UTC;
// every text here shows the moment in the local time zone.
namespace Formats {

// A missing single value.
inline const QString absent = QStringLiteral("\u2014");
// Between several values on one line.
inline const QString separator = QStringLiteral(" \u00B7 ");

// The parts joined by the separator, empty parts left out.
QString joined(const QStringList &parts);

// A file size in SI units ("532 bytes", "12 kB", "1.2 GB"); a negative size reads as 0.
QString byteCount(qint64 bytes, const QLocale &locale = QLocale());
// A count with the locale's digit grouping ("12,345", "12.345").
QString count(qint64 value, const QLocale &locale = QLocale());

// The local day of a moment, in the locale's long form ("Wednesday, May 1, 2024").
QString dayTitle(const QDateTime &moment, const QLocale &locale = QLocale());
QString dayTitle(const QDate &day, const QLocale &locale = QLocale());
// The day with an abbreviated month and no weekday ("May 1, 2024", "1. Mai 2024").
QString abbreviatedDate(const QDate &day, const QLocale &locale = QLocale());
// Hours, minutes and seconds in the locale's style, without the zone ("3:04:05 PM", "15:04:05").
QString time(const QTime &time, const QLocale &locale = QLocale());
// The local time of a moment.
QString time(const QDateTime &moment, const QLocale &locale = QLocale());
// The local moment as an abbreviated date and its time ("May 1, 2024, 3:04:05 PM"); "—" when invalid.
QString dateTime(const QDateTime &moment, const QLocale &locale = QLocale());
// The local moment as the locale's short date and its time with seconds ("5/1/24, 3:04:05 PM"); "—" when
// invalid.
QString shortDateTime(const QDateTime &moment, const QLocale &locale = QLocale());
// How far one clock is off another, whatever the sign: hours and minutes from an hour, else minutes and
// seconds; units that are zero are left out, digits truncated ("2h 3m", "3m 20s", "5s"). Empty below a
// second.
QString clockOffset(double seconds);

// The clock of the video's heads-up display: the abbreviated date and the time, local, without a comma
// between them ("May 1, 2024 10:00:00 AM"); "—" when invalid.
QString clock(const QDateTime &moment, const QLocale &locale = QLocale());

// A raw record with each of its sentences on a line of its own: every line end ("\r\n", "\n", "\r") becomes
// one "\n"; blank lines and spaces or tabs at either end of a line are dropped.
QString recordLines(QStringView record);
// The number of lines recordLines() gives, counted on the record's UTF-8 bytes without decoding them.
int recordLineCount(QByteArrayView utf8);

} // namespace Formats
