#include "roadloom/model/ConfigGroup.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

namespace {

// "Title: key key | Title: key" for a compact comparison.
QString outline(const QList<ConfigGroup> &groups)
{
    QStringList parts;
    for (const ConfigGroup &group : groups) {
        QStringList keys;
        for (const ConfigFile::Entry &entry : group.entries)
            keys.append(entry.key);
        parts.append(group.title + QStringLiteral(": ") + keys.join(QLatin1Char(' ')));
    }
    return parts.join(QStringLiteral(" | "));
}

TEST(ConfigGroup, GroupsFilterAndOrderAsTheFormShowsThem)
{
    struct Case {
        const char *name;
        const char *file;
        const char *filter;
        const char *expected;
    };
    const Case cases[] = {
        {"unknown, partition and recording keys in [capacity]",
         "[capacity]\nfoo=1\nconst=40\nrec_quality=1\n[Rec]\nrec_quality=2\n", "",
         "Recording: rec_quality | Memory Partition: const | Other [capacity]: foo rec_quality"},
        {"the section name is matched without case", "[CAPACITY]\nevent=20\nspeaker_vol=3\n", "",
         "Memory Partition: event | Other [CAPACITY]: speaker_vol"},
        {"other groups by code unit after the known ones",
         "top=1\n[a]\nx=1\n[B]\ny=2\n[Time]\nset=1\n[Rec]\nmodel=X\n", "",
         "Device: model | Time: set | Other [B]: y | Other []: top | Other [a]: x"},
        {"only keys outside the schema", "[b]\nq=1\n[a]\np=1\n", "", "Other [a]: p | Other [b]: q"},
        {"known groups keep file order inside", "[A]\nosd_speed=1\n[B]\nrec_quality=0\n[A]\nacc_level=3\n",
         "", "Recording: osd_speed rec_quality acc_level"},
        {"a title-only match", "[Time]\nlocal_time=9\n[Rec]\nrec_quality=1\n", "zone", "System: local_time"},
        {"filter ignores case", "[Time]\nlocal_time=9\n[Rec]\nrec_quality=1\n", "ZONE", "System: local_time"},
        {"a key match", "[Time]\nlocal_time=9\n[Rec]\nrec_quality=1\nREC_extra=1\n", "rec",
         "Recording: rec_quality | Other [Rec]: REC_extra"},
        {"section and group names are not searched", "[Recording]\nfoo=1\nmodel=X\n", "recording", ""},
        {"a filter matching nothing", "[Rec]\nrec_quality=1\nfoo=2\n", "nothing like it", ""},
        {"no entries", "; only a comment\n[Empty]\n", "", ""},
    };
    for (const Case &c : cases) {
        const ConfigFile file(QString::fromUtf8(c.file));
        EXPECT_EQ(outline(grouped(file.entries(), QString::fromUtf8(c.filter))),
                  QString::fromUtf8(c.expected))
            << c.name;
    }
}

TEST(ConfigGroup, EntriesKeepTheirLinesForTheRowsThatEditThem)
{
    const ConfigFile file(QStringLiteral("; c\r\n[Rec]\r\nrec_quality=1\r\n[Audio]\r\nmic_in=0\r\n"));
    const QList<ConfigGroup> groups = grouped(file.entries(), {});
    ASSERT_EQ(groups.size(), 2);
    EXPECT_EQ(groups[0].entries, (QList<ConfigFile::Entry>{{"Rec", "rec_quality", "1", 2}}));
    EXPECT_EQ(groups[1].entries, (QList<ConfigFile::Entry>{{"Audio", "mic_in", "0", 4}}));
}

} // namespace
