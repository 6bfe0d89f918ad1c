#include "roadcore/ConfigSchema.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSet>
#include <QTemporaryDir>

namespace {

using ConfigSchema::Kind;

TEST(ConfigSchema, FieldMatchesTheKeyExactly)
{
    EXPECT_TRUE(ConfigSchema::field(u"rec_quality"_qs));
    EXPECT_FALSE(ConfigSchema::field(u"REC_QUALITY"_qs));
    EXPECT_FALSE(ConfigSchema::field(u" rec_quality"_qs));
    EXPECT_FALSE(ConfigSchema::field(u""_qs));
    for (const auto &[a, b] : {std::pair{"osd_speed", "speed_stamp"}, {"park_mode", "parking_mode_set"}}) {
        SCOPED_TRACE(a);
        EXPECT_EQ(ConfigSchema::field(QString::fromLatin1(a)), ConfigSchema::field(QString::fromLatin1(b)));
    }
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
