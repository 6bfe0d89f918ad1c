#pragma once

#include "platform/LoneThreads.h"
#include "platform/gui/VideoPlayer.h"

#include <QByteArray>
#include <QTimer>

#include <atomic>
#include <deque>
#include <functional>
#include <optional>

struct mpv_handle;
struct mpv_event;

// How an mpv player is built; fixed for its life.
struct MpvPlayerOptions {
    bool audio = true;                 // false: the files' sound is never decoded or played
    QByteArray videoOutput = "libmpv"; // "libmpv" draws through an MpvRenderer; "null" draws nowhere
    QByteArray audioOutput;            // empty: the desktop's sound server or ALSA; "null" plays nowhere
    // Called off the GUI thread before a loaded file is looked at; tests hold it at a gate. May be empty.
    std::function<void(const QString &path)> beforeFileAccess;
};

// The player on libmpv. All calls and signals on the GUI thread; mpv's events are fetched there from its
// wakeup callback through a queued call. mpv itself starts on first need. With the "libmpv" video output mpv
// never starts a file loaded before its render context exists, so a load waits for the renderer to attach.
class MpvPlayer final : public VideoPlayer {
    Q_OBJECT
public:
    explicit MpvPlayer(const MpvPlayerOptions &options = {}, QObject *parent = nullptr);
    ~MpvPlayer() override;

    void load(const QString &path) override;
    void clear() override;
    bool hasFile() const override { return !m_path.isEmpty(); }
    std::optional<VideoFacts> facts() const override;

    void play(double rate) override;
    void setRate(double rate) override;
    void pause() override;
    bool isPlaying() const override { return m_playing; }

    void setVolume(double volume) override;
    void setMuted(bool muted) override;

    double currentTime() const override { return m_time; }
    double duration() const override { return m_ready ? m_facts.duration : 0.0; }

    void seek(double seconds) override;
    void step(int frames) override;
    bool isSettling() const override
    {
        return hasFile() && !m_failed && (!m_ready || m_inFlight || !m_jumps.empty());
    }

    Result<QImage> frameImage() override;

    // The libmpv handle, for drawing through the render API; null when mpv could not start. mpv starts on
    // the first call of this or load().
    mpv_handle *handle() const;
    // Called by the renderer when its render context comes and goes; a waiting load starts on attach.
    void setRenderAttached(bool attached);
    // A load waits for the render context.
    bool isLoadHeld() const { return m_loadHeld; }

signals:
    // Sent first thing on destruction, while the handle still exists: whoever draws it must let go now.
    void closing();

private:
    enum class JumpKind { seek, stepForward, stepBack };
    struct Jump {
        JumpKind kind = JumpKind::seek;
        double target = 0; // seek: seconds
        int frames = 0;    // steps: how many
    };

    bool start();
    static void loadLibraryAside();
    static void wakeup(void *context);
    void drainEvents();
    void handleEvent(const mpv_event &event);
    void becomeReady();
    void jumpLanded();
    void timeChanged(double time);
    void reachEnd();
    void runJumps();
    void queueStep(JumpKind kind, int frames);
    void startLoad();
    void resetFileState();
    void failLater(const QString &message);
    // Fails with mpv's reason, or says the file is gone.
    void failWithReason(int error);
    double clampTime(double seconds) const;

    void command(std::initializer_list<const char *> arguments);
    void setFlag(const char *name, bool value);
    void setDouble(const char *name, double value);
    double doubleProperty(const char *name, double fallback) const;
    qint64 intProperty(const char *name, qint64 fallback) const;
    bool flagProperty(const char *name) const;

    MpvPlayerOptions m_options;
    mpv_handle *m_mpv = nullptr;
    bool m_startFailed = false;
    std::optional<double> m_volume; // kept for a start after they were set
    std::optional<bool> m_muted;
    bool m_drawsThroughRenderer = false; // the "libmpv" video output: loads wait for a render context
    bool m_renderAttached = false;
    bool m_loadHeld = false;
    bool m_checkPending = false; // the loaded file is being looked at, off the GUI thread
    std::atomic_bool m_drainPosted{false};

    quint64 m_generation = 0; // counts loads and clears; a signal of an older one is never sent
    QString m_path;
    qint64 m_entryId = 0;   // mpv's playlist entry of the current file
    bool m_started = false; // mpv began the current file: events from here on are about it
    bool m_ready = false;   // the first frame is decoded and the facts are known
    bool m_failed = false;  // the current file cannot be played
    VideoFacts m_facts;
    bool m_playing = false;
    bool m_atEnd = false; // playback ran to the end and nothing moved since
    double m_time = 0;
    double m_shownTime = -1; // mpv's time of the frame on screen, to tell a step from a repeated value
    int m_forwardSteps = 0;  // frame steps asked of mpv whose new frame was not seen yet
    std::deque<Jump> m_jumps;
    std::optional<Jump> m_inFlight; // the seek or back step mpv is doing now
    QTimer m_ticker;
    QTimer m_watchdog;
    LoneThreads m_checks{this}; // last: no answer arrives once the rest is gone
};
