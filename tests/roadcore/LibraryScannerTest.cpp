#include "roadcore/LibraryScanner.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static void PrintTo(const QDateTime &date, std::ostream *os)
{
    *os << date.toUTC().toString(Qt::ISODateWithMs).toStdString();
}

namespace {

using LibraryScanner::ChannelSplit;
using TestSupport::ScopedEnv;

QDateTime utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toUTC();
}

void makeFile(const QString &path, qint64 size)
{
    TestSupport::writeFile(path, QByteArray(size, 'x'));
}

// Creates a file whose path is raw bytes (which may not be valid UTF-8).
void makeRawFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::write(fd, "abc", 3), 3);
    ::close(fd);
}

// The date a scanned recording without a date in its name gets: creation date, else modification date.
std::optional<QDateTime> fileDate(const QString &path)
{
    const QFileInfo info(path);
    const QDateTime born = info.birthTime();
    return (born.isValid() ? born : info.lastModified()).toUTC();
}

TEST(LibraryScanner, SplitsTheChannelSuffix)
{
    const struct {
        QString stem;
        ChannelSplit expected;
    } cases[] = {
        {"REC_20230101_120000_F", {"REC_20230101_120000", Channel::front}},
        {"EVT-20230101-120000-r 2", {"EVT-20230101-120000 2", Channel::rear}},
        {"20230101_120000_F 2", {"20230101_120000 2", Channel::front}},
        {"X_I", {"X", Channel::interior}},
        {"A_f", {"A", Channel::front}},
        {"A__R", {"A_", Channel::rear}},
        {"_R", {"", Channel::rear}},
        {"clip", {"clip", Channel::front}},
        {"A_F_X", {"A_F_X", Channel::front}},
        {"A_x", {"A_x", Channel::front}},
        {"A_R 2a", {"A_R 2a", Channel::front}},
        {"A_R2", {"A_R2", Channel::front}},
        {QString("A_R ") + QChar(0x0663),
         {QString("A_R ") + QChar(0x0663), Channel::front}},  // digits are ASCII
        {"line\nbreak_R", {"line\nbreak_R", Channel::front}}, // "." stops at a line break
    };
    for (const auto &c : cases)
        EXPECT_EQ(LibraryScanner::split(c.stem), c.expected) << c.stem.toStdString();
}

TEST(LibraryScanner, ReadsDatesFromNamesAsLocalGregorianTime)
{
    const struct {
        const char *tz;
        QString name;
        std::optional<QDateTime> expected;
    } cases[] = {
        {"UTC0", "20230101_120000", utc("2023-01-01T12:00:00Z")},
        {"UTC0", "REC_2023-01-01T12-00-00_F", utc("2023-01-01T12:00:00Z")},
        {"UTC0", "20230101120000", utc("2023-01-01T12:00:00Z")},
        {"UTC0", "2023_01_01_12_00_00", utc("2023-01-01T12:00:00Z")},
        {"UTC0", "x20240229_235959_20250101_000000", utc("2024-02-29T23:59:59Z")}, // the first of two
        {"UTC0", "19991231_235959", std::nullopt},                                 // the year begins with 20
        {"UTC0", "clip", std::nullopt},
        {"UTC0", "20231301_120000", std::nullopt}, // month 13
        {"UTC0", "20230229_120000", std::nullopt}, // no leap day in 2023
        {"UTC0", "20230101_250000", std::nullopt}, // hour 25
        {"UTC0", QString("2023") + QChar(0x0660) + "101_120000", std::nullopt},
        {"CET-1CEST,M3.5.0,M10.5.0/3", "20230101_120000", utc("2023-01-01T11:00:00Z")},
        {"CET-1CEST,M3.5.0,M10.5.0/3", "20230701_120000", utc("2023-07-01T10:00:00Z")},
        // Skipped by the clocks: read with the offset before the change (+01:00).
        {"CET-1CEST,M3.5.0,M10.5.0/3", "20230326_023000", utc("2023-03-26T01:30:00Z")},
        {"CET-1CEST,M3.5.0,M10.5.0/3", "20230326_020000", utc("2023-03-26T01:00:00Z")},
        {"EST5EDT,M3.2.0,M11.1.0", "20230312_021500", utc("2023-03-12T07:15:00Z")},
        {"EST5EDT,M3.2.0,M11.1.0", "20230312_035959", utc("2023-03-12T07:59:59Z")},
    };
    for (const auto &c : cases) {
        ScopedEnv tz("TZ", c.tz);
        EXPECT_EQ(LibraryScanner::dateFromName(c.name), c.expected) << c.tz << " " << c.name.toStdString();
    }

    // A time that occurs twice when the clocks go back still gives one of its two instants.
    ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    const std::optional<QDateTime> twice = LibraryScanner::dateFromName(u"20231029_023000");
    ASSERT_TRUE(twice);
    EXPECT_TRUE(*twice == utc("2023-10-29T00:30:00Z") || *twice == utc("2023-10-29T01:30:00Z"));
}

// Grouping many names reads them through one clock that remembers the last stretch between clock changes;
// every name must still read as it does alone, across the changes in spring and autumn and in either order.
TEST(LibraryScanner, ReadsRunsOfNamesLikeSingleNames)
{
    for (const char *tz : {"CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0", "Europe/Berlin",
                           "Australia/Lord_Howe", "UTC0"}) {
        ScopedEnv zone("TZ", tz);
        QList<LibraryScanner::VideoFile> files;
        for (const QDate day : {QDate(2023, 3, 10), QDate(2023, 3, 24), QDate(2023, 10, 27),
                                QDate(2023, 4, 1), QDate(2023, 11, 3), QDate(2023, 3, 31)}) {
            QDateTime wall(day, QTime(0, 0), Qt::UTC); // only its digits matter
            for (int step = 0; step < 3 * 24 * 60 / 37; ++step, wall = wall.addSecs(37 * 60))
                files.append({"/c/REC_" + wall.toString("yyyyMMdd_HHmmss") + "_F.mp4", 1, std::nullopt});
        }
        // Times that occur twice, each read just after a time from the stretch after the change.
        for (const char *stamp : {"20231110_120000", "20231029_021500", "20231110_120000", "20231105_013000",
                                  "20230410_120000", "20230402_014500"})
            files.append({QString("/c/REC_%1_F.mp4").arg(stamp), 1, std::nullopt});
        int checked = 0;
        for (const DashClip &clip : LibraryScanner::group(files)) {
            const std::optional<QDateTime> alone = LibraryScanner::dateFromName(clip.name);
            ASSERT_TRUE(alone.has_value()) << tz << " " << clip.name.toStdString();
            ASSERT_EQ(clip.date, alone) << tz << " " << clip.name.toStdString();
            ++checked;
        }
        EXPECT_EQ(checked, files.size());
    }
}

TEST(LibraryScanner, GuessesCategoriesFromTokensThenDeepestFolder)
{
    const struct {
        QString stem;
        QStringList folders;
        ClipCategory expected;
    } cases[] = {
        {"sos_0001", {}, ClipCategory::event},
        {"rec-0001", {"CARD", "evt_rec"}, ClipCategory::continuous}, // the token wins over folders
        {"__-Park_0001", {}, ClipCategory::parking},                 // empty pieces are dropped
        {"TLP_1", {}, ClipCategory::timelapse},
        {"MOT", {}, ClipCategory::motion},
        {"MAN_1", {}, ClipCategory::manual},
        {"INF_1", {}, ClipCategory::event},
        {"TLPX_1", {}, ClipCategory::other},
        {"20230101_120000", {"CARD", "evt_rec", "F"}, ClipCategory::event},
        {"20230101_120000", {"Volumes", "CARD", "DCIM"}, ClipCategory::other},
        {"20230101_120000", {"CARD", "motion_timelapse_rec"}, ClipCategory::timelapse},
        {"20230101_120000", {"CARD", "cont_rec"}, ClipCategory::continuous},
        {"20230101_120000", {"evt_rec", "cont_rec"}, ClipCategory::continuous}, // deepest first
        {"20230101_120000", {"Normal"}, ClipCategory::continuous},
        {"20230101_120000", {"NormalX"}, ClipCategory::other},
        {"20230101_120000", {"DRIVE"}, ClipCategory::continuous},
        {"20230101_120000", {"my Safety clips"}, ClipCategory::event},
        {"20230101_120000", {"Event"}, ClipCategory::event},
        {"20230101_120000", {"manual_rec"}, ClipCategory::manual},
        {"20230101_120000", {"motion_rec"}, ClipCategory::motion},
        {"20230101_120000", {"parking_rec", "F"}, ClipCategory::parking},
        {"20230101_120000", {"/"}, ClipCategory::other},
        {"", {}, ClipCategory::other},
    };
    for (const auto &c : cases)
        EXPECT_EQ(inferClipCategory(c.stem, c.folders), c.expected)
            << c.stem.toStdString() << " in " << c.folders.join('/').toStdString();
}

TEST(LibraryScanner, RecognisesVideoExtensionsInAnyCase)
{
    EXPECT_EQ(LibraryScanner::videoExtensions(), (QSet<QString>{"mp4", "mov", "avi", "m4v"}));
    const struct {
        const char *path;
        bool video;
    } cases[] = {{"/c/CLIP_F.MP4", true}, {"/c/a.Mov", true}, {"/c/a.m4v", true},  {"/c/a.avi", true},
                 {"/c/clip.mkv", false},  {"/c/mp4", false},  {"/c.mp4/x", false}, {"/c/a.mp4.txt", false},
                 {"/c/.mp4", true},       {"/c/a.mp", false}};
    for (const auto &c : cases)
        EXPECT_EQ(LibraryScanner::hasVideoExtension(QString::fromLatin1(c.path)), c.video) << c.path;
}

// The camera's folders with channel subfolders, hidden and "._" files, a foreign extension, a folder named
// like a video, a duplicate channel as .mp4 and .avi, and a file without a date in its name.
class CardTree : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        card = dir.path() + "/vol/CARD";
        makeFile(card + "/cont_rec/F/REC_20230101_120000_F.mp4", 100);
        makeFile(card + "/cont_rec/R/REC_20230101_120000_R.mp4", 50);
        makeFile(card + "/evt_rec/EVT_20230102_080000_F.mp4", 10);
        makeFile(card + "/evt_rec/EVT_20230102_080000_R.mp4", 20);
        makeFile(card + "/evt_rec/._EVT_20230102_080000_F.mp4", 4);
        makeFile(card + "/evt_rec/.hidden_20230109_000000_F.mp4", 4);
        makeFile(card + "/.Trashes/501/REC_20230110_000000_F.mp4", 4);
        makeFile(card + "/manual_rec/MAN_20230103_090000_F.mp4", 7);
        makeFile(card + "/manual_rec/MAN_20230103_090000_F.avi", 9);
        makeFile(card + "/parking_rec/Interior/20230104_100000_I.MOV", 5);
        makeFile(card + "/DCIM/ZERO_20230105_000000_F.mp4", 0);
        makeFile(card + "/DCIM/trip.mov", 3);
        makeFile(card + "/DCIM/clip.mkv", 3);
        makeFile(card + "/DCIM/notes.txt", 3);
        makeFile(card + "/DCIM/folder.mp4/Y_20230106_000000_R.mp4", 2);
        makeFile(card + "/SETTING/blackbox.cfg", 3);
        // A modification date long ago; file systems with creation dates report those instead.
        const QByteArray trip = QFile::encodeName(card + "/DCIM/trip.mov");
        const struct timespec times[2] = {{1577836800, 0}, {1577836800, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, trip.constData(), times, 0), 0);
    }

    QString rel(const QString &path) const { return path.startsWith(card) ? path.mid(card.size()) : path; }

    QTemporaryDir dir;
    QString card;
};

TEST_F(CardTree, GroupsCategorisesDatesAndOrdersTheCard)
{
    ScopedEnv tz("TZ", "UTC0");
    QList<DashClip> clips = LibraryScanner::scan({card});

    // Undated by name: the file system's date, which places it among the others by that date.
    const auto trip =
        std::find_if(clips.begin(), clips.end(), [](const DashClip &c) { return c.name == "trip"; });
    ASSERT_NE(trip, clips.end());
    EXPECT_EQ(rel(trip->id), "/DCIM/trip");
    EXPECT_EQ(trip->category, ClipCategory::other);
    EXPECT_EQ(trip->date, fileDate(card + "/DCIM/trip.mov"));
    EXPECT_EQ(trip->files, (std::map<Channel, QString>{{Channel::front, card + "/DCIM/trip.mov"}}));
    for (auto it = clips.begin(); it + 1 < clips.end(); ++it)
        EXPECT_GE(it->date, (it + 1)->date);
    clips.erase(trip);

    struct Expected {
        QString id;
        QString name;
        ClipCategory category;
        std::map<Channel, QString> files;
        qint64 byteSize;
        std::optional<QDateTime> date;
    };
    const std::vector<Expected> expected = {
        {"/DCIM/folder.mp4/Y_20230106_000000",
         "Y_20230106_000000",
         ClipCategory::other,
         {{Channel::rear, "/DCIM/folder.mp4/Y_20230106_000000_R.mp4"}},
         2,
         utc("2023-01-06T00:00:00Z")},
        {"/DCIM/ZERO_20230105_000000",
         "ZERO_20230105_000000",
         ClipCategory::other,
         {{Channel::front, "/DCIM/ZERO_20230105_000000_F.mp4"}},
         0,
         utc("2023-01-05T00:00:00Z")},
        // The channel folder "Interior" is grouped by its parent, but the category reads its own folders.
        {"/parking_rec/20230104_100000",
         "20230104_100000",
         ClipCategory::parking,
         {{Channel::interior, "/parking_rec/Interior/20230104_100000_I.MOV"}},
         5,
         utc("2023-01-04T10:00:00Z")},
        // Same date: names descending, so the split-off file comes before the recording it left.
        {"/manual_rec/MAN_20230103_090000#MAN_20230103_090000_F.mp4",
         "MAN_20230103_090000_F",
         ClipCategory::manual,
         {{Channel::front, "/manual_rec/MAN_20230103_090000_F.mp4"}},
         7,
         utc("2023-01-03T09:00:00Z")},
        {"/manual_rec/MAN_20230103_090000",
         "MAN_20230103_090000",
         ClipCategory::manual,
         {{Channel::front, "/manual_rec/MAN_20230103_090000_F.avi"}},
         9,
         utc("2023-01-03T09:00:00Z")},
        {"/evt_rec/EVT_20230102_080000",
         "EVT_20230102_080000",
         ClipCategory::event,
         {{Channel::front, "/evt_rec/EVT_20230102_080000_F.mp4"},
          {Channel::rear, "/evt_rec/EVT_20230102_080000_R.mp4"}},
         30,
         utc("2023-01-02T08:00:00Z")},
        {"/cont_rec/REC_20230101_120000",
         "REC_20230101_120000",
         ClipCategory::continuous,
         {{Channel::front, "/cont_rec/F/REC_20230101_120000_F.mp4"},
          {Channel::rear, "/cont_rec/R/REC_20230101_120000_R.mp4"}},
         150,
         utc("2023-01-01T12:00:00Z")},
    };
    ASSERT_EQ(clips.size(), qsizetype(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].id.toStdString());
        const DashClip &clip = clips[qsizetype(i)];
        EXPECT_EQ(rel(clip.id), expected[i].id);
        EXPECT_EQ(clip.name, expected[i].name);
        EXPECT_EQ(clip.category, expected[i].category);
        std::map<Channel, QString> files;
        for (const auto &[channel, path] : clip.files)
            files[channel] = rel(path);
        EXPECT_EQ(files, expected[i].files);
        EXPECT_EQ(clip.byteSize, expected[i].byteSize);
        EXPECT_EQ(clip.date, expected[i].date);
        EXPECT_TRUE(clip.originalFiles.empty() && clip.channelStates.empty() && clip.cachedChannels.empty());
    }
}

TEST_F(CardTree, KeepsFilesGivenDirectlyAndSkipsWhatIsMissing)
{
    ScopedEnv tz("TZ", "UTC0");
    const QString companion = card + "/evt_rec/._EVT_20230102_080000_F.mp4";
    const QString front = card + "/cont_rec/F/REC_20230101_120000_F.mp4";
    const QList<DashClip> clips = LibraryScanner::scan(
        {companion, card + "/DCIM/clip.mkv", card + "/nothing/here.mp4", QString(), front, front});
    ASSERT_EQ(clips.size(), 3);
    // A "._" name given directly is kept; its token is "._EVT", so its folder gives the category.
    EXPECT_EQ(clips[0].id, card + "/evt_rec/._EVT_20230102_080000");
    EXPECT_EQ(clips[0].front(), companion);
    EXPECT_EQ(clips[0].category, ClipCategory::event);
    // The same file given twice splits off from itself.
    EXPECT_EQ(clips[1].id, card + "/cont_rec/REC_20230101_120000#REC_20230101_120000_F.mp4");
    EXPECT_EQ(clips[1].byteSize, 100);
    EXPECT_EQ(clips[2].id, card + "/cont_rec/REC_20230101_120000");
    EXPECT_EQ(clips[2].byteSize, 100);

    // A folder given with a trailing slash or as a relative path gives the same ids.
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const QList<DashClip> relative = LibraryScanner::scan({"vol/CARD/cont_rec/"});
    QDir::setCurrent(saved);
    ASSERT_EQ(relative.size(), 1);
    EXPECT_EQ(relative[0].id, card + "/cont_rec/REC_20230101_120000");

    // The scan reads names in the user's zone too, including a time the clocks skipped.
    {
        ScopedEnv cet("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
        makeFile(dir.path() + "/spring/REC_20230326_023000_F.mp4", 1);
        makeFile(dir.path() + "/spring/REC_20230701_120000_F.mp4", 1);
        const QList<DashClip> spring = LibraryScanner::scan({dir.path() + "/spring"});
        ASSERT_EQ(spring.size(), 2);
        EXPECT_EQ(spring[0].date, utc("2023-07-01T10:00:00Z"));
        EXPECT_EQ(spring[1].date, utc("2023-03-26T01:30:00Z"));
    }

    EXPECT_TRUE(LibraryScanner::scan({}).isEmpty());
    EXPECT_TRUE(LibraryScanner::scan({card + "/SETTING"}).isEmpty());
}

TEST_F(CardTree, ConcurrentScansAgree)
{
    const QList<DashClip> reference = LibraryScanner::scan({card});
    std::vector<QList<DashClip>> results(4);
    std::vector<std::thread> threads;
    for (auto &result : results)
        threads.emplace_back([&result, this] { result = LibraryScanner::scan({card}); });
    {
        const TestSupport::Deadline deadline(120000, "joining the scans");
        for (auto &thread : threads)
            thread.join();
    }
    for (const auto &result : results)
        EXPECT_EQ(result, reference);
}

TEST(LibraryScanner, GroupsGivenFilesAndSortsStably)
{
    using LibraryScanner::VideoFile;
    const QDateTime day = utc("2023-05-01T00:00:00Z");
    const QString high = QString::fromUcs4(U"\U0001F600"); // above U+FFFF: after U+FFFD in code-point order
    const QString replacement(QChar(0xFFFD));
    const QList<VideoFile> files = {
        {"/a/undated_F.mp4", 1, std::nullopt},
        {"/a/B.mp4", 1, day},
        {"/a/" + high + ".mp4", 1, day},
        {"/a/" + replacement + ".mp4", 1, day},
        {"/a/a.mp4", 1, day},
        {"/b/a.mp4", 1, day}, // equal date and name: kept in the given order
        {"/c/Front/x_F.mp4", 3, day.addDays(1)},
        {"/c/REAR/x_R.mp4", 4, day.addDays(2)}, // the date comes from the first file of a key
        {"/F/root_F.mp4", 5, day.addDays(3)},
        {"/top_R.mp4", 6, day.addDays(4)},
    };
    const QList<DashClip> clips = LibraryScanner::group(files);
    QStringList ids;
    for (const DashClip &clip : clips)
        ids << clip.id;
    EXPECT_EQ(ids, (QStringList{"/top", "/root", "/c/x", "/a/" + high, "/a/" + replacement, "/a/a", "/b/a",
                                "/a/B", "/a/undated"}));
    EXPECT_EQ(clips[2].byteSize, 7);
    EXPECT_EQ(clips[2].date, day.addDays(1));
    EXPECT_EQ(clips[2].channelLabel(), QString("F") + QChar(0xB7) + "R");
    EXPECT_FALSE(clips.last().date);

    // A file that cannot be read (gone since it was listed) keeps size 0 and takes its date from its name.
    ScopedEnv tz("TZ", "UTC0");
    const QList<DashClip> gone =
        LibraryScanner::group(QStringList{"/nonexistent/dir/REC_20230101_120000_F.mp4"});
    ASSERT_EQ(gone.size(), 1);
    EXPECT_EQ(gone[0].byteSize, 0);
    EXPECT_EQ(gone[0].date, utc("2023-01-01T12:00:00Z"));
    EXPECT_EQ(gone[0].category, ClipCategory::continuous);
}

// Enough files that their sizes and dates are read on several threads.
TEST(LibraryScanner, ReadsEverySizeOfALargeCard)
{
    ScopedEnv tz("TZ", "UTC0");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const int recordings = 600;
    const QDateTime start = utc("2024-01-01T00:00:00Z");
    const auto stemOf = [&start](int i) {
        return "REC_" + start.addSecs(60 * i).toString("yyyyMMdd_HHmmss");
    };
    for (int i = 0; i < recordings; ++i) {
        const QString stem = stemOf(i);
        makeFile(dir.path() + "/cont_rec/F/" + stem + "_F.mp4", i % 5);
        makeFile(dir.path() + "/cont_rec/R/" + stem + "_R.mp4", i % 3);
    }
    makeFile(dir.path() + "/cont_rec/F/undated_F.mp4", 9);
    const auto openFiles = [] {
        return QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System).size();
    };
    const qsizetype openBefore = openFiles();
    const QList<DashClip> clips = LibraryScanner::scan({dir.path()});
    EXPECT_EQ(openFiles(), openBefore); // every folder closed again
    ASSERT_EQ(clips.size(), recordings + 1);
    // Dated by the file system: today, newer than every name.
    EXPECT_EQ(clips.first().name, "undated");
    EXPECT_EQ(clips.first().byteSize, 9);
    EXPECT_EQ(clips.first().date, fileDate(dir.path() + "/cont_rec/F/undated_F.mp4"));
    for (int i = 0; i < recordings; ++i) {
        const DashClip &clip = clips[recordings - i];
        if (clip.name != stemOf(i) || clip.byteSize != i % 5 + i % 3 || clip.files.size() != 2) {
            ADD_FAILURE() << "recording " << i << ": " << clip.name.toStdString() << " " << clip.byteSize;
            break;
        }
    }
}

TEST(LibraryScanner, PassesOverHostileTrees)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.path() + "/card";
    makeFile(root + "/good/GOOD_20230101_000000_F.mp4", 8);
    // Names that are not UTF-8 could never be opened again through their text: passed over.
    const QByteArray raw = QFile::encodeName(root);
    makeRawFile(raw + "/good/BAD\xff\xfe_20230101_000000_F.mp4");
    ASSERT_EQ(::mkdir(raw + "/bad\xff", 0755), 0);
    makeRawFile(raw + "/bad\xff/INSIDE_F.mp4");
    makeRawFile(raw + "/good/line\nbreak_R.mp4");
    makeFile(root + "/good/EMPTY_F.mp4", 0);
    // Links: a loop back to the top, a link to itself, a dangling link, a link to a file, a linked folder.
    ASSERT_EQ(::symlink("..", QFile::encodeName(root + "/good/loop").constData()), 0);
    ASSERT_EQ(::symlink("self_F.mp4", QFile::encodeName(root + "/good/self_F.mp4").constData()), 0);
    ASSERT_EQ(::symlink("absent.mp4", QFile::encodeName(root + "/good/DANGLING_F.mp4").constData()), 0);
    ASSERT_EQ(
        ::symlink("GOOD_20230101_000000_F.mp4", QFile::encodeName(root + "/good/LINK_R.mp4").constData()), 0);
    ASSERT_EQ(::symlink("../good", QFile::encodeName(root + "/linked.mp4").constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(root + "/good/PIPE_F.mp4").constData(), 0644), 0);
    // A deep tree.
    QString deep = root + "/deep";
    for (int i = 0; i < 60; ++i)
        deep += "/d";
    makeFile(deep + "/DEEP_F.mp4", 1);
    // An unreadable folder (root reads it anyway).
    makeFile(root + "/locked/LOCKED_F.mp4", 1);
    ASSERT_EQ(::chmod(QFile::encodeName(root + "/locked").constData(), 0), 0);

    const QList<DashClip> clips = LibraryScanner::scan({root});
    ::chmod(QFile::encodeName(root + "/locked").constData(), 0755);
    // The temporary folder cannot remove names that are not UTF-8.
    ::unlink(raw + "/good/BAD\xff\xfe_20230101_000000_F.mp4");
    ::unlink(raw + "/bad\xff/INSIDE_F.mp4");
    ::rmdir(raw + "/bad\xff");

    QStringList names;
    for (const DashClip &clip : clips) {
        names << clip.name;
        for (const auto &entry : clip.files)
            EXPECT_TRUE(QFileInfo::exists(entry.second)) << entry.second.toStdString();
    }
    names.sort();
    QStringList expected{"DEEP", "EMPTY", "GOOD_20230101_000000", "LINK", "line\nbreak_R"};
    if (::geteuid() == 0)
        expected << "LOCKED";
    expected.sort();
    EXPECT_EQ(names, expected);
    for (const DashClip &clip : clips) {
        if (clip.name == "EMPTY") {
            EXPECT_EQ(clip.byteSize, 0);
        }
        if (clip.name == "LINK") {
            EXPECT_EQ(clip.byteSize, 8);
        }
    }
}

} // namespace
