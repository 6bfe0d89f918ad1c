#include "roadcore/CatalogJournal.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

using Record = CatalogJournal::Record;

const Record one{"a#1", "F", QString(32, 'a'), "Files/aa/x_F.mp4"};
const Record two{"b \"quoted\"#2", "R", QString(32, 'b'), "Files/bb/ü_R.mp4"};
const Record three{"c#3", "I", QString(32, 'c'), "Files/cc/z_I.mp4"};

TEST(CatalogJournal, EachLineStandsAloneAndOnlyATornLastLineIsCut)
{
    const QByteArray lineOne = CatalogJournal::line(one), lineTwo = CatalogJournal::line(two);
    const QByteArray lineThree = CatalogJournal::line(three);
    const QByteArray whole = lineOne + lineTwo + lineThree;
    const struct Case {
        const char *what;
        QByteArray text;
        QList<Record> records;
        qsizetype goodBytes;
        int skipped;
    } cases[] = {
        {"whole", whole, {one, two, three}, whole.size(), 0},
        {"empty", "", {}, 0, 0},
        {"last line torn", lineOne + lineTwo.chopped(1), {one}, lineOne.size(), 0},
        {"torn inside", lineOne + lineTwo.left(10), {one}, lineOne.size(), 0},
        {"garbage in between", lineOne + "{\"key\":\n" + lineTwo, {one, two}, -1, 1},
        {"member missing",
         "{\"key\":\"a#1\",\"letter\":\"F\",\"fingerprint\":\"x\"}\n" + lineTwo,
         {two},
         -1,
         1},
        {"a header of an earlier version", "{\"catalog\":\"2049:1234:77:1.5\"}\n" + lineOne, {one}, -1, 1},
        {"not UTF-8, a member of another type, text after the object",
         "{\"key\":\"\xff\",\"letter\":\"F\",\"fingerprint\":\"x\",\"storedPath\":\"y\"}\n"
         "{\"key\":1,\"letter\":\"F\",\"fingerprint\":\"x\",\"storedPath\":\"y\"}\n" +
             lineOne.chopped(1) + "x\n" + lineThree,
         {three},
         -1,
         3},
        {"two lines glued together", lineOne.chopped(1) + lineTwo + lineThree, {three}, -1, 1},
    };
    for (const Case &c : cases) {
        const CatalogJournal::Reading reading = CatalogJournal::read(c.text);
        EXPECT_EQ(reading.records, c.records) << c.what;
        EXPECT_EQ(reading.goodBytes, c.goodBytes < 0 ? c.text.size() : c.goodBytes) << c.what;
        EXPECT_EQ(reading.skippedLines, c.skipped) << c.what;
    }
}

TEST(CatalogJournal, FourteenLinesWithTheSixthGarbledKeepTheOtherThirteen)
{
    QByteArray text;
    QList<Record> expected;
    for (int i = 1; i <= 14; ++i) {
        const Record record{QString("rec%1#10").arg(i), i % 2 ? "F" : "R", QString(32, QChar('a' + i % 6)),
                            QString("Files/aa/rec%1.mp4").arg(i)};
        QByteArray line = CatalogJournal::line(record);
        if (i == 6)
            line = line.left(20) + line.mid(40, 10) + "\n"; // two writers' bytes mixed
        else
            expected.append(record);
        text += line;
    }
    const CatalogJournal::Reading reading = CatalogJournal::read(text);
    EXPECT_EQ(reading.records, expected);
    EXPECT_EQ(reading.skippedLines, 1);
    EXPECT_EQ(reading.goodBytes, text.size());
}

TEST(CatalogJournal, AppliesARecordOnlyWhereItsCopyIsStoredAndTheRecordHasNoOther)
{
    CatalogEntry entry;
    entry.key = "k#3";
    entry.name = "k";
    entry.files["F"].originalPath = "/card/k_F.mp4";
    entry.files["R"].originalPath = "/card/k_R.mp4";
    entry.files["R"].storedPath = "Files/rr/present_R.mp4";
    entry.files["I"].originalPath = "/card/k_I.mp4";
    entry.files["I"].storedPath = "Files/ii/vanished_I.mp4";
    const QStringList stored{"Files/ff/new_F.mp4", "Files/rr/present_R.mp4", "Files/rr/other_R.mp4",
                             "Files/ii/new_I.mp4"};
    const auto isStored = [&](const QString &path) { return stored.contains(path); };
    using Applied = CatalogJournal::Applied;
    const struct Case {
        const char *what;
        Record record;
        Applied applied;
    } cases[] = {
        {"a record without a copy", {"k#3", "F", QString(32, 'f'), "Files/ff/new_F.mp4"}, Applied::recorded},
        {"its copy gone from disk", {"k#3", "F", QString(32, 'f'), "Files/ff/gone_F.mp4"}, Applied::gone},
        {"a path outside Files", {"k#3", "F", QString(32, 'f'), "../ff/new_F.mp4"}, Applied::gone},
        {"the same copy", {"k#3", "R", QString(32, 'r'), "Files/rr/present_R.mp4"}, Applied::already},
        {"another copy that exists",
         {"k#3", "R", QString(32, 'r'), "Files/rr/other_R.mp4"},
         Applied::unplaced},
        {"a copy that replaces a vanished one",
         {"k#3", "I", QString(32, 'i'), "Files/ii/new_I.mp4"},
         Applied::recorded},
        {"no such channel", {"k#3", "X", QString(32, 'f'), "Files/ff/new_F.mp4"}, Applied::unplaced},
        {"no such entry", {"q#3", "F", QString(32, 'f'), "Files/ff/new_F.mp4"}, Applied::unplaced},
    };
    for (const Case &c : cases) {
        CatalogEntry::Catalog catalog{{entry.key, entry}};
        EXPECT_EQ(CatalogJournal::apply(catalog, c.record, isStored), c.applied) << c.what;
        const CatalogEntry::File &file = catalog.at("k#3").files.count(c.record.letter)
                                             ? catalog.at("k#3").files.at(c.record.letter)
                                             : catalog.at("k#3").files.at("F");
        if (c.applied == Applied::recorded) {
            EXPECT_EQ(file.storedPath, c.record.storedPath) << c.what;
            EXPECT_EQ(file.fingerprint, c.record.fingerprint) << c.what;
        } else {
            EXPECT_TRUE(catalog.at("k#3") == entry) << c.what;
        }
    }
}

TEST(CatalogJournal, ATornLastLineIsCutBeforeTheNextRecordIsAppended)
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("catalog.journal");
    const QByteArray good = CatalogJournal::line(one) + CatalogJournal::line(two);
    // Longer than the line that follows it, so that no byte of it may stay behind.
    const Record longer{"d#4", "F", QString(32, 'd'), "Files/dd/" + QString(300, 'p') + ".mp4"};
    TestSupport::writeFile(path, good + CatalogJournal::line(longer).left(200));
    const CatalogJournal::Reading before = CatalogJournal::read(TestSupport::readFile(path));
    ASSERT_EQ(before.goodBytes, good.size());

    CatalogJournal journal(path);
    journal.resume(before.goodBytes, int(before.records.size()));
    ASSERT_TRUE(journal.append(three));
    EXPECT_EQ(journal.records(), 3);
    const CatalogJournal::Reading after = CatalogJournal::read(TestSupport::readFile(path));
    EXPECT_EQ(after.records, (QList<Record>{one, two, three}));
    EXPECT_EQ(after.skippedLines, 0);
    EXPECT_EQ(TestSupport::readFile(path), good + CatalogJournal::line(three));

    journal.remove();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(journal.records(), 0);
}

TEST(CatalogJournal, NamesTheStoredFilesOfItsRecordsAndWhatItsGarbledLinesStillName)
{
    const QString print = "0123456789abcdef0123456789abcdef";
    const QString folder = "Files/01/" + print;
    const Record named{"n#5", "F", print, folder + "/n_F.mp4"};
    const QByteArray line = CatalogJournal::line(named);
    const struct Case {
        const char *what;
        QByteArray text;
        QStringList covered;
        QStringList notCovered;
    } cases[] = {
        {"whole records",
         CatalogJournal::line(one) + CatalogJournal::line(two),
         {"Files/aa/x_F.mp4", "Files/bb/ü_R.mp4"},
         {"Files/aa/y_F.mp4", "Files/cc/z_I.mp4"}},
        {"a record's path written unclean",
         CatalogJournal::line({"a#1", "F", "", "Files/aa//./x.mp4"}),
         {"Files/aa/x.mp4"},
         {}},
        {"a record naming no stored file",
         CatalogJournal::line({"a#1", "F", print, "/etc/passwd"}) +
             CatalogJournal::line({"a#1", "F", print, "Files/../catalog.json"}) +
             CatalogJournal::line({"a#1", "F", print, "Files/."}),
         {},
         {"Files/../catalog.json", "catalog.json", folder + "/x", "Files"}},
        {"a garbled line with escaped slashes: its path, and its fingerprint's folder",
         "xx{\"storedPath\":\"Files\\/01\\/" + print.toLatin1() + "\\/a \\\"b\\\".mp4\"\n",
         {folder + "/a \"b\".mp4", folder + "/other.mp4"},
         {"Files/01/0123456789abcdef0123456789abcdee/a \"b\".mp4"}},
        {"a line torn before its path: its fingerprint's folder",
         line.left(line.indexOf("storedPath")),
         {folder + "/n_F.mp4", folder + "/n 2_F.mp4"},
         {"Files/aa/x_F.mp4"}},
        {"a line whose path is cut inside the fingerprint",
         "{\"storedPath\":\"Files/01/0123456789ab",
         {"Files/01/0123456789ab"},
         {folder + "/n_F.mp4"}},
        {"a garbled line leading out of the folder",
         "garbage \"Files/../../etc/x\" and Files/x/../../y\n",
         {},
         {"Files/../../etc/x", "../etc/x", "y"}},
        {"hex of another length", "{\"fingerprint\":\"" + print.toLatin1() + "0\"\n", {}, {folder + "/a"}},
    };
    for (const Case &c : cases) {
        const CatalogJournal::Names names = CatalogJournal::named(c.text);
        for (const QString &path : c.covered)
            EXPECT_TRUE(names.covers(path)) << c.what << ": " << path.toStdString();
        for (const QString &path : c.notCovered)
            EXPECT_FALSE(names.covers(path)) << c.what << ": " << path.toStdString();
    }
}

} // namespace
