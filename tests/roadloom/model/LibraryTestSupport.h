#pragma once

// Stand-ins for what the library store touches outside itself: mounted volumes, the cache planner, a
// scripted scanner and the folder and card checks.
#include "platform/VolumeProvider.h"
#include "roadloom/model/CachePlanner.h"
#include "roadloom/model/LibraryStore.h"

#include "fixtures/FileGate.h"

#include <QHash>
#include <QSemaphore>

#include <atomic>

class FakeVolumes : public VolumeProvider {
public:
    QList<MountedVolume> volumes;
    QList<MountedVolume> mountedVolumes() const override { return volumes; }
    void change(QList<MountedVolume> now)
    {
        volumes = std::move(now);
        emit volumesChanged();
    }
};

struct PlannerSpy : CachePlanner {
    int starts = 0;
    void start() override { ++starts; }
};

// Answers each scanned path list from a script; a call can be held until the test releases it.
class ScriptedScan {
public:
    QHash<QString, QList<DashClip>> byRoot;
    std::atomic<int> calls = 0;
    std::atomic<int> finished = 0;
    std::atomic<int> holdCall = -1; // the call number (from 1) to hold, after reading the script
    std::atomic<bool> holding = false;
    QSemaphore release;

    LibraryStore::ScanFunction function()
    {
        return [this](const QStringList &paths) {
            const int call = ++calls;
            QList<DashClip> result;
            for (const QString &path : paths)
                result.append(byRoot.value(path));
            if (call == holdCall) {
                holding = true;
                release.acquire();
            }
            ++finished;
            return result;
        };
    }
};

// The store's real folder and card checks, except that those of the `held` paths wait until released, as
// on a file system that stopped answering.
class HeldChecks {
public:
    QSet<QString> held; // set before the store asks
    std::atomic<int> heldCalls = 0;
    QSemaphore release;

    LibraryStore::Services over(LibraryStore::Services services)
    {
        services.checkFolder = [this](const QString &path) {
            hold(path);
            return SourceCheck::folder(path);
        };
        services.checkCard = [this](const QString &root) {
            hold(root);
            return SourceCheck::card(root);
        };
        return services;
    }

private:
    void hold(const QString &path)
    {
        if (!held.contains(path))
            return;
        ++heldCalls;
        release.acquire();
    }
};
