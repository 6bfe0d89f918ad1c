#include "roadcore/CatalogLoader.h"
#include "roadcore/ParallelCatalogReader.h"

#include "fixtures/TestSupport.h"

#include "fixtures/RefusedThreads.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Entries with names of several-byte characters, so that pieces cut them, and an unknown member whose
// nested objects look like the place where two entries meet ("},{"), so that guessed cuts fall inside one.
QByteArray catalogText(int count)
{
    CatalogEntry::Catalog catalog;
    for (int i = 0; i < count; ++i) {
        CatalogEntry entry;
        entry.name = QString::fromUtf8("%1 Fahrt über die Brücke 😀 道路").arg(i, 4, 10, QChar('0'));
        entry.key = entry.name + "#10";
        entry.category = ClipCategory::event;
        entry.importedAt = QDateTime(QDate(2024, 5, 2), QTime(9, 0), Qt::UTC);
        entry.files["F"].originalPath = "/card/" + entry.name + "_F.mp4";
        entry.files["F"].size = 10;
        catalog.emplace(entry.key, entry);
    }
    QByteArray text = CatalogEntry::writeCatalog(catalog);
    return text.replace("\"importedAt\"", "\"extra\":[{\"a\":1} , {\"category\":\"event\"}],\"importedAt\"");
}

CatalogLoader::Options pieces(qsizetype pieceBytes, qsizetype parallelFrom = qsizetype(1) << 30)
{
    CatalogLoader::Options options;
    options.pieceBytes = pieceBytes;
    options.parallelFrom = parallelFrom;
    return options;
}

// Reads `text` at any place, as a file is read with pread.
ParallelCatalogReader::Source over(QByteArrayView text)
{
    return [text](char *into, qint64 length, qint64 offset) -> qint64 {
        const qsizetype n = std::clamp<qsizetype>(text.size() - qsizetype(offset), 0, qsizetype(length));
        std::memcpy(into, text.data() + offset, size_t(n));
        return n;
    };
}

CatalogEntry::Catalog wholeRead(const QByteArray &text)
{
    return *CatalogLoader::readText(text, pieces(qsizetype(1) << 30));
}

TEST(CatalogLoader, ReadsTheSameWhereverItsPiecesEndAndOnAnyNumberOfThreads)
{
    const QByteArray text = catalogText(60);
    const CatalogEntry::Catalog expected = wholeRead(text);
    ASSERT_EQ(expected.size(), 60u);
    // A duplicate key far from the first, a fault near the end, a cut character, trailing text.
    QByteArray doubled = text.chopped(1) + "," + text.mid(1, text.indexOf("},{")) + "]";
    const QByteArray spoiled[] = {text.chopped(1),
                                  text + ",",
                                  QByteArray(text).insert(text.size() - 30, "\x01"),
                                  QByteArray(text).replace(text.indexOf("\xc3\xbc"), 2, "\xc3"),
                                  text + " x",
                                  QByteArray(text).replace(text.size() / 2, 1, "\xff")};
    for (const qsizetype piece : {16, 97, 1000, 4096, 1 << 20}) {
        for (const qsizetype parallelFrom : {qsizetype(0), qsizetype(1) << 30}) {
            const CatalogLoader::Options options = pieces(piece, parallelFrom);
            const auto read = CatalogLoader::readText(text, options);
            ASSERT_TRUE(read) << piece << " " << parallelFrom;
            EXPECT_TRUE(*read == expected) << piece << " " << parallelFrom;
            const auto firstKept = CatalogLoader::readText(doubled, options);
            ASSERT_TRUE(firstKept) << piece;
            EXPECT_TRUE(*firstKept == expected) << piece;
            for (const QByteArray &bad : spoiled)
                EXPECT_FALSE(CatalogLoader::readText(bad, options)) << piece << " " << parallelFrom;
            EXPECT_EQ(CatalogLoader::readText("  [ ]  ", options)->size(), 0u);
            // Its "]" pieces after its "[".
            const auto empty = CatalogLoader::readText("[" + QByteArray(40, '\n') + "]", options);
            ASSERT_TRUE(empty) << piece;
            EXPECT_EQ(empty->size(), 0u);
            EXPECT_FALSE(CatalogLoader::readText("", options));
        }
    }
}

TEST(CatalogLoader, AFileCutShortWhileItIsReadIsUnreadableNotACrash)
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("catalog.json");
    const QByteArray text = catalogText(400);
    for (const qsizetype parallelFrom : {qsizetype(0), qsizetype(1) << 30}) {
        TestSupport::writeFile(path, text);
        const auto whole = CatalogLoader::readFile(path, pieces(4096, parallelFrom));
        ASSERT_TRUE(whole.catalog);
        EXPECT_EQ(whole.catalog->size(), 400u);

        // Another program cuts the file to 4 KB once the first piece or slice was read.
        qint64 readWhenCut = -1;
        CatalogLoader::Options options = pieces(8192, parallelFrom);
        options.afterPiece = [&](qint64 read) {
            if (readWhenCut < 0) {
                EXPECT_EQ(::truncate(QFile::encodeName(path).constData(), 4096), 0);
                readWhenCut = read;
            }
        };
        const auto cut = CatalogLoader::readFile(path, options);
        EXPECT_FALSE(cut.absent);
        EXPECT_FALSE(cut.catalog) << parallelFrom;
        EXPECT_GT(readWhenCut, 0);
        EXPECT_LT(readWhenCut, text.size());
    }

    const auto absent = CatalogLoader::readFile(tmp.filePath("none.json"));
    EXPECT_TRUE(absent.absent);
    EXPECT_FALSE(absent.catalog);
}

TEST(CatalogLoader, AFileThatCannotBeReadNowIsNoVerdictOnItsBytes)
{
    QTemporaryDir tmp;
    const QString good = tmp.filePath("good.json"), garbage = tmp.filePath("garbage.json");
    TestSupport::writeFile(good, catalogText(3));
    TestSupport::writeFile(garbage, "[{\"key\":");
    const QString folder = tmp.filePath("folder.json"), fifo = tmp.filePath("fifo.json");
    const QString unreadable = tmp.filePath("eio.json");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Reading this at offset 0 fails with EIO, even for root.
    ASSERT_TRUE(QFile::link("/proc/self/mem", unreadable));
    const struct Case {
        const char *what;
        QString path;
        CatalogLoader::Options options;
        bool absent, failed, read;
    } cases[] = {
        {"a whole catalog", good, {}, false, false, true},
        {"no file", tmp.filePath("none.json"), {}, true, false, false},
        {"unreadable bytes", garbage, {}, false, false, false},
        {"a folder in its place", folder, {}, false, true, false},
        {"a FIFO in its place, never waited on", fifo, {}, false, true, false},
        {"an I/O error", unreadable, {}, false, true, false},
        {"no memory for a piece", good, pieces(qsizetype(1) << 62), false, true, false},
    };
    for (const Case &c : cases) {
        const CatalogLoader::FileReading reading = CatalogLoader::readFile(c.path, c.options);
        EXPECT_EQ(reading.absent, c.absent) << c.what;
        EXPECT_EQ(reading.failed, c.failed) << c.what;
        EXPECT_EQ(reading.catalog.has_value(), c.read) << c.what;
    }
}

TEST(CatalogLoader, HoldsAPieceOfTheFileAtATimeNotAllOfIt)
{
    const QByteArray text = catalogText(400);
    QTemporaryDir tmp;
    const QString path = tmp.filePath("catalog.json");
    TestSupport::writeFile(path, text);
    qint64 before = 0, largest = 0;
    CatalogLoader::Options options = pieces(4096);
    options.afterPiece = [&](qint64 total) {
        largest = std::max(largest, total - before);
        before = total;
    };
    const CatalogLoader::FileReading read = CatalogLoader::readFile(path, options);
    ASSERT_TRUE(read.catalog);
    EXPECT_EQ(read.catalog->size(), 400u);
    EXPECT_EQ(before, text.size());
    EXPECT_EQ(largest, 4096);
}

TEST(ParallelCatalogReader, RefusesAPartThatRunsPastItsCut)
{
    const QByteArray text = catalogText(3);
    const char *begin = text.constData() + 1, *end = text.constData() + text.size();
    // The entries begin after "[" and after each "},{" that is no nested object's.
    QList<const char *> starts{begin};
    for (qsizetype at = 0; (at = text.indexOf("\"},{\"category\"", at)) >= 0; at += 4)
        starts.append(text.constData() + at + 3);
    ASSERT_EQ(starts.size(), 3);
    const std::atomic<bool> abandon = false;
    const auto twoEntries = ParallelCatalogReader::readPart(starts[0], starts[2], end, nullptr, abandon);
    ASSERT_TRUE(twoEntries);
    EXPECT_EQ(twoEntries->size(), 2u);
    // A cut inside the second entry, or inside its nested objects, is no place where a part may end.
    for (const char *inside : {starts[1] + 10, text.constData() + text.indexOf("{\"category\":\"event\"}]",
                                                                               starts[1] - text.constData())})
        EXPECT_FALSE(ParallelCatalogReader::readPart(starts[0], inside, end, nullptr, abandon));
    const auto last = ParallelCatalogReader::readPart(starts[2], nullptr, end, nullptr, abandon);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->size(), 1u);
    // The whole in slices: the same as read in order, or nothing.
    ParallelCatalogReader::Options options;
    options.sliceBytes = 64;
    const auto parts = ParallelCatalogReader::read(over(text), options, nullptr);
    if (parts) {
        EXPECT_TRUE(*parts == wholeRead(text));
    }
}

TEST(ParallelCatalogReader, ReadsTheSameOnAnyNumberOfThreadsWhereverItsSlicesEnd)
{
    // Plain entries, so that every cut is where two entries meet and the slices must give the catalog.
    CatalogEntry::Catalog catalog;
    for (int i = 0; i < 40; ++i) {
        CatalogEntry entry;
        entry.name = QString::fromUtf8("%1 Straße 😀").arg(i, 3, 10, QChar('0'));
        entry.key = entry.name + "#7";
        entry.category = ClipCategory::continuous;
        entry.importedAt = QDateTime(QDate(2024, 5, 2), QTime(9, 0), Qt::UTC);
        entry.files["R"].originalPath = "/card/" + entry.name;
        catalog.emplace(entry.key, entry);
    }
    const QByteArray text = CatalogEntry::writeCatalog(catalog);
    const QByteArray spaced = " \n [ " + QByteArray(text).replace("},{", "} ,\n\t{").mid(1) + " \n";
    const QByteArray doubled = text.chopped(1) + "," + text.mid(1);
    const QByteArray spoiled[] = {text.chopped(1),
                                  text + ",",
                                  text + " x",
                                  "x" + text,
                                  QByteArray(text).replace(text.lastIndexOf("\xc3\x9f"), 2, "\xc3 "),
                                  QByteArray(text).replace(text.indexOf("},{"), 3, "}{"),
                                  ""};
    for (const qsizetype slice : {1, 7, 97, 1000, 1 << 20}) {
        for (const unsigned helpers : {0u, 1u, 3u}) {
            ParallelCatalogReader::Options options;
            options.sliceBytes = slice;
            options.helpers = helpers;
            for (const QByteArray &same : {text, spaced}) {
                const auto read = ParallelCatalogReader::read(over(same), options, nullptr);
                ASSERT_TRUE(read) << slice << " " << helpers;
                EXPECT_TRUE(*read == catalog) << slice << " " << helpers;
            }
            const auto firstKept = ParallelCatalogReader::read(over(doubled), options, nullptr);
            ASSERT_TRUE(firstKept) << slice << " " << helpers;
            EXPECT_TRUE(*firstKept == catalog) << slice << " " << helpers;
            for (const QByteArray &bad : spoiled)
                EXPECT_FALSE(ParallelCatalogReader::read(over(bad), options, nullptr))
                    << slice << " " << helpers;
            for (const QByteArray &empty : {QByteArray("[]"), "  [" + QByteArray(30, '\n') + "]\n"}) {
                const auto none = ParallelCatalogReader::read(over(empty), options, nullptr);
                ASSERT_TRUE(none) << slice << " " << helpers;
                EXPECT_TRUE(none->empty());
            }
        }
    }
    // Without a thread to spare the asking thread reads every slice.
    const RefusedThreads noThreads;
    const auto alone = ParallelCatalogReader::read(over(text), {}, nullptr);
    ASSERT_TRUE(alone);
    EXPECT_TRUE(*alone == catalog);
}

TEST(ParallelCatalogReader, GivesNothingWhenTheTextIsCutShortOrFailsWhileItIsRead)
{
    const QByteArray text = catalogText(50);
    ParallelCatalogReader::Options options;
    options.sliceBytes = 256;
    // The text is cut to `length` bytes after `calls` reads of it, or a read fails.
    for (const int calls : {1, 5, 20}) {
        for (const qsizetype length : {qsizetype(0), qsizetype(300), text.size() / 2, text.size() - 1,
                                       text.size() - 1 - qsizetype(qstrlen("}]")), qsizetype(-1)}) {
            std::atomic<int> made = 0;
            const auto read = ParallelCatalogReader::read(
                [&](char *into, qint64 n, qint64 offset) -> qint64 {
                    if (made++ < calls)
                        return over(text)(into, n, offset);
                    return length < 0 ? -1 : over(text.first(length))(into, n, offset);
                },
                options, nullptr);
            EXPECT_FALSE(read) << calls << " " << length;
        }
    }
}

TEST(ParallelCatalogReader, NeverJoinsSlicesOfTwoTextsThatDoNotMeet)
{
    // Another program writes the catalog without its third entry over it while it is read, so that its
    // slices read before and after come from two texts. The third entry is longer than the others, which
    // are all of one length: where a part of the first text was cut, no entry of the second begins, and
    // joined there the entries between would be lost.
    CatalogEntry::Catalog before;
    for (int i = 0; i < 30; ++i) {
        CatalogEntry entry;
        entry.name = QString::number(10 + i) + (i == 2 ? "abc" : "");
        entry.key = QString::number(1000 + i);
        entry.importedAt = QDateTime(QDate(2024, 5, 2), QTime(9, 0), Qt::UTC);
        entry.files["F"].originalPath = "/" + entry.name;
        before.emplace(entry.key, entry);
    }
    CatalogEntry::Catalog after = before;
    after.erase(std::next(after.begin(), 2));
    const QByteArray first = CatalogEntry::writeCatalog(before), second = CatalogEntry::writeCatalog(after);
    ParallelCatalogReader::Options options;
    options.sliceBytes = 64;
    options.helpers = 0;
    for (int calls = 1; calls < 60; ++calls) {
        int made = 0;
        const auto read = ParallelCatalogReader::read(
            [&](char *into, qint64 n, qint64 offset) {
                return over(made++ < calls ? first : second)(into, n, offset);
            },
            options, nullptr);
        if (read) {
            EXPECT_TRUE(*read == before || *read == after) << calls;
        }
    }
}

} // namespace
