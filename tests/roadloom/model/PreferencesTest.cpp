#include "roadloom/model/Preferences.h"

#include "fixtures/TestSupport.h"
#include "platform/Defaults.h"

#include <gtest/gtest.h>

#include <QMetaProperty>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>
#include <limits>
#include <map>
#include <memory>

namespace {

// A spy on every change signal of the preferences, by property name.
class AllSignals {
public:
    explicit AllSignals(Preferences &prefs)
    {
        const QMetaObject *meta = prefs.metaObject();
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            const QMetaProperty property = meta->property(i);
            m_spies[property.name()] = std::make_unique<QSignalSpy>(&prefs, property.notifySignal());
        }
    }
    // Names of the properties that announced a change, with the count of each.
    std::map<QString, int> fired() const
    {
        std::map<QString, int> result;
        for (const auto &[name, spy] : m_spies) {
            if (spy->count() > 0)
                result[name] = int(spy->count());
        }
        return result;
    }
    QVariant last(const QString &name) const { return m_spies.at(name)->last().at(0); }
    void clear()
    {
        for (auto &[name, spy] : m_spies)
            spy->clear();
    }

private:
    std::map<QString, std::unique_ptr<QSignalSpy>> m_spies;
};

class PreferencesTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Defaults defaults{dir.path() + QStringLiteral("/prefs.ini")};
};

} // namespace

// A write of one key, however it is spelled, announces that key's typed value and nothing else; a write
// that leaves the typed value as it was announces nothing.
TEST_F(PreferencesTest, AWriteAnnouncesOnlyTheTypedValueThatChanged)
{
    struct Case {
        QString key;
        QVariant raw;
        QString property;   // empty: no announcement expected
        QVariant announced; // the typed value carried
    };
    const QList<Case> cases = {
        {"speedUnit", "mph", "speedUnit", QVariant::fromValue(SpeedUnit::mph)},
        {"speedUnit", "mph", "", {}},
        {"speedUnit", "furlongs", "speedUnit", QVariant::fromValue(SpeedUnit::kmh)},
        {"speedUnit", "kmh", "", {}}, // unknown already read km/h
        {"autoPlayNext", false, "autoPlayNext", false},
        {"autoPlayNext", "false", "", {}},
        {"snapshotFolder", "/media/shots", "snapshotFolder", "/media/shots"},
        {"mapStyle", "satellite", "mapStyle", QVariant::fromValue(MapStyleChoice::satellite)},
        {"mapStyle", "terrain", "mapStyle", QVariant::fromValue(MapStyleChoice::standard)},
        {"mapStyle", "standard", "", {}},
        {"ffmpegPath", "/opt/ffmpeg/bin/ffmpeg", "ffmpegPath", "/opt/ffmpeg/bin/ffmpeg"},
        {"cachePolicy", "important", "cachePolicy", QVariant::fromValue(CachePolicy::important)},
        {"cachePolicy", "Important", "cachePolicy", QVariant::fromValue(CachePolicy::all)},
        {"libraryFolders", QStringList{"/a", "/b"}, "libraryFolders", QStringList{"/a", "/b"}},
        {"deckHeight", 320.5, "deckHeight", 320.5},
        {"deckHeight", "nan", "deckHeight", 260.0},
        {"deckHeight", -40, "", {}},
        {"deckHeight", "inf", "", {}},
        {"deckHeight", 0, "", {}},
        {"deckHeight", "tall", "", {}},
        {"mapTileURL", "http://tiles.local/{z}/{x}/{y}.png", "mapTileURL",
         "http://tiles.local/{z}/{x}/{y}.png"},
        {"mapTileURL", "  ", "mapTileURL", Preferences::defaultMapTileURL},
        {"mapSatelliteTileURL", "http://sat.local/{z}/{y}/{x}", "mapSatelliteTileURL",
         "http://sat.local/{z}/{y}/{x}"},
        {"mapLabelsTileURL", "http://labels.local/{z}/{x}/{y}", "mapLabelsTileURL",
         "http://labels.local/{z}/{x}/{y}"},
        {"someOtherKey", "x", "", {}},
    };

    Preferences prefs(defaults);
    AllSignals spies(prefs);
    for (const Case &c : cases) {
        SCOPED_TRACE((c.key + " = " + c.raw.toString()).toStdString());
        spies.clear();
        defaults.setValue(c.key, c.raw);
        if (c.property.isEmpty()) {
            EXPECT_TRUE(spies.fired().empty());
            continue;
        }
        EXPECT_EQ(spies.fired(), (std::map<QString, int>{{c.property, 1}}));
        EXPECT_EQ(spies.last(c.property), c.announced);
        EXPECT_EQ(prefs.property(c.property.toLatin1()), c.announced);
    }
}

TEST_F(PreferencesTest, SettersWriteTheRawTextsOtherReadersExpect)
{
    Preferences prefs(defaults);
    Preferences other(defaults); // another window's copy follows
    AllSignals otherSignals(other);

    prefs.setSpeedUnit(SpeedUnit::mph);
    prefs.setMapStyle(MapStyleChoice::hybrid);
    prefs.setCachePolicy(CachePolicy::off);
    prefs.setDeckHeight(std::numeric_limits<double>::quiet_NaN());
    prefs.setDeckHeight(-1);
    prefs.setDeckHeight(300);
    prefs.setAutoPlayNext(false);

    EXPECT_EQ(defaults.string("speedUnit"), "mph");
    EXPECT_EQ(defaults.string("mapStyle"), "hybrid");
    EXPECT_EQ(defaults.string("cachePolicy"), "off");
    EXPECT_EQ(defaults.number("deckHeight"), 300);
    EXPECT_FALSE(defaults.boolean("autoPlayNext"));
    EXPECT_EQ(CachePolicies::current(), CachePolicy::all) << "the policy reader uses the user's own defaults";
    EXPECT_EQ(
        otherSignals.fired(),
        (std::map<QString, int>{
            {"speedUnit", 1}, {"mapStyle", 1}, {"cachePolicy", 1}, {"deckHeight", 1}, {"autoPlayNext", 1}}));
    EXPECT_EQ(other.mapStyle(), MapStyleChoice::hybrid);
    EXPECT_EQ(other.deckHeight(), 300);
}

TEST_F(PreferencesTest, AWriteFromAnotherThreadIsAnnouncedOnTheGuiThread)
{
    Preferences prefs(defaults);
    QThread *announcedOn = nullptr;
    int announcements = 0;
    QObject::connect(&prefs, &Preferences::mapStyleChanged, &prefs, [&](MapStyleChoice) {
        announcedOn = QThread::currentThread();
        ++announcements;
    });
    std::unique_ptr<QThread> writer(QThread::create([this] { defaults.setValue("mapStyle", "satellite"); }));
    writer->start();
    ASSERT_TRUE(writer->wait(5000));
    ASSERT_TRUE(TestSupport::waitFor([&] { return announcements > 0; }));
    EXPECT_EQ(announcedOn, prefs.thread());
    EXPECT_EQ(prefs.mapStyle(), MapStyleChoice::satellite);
    EXPECT_EQ(announcements, 1);
}
