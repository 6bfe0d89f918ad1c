#include "roadcore/CatalogJournal.h"

#include <gtest/gtest.h>

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

CatalogEntry fullEntry()
{
    CatalogEntry entry;
    entry.key = "20240501_083000#300";
    entry.name = "20240501_083000";
    entry.category = ClipCategory::event;
    entry.date = utc(2024, 5, 1, 8, 30, 0);
    entry.importedAt = utc(2024, 5, 2, 9, 0, 1);
    CatalogEntry::File front;
    front.originalPath = "/media/me/CARD/evt_rec/20240501_083000_F.mp4";
    front.importedPath = front.originalPath;
    front.bookmark = QByteArray("\x00\x01\xff bookmark", 12);
    front.size = 200;
    front.modified = utc(2024, 5, 1, 8, 31, 0);
    front.fingerprint = "0123456789abcdef0123456789abcdef";
    front.storedPath = "Files/01/0123456789abcdef0123456789abcdef/20240501_083000_F.mp4";
    entry.files["F"] = front;
    CatalogEntry::File rear;
    rear.originalPath = "/media/me/CARD/evt_rec/20240501_083000_R.mp4";
    rear.size = 100;
    entry.files["R"] = rear;
    entry.files["X"] = rear; // not a channel: carried along
    return entry;
}

TEST(CatalogJournal, ReadsAJournalUpToItsFirstBadLineAndOnlyForItsOwnCatalog)
{
    const CatalogJournal::Record one{"a#1", "F", QString(32, 'a'), "Files/aa/x_F.mp4"};
    const CatalogJournal::Record two{"b \"quoted\"#2", "R", QString(32, 'b'), "Files/bb/ü_R.mp4"};
    const QByteArray header = CatalogJournal::header("1:2:3:4.5");
    const QByteArray lineOne = CatalogJournal::line(one), lineTwo = CatalogJournal::line(two);
    const struct Case {
        const char *what;
        QByteArray text;
        QByteArray identity;
        QList<CatalogJournal::Record> records;
        qsizetype goodBytes;
    } cases[] = {
        {"whole", header + lineOne + lineTwo, "1:2:3:4.5", {one, two}, (header + lineOne + lineTwo).size()},
        {"header only", header, "1:2:3:4.5", {}, header.size()},
        {"another catalog", header + lineOne, "1:2:3:4.6", {}, 0},
        {"no header", lineOne + lineTwo, "1:2:3:4.5", {}, 0},
        {"empty", "", "1:2:3:4.5", {}, 0},
        {"last line cut off",
         header + lineOne + lineTwo.chopped(1),
         "1:2:3:4.5",
         {one},
         (header + lineOne).size()},
        {"cut inside", header + lineOne + lineTwo.left(10), "1:2:3:4.5", {one}, (header + lineOne).size()},
        {"garbage in between",
         header + lineOne + "{\"key\":\n" + lineTwo,
         "1:2:3:4.5",
         {one},
         (header + lineOne).size()},
        {"member missing",
         header + "{\"key\":\"a#1\",\"letter\":\"F\",\"fingerprint\":\"x\"}\n" + lineTwo,
         "1:2:3:4.5",
         {},
         header.size()},
    };
    for (const Case &c : cases) {
        const CatalogJournal::Reading reading = CatalogJournal::read(c.text, c.identity);
        EXPECT_EQ(reading.records, c.records) << c.what;
        EXPECT_EQ(reading.goodBytes, c.goodBytes) << c.what;
    }
}

TEST(CatalogJournal, AppliesAJournalRecordOnlyToAnExistingChannelRecord)
{
    CatalogEntry::Catalog catalog{{fullEntry().key, fullEntry()}};
    const QString key = fullEntry().key;
    EXPECT_TRUE(CatalogJournal::apply(catalog, {key, "R", QString(32, 'c'), "Files/cc/r.mp4"}));
    EXPECT_EQ(catalog.at(key).files.at("R").storedPath, "Files/cc/r.mp4");
    EXPECT_EQ(catalog.at(key).files.at("R").fingerprint, QString(32, 'c'));
    const CatalogEntry::Catalog before = catalog;
    EXPECT_FALSE(CatalogJournal::apply(catalog, {key, "I", QString(32, 'd'), "Files/dd/i.mp4"}));
    EXPECT_FALSE(CatalogJournal::apply(catalog, {"unknown#1", "F", QString(32, 'd'), "Files/dd/f.mp4"}));
    EXPECT_EQ(catalog, before);
}

} // namespace
