#pragma once

// Stand-ins for what the library store touches outside itself: mounted volumes, the cache planner and a
// scripted scanner.
#include "platform/VolumeProvider.h"
#include "roadloom/model/CachePlanner.h"
#include "roadloom/model/LibraryStore.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QWaitCondition>

#include <atomic>
#include <memory>

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

// Holds the file accesses of the code under test (its `beforeFileAccess`) while closed, as a file system that
// stopped answering would; it outlives the test, since a held thread is nobody's to wait for.
class FileGate {
public:
    std::function<void(const QString &path)> function() const
    {
        return [state = m_state](const QString &path) {
            QMutexLocker lock(&state->mutex);
            state->asked.append(path);
            while (state->closed && path.startsWith(state->held))
                state->opened.wait(&state->mutex);
        };
    }
    // Holds the paths that start with `held` (every path when empty).
    void close(const QString &held = {})
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->held = held;
        m_state->closed = true;
    }
    void open()
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->closed = false;
        m_state->opened.wakeAll();
    }
    // The paths asked about so far, held or not.
    QStringList asked() const
    {
        QMutexLocker lock(&m_state->mutex);
        return m_state->asked;
    }

private:
    struct State {
        QMutex mutex;
        QWaitCondition opened;
        bool closed = false;
        QString held;
        QStringList asked;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};
