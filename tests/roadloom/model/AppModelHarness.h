#pragma once

// An application model on scripted surroundings: scripted volumes and scanner for the library store with a
// media cache in a temporary folder, two scripted players with scripted loading services, scripted panels
// and alerts, a printer that writes a PDF, a file revealer that records, and its own user defaults. The
// library lists one folder whose recordings the test gives.
#include "LibraryTestSupport.h"
#include "ScriptedCache.h"
#include "platform/Trash.h"

#include "fixtures/FakeAlerts.h"
#include "fixtures/FakePanels.h"
#include "fixtures/FakeRevealer.h"
#include "fixtures/FakeVideoPlayer.h"
#include "fixtures/PdfImagePrinter.h"
#include "fixtures/TestSupport.h"
#include "platform/Defaults.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/AppModel.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QWaitCondition>

#include <atomic>
#include <map>
#include <memory>

namespace AppHarness {

inline DashClip recording(const QString &name, std::optional<QDateTime> date, const ChannelFiles &files = {})
{
    DashClip clip;
    clip.id = QStringLiteral("/card/") + name;
    clip.name = name;
    clip.date = date;
    clip.files =
        files.empty() ? ChannelFiles{{Channel::front, QStringLiteral("/card/") + name + "_F.mp4"}} : files;
    clip.byteSize = 1000;
    return clip;
}

inline QDateTime at(int minute, int second = 0)
{
    return QDateTime(QDate(2024, 5, 1), QTime(10, minute, second), Qt::UTC);
}

inline VideoFacts facts(double duration = 60)
{
    VideoFacts f;
    f.duration = duration;
    f.hasVideo = true;
    f.size = QSize(64, 36);
    f.frameRate = 30;
    return f;
}

// Holds the next call that passes once armed, as a file system that stopped answering holds it, until
// released.
struct CallHold {
    std::atomic<bool> armed = false;
    std::atomic<bool> holding = false;
    QSemaphore released;
    void pass()
    {
        if (!armed.exchange(false))
            return;
        holding = true;
        released.acquire();
    }
    void release() { released.release(100); }
};

// What the loading services answer: recordings as the media cache resolves them, telemetry by the first
// file, and the calls made (from the controller's and the model's threads).
struct Services {
    std::map<QString, DashClip> resolved;   // by name; absent: unchanged
    std::map<QString, Telemetry> telemetry; // by the first file; absent: empty
    std::map<QString, MediaInfo> media;     // by path; absent: an empty summary
    CallHold resolveHold;                   // holds a resolution
    // While held, telemetry reading waits (on the controller's thread) until released.
    void holdTelemetry()
    {
        QMutexLocker lock(&mutex);
        telemetryHeld = true;
    }
    void releaseTelemetry()
    {
        QMutexLocker lock(&mutex);
        telemetryHeld = false;
        released.wakeAll();
    }
    QStringList calls() const
    {
        QMutexLocker lock(&mutex);
        return log;
    }

    PlayerServices make(const std::shared_ptr<Services> &self) const
    {
        PlayerServices s;
        s.resolve = [self](const DashClip &clip) {
            self->record(QStringLiteral("resolve ") + clip.name);
            self->resolveHold.pass();
            auto it = self->resolved.find(clip.name);
            return it == self->resolved.end() ? clip : it->second;
        };
        s.videoStreamCount = [](const QString &) -> std::optional<int> { return std::nullopt; };
        s.convert = [](const QString &, int) -> Result<QStringList> { return Failure{QStringLiteral("no")}; };
        s.readTelemetry = [self](const ChannelFiles &files) {
            const QString first = files.empty() ? QString() : files.begin()->second;
            self->record(QStringLiteral("telemetry ") + first);
            {
                QMutexLocker lock(&self->mutex);
                while (self->telemetryHeld)
                    self->released.wait(&self->mutex);
            }
            auto it = self->telemetry.find(first);
            return it == self->telemetry.end() ? Telemetry() : it->second;
        };
        s.inspect = [self](const QString &path) {
            auto it = self->media.find(path);
            return it == self->media.end() ? MediaInfo() : it->second;
        };
        return s;
    }

    void record(const QString &call)
    {
        QMutexLocker lock(&mutex);
        log.append(call);
    }
    mutable QMutex mutex;
    QWaitCondition released;
    bool telemetryHeld = false;
    QStringList log;
};

class ModelTest : public testing::Test {
protected:
    QTemporaryDir dir;
    Defaults defaults{dir.filePath("settings.ini")};
    FakeVolumes volumes;
    CallHold mountsHold; // holds the media cache's call that reads the mounts: a bookmark made or followed
    MediaCache cache{dir.filePath("Media Cache"), [this] {
                         mountsHold.pass();
                         return MountTable::current();
                     }};
    ScriptedScan scan;
    HeldChecks checks; // the library's folder and card checks, none held unless a test says
    FakePanels panels;
    FakeAlerts alerts;
    FakeRevealer revealer;
    PdfImagePrinter printer{dir.filePath("printed.pdf")};
    std::shared_ptr<Services> services = std::make_shared<Services>();
    QList<DashClip> trashed;
    std::optional<DashClip> clipAtTrash; // the player's recording when the trash was asked
    ScriptedCache cacheBackend;          // the coordinator's cache: nothing pending
    ScriptedFreeSpace freeSpace;
    // Every file the model looks at, reads or writes off the GUI thread passes here; closed, it holds them.
    FileGate files;
    // Changes the services just before the model is made.
    std::function<void(AppModel::Services &)> adjust;
    // Whether `make` waits for the first rescan to end.
    bool settleAtMake = true;
    std::unique_ptr<AppModel> model; // last: ends before what it uses

    QString card() const { return dir.filePath("card"); }

    // A model whose library lists these recordings (the card folder is the selected source).
    AppModel &make(const QList<DashClip> &clips,
                   std::chrono::milliseconds toastDuration = std::chrono::seconds(4))
    {
        EXPECT_TRUE(QDir().mkpath(card()));
        defaults.setValue(QStringLiteral("libraryFolders"), QStringList{card()});
        scan.byRoot[card()] = clips;
        AppModel::Services s;
        s.library = checks.over({&volumes, &defaults, &cache, scan.function(), &Trash::system()});
        s.players = [](PlayerRole) { return std::make_unique<FakeVideoPlayer>(); };
        s.playerServices = services->make(services);
        s.defaults = &defaults;
        s.panels = &panels;
        s.alerts = &alerts;
        s.printer = &printer;
        s.revealer = &revealer;
        s.trash = [this](const DashClip &clip) {
            trashed.append(clip);
            clipAtTrash = model->player().clip();
        };
        s.toastDuration = toastDuration;
        s.cacheBackend = &cacheBackend;
        freeSpace.available = qint64(1) << 40;
        s.freeSpace = &freeSpace;
        s.beforeFileAccess = files.function();
        if (adjust)
            adjust(s);
        model = std::make_unique<AppModel>(std::move(s));
        if (settleAtMake)
            settle();
        return *model;
    }
    // The first source is chosen once the folder answers; then its rescan runs to its end.
    void settle()
    {
        ASSERT_TRUE(TestSupport::waitFor([&] { return model->library().selectedSourceID().has_value(); }));
        QCoreApplication::processEvents();
        ASSERT_TRUE(TestSupport::waitFor([&] { return !model->library().isScanning(); }));
        QCoreApplication::processEvents();
    }
    FakeVideoPlayer &front() const { return static_cast<FakeVideoPlayer &>(model->player().front()); }
    FakeVideoPlayer &rear() const { return static_cast<FakeVideoPlayer &>(model->player().rear()); }

    // Loads a listed recording into the player until its video is ready and, unless held, its telemetry read.
    void load(const DashClip &clip, bool awaitTelemetry = true)
    {
        model->player().load(clip, false);
        ASSERT_TRUE(TestSupport::waitFor([&] { return front().hasFile() || model->player().loadError(); }));
        front().fireReady(facts());
        if (model->player().hasRear())
            rear().fireReady(facts());
        ASSERT_TRUE(TestSupport::waitFor([&] {
            return model->player().hasMedia() && (!awaitTelemetry || !model->player().isLoadingTelemetry());
        }));
    }
    void TearDown() override
    {
        files.open();
        scan.release.release(100);
        checks.release.release(100);
        services->releaseTelemetry();
        services->resolveHold.release();
        mountsHold.release();
        cacheBackend.release(100);
        model.reset();
    }
};

} // namespace AppHarness
