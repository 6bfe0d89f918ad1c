#include "AppModelHarness.h"

#include "platform/Trash.h"
#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/ConfigStore.h"

#include <QFile>

#include <chrono>
#include <thread>

using namespace AppHarness;
using TestSupport::waitFor;

namespace {

class RecordingTrash : public Trash {
public:
    Result<void> moveToTrash(const QStringList &paths) override
    {
        QMutexLocker lock(&m_mutex);
        m_moved.append(paths);
        return {};
    }
    QList<QStringList> moved() const
    {
        QMutexLocker lock(&m_mutex);
        return m_moved;
    }

private:
    mutable QMutex m_mutex;
    QList<QStringList> m_moved;
};

class AppModelWiringTest : public ModelTest {
protected:
    static void write(const QString &path, const QByteArray &bytes = "x")
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    bool listed(const QString &id) const
    {
        const QList<DashClip> clips = model->library().clips();
        return std::any_of(clips.begin(), clips.end(), [&](const DashClip &c) { return c.id == id; });
    }
};

TEST_F(AppModelWiringTest, ARescanThatPublishesPlansWithThePlayingRecordingFirst)
{
    const DashClip older = recording("REC_A", at(1));
    const DashClip newer = recording("REC_B", at(2));
    make({older, newer});
    ASSERT_TRUE(waitFor([&] { return cacheBackend.log().contains(QStringLiteral("plan")); }));
    EXPECT_EQ(cacheBackend.plans().constLast().prioritize, std::nullopt);

    load(newer);
    const qsizetype plans = cacheBackend.plans().size();
    model->library().rescan();
    ASSERT_TRUE(waitFor([&] { return cacheBackend.plans().size() > plans && !model->cache().isRunning(); }));
    EXPECT_EQ(cacheBackend.plans().constLast().prioritize, model->player().clip()->catalogKey());
}

TEST_F(AppModelWiringTest, MoveToTrashMovesOnlyTheOriginalFilesAndForgetsTheRecording)
{
    RecordingTrash bin;
    adjust = [&](AppModel::Services &s) {
        s.trash = nullptr;
        s.library.trash = &bin;
    };
    const QString front = dir.filePath("card/REC_A_F.mp4");
    const QString storedRear = QDir(cache.root()).filePath("REC_A_R.mp4");
    write(front);
    write(storedRear);
    const DashClip clip = recording("REC_A", at(1), {{Channel::front, front}, {Channel::rear, storedRear}});
    const DashClip other = recording("REC_B", at(2));
    make({clip, other});
    ASSERT_TRUE(listed(clip.id));
    const qsizetype usages = cacheBackend.log().count(QStringLiteral("usage"));

    alerts.answer = 0;
    scan.byRoot[card()] = {other};
    model->trash(clip);
    ASSERT_TRUE(waitFor([&] { return !listed(clip.id); }));
    EXPECT_EQ(bin.moved(), QList<QStringList>{QStringList{front}});
    EXPECT_TRUE(listed(other.id));
    EXPECT_TRUE(waitFor([&] { return cacheBackend.log().count(QStringLiteral("usage")) > usages; }));

    // A refused confirmation leaves everything alone.
    alerts.answer = 1;
    model->trash(other);
    QCoreApplication::processEvents();
    EXPECT_EQ(bin.moved().size(), 1);
    EXPECT_TRUE(listed(other.id));
}

TEST_F(AppModelWiringTest, AnUnreadableCatalogIsToldOnceWithWhereItWasKept)
{
    const QString kept = "/data/Media Cache/catalog.json.unreadable-20260101T101010Z";
    cacheBackend.setAsideCatalog = kept;
    make({});
    ASSERT_TRUE(waitFor([&] { return model->toast().has_value(); }));
    EXPECT_EQ(model->toast()->message,
              "The catalog could not be read and was kept as "
              "\u201Ccatalog.json.unreadable-20260101T101010Z\u201D. Recordings return as their cards are "
              "opened.");
    EXPECT_EQ(model->toast()->systemImage, AppModel::errorSymbol);
    EXPECT_EQ(model->toast()->revealURL, kept);
    // Told once: later usage refreshes say nothing more.
    model->show("other", "camera.fill");
    // Counted before the refresh: its read may be done before the next line runs.
    const qsizetype usages = cacheBackend.log().count("usage");
    model->cache().refreshUsage();
    ASSERT_TRUE(waitFor([&] { return cacheBackend.log().count("usage") > usages; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(model->toast()->message, "other");
}

TEST_F(AppModelWiringTest, AnUnreadableCatalogThatCouldNotBeKeptIsToldWithNothingToReveal)
{
    cacheBackend.setAsideCatalog = QString();
    make({});
    ASSERT_TRUE(waitFor([&] { return model->toast().has_value(); }));
    EXPECT_EQ(model->toast()->message,
              "The catalog could not be read and could not be kept. Nothing is cached "
              "until it can be.");
    EXPECT_EQ(model->toast()->revealURL, std::nullopt);
}

TEST_F(AppModelWiringTest, NothingWritesTheCatalogAfterTheQuitsFold)
{
    make({});
    const QString catalog = QDir(cache.root()).filePath("catalog.json");
    const auto onDisk = [&] {
        QFile file(catalog);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("absent");
    };
    const DashClip late = recording("REC_LATE", at(3));
    scan.byRoot[card()] = {late};
    scan.holdCall = scan.calls + 1;
    model->library().rescan();
    ASSERT_TRUE(waitFor([&] { return scan.holding.load(); }));

    // The scan ends while the quit waits for it.
    std::thread ending([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        scan.release.release();
    });
    model->finishCatalogWrites();
    cache.foldJournal();
    const QByteArray folded = onDisk();
    ending.join();
    ASSERT_TRUE(waitFor([&] { return !model->library().isScanning(); }));
    model->player().load(late, false);
    ASSERT_TRUE(waitFor([&] { return front().hasFile() || model->player().loadError(); }));

    EXPECT_EQ(onDisk(), folded);
    EXPECT_FALSE(services->calls().contains("resolve REC_LATE"))
        << "the player resolves nothing after the quit";
}

TEST_F(AppModelWiringTest, OpeningAConfigurationFileRaisesTheRequest)
{
    make({});
    const QString path = dir.filePath("elsewhere/CONFIG.CFG");
    write(path, "[video]\nresolution=1080P\n");
    EXPECT_FALSE(model->requestConfigWindow());
    model->library().open({path});
    ASSERT_TRUE(waitFor([&] { return model->requestConfigWindow(); }));
    ASSERT_TRUE(model->config().file().has_value());
}

} // namespace
