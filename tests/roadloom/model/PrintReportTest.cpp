#include "roadloom/model/PrintReport.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

const QString dash = QStringLiteral("\u2014");

DashClip twoChannelClip(std::optional<QDateTime> date)
{
    DashClip clip;
    clip.id = "c1";
    clip.name = "20250101_120000_E";
    clip.category = ClipCategory::event;
    clip.date = date;
    clip.files = {{Channel::front, "/card/evt_rec/20250101_120000_EF.mp4"},
                  {Channel::rear, "/card/evt_rec/20250101_120000_ER.mp4"}};
    return clip;
}

GPSFix fixAt(double knots, std::optional<double> course, std::optional<QDateTime> timestamp)
{
    GPSFix fix;
    fix.time = 10;
    fix.latitude = 37.5665351;
    fix.longitude = -126.9780001;
    fix.speedKnots = knots;
    fix.course = course;
    fix.timestamp = timestamp;
    return fix;
}

QString valueOf(const QList<PrintReport::Row> &rows, const QString &label)
{
    for (const auto &row : rows)
        if (row.label == label)
            return row.value;
    ADD_FAILURE() << "no row " << label.toStdString();
    return {};
}

TEST(PrintReport, RowsFollowTheFixTheSampleAndTheRecording)
{
    const QDateTime start(QDate(2025, 1, 1), QTime(12, 0), Qt::UTC);
    const QDateTime receiver(QDate(2024, 6, 30), QTime(8, 15, 30), Qt::UTC);
    struct Case {
        const char *what;
        std::optional<QDateTime> date;
        double time;
        std::optional<GPSFix> fix;
        std::optional<SensorSample> g;
        SpeedUnit unit;
        std::optional<QDateTime> recorded;
        QString position, speed, heading, sensor;
    };
    const QString position = "37.566535, -126.978000";
    const Case cases[] = {
        {"no fix", start, 3725.4, {}, {}, SpeedUnit::kmh, start.addMSecs(3725400), dash, dash, dash, dash},
        {"no fix, no date", {}, 1, {}, {}, SpeedUnit::kmh, {}, dash, dash, dash, dash},
        {"fix in km/h",
         start,
         2,
         fixAt(10, 271.6, {}),
         {},
         SpeedUnit::kmh,
         start.addSecs(2),
         position,
         "19 km/h",
         "272\u00B0",
         dash},
        {"fix in mph",
         start,
         2,
         fixAt(10, 0, {}),
         {},
         SpeedUnit::mph,
         start.addSecs(2),
         position,
         "12 mph",
         "0\u00B0",
         dash},
        {"fix without course",
         start,
         2,
         fixAt(0, {}, {}),
         {},
         SpeedUnit::kmh,
         start.addSecs(2),
         position,
         "0 km/h",
         dash,
         dash},
        {"receiver time wins",
         start,
         2,
         fixAt(10, {}, receiver),
         {},
         SpeedUnit::kmh,
         receiver,
         position,
         "19 km/h",
         dash,
         dash},
        {"sample",
         {},
         0,
         {},
         SensorSample{0, 0.01, -0.98, 0.12},
         SpeedUnit::kmh,
         {},
         dash,
         dash,
         dash,
         "X +0.01  Y -0.98  Z +0.12  (0.99 g)"},
    };
    for (const auto &c : cases) {
        PrintReport report{twoChannelClip(c.date), c.time, QImage(), {}, c.fix, c.g, c.unit};
        EXPECT_EQ(report.recorded(), c.recorded) << c.what;
        const auto rows = report.rows(QLocale(QLocale::English, QLocale::UnitedStates));
        QStringList labels;
        for (const auto &row : rows)
            labels.append(row.label);
        EXPECT_EQ(labels, (QStringList{"Recorded", "Clip time", "Position", "Speed", "Heading", "G-sensor",
                                       "Files"}));
        if (!c.recorded) {
            EXPECT_EQ(valueOf(rows, "Recorded"), dash) << c.what;
        }
        EXPECT_EQ(valueOf(rows, "Position"), c.position) << c.what;
        EXPECT_EQ(valueOf(rows, "Speed"), c.speed) << c.what;
        EXPECT_EQ(valueOf(rows, "Heading"), c.heading) << c.what;
        EXPECT_EQ(valueOf(rows, "G-sensor"), c.sensor) << c.what;
        EXPECT_EQ(valueOf(rows, "Files"), "20250101_120000_EF.mp4, 20250101_120000_ER.mp4") << c.what;
    }
}

TEST(PrintReport, TextsOfTimeDateAndFiles)
{
    TestSupport::ScopedEnv tz("TZ", "UTC");
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QDateTime start(QDate(2025, 1, 1), QTime(12, 0), Qt::UTC);
    PrintReport report{twoChannelClip(start), 3725.4, QImage(), {}, {}, {}, SpeedUnit::kmh};
    const auto rows = report.rows(english);
    EXPECT_EQ(valueOf(rows, "Clip time"), "1:02:05");
    const QString recorded = valueOf(rows, "Recorded");
    EXPECT_TRUE(recorded.contains("January 1, 2025")) << recorded.toStdString();
    EXPECT_TRUE(recorded.contains("1:02:05")) << recorded.toStdString();

    report.clip.files.clear();
    EXPECT_EQ(valueOf(report.rows(english), "Files"), "") << "no files: empty, not a dash";

    const QString footer = PrintReport::footer(start, english);
    EXPECT_TRUE(footer.startsWith("Printed ")) << footer.toStdString();
    EXPECT_TRUE(footer.endsWith(" \u00B7 Roadloom")) << footer.toStdString();
    EXPECT_TRUE(footer.contains("25")) << footer.toStdString();
}

// Length of the run of pixels of that colour in the column, from its first one.
int runIn(const QImage &image, int x, QRgb color, int *first = nullptr)
{
    int y = 0;
    while (y < image.height() && image.pixel(x, y) != color)
        ++y;
    if (first)
        *first = y;
    int length = 0;
    while (y < image.height() && image.pixel(x, y) == color)
        ++y, ++length;
    return length;
}

TEST(PrintReport, PageIsTwiceThePointWidthWithTheFramesFittedBelowTheHeader)
{
    QImage front(1600, 900, QImage::Format_RGB32);
    front.fill(Qt::red);
    QImage tallRear(100, 400, QImage::Format_RGB32);
    tallRear.fill(Qt::blue);
    QImage wideRear(400, 100, QImage::Format_RGB32);
    wideRear.fill(Qt::blue);
    const QDateTime printed(QDate(2025, 2, 3), QTime(4, 5), Qt::UTC);

    PrintReport report{twoChannelClip({}), 1, front, {}, {}, {}, SpeedUnit::kmh};
    const QImage plain = report.render(2.0, printed);
    EXPECT_EQ(plain.width(), 1520);
    int frontTop = 0;
    EXPECT_NEAR(runIn(plain, 760, qRgb(255, 0, 0), &frontTop), 792, 2) << "704 points wide, 16:9";
    EXPECT_GT(frontTop, 2 * 28) << "below the padding and the header";
    EXPECT_EQ(plain.pixel(2 * 28 - 4, frontTop + 100), qRgb(255, 255, 255)) << "padding stays white";
    EXPECT_EQ(plain.pixel(2 * 28 + 4, frontTop + 100), qRgb(255, 0, 0));

    report.rear = tallRear;
    const QImage tall = report.render(2.0, printed);
    EXPECT_NEAR(tall.height() - plain.height(), 2 * (300 + 14), 2) << "a tall rear is held to 300 points";
    int rearTop = 0;
    EXPECT_NEAR(runIn(tall, 760, qRgb(0, 0, 255), &rearTop), 600, 2);
    EXPECT_NEAR(rearTop - (frontTop + 792), 2 * 14, 2);
    EXPECT_EQ(tall.pixel(760 - 80, rearTop + 300), qRgb(255, 255, 255)) << "aspect kept: 75 points wide";
    EXPECT_EQ(tall.pixel(760 - 70, rearTop + 300), qRgb(0, 0, 255));

    report.rear = wideRear;
    EXPECT_NEAR(report.render(2.0, printed).height() - plain.height(), 2 * (176 + 14), 2);

    EXPECT_EQ(report.render(1.0, printed).width(), 760);
}

TEST(PrintReport, FramesWhosePaddingByteIsZeroArePaintedOpaque)
{
    const QRgb color = qRgb(200, 30, 40);
    // bgr0 (RGB32 here) and rgb0 frames, as the player hands them over.
    const std::pair<QImage::Format, std::array<uchar, 4>> layouts[] = {
        {QImage::Format_RGB32, {40, 30, 200, 0}}, {QImage::Format_RGBX8888, {200, 30, 40, 0}}};
    for (const auto &[format, bytes] : layouts) {
        SCOPED_TRACE(format);
        QImage frame(160, 90, format);
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                std::memcpy(frame.scanLine(y) + 4 * x, bytes.data(), 4);
        PrintReport report{twoChannelClip({}), 1, frame, frame, {}, {}, SpeedUnit::kmh};
        const QImage page = report.render(2.0).convertToFormat(QImage::Format_ARGB32);
        int frontTop = 0;
        const int front = runIn(page, 760, color, &frontTop);
        EXPECT_NEAR(front, 792, 2) << "the front frame, opaque";
        const QImage below = page.copy(0, frontTop + front, page.width(), page.height());
        EXPECT_NEAR(runIn(below, 760, color), 600, 2) << "the rear frame, opaque";
    }
}

} // namespace
