#include "roadloom/model/ConfigStore.h"
#include "LibraryTestSupport.h"

#include "platform/StandardFolders.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeZone>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using TestSupport::readFile;
using TestSupport::writeFile;

const QByteArray cardBytes =
    "; camera settings\r\n[Rec]\r\nrec_quality = 1\r\nfront_framerate=30\r\n[Audio]\r\n"
    "mic_in=1\r\n";

ConfigFile::Entry entry(const QString &section, const QString &key, const QString &value = {})
{
    return ConfigFile::Entry{section, key, value, 0};
}

class ConfigStoreTest : public testing::Test {
protected:
    void SetUp() override
    {
        QDir(StandardFolders::configBackups()).removeRecursively();
        card = dir.filePath(u"SETTING/blackbox.cfg"_qs);
        writeFile(card, cardBytes);
        store.setClock([] { return QDateTime(QDate(2024, 3, 1), QTime(10, 20, 30), Qt::UTC); });
    }
    void TearDown() override { QDir(StandardFolders::configBackups()).removeRecursively(); }

    void open(const QString &path) { ASSERT_TRUE(TestSupport::finish(store.open(path))); }
    // What the store says after a save, an import or an export: empty when it said nothing.
    QString told(QFuture<void> done)
    {
        EXPECT_TRUE(TestSupport::finish(done));
        const QString message = store.message();
        store.setMessage({});
        return message;
    }
    QString backup(const QString &name) const
    {
        return QDir(StandardFolders::configBackups()).filePath(name);
    }

    QTemporaryDir dir;
    QString card;
    ConfigStore store;
};

TEST_F(ConfigStoreTest, OpensCleanAndKeepsTheDocumentWhenAnotherOpenFails)
{
    QSignalSpy urls(&store, &ConfigStore::urlChanged);
    QSignalSpy dirty(&store, &ConfigStore::isDirtyChanged);
    QSignalSpy saved(&store, &ConfigStore::savedChanged);
    store.setMessage(u"old"_qs);
    open(card);
    EXPECT_EQ(dirty.count(), 0);
    EXPECT_EQ(saved.count(), 1);
    EXPECT_EQ(store.url(), card);
    ASSERT_TRUE(store.file());
    EXPECT_EQ(store.file()->bytes(), cardBytes); // untouched lines keep their spaces
    EXPECT_EQ(store.saved(), store.file());
    EXPECT_FALSE(store.isDirty());
    EXPECT_TRUE(store.message().isEmpty());
    EXPECT_EQ(urls.count(), 1);

    open(dir.filePath(u"missing.cfg"_qs));
    EXPECT_TRUE(store.message().contains(u"missing.cfg"_qs)) << store.message().toStdString();
    EXPECT_EQ(store.url(), card);
    EXPECT_TRUE(store.file());
    EXPECT_EQ(urls.count(), 1);
}

TEST_F(ConfigStoreTest, OpeningRemovesTheTemporaryFileOfAnInterruptedSave)
{
    const QString leftover = dir.filePath(u"SETTING/blackbox.cfg.roadloom-Ab3xYz"_qs);
    const QString another = dir.filePath(u"SETTING/setup.cfg.roadloom-Ab3xYz"_qs);
    writeFile(leftover, "; camera");
    writeFile(another, "; camera");
    open(card);
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_TRUE(QFile::exists(another));
    EXPECT_EQ(readFile(card), cardBytes);
}

TEST_F(ConfigStoreTest, BindingWritesMakeTheDocumentDirtyUntilTheOldValueIsBack)
{
    const ConfigFile::Entry quality = entry(u"Rec"_qs, u"rec_quality"_qs, u"stale"_qs);
    store.setValue(quality, u"2"_qs); // no document: dropped
    EXPECT_FALSE(store.file());
    EXPECT_EQ(store.value(quality), u"stale"_qs);

    open(card);
    QSignalSpy dirty(&store, &ConfigStore::isDirtyChanged);
    QSignalSpy files(&store, &ConfigStore::fileChanged);
    EXPECT_EQ(store.value(quality), u"1"_qs);
    EXPECT_EQ(store.value(entry(u"Rec"_qs, u"absent"_qs, u"own"_qs)), u"own"_qs);

    store.setValue(quality, u"2"_qs);
    EXPECT_TRUE(store.isDirty());
    EXPECT_EQ(store.value(quality), u"2"_qs);
    store.setValue(quality, u"2"_qs);
    store.setValue(quality, u"1"_qs);
    EXPECT_FALSE(store.isDirty());
    EXPECT_EQ(files.count(), 3); // an edit in place always notifies
    ASSERT_EQ(dirty.count(), 2);
    EXPECT_EQ(dirty[0][0].toBool(), true);
    EXPECT_EQ(dirty[1][0].toBool(), false);

    // A key the file lacks is added to its section.
    store.setValue(entry(u"Audio"_qs, u"mic_volume"_qs), u"3"_qs);
    EXPECT_TRUE(store.file()->text().endsWith(u"[Audio]\r\nmic_in=1\r\nmic_volume=3\r\n"_qs));

    // Revert and close, as the editor does.
    store.setFile(store.saved());
    EXPECT_FALSE(store.isDirty());
    store.setUrl({});
    store.setFile(std::nullopt);
    EXPECT_TRUE(store.isDirty());
    store.setSaved(std::nullopt);
    EXPECT_FALSE(store.isDirty());
}

TEST_F(ConfigStoreTest, SaveBacksUpTheCardsFileThenReplacesIt)
{
    open(card);
    store.setValue(entry(u"Rec"_qs, u"rec_quality"_qs), u"0"_qs);
    // Another copy of the card's file, linked to the same bytes: a write in place would change it too.
    const QString link = dir.filePath(u"link.cfg"_qs);
    ASSERT_EQ(::link(QFile::encodeName(card).constData(), QFile::encodeName(link).constData()), 0);

    ASSERT_EQ(told(store.save()), ConfigStore::savedMessage());
    const QByteArray expected =
        "; camera settings\r\n[Rec]\r\nrec_quality=0\r\nfront_framerate=30\r\n[Audio]\r\n"
        "mic_in=1\r\n";
    EXPECT_EQ(readFile(card), expected);
    EXPECT_EQ(readFile(backup(u"local-2024-03-01T10-20-30Z-blackbox.cfg"_qs)), cardBytes);
    EXPECT_EQ(readFile(link), cardBytes);
    EXPECT_FALSE(store.isDirty());
    EXPECT_EQ(QDir(dir.filePath(u"SETTING"_qs)).entryList(QDir::Files), QStringList{u"blackbox.cfg"_qs});

    // Within the same second the backup name is taken: the copy fails silently and the save goes on.
    store.setValue(entry(u"Rec"_qs, u"rec_quality"_qs), u"2"_qs);
    ASSERT_EQ(told(store.save()), ConfigStore::savedMessage());
    EXPECT_EQ(readFile(card), QByteArray(expected).replace("rec_quality=0", "rec_quality=2"));
    EXPECT_EQ(readFile(backup(u"local-2024-03-01T10-20-30Z-blackbox.cfg"_qs)), cardBytes);
    EXPECT_EQ(QDir(StandardFolders::configBackups()).entryList(QDir::Files).size(), 1);
    EXPECT_FALSE(store.isDirty());
}

// The card's file read, one value changed and saved: on the card only that line differs, byte for byte,
// whatever the other lines hold.
TEST_F(ConfigStoreTest, SavingChangesOnlyTheEditedLineOnTheCard)
{
    const QByteArray mixed = "[Audio]\r\nvolume=2\nmic=1\r\n; \xFF\xFE odd\r\n";
    const QByteArray odd =
        QByteArray("\xEF\xBB\xBF[Rec]\r\nname = \xC3(\r\nvolume=2\r\nraw=a") + '\0' + QByteArray("b\r\n");
    struct Case {
        const char *name;
        QByteArray before, after;
    };
    const Case cases[] = {
        {"mixed line endings", mixed, "[Audio]\r\nvolume=5\nmic=1\r\n; \xFF\xFE odd\r\n"},
        {"bom, invalid utf-8 and nul bytes", odd,
         QByteArray("\xEF\xBB\xBF[Rec]\r\nname = \xC3(\r\nvolume=5\r\nraw=a") + '\0' + QByteArray("b\r\n")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(card, c.before);
        open(card);
        ASSERT_TRUE(store.file());
        const ConfigFile::Entry volume = [&] {
            for (const ConfigFile::Entry &e : store.file()->entries())
                if (e.key == u"volume"_qs)
                    return e;
            return ConfigFile::Entry{};
        }();
        ASSERT_EQ(volume.key, u"volume"_qs);
        store.setValue(volume, u"5"_qs);
        ASSERT_EQ(told(store.save()), ConfigStore::savedMessage());
        EXPECT_EQ(readFile(card), c.after);
        QDir(StandardFolders::configBackups()).removeRecursively();
    }
}

// A camera's file holds hundreds of entries; one far beyond that is refused with the reason, and an open
// document stays.
TEST_F(ConfigStoreTest, FilesFarLargerThanACamerasAreRefused)
{
    open(card);
    const QString big = dir.filePath(u"big.cfg"_qs);
    struct Case {
        const char *name;
        QByteArray bytes;
        QString message; // empty: opens
    };
    const Case cases[] = {
        {"too many lines", QByteArray("a=1\n").repeated(ConfigStore::maximumLines),
         u"“big.cfg” can’t be edited here: it has 2001 lines, and a camera’s settings file has at most 2000."_qs},
        {"too many bytes", QByteArray(ConfigStore::maximumFileSize + 1, 'x'),
         u"“big.cfg” can’t be edited here: it is 257 KB, and a camera’s settings file is at most 256 KB."_qs},
        {"as many lines as allowed", QByteArray("a=1\n").repeated(ConfigStore::maximumLines - 1), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(big, c.bytes);
        store.setMessage({});
        open(card);
        open(big);
        EXPECT_EQ(store.message(), c.message);
        EXPECT_EQ(store.url(), c.message.isEmpty() ? big : card);
        if (!c.message.isEmpty()) {
            EXPECT_EQ(told(store.importProfile(big)), c.message);
        }
    }
}

TEST_F(ConfigStoreTest, SaveWithoutADocumentDoesNothing)
{
    EXPECT_EQ(told(store.save()), QString());
    EXPECT_FALSE(QFileInfo::exists(StandardFolders::configBackups()));
}

TEST_F(ConfigStoreTest, BackupFolderThatCannotBeMadeStopsTheSave)
{
    open(card);
    store.setValue(entry(u"Rec"_qs, u"rec_quality"_qs), u"0"_qs);
    const QString blocker = StandardFolders::configBackups();
    writeFile(blocker, "a file where the folder belongs");

    const QString saved = told(store.save());
    QFile::remove(blocker);
    EXPECT_TRUE(saved.contains(u"Config Backups"_qs)) << saved.toStdString();
    EXPECT_EQ(readFile(card), cardBytes);
    EXPECT_TRUE(store.isDirty());
}

TEST_F(ConfigStoreTest, FailedWriteKeepsTheDocumentDirty)
{
    open(card);
    store.setValue(entry(u"Rec"_qs, u"rec_quality"_qs), u"0"_qs);
    ASSERT_TRUE(QDir(dir.filePath(u"SETTING"_qs)).removeRecursively()); // the card was pulled

    const QString saved = told(store.save());
    EXPECT_TRUE(saved.contains(u"blackbox.cfg"_qs)) << saved.toStdString();
    EXPECT_TRUE(store.isDirty());
    EXPECT_FALSE(QFileInfo::exists(card));
}

// A card that stops answering during a save holds only that save: one save at a time, and edits made
// meanwhile are still to save once it has written what it had.
TEST_F(ConfigStoreTest, ASaveToACardThatDoesNotAnswerHoldsOnlyItself)
{
    FileGate gate;
    store.setBeforeFileAccess(gate.function());
    open(card);
    store.setValue(entry(u"Rec"_qs, u"rec_quality"_qs), u"0"_qs);
    gate.close(card);
    const QFuture<void> saving =
        TestSupport::atOnce("a save to a card that does not answer", [&] { return store.save(); });
    EXPECT_TRUE(store.isSaving());
    EXPECT_TRUE(store.save().isFinished()) << "a second save waits for nothing";
    store.setValue(entry(u"Rec"_qs, u"rec_quality"_qs), u"2"_qs);
    gate.open();
    EXPECT_EQ(told(saving), ConfigStore::savedMessage());
    EXPECT_FALSE(store.isSaving());
    EXPECT_TRUE(readFile(card).contains("rec_quality=0"));
    EXPECT_EQ(gate.asked().count(card), 2) << "the open and one save";
    EXPECT_TRUE(store.isDirty());
    EXPECT_EQ(store.value(entry(u"Rec"_qs, u"rec_quality"_qs)), u"2"_qs);
}

// Of two opens whose files answer in the other order, the later one's file is the document.
TEST_F(ConfigStoreTest, TheLaterOpenWinsWhateverFileAnswersFirst)
{
    FileGate gate;
    store.setBeforeFileAccess(gate.function());
    const QString other = dir.filePath(u"other/blackbox.cfg"_qs);
    writeFile(other, "[Rec]\r\nrec_quality=2\r\n");
    gate.close(card);
    const QFuture<void> first = store.open(card);
    open(other);
    gate.open();
    ASSERT_TRUE(TestSupport::finish(first));
    EXPECT_EQ(store.url(), other);
}

TEST_F(ConfigStoreTest, ImportMergesSharedKeysWithoutTouchingTheCard)
{
    const QString profile = dir.filePath(u"profile.cfg"_qs);
    EXPECT_EQ(told(store.importProfile(profile)), QString()); // nothing open: the profile is not even read

    open(card);
    EXPECT_TRUE(told(store.importProfile(profile)).contains(u"profile.cfg"_qs));
    EXPECT_FALSE(store.isDirty());

    writeFile(profile, "[Rec]\nrec_quality=1\n[Audio]\nmic_in = 1\nmic_volume=4\n");
    EXPECT_EQ(told(store.importProfile(profile)), ConfigStore::importMessage(0, u"profile.cfg"_qs));
    EXPECT_FALSE(store.isDirty());

    writeFile(profile, "[Audio]\nmic_in=0\nmic_volume=4\n[Rec]\nrec_quality=2\nfront_framerate=30\n");
    EXPECT_EQ(told(store.importProfile(profile)), ConfigStore::importMessage(2, u"profile.cfg"_qs));
    EXPECT_TRUE(store.isDirty());
    EXPECT_EQ(store.file()->value(u"Audio"_qs, u"mic_in"_qs), u"0"_qs);
    EXPECT_EQ(store.file()->value(u"Audio"_qs, u"mic_volume"_qs), std::nullopt);
    EXPECT_EQ(readFile(card), cardBytes);
}

TEST_F(ConfigStoreTest, ExportWritesWhatSavingWouldWrite)
{
    const QString exported = dir.filePath(u"export.cfg"_qs);
    ASSERT_EQ(told(store.exportProfile(exported)), QString());
    EXPECT_FALSE(QFileInfo::exists(exported));

    open(card);
    store.setValue(entry(u"Device"_qs, u"model"_qs), u"Ü 9"_qs);
    writeFile(exported, "an older, longer profile that is replaced entirely");
    ASSERT_EQ(told(store.exportProfile(exported)), QString());
    EXPECT_TRUE(store.isDirty());
    EXPECT_FALSE(QFileInfo::exists(StandardFolders::configBackups()));
    ASSERT_EQ(told(store.save()), ConfigStore::savedMessage());
    EXPECT_EQ(readFile(exported), readFile(card));
    EXPECT_TRUE(readFile(card).endsWith("\r\n[Device]\r\nmodel=\xC3\x9C 9"));

    EXPECT_NE(told(store.exportProfile(dir.filePath(u"no/such/folder/x.cfg"_qs))), QString());
}

TEST(ConfigStore, BackupNameNamesTheCardTheUtcTimeAndTheFile)
{
    const QDateTime time(QDate(2024, 3, 1), QTime(12, 20, 30, 900), Qt::OffsetFromUTC, 2 * 3600);
    const std::pair<const char *, const char *> cases[] = {
        {"/media/alice/CARD/SETTING/blackbox.cfg", "CARD-2024-03-01T10-20-30Z-blackbox.cfg"},
        {"/run/media/bob/NO NAME/SETTING/setup.cfg", "NO NAME-2024-03-01T10-20-30Z-setup.cfg"},
        {"/mnt/sd/blackbox.cfg", "sd-2024-03-01T10-20-30Z-blackbox.cfg"},
        {"/mnt/sd/../sd2/a/b/default.cfg", "sd2-2024-03-01T10-20-30Z-default.cfg"},
        {"/mnt/blackbox.cfg", "local-2024-03-01T10-20-30Z-blackbox.cfg"},
        {"/media/alice/blackbox.cfg", "local-2024-03-01T10-20-30Z-blackbox.cfg"},
        {"/home/alice/media/x/y/blackbox.cfg", "local-2024-03-01T10-20-30Z-blackbox.cfg"},
        {"/Volumes/CARD/SETTING/blackbox.cfg", "local-2024-03-01T10-20-30Z-blackbox.cfg"},
    };
    for (const auto &[path, name] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(ConfigStore::backupFileName(QString::fromUtf8(path), time), QString::fromUtf8(name));
    }
}

TEST(ConfigStore, ImportMessageTakesANameHoldingAPlaceholder)
{
    EXPECT_EQ(ConfigStore::importMessage(3, u"trip %1.cfg"_qs),
              u"Applied 3 setting(s) from trip %1.cfg. Review, then Save to Card."_qs);
}

} // namespace
