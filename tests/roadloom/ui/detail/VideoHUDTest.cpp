#include "roadloom/ui/detail/VideoHUD.h"
#include "roadloom/ui/ViewHarness.h"

#include "roadloom/model/Preferences.h"
#include "roadloom/ui/detail/TransportBar.h"

#include <QSet>
#include <QTest>

using namespace AppHarness;

namespace {

const QString narrow = QStringLiteral("\u202F"); // some locales' space before AM/PM

GPSFix fix(double time, double knots, std::optional<QDateTime> timestamp = {})
{
    GPSFix f;
    f.time = time;
    f.latitude = 37.5;
    f.longitude = 127.0;
    f.speedKnots = knots;
    f.timestamp = timestamp;
    return f;
}

SensorSample sample(double time, double magnitude)
{
    SensorSample s;
    s.time = time;
    s.z = magnitude;
    return s;
}

class VideoHUDTest : public ModelTest {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override
    {
        QLocale::setDefault(QLocale::system());
        ModelTest::TearDown();
    }
    TestSupport::ScopedEnv zone{"TZ", "UTC"};
};

} // namespace

TEST_F(VideoHUDTest, ReadsTheClockSpeedAndForceAtThePlayhead)
{
    const QDateTime tenAM = at(0);
    const QDateTime fixTime = QDateTime(QDate(2024, 5, 1), QTime(9, 0, 0), Qt::UTC);
    struct Case {
        const char *what;
        Telemetry telemetry;
        std::optional<QDateTime> clipDate;
        std::optional<QString> clock;
        std::optional<QString> speed;
        std::optional<QString> gForce;
        bool high = false;
    };
    const Case cases[] = {
        {"the fix's own time",
         Telemetry({}, {fix(0, 10, fixTime), fix(10, 10, fixTime.addSecs(10))}, "t"),
         tenAM,
         "May 1, 2024 9:00:05 AM",
         "19 km/h",
         {}},
        {"a fix without a time: the recording's date plus the playhead",
         Telemetry({}, {fix(0, 10)}, "t"),
         tenAM,
         "May 1, 2024 10:00:05 AM",
         "19 km/h",
         {}},
        {"no GPS: date plus playhead and the force",
         Telemetry({sample(0, 1.80)}, {}, "t"),
         tenAM,
         "May 1, 2024 10:00:05 AM",
         {},
         "1.80 g",
         false},
        {"just above the limit is red", Telemetry({sample(0, 1.81)}, {}, "t"), {}, {}, {}, "1.81 g", true},
        {"a fix without a time and no date: no clock",
         Telemetry({}, {fix(0, 10)}, "t"),
         {},
         {},
         "19 km/h",
         {}},
        {"nothing at all", Telemetry(), {}, {}, {}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        VideoHUD::Readout readout = VideoHUD::readout(c.telemetry, 5, c.clipDate, SpeedUnit::kmh);
        if (readout.clock)
            readout.clock->replace(narrow, QStringLiteral(" "));
        EXPECT_EQ(readout.clock, c.clock);
        EXPECT_EQ(readout.speed, c.speed);
        EXPECT_EQ(readout.gForce, c.gForce);
        EXPECT_EQ(readout.gForceHigh, c.high);
        EXPECT_EQ(readout.isEmpty(), !c.clock && !c.speed && !c.gForce);
    }
    // 10 knots: 18.52 km/h, 11.51 mph.
    EXPECT_EQ(VideoHUD::readout(Telemetry({}, {fix(0, 10)}, "t"), 0, {}, SpeedUnit::mph).speed, "12 mph");
}

TEST_F(VideoHUDTest, FollowsThePlayheadAndTheUnitAndHidesWithoutMedia)
{
    const DashClip trip = recording(QStringLiteral("Trip"), at(0));
    services->telemetry[trip.files.at(Channel::front)] =
        Telemetry({sample(0, 1.0), sample(2, 1.11)}, {fix(0, 10), fix(2, 20)}, "t");
    make({trip});
    QWidget stage;
    stage.resize(800, 450);
    auto *hud = new VideoHUD(*model, &stage);
    stage.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&stage));
    EXPECT_FALSE(hud->isVisible());

    // Loading: nothing yet.
    model->player().load(trip, false);
    ASSERT_TRUE(TestSupport::waitFor([&] { return front().hasFile(); }));
    EXPECT_FALSE(model->player().hasMedia());
    EXPECT_FALSE(hud->isVisible());

    front().fireReady(facts());
    ASSERT_TRUE(TestSupport::waitFor(
        [&] { return model->player().hasMedia() && !model->player().telemetry().isEmpty(); }));
    EXPECT_TRUE(hud->isVisible());
    EXPECT_EQ(hud->readout().speed, "19 km/h");
    EXPECT_EQ(hud->geometry().bottomLeft(), QPoint(14, 450 - 14 - 1));
    const QSize size = hud->size();

    front().fireTick(1.0); // 15 knots
    EXPECT_EQ(hud->readout().speed, "28 km/h");
    // Digits that change keep the capsule's width.
    EXPECT_EQ(hud->size(), size);
    front().fireTick(2.0);
    EXPECT_EQ(hud->readout().gForce, "1.11 g");
    EXPECT_EQ(hud->size(), size);

    // Drawn by a video canvas instead: the picture holds the capsule and its text, the widget paints none.
    const auto lightPixels = [](const QImage &image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += qAlpha(image.pixel(x, y)) > 200 && qGray(image.pixel(x, y)) > 200;
        return count;
    };
    QSignalSpy changes(hud, &VideoHUD::pictureChanged);
    hud->setDrawnElsewhere(true);
    const QImage picture = hud->picture(1.0);
    EXPECT_EQ(picture.size(), hud->size());
    EXPECT_GT(lightPixels(picture), 20);
    EXPECT_EQ(lightPixels(hud->grab().toImage()), 0);
    front().fireTick(1.0);
    EXPECT_EQ(changes.count(), 1) << "a new readout asks for a new picture";
    front().fireTick(2.0);
    hud->setDrawnElsewhere(false);
    // The picture is the widget's own drawing, its text as large.
    const QImage drawn = hud->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(hud->picture(1.0), drawn);

    // A change of the unit anywhere shows at once.
    model->preferences().setSpeedUnit(SpeedUnit::mph);
    ASSERT_TRUE(TestSupport::waitFor([&] { return hud->readout().speed == QStringLiteral("23 mph"); }));
    EXPECT_TRUE(hud->testAttribute(Qt::WA_TransparentForMouseEvents));

    // A failed load hides it although the telemetry stays.
    model->player().load(trip, false);
    ASSERT_TRUE(TestSupport::waitFor([&] { return front().hasFile(); }));
    front().fireFailure(QStringLiteral("broken"));
    ASSERT_TRUE(TestSupport::waitFor([&] { return model->player().loadError().has_value(); }));
    EXPECT_FALSE(hud->isVisible());
}

// Going from one recording to the next: the display and the transport never show the next one as if it
// played, from the moment it is chosen until its file is loaded.
TEST_F(VideoHUDTest, TheNextRecordingShowsNoTimeBeforeItsFileIsLoaded)
{
    const DashClip first = recording(QStringLiteral("First"), at(0));
    const DashClip next = recording(QStringLiteral("Next"), at(600));
    make({first, next});
    QWidget stage;
    stage.resize(800, 450);
    auto *hud = new VideoHUD(*model, &stage);
    auto *bar = new TransportBar(*model, &stage);
    stage.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&stage));
    load(first);
    front().fireTick(1.0);
    ASSERT_TRUE(hud->isVisible());
    ASSERT_TRUE(bar->transportGroup()->isEnabled());

    QStringList shown; // what a view showed of the next recording, and on which notification
    const auto look = [&](const char *signal) {
        const std::optional<DashClip> &clip = model->player().clip();
        if (!clip || clip->id != next.id)
            return;
        if (!hud->readout().isEmpty())
            shown.append(QStringLiteral("display %1 on %2")
                             .arg(hud->readout().clock.value_or(QString()), QString::fromLatin1(signal)));
        if (bar->transportGroup()->isEnabled())
            shown.append(QStringLiteral("transport on %1").arg(QString::fromLatin1(signal)));
    };
    PlayerController &player = model->player();
    QObject::connect(&player, &PlayerController::clipChanged, &stage, [&] { look("clip"); });
    QObject::connect(&player, &PlayerController::currentTimeChanged, &stage, [&] { look("currentTime"); });
    QObject::connect(&player, &PlayerController::hasMediaChanged, &stage, [&] { look("hasMedia"); });
    QObject::connect(&player, &PlayerController::telemetryChanged, &stage, [&] { look("telemetry"); });

    player.load(next, false);
    ASSERT_TRUE(TestSupport::waitFor([&] { return front().hasFile(); }));
    EXPECT_TRUE(shown.isEmpty()) << shown.join("; ").toStdString();
    EXPECT_FALSE(hud->isVisible());

    front().fireReady(facts());
    ASSERT_TRUE(TestSupport::waitFor([&] { return player.hasMedia(); }));
    EXPECT_TRUE(hud->isVisible());
    EXPECT_TRUE(bar->transportGroup()->isEnabled());
}

// On a stage too narrow for the capsule in one row, the readout breaks into rows, then leaves its symbols
// out, and only then is drawn smaller; at any width it lies inside the stage with its margins, every figure
// whole, and taking the stage wider again gives the single row back.
TEST_F(VideoHUDTest, StaysInsideANarrowStageWithEveryFigureWhole)
{
    const DashClip trip = recording(QStringLiteral("Trip"), at(0));
    services->telemetry[trip.files.at(Channel::front)] = Telemetry({sample(0, 1.95)}, {fix(0, 60)}, "t");
    make({trip});
    QWidget stage;
    stage.resize(800, 450);
    auto *hud = new VideoHUD(*model, &stage);
    stage.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&stage));
    load(trip);
    front().fireTick(1.0);
    ASSERT_TRUE(hud->isVisible());
    const VideoHUD::Readout readout = hud->readout();
    ASSERT_TRUE(readout.clock && readout.speed && readout.gForce);
    const int oneRow = hud->width();

    // Narrowing the stage step by step: one row with symbols, then rows, then rows without symbols, then
    // smaller, never back; and wide again, one row.
    int form = 0;
    QSet<int> forms;
    for (int width = 800; width >= 120; width -= 4) {
        SCOPED_TRACE(width);
        stage.resize(width, 300);
        QCoreApplication::processEvents();
        const VideoHUD::Arrangement &arranged = hud->arrangement();
        EXPECT_TRUE(stage.rect().adjusted(14, 14, -14, -14).contains(hud->geometry()))
            << hud->x() << "+" << hud->width() << " in " << width;
        const int now = arranged.scale < 1 ? 3 : !arranged.symbols ? 2 : arranged.rows.size() > 1 ? 1 : 0;
        EXPECT_GE(now, form);
        EXPECT_EQ(arranged.rows.size() > 1, now > 0);
        form = now;
        forms.insert(now);
        if (width == 800) {
            EXPECT_EQ(hud->width(), oneRow);
        }
        // Every item once, in order.
        QList<int> order;
        for (const QList<int> &row : arranged.rows)
            order += row;
        EXPECT_EQ(order, (QList<int>{0, 1, 2}));
        // The figures drawn: light text in each row's band, none in the capsule's outer edge.
        const QImage picture = hud->picture(1.0);
        ASSERT_EQ(picture.size(), hud->size());
        const auto textIn = [&](const QRect &band) {
            int count = 0;
            for (int y = band.top(); y <= band.bottom(); ++y)
                for (int x = band.left(); x <= band.right(); ++x) {
                    const QColor colour = picture.pixelColor(x, y);
                    count += colour.alpha() > 200 && (colour.lightness() > 180 || colour.red() > 180);
                }
            return count;
        };
        const int bandHeight = picture.height() / int(arranged.rows.size());
        for (int row = 0; row < arranged.rows.size(); ++row)
            EXPECT_GT(textIn(QRect(0, row * bandHeight, picture.width(), bandHeight)),
                      arranged.scale < 1 ? 0 : 3)
                << "row " << row;
        const int edge = std::max(1, int(4 * arranged.scale));
        EXPECT_EQ(textIn(QRect(picture.width() - edge, 0, edge, picture.height())), 0) << "cut at the right";
    }
    EXPECT_EQ(forms, (QSet<int>{0, 1, 2, 3}));
    stage.resize(800, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(hud->arrangement().rows.size(), 1);
    EXPECT_EQ(hud->width(), oneRow);
}
