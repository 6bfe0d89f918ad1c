#include "roadloom/model/Formats.h"
#include "roadloom/model/MapStyleChoice.h"
#include "roadloom/model/PlaybackRates.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

namespace {

// 13:04:05 UTC: 15:04:05 in Berlin (summer time), the same day.
const QDateTime moment(QDate(2024, 5, 1), QTime(13, 4, 5), Qt::UTC);

struct LocaleCase {
    const char *locale;
    QString day;
    QString abbreviated;
    QString time;
    QString shortDate;
    QString bytes;     // 1,234,567 bytes
    QString smallSize; // 532 bytes
    QString count;     // 12,345
    QStringList rates;
};

} // namespace

TEST(FormatsTest, WritesDaysTimesSizesAndRatesInTheLocaleAndTheLocalZone)
{
    TestSupport::ScopedEnv zone("TZ", "Europe/Berlin");
    const QString narrow = QStringLiteral("\u202F"); // some locales' space before AM/PM
    const QList<LocaleCase> cases = {
        {"en_US",
         "Wednesday, May 1, 2024",
         "May 1, 2024",
         "3:04:05 PM",
         "5/1/24",
         "1.2 MB",
         "532 bytes",
         "12,345",
         {"0.25×", "0.5×", "Normal", "1.5×", "2×", "4×"}},
        {"en_GB",
         "Wednesday, 1 May 2024",
         "1 May 2024",
         "15:04:05",
         "01/05/2024",
         "1.2 MB",
         "532 bytes",
         "12,345",
         {"0.25×", "0.5×", "Normal", "1.5×", "2×", "4×"}},
        {"de_DE",
         "Mittwoch, 1. Mai 2024",
         "1. Mai 2024",
         "15:04:05",
         "01.05.24",
         "1,2 MB",
         "532 Bytes",
         "12.345",
         {"0,25×", "0,5×", "Normal", "1,5×", "2×", "4×"}},
    };
    for (const LocaleCase &c : cases) {
        SCOPED_TRACE(c.locale);
        const QLocale locale(QString::fromLatin1(c.locale));
        EXPECT_EQ(Formats::dayTitle(moment, locale), c.day);
        EXPECT_EQ(Formats::abbreviatedDate(moment.toLocalTime().date(), locale), c.abbreviated);
        EXPECT_EQ(Formats::time(moment, locale).replace(narrow, " "), c.time);
        EXPECT_EQ(Formats::dateTime(moment, locale).replace(narrow, " "), c.abbreviated + ", " + c.time);
        EXPECT_EQ(Formats::shortDateTime(moment, locale).replace(narrow, " "), c.shortDate + ", " + c.time);
        EXPECT_EQ(Formats::byteCount(1234567, locale), c.bytes);
        EXPECT_EQ(Formats::byteCount(532, locale), c.smallSize);
        EXPECT_EQ(Formats::count(12345, locale), c.count);
        QStringList rates;
        for (float rate : PlaybackRates::all)
            rates.append(PlaybackRates::label(rate, locale));
        EXPECT_EQ(rates, c.rates);
    }
}

TEST(FormatsTest, ShowsTheDayOfTheLocalZoneNotOfUtc)
{
    // 23:30 UTC on 1 May is already 2 May in Berlin and still 1 May in New York.
    const QDateTime lateUtc(QDate(2024, 5, 1), QTime(23, 30), Qt::UTC);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    {
        TestSupport::ScopedEnv zone("TZ", "Europe/Berlin");
        EXPECT_EQ(Formats::dayTitle(lateUtc, english), "Thursday, May 2, 2024");
        EXPECT_TRUE(Formats::time(lateUtc, english).startsWith("1:30:00"));
    }
    {
        TestSupport::ScopedEnv zone("TZ", "America/New_York");
        EXPECT_EQ(Formats::dayTitle(lateUtc, english), "Wednesday, May 1, 2024");
        EXPECT_TRUE(Formats::time(lateUtc, english).startsWith("7:30:00"));
    }
}

TEST(FormatsTest, MissingAndOddValuesReadAsTheDashOrZero)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(Formats::dayTitle(QDateTime(), english), "\u2014");
    EXPECT_EQ(Formats::time(QDateTime(), english), "\u2014");
    EXPECT_EQ(Formats::dateTime(QDateTime(), english), "\u2014");
    EXPECT_EQ(Formats::byteCount(-5, english), "0 bytes");
    // Sizes just under a unit read in the next unit once rounded, never as a thousand of the smaller one.
    const QList<std::pair<qint64, QString>> sizes = {
        {999, "999 bytes"},    {1000, "1 kB"},          {999'499, "999 kB"},           {999'999, "1.0 MB"},
        {1'234'567, "1.2 MB"}, {999'960'000, "1.0 GB"}, {1'500'000'000'000, "1.5 TB"},
    };
    for (const auto &[bytes, text] : sizes)
        EXPECT_EQ(Formats::byteCount(bytes, english), text) << bytes;
    EXPECT_EQ(Formats::joined({"1.2 GB", "", "14 files"}), "1.2 GB \u00B7 14 files");
    EXPECT_EQ(Formats::joined({}), "");
}

TEST(FormatsTest, ARateOutsideTheListStillReads)
{
    EXPECT_EQ(PlaybackRates::label(3.0f, QLocale(QLocale::English)), "3×")
        << "a rate outside the list still reads";
}

TEST(FormatsTest, ClockOffsetsKeepTwoUnitsTruncatedAndDropZeroUnits)
{
    const QList<std::pair<double, QString>> cases = {
        {0.4, ""},       {5, "5s"},       {-5.9, "5s"},        {60, "1m"},
        {121, "2m 1s"},  {-1800, "30m"},  {3599.9, "59m 59s"}, {3600, "1h"},
        {7380, "2h 3m"}, {7399, "2h 3m"}, {-90061, "25h 1m"},  {qQNaN(), ""},
    };
    for (const auto &[seconds, text] : cases)
        EXPECT_EQ(Formats::clockOffset(seconds), text) << seconds;
}

TEST(FormatsTest, ARecordShowsEachSentenceOnItsOwnLine)
{
    const struct {
        const char *record;
        QString lines;
    } cases[] = {
        {"$GPRMC,1*63\r\n$GPGGA,2*0A\r\ngsensor,250,150,128",
         "$GPRMC,1*63\n$GPGGA,2*0A\ngsensor,250,150,128"},
        {"$GPRMC,1\n\n  $GPVTG,2  \n", "$GPRMC,1\n$GPVTG,2"},
        {"a\rb\r\n\r\nc", "a\nb\nc"},
        {"gsensor,1,2,3", "gsensor,1,2,3"},
        {"\r\n \t\n", ""},
        {"", ""},
        {"gsensor,\xC3\xA9,2\n\xC3\xA9", "gsensor,\u00E9,2\n\u00E9"},
    };
    for (const auto &c : cases) {
        const QString text = QString::fromUtf8(c.record);
        EXPECT_EQ(Formats::recordLines(text), c.lines) << c.record;
        EXPECT_EQ(Formats::recordLineCount(QByteArrayView(c.record)),
                  c.lines.isEmpty() ? 0 : c.lines.count(u'\n') + 1)
            << c.record;
    }
}
