#include "roadcore/ConfigSchema.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSet>
#include <QTemporaryDir>

namespace {

using ConfigSchema::Kind;

QStringList optionValues(const Kind &kind)
{
    QStringList values;
    for (const ConfigSchema::Option &option : kind.options)
        values.append(option.value);
    return values;
}

TEST(ConfigSchema, TitlesAreTheProgramsTextsByteForByte)
{
    const std::pair<const char *, QByteArray> titles[] = {
        {"ldws_left", "Lane departure \xE2\x80\x93 left sensitivity"},
        {"ldws_right", "Lane departure \xE2\x80\x93 right sensitivity"},
        {"ldws_center", "Calibration \xE2\x80\x93 horizon X"},
        {"ldws_front", "Calibration \xE2\x80\x93 bonnet Y"},
        {"use_adas", "Driver assistance (ADAS)"},
        {"local_time", "Time zone (UTC offset)"},
        {"set", "Apply computer time on next boot"},
        {"use_alarm_const", "Continuous-recording chime"},
    };
    for (const auto &[key, title] : titles) {
        SCOPED_TRACE(key);
        const std::optional<ConfigSchema::Field> field = ConfigSchema::field(QString::fromLatin1(key));
        ASSERT_TRUE(field);
        EXPECT_EQ(field->title.toUtf8(), title);
    }
    const ConfigSchema::Field temperature = *ConfigSchema::field(u"temp_limit"_qs);
    EXPECT_EQ(temperature.kind, Kind::range(60, 100, 1, u"\u00B0C"_qs));
    EXPECT_EQ(temperature.kind.unit->toUtf8(), QByteArray("\xC2\xB0"
                                                          "C"));
}

TEST(ConfigSchema, KnowsFiftyThreeKeysInEightGroups)
{
    EXPECT_EQ(ConfigSchema::fields().size(), 53);
    QSet<QString> groups;
    int withHelp = 0;
    for (const ConfigSchema::Field &field : ConfigSchema::fields()) {
        groups.insert(field.group);
        withHelp += field.help.has_value();
    }
    EXPECT_EQ(groups, (QSet<QString>{u"Recording"_qs, u"Parking"_qs, u"Driver Assistance"_qs, u"Audio"_qs,
                                     u"System"_qs, u"Device"_qs, u"Memory Partition"_qs, u"Time"_qs}));
    EXPECT_EQ(withHelp, 1);
    const ConfigSchema::Field voltage = *ConfigSchema::field(u"power_off_vlt"_qs);
    EXPECT_EQ(voltage.help, u"Stops parking recording when the vehicle battery drops below this voltage."_qs);
    EXPECT_EQ(voltage.kind, Kind::range(11000, 25000, 100, u"mV"_qs));

    for (const auto &[a, b] : {std::pair{"osd_speed", "speed_stamp"},
                               {"acc_level", "acceleration_sensor"},
                               {"park_mode", "parking_mode_set"},
                               {"motion_level", "parking_motion_sensitivity"}}) {
        SCOPED_TRACE(a);
        EXPECT_EQ(ConfigSchema::field(QString::fromLatin1(a)), ConfigSchema::field(QString::fromLatin1(b)));
    }
    EXPECT_EQ(ConfigSchema::field(u"ldws_right"_qs)->kind, ConfigSchema::sensitivity());
}

TEST(ConfigSchema, FieldMatchesTheKeyExactly)
{
    const std::optional<ConfigSchema::Field> quality = ConfigSchema::field(u"rec_quality"_qs);
    ASSERT_TRUE(quality);
    EXPECT_EQ(quality->title, u"Recording quality"_qs);
    EXPECT_EQ(quality->group, u"Recording"_qs);
    EXPECT_EQ(optionValues(quality->kind), (QStringList{u"-1"_qs, u"0"_qs, u"1"_qs, u"2"_qs}));
    EXPECT_EQ(quality->kind.options[0].label, u"Default"_qs);
    EXPECT_FALSE(ConfigSchema::field(u"REC_QUALITY"_qs));
    EXPECT_FALSE(ConfigSchema::field(u" rec_quality"_qs));
    EXPECT_FALSE(ConfigSchema::field(u""_qs));

    const std::optional<ConfigSchema::Field> event = ConfigSchema::field(u"event"_qs);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->title, u"Incident"_qs);
    EXPECT_EQ(event->group, u"Memory Partition"_qs);
    EXPECT_EQ(event->kind, Kind::range(0, 100, 1, u"%"_qs));
}

TEST(ConfigSchema, SensitivityIsFiveStepsLowestToHighest)
{
    const Kind &kind = ConfigSchema::sensitivity();
    EXPECT_EQ(kind.type, Kind::Type::choice);
    EXPECT_EQ(optionValues(kind), (QStringList{u"1"_qs, u"2"_qs, u"3"_qs, u"4"_qs, u"5"_qs}));
    QStringList labels;
    for (const ConfigSchema::Option &option : kind.options)
        labels.append(option.label);
    EXPECT_EQ(labels, (QStringList{u"Lowest"_qs, u"Low"_qs, u"Medium"_qs, u"High"_qs, u"Highest"_qs}));
}

TEST(ConfigSchema, KindsCompareByValuesNotLabels)
{
    EXPECT_NE(Kind::range(0, 48, 1, u"h"_qs), Kind::range(0, 48, 1));
    EXPECT_NE(Kind::range(0, 48, 1), Kind::range(0, 48, 0.5));
    EXPECT_NE(Kind::range(0, 48, 1), Kind::range(-1, 48, 1));
    EXPECT_EQ(Kind::range(0, 5, 1), Kind::range(0, 5, 1));
    EXPECT_EQ(Kind::choice({{u"1"_qs, u"On"_qs}, {u"0"_qs, u"Off"_qs}}),
              Kind::choice({{u"1"_qs, u"Yes"_qs}, {u"0"_qs, u"No"_qs}}));
    EXPECT_NE(Kind::choice({{u"1"_qs, u"On"_qs}, {u"0"_qs, u"Off"_qs}}),
              Kind::choice({{u"0"_qs, u"Off"_qs}, {u"1"_qs, u"On"_qs}}));
    EXPECT_NE(Kind::choice({{u"1"_qs, u"On"_qs}}), Kind::choice({{u"1"_qs, u"On"_qs}, {u"0"_qs, u"Off"_qs}}));
    EXPECT_NE(Kind::toggle(), Kind::text());
    EXPECT_NE(Kind::choice({}), Kind::text());
}

struct Card {
    const char *name;
    QStringList present;
    QString expected; // empty: nothing found
};

TEST(ConfigSchema, ConfigURLTriesFoldersBeforeFiles)
{
    const Card cards[] = {
        {"folder order first",
         {u"setting/blackbox.cfg"_qs, u"SETTING/setup.cfg"_qs},
         u"SETTING/setup.cfg"_qs},
        {"then file order",
         {u"SETTING/default.cfg"_qs, u"SETTING/setup.cfg"_qs, u"SETTING/blackbox.cfg"_qs},
         u"SETTING/blackbox.cfg"_qs},
        {"lower-case folder", {u"setting/default.cfg"_qs, u"setting/setup.cfg"_qs}, u"setting/setup.cfg"_qs},
        {"capitalised folder last", {u"Setting/default.cfg"_qs}, u"Setting/default.cfg"_qs},
        {"other names are not looked for", {u"SETTING/BLACKBOX.CFG"_qs, u"Settings/blackbox.cfg"_qs}, {}},
        {"nothing", {}, {}},
    };
    for (const Card &card : cards) {
        SCOPED_TRACE(card.name);
        QTemporaryDir volume;
        for (const QString &file : card.present)
            TestSupport::writeFile(volume.filePath(file), "a=1\n");
        const std::optional<QString> found = ConfigSchema::configURL(volume.path());
        if (card.expected.isEmpty())
            EXPECT_EQ(found, std::nullopt);
        else
            EXPECT_EQ(found, volume.filePath(card.expected));
    }
}

} // namespace
