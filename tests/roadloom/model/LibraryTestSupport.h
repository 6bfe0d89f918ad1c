#pragma once

// Stand-ins for what the library store touches outside itself: mounted volumes, the cache planner, and a
// scripted catalog and scanner.
#include "platform/VolumeProvider.h"
#include "roadloom/model/CachePlanner.h"
#include "roadloom/model/ClipListing.h"
#include "roadloom/model/LibraryCatalog.h"
#include "roadloom/model/LibraryStore.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>

#include <atomic>
#include <map>

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

// Remembers registered recordings by catalog key, as the media cache does, without touching files.
class ScriptedCatalog : public LibraryCatalog {
public:
    QList<DashClip> registerClips(const QList<DashClip> &clips) override
    {
        QMutexLocker lock(&m_mutex);
        QList<DashClip> result;
        for (DashClip clip : clips) {
            clip.originalFiles = clip.files;
            for (const auto &[channel, path] : clip.files)
                clip.channelStates[channel] = StorageState::original;
            m_entries[clip.catalogKey()] = clip;
            result.append(clip);
        }
        return result;
    }
    QList<DashClip> clips(const MediaCacheScope &scope, const QSet<QString> &excludingKeys) override
    {
        QMutexLocker lock(&m_mutex);
        lastScope = scope;
        QList<DashClip> result;
        for (const auto &[key, entry] : m_entries) {
            if (excludingKeys.contains(key) || !inScope(scope, entry))
                continue;
            DashClip clip = entry;
            clip.id = "catalog:" + key;
            for (auto &[channel, state] : clip.channelStates)
                state = StorageState::missing;
            result.append(clip);
        }
        ClipListing::sortNewestFirst(result);
        return result;
    }
    MediaCacheScope lastScope;

private:
    static bool inScope(const MediaCacheScope &scope, const DashClip &clip)
    {
        for (const auto &[channel, path] : clip.originalFiles) {
            if (scope.kind == MediaCacheScope::Kind::all || scope.paths.contains(path))
                return true;
            for (const QString &folder : scope.folders)
                if (path.startsWith(folder + "/"))
                    return true;
        }
        return false;
    }
    QMutex m_mutex;
    std::map<QString, DashClip> m_entries;
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
