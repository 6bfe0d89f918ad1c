#pragma once

// A player controller on two scripted players and scripted services. The services run on the controller's
// threads; a test holds any of them at a gate to decide the order in which the steps of a load finish.
#include "fixtures/FakeVideoPlayer.h"
#include "fixtures/TestSupport.h"
#include "roadloom/model/PlayerController.h"

#include <gtest/gtest.h>

#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QWaitCondition>

#include <map>
#include <memory>

namespace PlayerHarness {

class Gate {
public:
    void pass()
    {
        QMutexLocker lock(&m_mutex);
        while (!m_open)
            m_opened.wait(&m_mutex);
    }
    void open()
    {
        QMutexLocker lock(&m_mutex);
        m_open = true;
        m_opened.wakeAll();
    }

private:
    QMutex m_mutex;
    QWaitCondition m_opened;
    bool m_open = false;
};

// What the fake services answer, and what they were asked (thread-safe).
struct Script {
    std::map<QString, DashClip> resolved;      // by the asked recording's name; absent: unchanged
    std::map<QString, int> streamCounts;       // AVI path to its video streams; absent: unreadable
    std::map<QString, QString> convertFailure; // AVI path to the conversion's error text
    std::map<QString, int> convertedMovies;    // AVI path to how many movies come out; absent: as asked
    std::map<QString, int> openErrors;         // path to the errno its open fails with; absent: it opens

    // Gates by "resolve NAME", "convert PATH", "telemetry FIRST-PATH", "inspect PATH".
    std::shared_ptr<Gate> gate(const QString &key)
    {
        QMutexLocker lock(&mutex);
        auto &slot = gates[key];
        if (!slot)
            slot = std::make_shared<Gate>();
        return slot;
    }
    void openAll()
    {
        QMutexLocker lock(&mutex);
        for (auto &entry : gates)
            entry.second->open();
    }
    void clearGates()
    {
        QMutexLocker lock(&mutex);
        gates.clear();
    }
    QStringList calls() const
    {
        QMutexLocker lock(&mutex);
        return log;
    }
    int finished() const
    {
        QMutexLocker lock(&mutex);
        return done;
    }

    void record(const QString &call)
    {
        std::shared_ptr<Gate> held;
        {
            QMutexLocker lock(&mutex);
            log.append(call);
            if (auto it = gates.find(call.section(' ', 0, 1)); it != gates.end())
                held = it->second;
        }
        if (held)
            held->pass();
    }
    void finish()
    {
        QMutexLocker lock(&mutex);
        ++done;
    }

    PlayerServices services(const std::shared_ptr<Script> &self) const
    {
        PlayerServices s;
        s.resolve = [self](const DashClip &clip) {
            self->record(QStringLiteral("resolve ") + clip.name);
            DashClip result = clip;
            if (auto it = self->resolved.find(clip.name); it != self->resolved.end())
                result = it->second;
            self->finish();
            return result;
        };
        s.videoStreamCount = [self](const QString &path) -> std::optional<int> {
            self->record(QStringLiteral("count ") + path);
            if (auto it = self->streamCounts.find(path); it != self->streamCounts.end())
                return it->second;
            return std::nullopt;
        };
        s.convert = [self](const QString &path, int streams) -> Result<QStringList> {
            self->record(QStringLiteral("convert ") + path + ' ' + QString::number(streams));
            self->finish();
            if (auto it = self->convertFailure.find(path); it != self->convertFailure.end())
                return Failure{it->second};
            int made = streams;
            if (auto it = self->convertedMovies.find(path); it != self->convertedMovies.end())
                made = it->second;
            QStringList movies;
            for (int i = 0; i < made; ++i)
                movies.append(path + QStringLiteral(".%1.mov").arg(i));
            return movies;
        };
        s.readTelemetry = [self](const ChannelFiles &files) {
            QStringList paths;
            for (const auto &entry : files)
                paths.append(entry.second);
            self->record(QStringLiteral("telemetry ") + paths.join(' '));
            Telemetry telemetry;
            telemetry.source = paths.join('+');
            self->finish();
            return telemetry;
        };
        s.openError = [self](const QString &path) {
            QMutexLocker lock(&self->mutex);
            const auto it = self->openErrors.find(path);
            return it == self->openErrors.end() ? 0 : it->second;
        };
        s.inspect = [self](const QString &path) {
            self->record(QStringLiteral("inspect ") + path);
            MediaInfo info;
            info.container = path;
            self->finish();
            return info;
        };
        return s;
    }

    mutable QMutex mutex;
    std::map<QString, std::shared_ptr<Gate>> gates;
    QStringList log;
    int done = 0;
};

inline DashClip recording(const QString &name, const ChannelFiles &files)
{
    DashClip clip;
    clip.id = QStringLiteral("/card/") + name;
    clip.name = name;
    clip.files = files;
    return clip;
}

inline VideoFacts videoFacts(double duration, QSize size = {640, 360}, double frameRate = 30,
                             int rotation = 0)
{
    VideoFacts facts;
    facts.duration = duration;
    facts.hasVideo = true;
    facts.size = size;
    facts.frameRate = frameRate;
    facts.rotation = rotation;
    return facts;
}

// Lets queued results reach the controller for a moment (to show that something does not happen).
inline void drain()
{
    TestSupport::waitFor([] { return false; }, 100);
}

class ControllerTest : public testing::Test {
protected:
    ControllerTest()
        : script(std::make_shared<Script>()),
          controller(std::make_unique<PlayerController>(
              [](PlayerRole) { return std::make_unique<FakeVideoPlayer>(); }, script->services(script))),
          front(static_cast<FakeVideoPlayer &>(controller->front())),
          rear(static_cast<FakeVideoPlayer &>(controller->rear()))
    {
    }
    ~ControllerTest() override
    {
        // The controller waits for its threads, so none may still be held at a gate.
        script->openAll();
        controller.reset();
    }

    // Starts a load and waits until the master player got its file (or the load stopped early).
    bool loadUntilPlaced(const DashClip &clip, bool autoplay = false)
    {
        const qsizetype before = front.calls.size();
        controller->load(clip, autoplay);
        return TestSupport::waitFor([&] {
            return front.calls.mid(before).filter(QStringLiteral("load ")).size() > 0 ||
                   controller->loadError().has_value();
        });
    }
    // A whole load: the master becomes ready, telemetry and media facts arrive.
    void loadFully(const DashClip &clip, const VideoFacts &facts, bool autoplay = false)
    {
        ASSERT_TRUE(loadUntilPlaced(clip, autoplay));
        front.fireReady(facts);
        if (controller->hasRear())
            rear.fireReady(facts);
        ASSERT_TRUE(TestSupport::waitFor([&] { return !controller->mediaInfo().empty(); }));
    }

    std::shared_ptr<Script> script;
    std::unique_ptr<PlayerController> controller;
    FakeVideoPlayer &front;
    FakeVideoPlayer &rear;
};

} // namespace PlayerHarness
