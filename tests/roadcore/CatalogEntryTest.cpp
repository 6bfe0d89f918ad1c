#include "roadcore/CatalogEntry.h"
#include "roadcore/CatalogLoader.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

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

CatalogEntry::Catalog catalogOf(std::initializer_list<CatalogEntry> entries)
{
    CatalogEntry::Catalog catalog;
    for (const CatalogEntry &e : entries)
        catalog.emplace(e.key, e);
    return catalog;
}

TEST(CatalogEntry, WritesCompactSortedTextWithOptionalMembersLeftOut)
{
    CatalogEntry minimal;
    minimal.key = "B#1";
    minimal.name = "B";
    minimal.category = ClipCategory::continuous;
    minimal.importedAt = utc(2024, 1, 2, 3, 4, 5, 678); // milliseconds are dropped
    CatalogEntry::File file;
    file.originalPath = "/c/B_F.mp4";
    file.size = 1;
    file.modified = utc(2024, 1, 1, 0, 0, 0, 999);
    minimal.files["F"] = file;
    CatalogEntry other = minimal;
    other.key = "A#1";
    other.files.clear();

    const QByteArray text = CatalogEntry::writeCatalog(catalogOf({minimal, other}));
    EXPECT_EQ(
        text,
        R"([{"category":"continuous","files":{},"importedAt":"2024-01-02T03:04:05Z","key":"A#1","name":"B"},)"
        R"({"category":"continuous","files":{"F":{"modified":"2024-01-01T00:00:00Z","originalPath":"/c/B_F.mp4",)"
        R"("size":1}},"importedAt":"2024-01-02T03:04:05Z","key":"B#1","name":"B"}])");

    const auto read = CatalogLoader::readText(text);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), 2u);
    const CatalogEntry &back = read->at("B#1");
    EXPECT_EQ(back.importedAt, utc(2024, 1, 2, 3, 4, 5));
    EXPECT_FALSE(back.date);
    const CatalogEntry::File &f = back.files.at("F");
    EXPECT_FALSE(f.importedPath || f.bookmark || f.fingerprint || f.storedPath);
    EXPECT_EQ(CatalogEntry::writeCatalog(*read), text);
}

TEST(CatalogEntry, RoundTripsEveryField)
{
    const CatalogEntry entry = fullEntry();
    CatalogEntry unicode = entry;
    unicode.key = "Fahrt \u00fc \U0001F697#5";
    unicode.name = "Fahrt \"quoted\" \\ slash/\n\t\b\f\r\x01\x1f\x7f";
    const auto catalog = catalogOf({entry, unicode});
    const auto read = CatalogLoader::readText(CatalogEntry::writeCatalog(catalog));
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, catalog);
    // Keys stand in code point order, which is the byte order of their UTF-8: U+FFFD before U+1F697.
    CatalogEntry replacement = entry;
    replacement.key = "Fahrt \u00fc \uFFFD#5";
    const QByteArray text = CatalogEntry::writeCatalog(catalogOf({entry, unicode, replacement}));
    EXPECT_LT(text.indexOf(entry.key.toUtf8()), text.indexOf(replacement.key.toUtf8()));
    EXPECT_LT(text.indexOf(replacement.key.toUtf8()), text.indexOf(unicode.key.toUtf8()));
}

TEST(CatalogEntry, ReadsNullsEscapedSlashesAndOffsetsNothing)
{
    const QByteArray text =
        R"([{"key":"k","name":"n","category":"manual","date":null,"importedAt":"2024-01-01T00:00:00Z",)"
        R"("extra":[1,2],"files":{"F":{"originalPath":"\/c\/x.mp4","size":5.0,"importedPath":null,)"
        R"("bookmark":null,"modified":null,"fingerprint":null,"storedPath":null}}}])";
    const auto read = CatalogLoader::readText(text);
    ASSERT_TRUE(read);
    const CatalogEntry &e = read->at("k");
    EXPECT_EQ(e.category, ClipCategory::manual);
    EXPECT_EQ(e.files.at("F").originalPath, "/c/x.mp4");
    EXPECT_EQ(e.files.at("F").size, 5);
    EXPECT_EQ(CatalogLoader::readText("[]")->size(), 0u);
}

TEST(CatalogEntry, KeepsEmptyOptionalMembersApartFromAbsentOnes)
{
    const QByteArray text =
        R"([{"category":"manual","files":{"F":{"bookmark":"","fingerprint":"","importedPath":"",)"
        R"("originalPath":"","size":1,"storedPath":""},"R":{"bookmark":null,"fingerprint":null,)"
        R"("importedPath":null,"originalPath":"/c/R.mp4","size":2,"storedPath":null}},)"
        R"("importedAt":"2024-01-01T00:00:00Z","key":"k","name":"n"}])";
    const auto read = CatalogLoader::readText(text);
    ASSERT_TRUE(read);
    const CatalogEntry::File &empty = read->at("k").files.at("F");
    const CatalogEntry::File &absent = read->at("k").files.at("R");
    for (const auto member : {&CatalogEntry::File::importedPath, &CatalogEntry::File::fingerprint,
                              &CatalogEntry::File::storedPath}) {
        EXPECT_TRUE(empty.*member && (empty.*member)->isEmpty());
        EXPECT_FALSE(absent.*member);
    }
    EXPECT_TRUE(empty.bookmark && empty.bookmark->isEmpty());
    EXPECT_FALSE(absent.bookmark);
    // Written back as read: empty members stay, absent ones are left out.
    const QByteArray written = CatalogEntry::writeCatalog(*read);
    EXPECT_EQ(written, QByteArray(text)
                           .replace(R"("bookmark":null,"fingerprint":null,"importedPath":null,)", "")
                           .replace(R"(,"storedPath":null)", ""));
    EXPECT_EQ(CatalogLoader::readText(written), read);
}

TEST(CatalogEntry, BookmarksOfOneVolumeShareTheirLeadingBytesAndReadBackExactly)
{
    // Alike for long stretches, then not, with ones shorter than, equal to and longer than what came before.
    const QByteArray volume =
        QByteArray("bookmark of volume 1234-ABCD at /media/me/CARD, folder DCIM/").repeated(2);
    QList<QByteArray> bookmarks;
    for (int i = 0; i < 40; ++i)
        bookmarks.append(volume + QByteArray::number(i * 7919) + (i % 2 ? "_F.MP4" : "_R.MP4"));
    bookmarks.append({volume, volume, volume.left(20), QByteArray(), QByteArray("other \x00\xff", 8),
                      volume + "x", QByteArray(200, 'z') + volume, volume + "y"});
    CatalogEntry::Catalog catalog;
    for (int i = 0; i < bookmarks.size(); ++i) {
        CatalogEntry entry = fullEntry();
        entry.key = QString("%1#1").arg(i, 4, 10, QChar('0'));
        entry.files["F"].bookmark = bookmarks[i];
        entry.files["R"].bookmark = bookmarks[(i + 1) % bookmarks.size()];
        catalog.emplace(entry.key, entry);
    }
    const QByteArray text = CatalogEntry::writeCatalog(catalog);
    const auto read = CatalogLoader::readText(text);
    ASSERT_TRUE(read);
    EXPECT_TRUE(*read == catalog);
    EXPECT_EQ(CatalogEntry::writeCatalog(*read), text);
    // Most in blocks shared with others.
    std::map<const PrefixBytes::Block *, int> byBlock;
    for (const auto &[key, entry] : *read)
        for (const auto &[letter, file] : entry.files)
            ++byBlock[file.bookmark.block()];
    int shared = 0;
    for (const auto &[block, count] : byBlock)
        shared += count > 1 ? count : 0;
    EXPECT_GT(shared, 60);
}

TEST(CatalogEntry, AnyFaultMakesTheWholeCatalogUnreadable)
{
    const QByteArray good =
        R"({"key":"a#1","name":"a","category":"event","importedAt":"2024-01-01T00:00:00Z",)"
        R"("files":{"F":{"originalPath":"/a","size":1}}})";
    const auto withBad = [&](const QByteArray &entry) { return "[" + good + "," + entry + "]"; };
    const auto entry = [](const QByteArray &members) {
        return R"({"key":"b#1","name":"b","category":"event","importedAt":"2024-01-01T00:00:00Z",)" +
               members + "}";
    };
    const auto file = [&](const QByteArray &members) { return entry(R"("files":{"F":{)" + members + "}}"); };
    const QByteArray cases[] = {
        "",
        "not json",
        "{}",
        "[" + good + "] trailing",
        "[" + good + ",]",
        withBad("5"),
        withBad(
            R"({"name":"b","category":"event","importedAt":"2024-01-01T00:00:00Z","files":{}})"), // no key
        withBad(
            R"({"key":"b","category":"event","importedAt":"2024-01-01T00:00:00Z","files":{}})"), // no name
        withBad(R"({"key":"b","name":"b","importedAt":"2024-01-01T00:00:00Z","files":{}})"), // no category
        withBad(R"({"key":"b","name":"b","category":"event","files":{}})"),                  // no importedAt
        withBad(
            R"({"key":"b","name":"b","category":"event","importedAt":"2024-01-01T00:00:00Z"})"), // no files
        withBad(
            R"({"key":"b","name":"b","category":"Event","importedAt":"2024-01-01T00:00:00Z","files":{}})"),
        withBad(
            R"({"key":"b","name":"b","category":"crash","importedAt":"2024-01-01T00:00:00Z","files":{}})"),
        withBad(
            R"({"key":null,"name":"b","category":"event","importedAt":"2024-01-01T00:00:00Z","files":{}})"),
        withBad(
            R"({"key":"\ud800","name":"b","category":"event","importedAt":"2024-01-01T00:00:00Z","files":{}})"),
        withBad(entry(R"("files":{"\udfff":{"originalPath":"/b","size":1}})")),
        withBad(R"({"key":5,"name":"b","category":"event","importedAt":"2024-01-01T00:00:00Z","files":{}})"),
        withBad(
            R"({"key":"b","name":"b","category":"event","importedAt":"2024-01-01T00:00:00.5Z","files":{}})"),
        withBad(
            R"({"key":"b","name":"b","category":"event","importedAt":"2024-01-01T00:00:00+01:00","files":{}})"),
        withBad(
            R"({"key":"b","name":"b","category":"event","importedAt":"2024-13-01T00:00:00Z","files":{}})"),
        withBad(
            R"({"key":"b","name":"b","category":"event","importedAt":"2024-02-30T00:00:00Z","files":{}})"),
        withBad(
            R"({"key":"b","name":"b","category":"event","importedAt":"2024-01-01 00:00:00Z","files":{}})"),
        withBad(
            R"({"key":"b","name":"b","category":"event","importedAt":"2024-01-01T00:00:00Z","files":[]})"),
        withBad(entry(R"("date":"yesterday","files":{})")),
        withBad(entry(R"("date":5,"files":{})")),
        withBad(entry(R"("files":{"F":5})")),
        withBad(file(R"("size":1)")),            // no originalPath
        withBad(file(R"("originalPath":"/b")")), // no size
        withBad(file(R"("originalPath":"/b","size":"1")")),
        withBad(file(R"("originalPath":"/b","size":1.5)")),
        withBad(file(R"("originalPath":"/b","size":1e30)")),
        withBad(file(R"("originalPath":"/b","size":99999999999999999999)")), // past 64 bits
        withBad(file(R"("originalPath":"/b","size":1e400)")),
        withBad(file(R"("originalPath":5,"size":1)")),
        withBad(file(R"("originalPath":"/b","size":1,"bookmark":"not base64!")")),
        withBad(file(R"("originalPath":"/b","size":1,"bookmark":"QUJD\u00e9")")),
        withBad(file(R"("originalPath":"/b","size":1,"bookmark":"QUI")")), // no padding
        withBad(file(R"("originalPath":"/b","size":1,"bookmark":5)")),
        withBad(file(R"("originalPath":"/b","size":1,"modified":"2024-01-01")")),
        withBad(file(R"("originalPath":"/b","size":1,"storedPath":["Files/x"])")),
        withBad(file(R"("originalPath":"/b","size":1,"fingerprint":false)")),
        withBad(file(R"("originalPath":"/b","size":1,"importedPath":{})")),
    };
    ASSERT_TRUE(CatalogLoader::readText("[" + good + "]"));
    ASSERT_TRUE(CatalogLoader::readText(withBad(file(R"("originalPath":"/b","size":1,"bookmark":"QUI=")"))));
    for (const QByteArray &c : cases)
        EXPECT_EQ(CatalogLoader::readText(c), std::nullopt) << c.toStdString();
}

TEST(CatalogEntry, KeepsTheFirstOfDuplicateKeys)
{
    const QByteArray text =
        R"([{"key":"k","name":"first","category":"event","importedAt":"2024-01-01T00:00:00Z","files":{}},)"
        R"({"key":"k","name":"second","category":"event","importedAt":"2024-01-01T00:00:00Z","files":{}}])";
    const auto read = CatalogLoader::readText(text);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), 1u);
    EXPECT_EQ(read->at("k").name, "first");
}

TEST(CatalogEntry, UsesOnlyStoredPathsBelowFiles)
{
    struct Case {
        std::optional<QString> stored;
        bool usable;
    } cases[] = {
        {"Files/ab/abcd/x.mp4", true},
        {"Files/ab/a..b/x.mp4", true},
        {std::nullopt, false},
        {"", false},
        {"Files/", false},
        {"/etc/passwd", false},
        {"/root/Files/x", false},
        {"Files/../../../etc/passwd", false},
        {"Files/ab/..", false},
        {"Other/x.mp4", false},
        {"files/x.mp4", false},
        {"./Files/x.mp4", false},
    };
    for (const Case &c : cases) {
        CatalogEntry::File file;
        file.storedPath = c.stored;
        EXPECT_EQ(file.usableStoredPath().has_value(), c.usable) << c.stored.value_or("(none)").toStdString();
    }
}

TEST(CatalogEntry, ReaderAcceptsTheJsonFormsOfOtherWriters)
{
    // Spaces, escaped slashes and \u escapes, members in any order, unknown members of every type, numbers
    // written as decimals or with exponents.
    const QByteArray text =
        R"( [ { "files" : { "F" : { "size" : 2e2, "originalPath" : "\/a\/b\u00fc\ud83d\ude00",
        "extra" : [1, -2.5e-3, true, false, null, {"x": [ ]}], "importedPath" : null } },
        "importedAt" : "2024-05-02T09:00:01Z", "category" : "event", "name" : "n", "key" : "k#200",
        "date" : null, "unknown" : {"nested": {"deeper": "\"\\\b\f\n\r\t"}} } ] )";
    const auto read = CatalogLoader::readText(text);
    ASSERT_TRUE(read);
    const CatalogEntry::File &file = read->at("k#200").files.at("F");
    EXPECT_EQ(file.size, 200);
    EXPECT_EQ(file.originalPath, QString::fromUtf8("/a/bü😀"));
    EXPECT_FALSE(file.importedPath);
    EXPECT_FALSE(read->at("k#200").date);

    const char *rejected[] = {
        R"([{"key":"k","name":"n","category":"event","importedAt":"2024-05-02T09:00:01Z","files":{}},])",
        R"([{"key":"k","name":"n","category":"event","importedAt":"2024-05-02T09:00:01Z","files":{}}] x)",
        R"([{"key":"k\ud800","name":"n","category":"event","importedAt":"2024-05-02T09:00:01Z","files":{}}])",
        R"([{"key":"k","name":"n","category":"event","importedAt":"2024-05-02T09:00:01Z","files":{"F":{"originalPath":"/a","size":1.5}}}])",
        R"([{"key":"k","name":"n","category":"event","importedAt":"2024-05-02T09:00:01Z","files":{"F":{"originalPath":"/a","size":1e30}}}])",
        R"([{"key":"k","name":"n","category":"event","importedAt":"2024-05-02T09:00:01Z","files":{},"x":01}])",
        "[{\"key\":\"k\",\"name\":\"n\",\"category\":\"event\",\"importedAt\":\"2024-05-02T09:00:01Z\","
        "\"files\":{},\"x\":\"a\tb\"}]",
        "[{\"key\":\"k\xff\",\"name\":\"n\",\"category\":\"event\",\"importedAt\":\"2024-05-02T09:00:01Z\","
        "\"files\":{}}]",
    };
    for (const char *bad : rejected)
        EXPECT_FALSE(CatalogLoader::readText(QByteArray(bad))) << bad;
    // Deep nesting in an unknown member is refused, never a crash.
    EXPECT_FALSE(CatalogLoader::readText(
        R"([{"key":"k","name":"n","category":"event","importedAt":"2024-05-02T09:00:01Z","files":{},"x":)" +
        QByteArray(100000, '[') + QByteArray(100000, ']') + "}]"));
}

} // namespace

namespace {

TEST(CatalogEntry, FilesKeepLetterOrderAndMapRulesWhateverTheInsertionOrder)
{
    const QStringList orders[] = {{"R", "F", "I"}, {"F", "I", "R"}, {"I", "R", "F"}, {"X", "F", "R", "I"}};
    for (const QStringList &order : orders) {
        CatalogEntry::Files files;
        for (const QString &letter : order) {
            CatalogEntry::File file;
            file.originalPath = "/first/" + letter;
            EXPECT_TRUE(files.try_emplace(letter, file).second);
        }
        QStringList letters;
        for (const auto &[letter, file] : files)
            letters.append(letter);
        QStringList sorted = order;
        sorted.sort();
        EXPECT_EQ(letters, sorted) << order.join(',').toStdString();

        CatalogEntry::File other;
        other.originalPath = "/second";
        // Adding keeps what is there; assigning replaces it; neither adds a second file of a letter.
        EXPECT_FALSE(files.try_emplace("F", other).second);
        EXPECT_FALSE(files.emplace("R", other).second);
        EXPECT_EQ(files.at("F").originalPath, "/first/F");
        EXPECT_FALSE(files.insert_or_assign("I", other).second);
        EXPECT_EQ(files.at("I").originalPath, "/second");
        EXPECT_EQ(files.size(), size_t(order.size()));

        EXPECT_EQ(files.count("R"), 1u);
        EXPECT_EQ(files.count("Z"), 0u);
        EXPECT_EQ(files.find("Z"), files.end());
        EXPECT_THROW(files.at("Z"), std::out_of_range);
        EXPECT_EQ(files.erase("R"), 1u);
        EXPECT_EQ(files.erase("R"), 0u);
        EXPECT_EQ(files.count("R"), 0u);
        files["A"].size = 7; // made on first use, in its place
        EXPECT_EQ(files.begin()->first, "A");
        EXPECT_EQ(files.at("A").size, 7);

        // Copies are whole and apart, a move leaves nothing behind, erasing by place gives the next place.
        const CatalogEntry::Files copy = files;
        EXPECT_TRUE(copy == files);
        CatalogEntry::Files moved = std::move(files);
        EXPECT_TRUE(moved == copy);
        EXPECT_TRUE(files.empty());
        files = copy;
        files.at("A").size = 8;
        EXPECT_EQ(copy.at("A").size, 7);
        EXPECT_FALSE(files == copy);
        const QString second = std::next(files.begin())->first;
        EXPECT_EQ(files.erase(files.begin())->first, second);
        while (!files.empty())
            files.erase(files.begin());
        EXPECT_EQ(files.begin(), files.end());
        files = std::move(moved);
        EXPECT_TRUE(files == copy);
    }
}

TEST(CatalogEntry, ReadsEscapedAndPlainTextsAlikeInEveryPlace)
{
    // Names, letters and values with and without escapes, and a later duplicate letter replacing the first.
    const QByteArray text =
        R"([{"category":"event","files":{"F":{"originalPath":"\/a\/F.mp4","size":1},)"
        R"("R":{"originalPath":"/a/R.mp4","size":2},"\u0046":{"origin\u0061lPath":"/a/F2\"x.mp4","size":3}},)"
        R"("importedAt":"2024-05-02T09:00:01Z","key":"k\u00fc#6","na\u006de":"n\\1"}])";
    const auto catalog = CatalogLoader::readText(text);
    ASSERT_TRUE(catalog);
    ASSERT_EQ(catalog->size(), 1u);
    const CatalogEntry &entry = catalog->begin()->second;
    EXPECT_EQ(entry.key, QString::fromUtf8("k\u00fc#6"));
    EXPECT_EQ(entry.name, "n\\1");
    ASSERT_EQ(entry.files.size(), 2u);
    EXPECT_EQ(entry.files.at("F").originalPath, "/a/F2\"x.mp4");
    EXPECT_EQ(entry.files.at("F").size, 3);
    EXPECT_EQ(entry.files.at("R").originalPath, "/a/R.mp4");
}

TEST(CatalogEntry, ReadsAStringWhereverItsQuoteEscapeOrControlCharacterFalls)
{
    // Strings are looked at several bytes at a time: whatever ends a plain run must end it at any place
    // of those bytes, and one raw control character anywhere spoils the catalog.
    const QString specials[] = {
        "\"", "\\", QString(QChar(1)), QString(QChar(0x1f)), "\u00fc", QString(QChar(0x7f))};
    for (int length = 0; length < 18; ++length) {
        for (int at = 0; at <= length; ++at) {
            for (const QString &special : specials) {
                CatalogEntry entry = fullEntry();
                entry.name = QString(length, QChar('n')).insert(at, special);
                const QByteArray text = CatalogEntry::writeCatalog(catalogOf({entry}));
                const auto read = CatalogLoader::readText(text);
                ASSERT_TRUE(read) << length << " " << at;
                EXPECT_EQ(read->begin()->second.name, entry.name) << length << " " << at;
                if (special.front() < QChar(0x20)) {
                    const QByteArray escaped = special.front() == QChar(1) ? "\\u0001" : "\\u001f";
                    EXPECT_FALSE(CatalogLoader::readText(
                        QByteArray(text).replace(escaped, QByteArray(1, char(special.front().unicode())))))
                        << length << " " << at;
                }
            }
        }
    }
}

// Large enough to be read in parts on several threads: every entry with a long name, and texts that look
// like the place where two entries meet ("},{") inside strings, so that some cuts fall inside one.
CatalogEntry::Catalog largeCatalog(bool trickyNames)
{
    CatalogEntry::Catalog catalog;
    for (int i = 0; i < 4000; ++i) {
        CatalogEntry entry = fullEntry();
        entry.name = QString("%1 %2").arg(i, 6, 10, QChar('0')).arg(QString(400, QChar('n')));
        if (trickyNames)
            entry.name += i % 2 ? "},{\"key\":\"x\"}" : "} , {";
        entry.key = entry.name + "#300";
        // Names of files beyond the channels, met by several reading threads at once.
        if (i % 5 == 0)
            entry.files.emplace(QString("Z%1").arg(i % 50), CatalogEntry::File(entry.files.at("R")));
        catalog.emplace(entry.key, entry);
    }
    return catalog;
}

TEST(CatalogEntry, ALargeCatalogReadsAsItWasWrittenWhereverItsTextIsCut)
{
    for (const bool tricky : {false, true}) {
        const CatalogEntry::Catalog catalog = largeCatalog(tricky);
        const QByteArray text = CatalogEntry::writeCatalog(catalog);
        ASSERT_GT(text.size(), 4 << 20);
        const auto read = CatalogLoader::readText(text);
        ASSERT_TRUE(read) << tricky;
        EXPECT_TRUE(*read == catalog) << tricky;

        // Of equal keys the first stays even when they lie far apart; a fault anywhere spoils the whole.
        QByteArray doubled = text;
        doubled.chop(1);
        CatalogEntry later = catalog.begin()->second;
        later.name = "later";
        QByteArray again;
        later.writeJson(again);
        doubled += "," + again + "]";
        const auto firstKept = CatalogLoader::readText(doubled);
        ASSERT_TRUE(firstKept);
        EXPECT_EQ(firstKept->size(), catalog.size());
        EXPECT_EQ(firstKept->begin()->second.name, catalog.begin()->second.name);
        for (const QByteArray &spoiled : {QByteArray(doubled).replace(doubled.size() - 40, 1, "\x01"),
                                          QByteArray(text).insert(text.size() / 2, "\x01"),
                                          QByteArray(text).chopped(1), QByteArray(text) + ","})
            EXPECT_FALSE(CatalogLoader::readText(spoiled)) << tricky;
    }
}

TEST(CatalogEntry, ALargeCatalogReadStopsWhenAsked)
{
    const QByteArray text = CatalogEntry::writeCatalog(largeCatalog(false));
    const std::atomic<bool> stop = true;
    EXPECT_FALSE(CatalogLoader::readText(text, {}, &stop));
}

} // namespace
