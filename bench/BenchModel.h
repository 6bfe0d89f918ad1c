#pragma once

// The application model the model benchmarks drive: scripted surroundings (no volumes, a Trash that accepts,
// a media cache with nothing to copy, endless free space, the tests' panels, alerts and players) and a
// library of many recordings.
#include "fixtures/FakeAlerts.h"
#include "fixtures/FakePanels.h"
#include "fixtures/FakeRevealer.h"
#include "fixtures/FakeVideoPlayer.h"
#include "fixtures/PdfImagePrinter.h"
#include "platform/Defaults.h"
#include "platform/FreeSpace.h"
#include "platform/Trash.h"
#include "platform/VolumeProvider.h"
#include "roadcore/ClipOrder.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/CacheBackend.h"
#include "roadloom/model/LibraryStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <memory>

namespace benchmodel {

constexpr int recordingCount = 100'000;

class NoVolumes : public VolumeProvider {
public:
    QList<MountedVolume> mountedVolumes() const override { return {}; }
};

class AcceptingTrash : public Trash {
public:
    Result<void> moveToTrash(const QStringList &) override { return {}; }
};

class IdleCache : public CacheBackend {
public:
    QString root() const override { return QStringLiteral("/nonexistent-cache"); }
    QList<CacheJob> pendingJobs(CachePolicy, const std::optional<QString> &, const QSet<QString> &) override
    {
        return {};
    }
    Result<void> perform(const CacheJob &, const std::atomic<bool> *) override { return {}; }
    std::optional<MediaCacheUsage> usage() override { return MediaCacheUsage{}; }
    Result<void> removeReplaceableCopies(const QString &) override { return {}; }
    Result<void> clear(bool) override { return {}; }
};

class PlentyOfSpace : public FreeSpace {
public:
    std::optional<qint64> bytesAvailable(const QString &) const override { return qint64(1) << 50; }
};

// `count` recordings of one card a minute apart from 2023-01-01, every tenth an event, front and rear
// channels, newest first.
inline QList<DashClip> manyClips(int count = recordingCount)
{
    const QDateTime start(QDate(2023, 1, 1), QTime(0, 0), Qt::UTC);
    QList<DashClip> clips;
    clips.reserve(count);
    for (int i = 0; i < count; ++i) {
        DashClip clip;
        const QDateTime date = start.addSecs(qint64(i) * 60);
        clip.name = QStringLiteral("REC_") + date.toString(QStringLiteral("yyyy_MM_dd_HH_mm_ss"));
        clip.id = QStringLiteral("/media/card/DCIM/") + clip.name + QStringLiteral("_F.MP4");
        clip.category = i % 10 == 0 ? ClipCategory::event : ClipCategory::continuous;
        clip.date = date;
        clip.byteSize = 100'000'000 + i;
        clip.files = {{Channel::front, clip.id},
                      {Channel::rear, clip.id.chopped(6) + QStringLiteral("_R.MP4")}};
        clips.append(clip);
    }
    ClipOrder::sortNewestFirst(clips);
    return clips;
}

// The surroundings, and the model once `create` has made it. Everything lives in a temporary folder.
struct BenchModel {
    QTemporaryDir dir;
    Defaults defaults{dir.filePath(QStringLiteral("settings.ini"))};
    NoVolumes volumes;
    MediaCache cache{dir.filePath(QStringLiteral("Media Cache")), [] { return QList<MountEntry>{}; }};
    AcceptingTrash trash;
    FakePanels panels;
    FakeAlerts alerts;
    FakeRevealer revealer;
    PdfImagePrinter printer{dir.filePath(QStringLiteral("printed.pdf"))};
    IdleCache cacheBackend;
    PlentyOfSpace freeSpace;
    std::unique_ptr<AppModel> model;

    // Makes a library folder the library lists, so that a scan of it runs `scan`.
    void addLibraryFolder()
    {
        const QString folder = dir.filePath(QStringLiteral("card"));
        QDir().mkpath(folder);
        defaults.setValue(QStringLiteral("libraryFolders"), QStringList{folder});
    }

    // The library's services over these surroundings; an empty `scan` finds nothing.
    LibraryStore::Services libraryServices(LibraryStore::ScanFunction scan = {})
    {
        if (!scan)
            scan = [](const QStringList &) { return QList<DashClip>(); };
        return {&volumes, &defaults, &cache, std::move(scan), &trash};
    }

    // The model's services over these surroundings, players scripted; change them before `create`.
    AppModel::Services services(LibraryStore::ScanFunction scan = {})
    {
        AppModel::Services s;
        s.library = libraryServices(std::move(scan));
        s.players = [](PlayerRole) { return std::make_unique<FakeVideoPlayer>(); };
        s.defaults = &defaults;
        s.panels = &panels;
        s.alerts = &alerts;
        s.printer = &printer;
        s.revealer = &revealer;
        s.cacheBackend = &cacheBackend;
        s.freeSpace = &freeSpace;
        return s;
    }

    AppModel &create(AppModel::Services s)
    {
        model = std::make_unique<AppModel>(std::move(s));
        return *model;
    }

    LibraryStore &library() const { return model->library(); }

    // Runs the event loop until the library lists `count` recordings and no scan runs.
    static void waitForScan(const LibraryStore &store, qsizetype count)
    {
        while (store.clips().size() < count || store.isScanning())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
};

// The one fixture of a program's benchmarks, made on first use. `endShared` ends it before the application
// object goes: a function-local static would outlive it and take its widgets down after Qt is gone.
template <class Fixture> std::unique_ptr<Fixture> &sharedSlot()
{
    static std::unique_ptr<Fixture> fixture;
    return fixture;
}

template <class Fixture> Fixture &shared()
{
    std::unique_ptr<Fixture> &fixture = sharedSlot<Fixture>();
    if (!fixture)
        fixture = std::make_unique<Fixture>();
    return *fixture;
}

template <class Fixture> void endShared()
{
    sharedSlot<Fixture>().reset();
}

} // namespace benchmodel
