#include "platform/gui/MpvPlayer.h"

#include "platform/LogCategories.h"
#include "platform/RegularFile.h"
#include "platform/StartupGate.h"

#include <mpv/client.h>

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>
#include <QTransform>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

enum Observed : quint64 { timePosition = 1, endReached = 2 };

constexpr int tickIntervalMs = 33;
constexpr int jumpTimeoutMs = 5000;
// mpv's exact seek shows the first frame that starts no earlier than this before the target.
constexpr double mpvSeekTolerance = 0.005;

const mpv_node *mapValue(const mpv_node &map, const char *key)
{
    if (map.format != MPV_FORMAT_NODE_MAP || !map.u.list)
        return nullptr;
    for (int i = 0; i < map.u.list->num; ++i) {
        if (std::strcmp(map.u.list->keys[i], key) == 0)
            return &map.u.list->values[i];
    }
    return nullptr;
}

qint64 mapInt(const mpv_node &map, const char *key)
{
    const mpv_node *value = mapValue(map, key);
    return value && value->format == MPV_FORMAT_INT64 ? value->u.int64 : 0;
}

} // namespace

MpvPlayer::MpvPlayer(const MpvPlayerOptions &options, QObject *parent) : VideoPlayer(parent)
{
    m_ticker.setInterval(tickIntervalMs);
    m_ticker.setTimerType(Qt::PreciseTimer);
    connect(&m_ticker, &QTimer::timeout, this, [this] { emit tick(m_time); });
    m_watchdog.setSingleShot(true);
    m_watchdog.setInterval(jumpTimeoutMs);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        // A jump mpv never finished must not hold back the ones behind it, nor whoever waits for it.
        m_inFlight.reset();
        runJumps();
        if (!m_inFlight)
            emit tick(m_time);
    });

    m_drawsThroughRenderer = options.videoOutput == "libmpv";
    m_options = options;
    loadLibraryAside();
}

void MpvPlayer::loadLibraryAside()
{
    // libmpv is loaded on the first call of one of its functions. Made on a thread of its own once the
    // first window has painted (before, it would hold back the Qt plugins the start-up loads), the load no
    // longer holds back the GUI thread when the first recording is shown, right after a large listing. It
    // waits at the start-up gate too: loading libmpv and FFmpeg is most of the processor time the process
    // spends until its first frame is on the screen, which it would otherwise compete with.
    class AfterFirstPaint : public QObject {
    public:
        using QObject::QObject;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint && !m_seen) {
                m_seen = true;
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        // The application waits for the global pool when it ends, so the load is never
                        // cut off by the exit.
                        QThreadPool::globalInstance()->start([] {
                            StartupGate::wait(std::chrono::seconds(3));
                            mpv_error_string(0);
                        });
                        deleteLater();
                    },
                    Qt::QueuedConnection);
            }
            return false;
        }

    private:
        bool m_seen = false;
    };
    static bool asked = false;
    if (asked || !QCoreApplication::instance())
        return;
    asked = true;
    QCoreApplication::instance()->installEventFilter(new AfterFirstPaint(QCoreApplication::instance()));
}

bool MpvPlayer::start()
{
    // Started on first need rather than with the application: mpv's start-up would hold back the window.
    if (m_mpv || m_startFailed)
        return m_mpv != nullptr;
    m_startFailed = true;
    const MpvPlayerOptions &options = m_options;
    // mpv refuses to start under a locale that writes numbers with a decimal comma.
    std::setlocale(LC_NUMERIC, "C");
    m_mpv = mpv_create();
    if (!m_mpv)
        return false;
    const QList<std::pair<const char *, QByteArray>> settings = {
        {"config", "no"},
        {"terminal", "no"},
        {"input-default-bindings", "no"},
        {"osc", "no"},
        {"load-scripts", "no"},
        {"ytdl", "no"},
        {"idle", "yes"},
        {"keep-open", "yes"},
        {"hr-seek", "yes"},
        {"pause", "yes"},
        {"osd-level", "0"},
        {"sid", "no"}, // recordings carry their telemetry as text tracks; never draw it on the picture
        {"sub-auto", "no"},
        {"audio-display", "no"},
        {"gpu-hwdec-interop", "no"},
        {"vo", options.videoOutput},
    };
    const auto setOption = [this](const char *name, const char *value) {
        // A refused option leaves mpv's default in place; playback goes on.
        if (const int status = mpv_set_option_string(m_mpv, name, value); status < 0)
            qCWarning(logPlayer) << "mpv refused the option" << name << "=" << value << ":"
                                 << mpv_error_string(status);
    };
    for (const auto &[name, value] : settings)
        setOption(name, value.constData());
    // mpv's own list ends with SDL's output, whose start-up talks to D-Bus and can wait on it for good on a
    // desktop without a sound server, the player's core with it, and the window behind the core.
    // The sound servers and ALSA are what a Linux desktop plays through; without any of them there is no
    // sound, and the video plays on.
    setOption("ao",
              options.audioOutput.isEmpty() ? "pipewire,pulse,alsa,jack" : options.audioOutput.constData());
    if (!options.audio)
        setOption("aid", "no");
    if (const int status = mpv_initialize(m_mpv); status < 0) {
        qCWarning(logPlayer) << "mpv could not start:" << mpv_error_string(status);
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
        return false;
    }
    m_startFailed = false;
    mpv_observe_property(m_mpv, timePosition, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv, endReached, "eof-reached", MPV_FORMAT_FLAG);
    mpv_set_wakeup_callback(m_mpv, &MpvPlayer::wakeup, this);
    if (m_volume)
        setDouble("volume", *m_volume);
    if (m_muted)
        setFlag("mute", *m_muted);
    return true;
}

mpv_handle *MpvPlayer::handle() const
{
    const_cast<MpvPlayer *>(this)->start();
    return m_mpv;
}

MpvPlayer::~MpvPlayer()
{
    emit closing();
    if (m_mpv) {
        // Returns only once no callback runs any more, so none can reach a half-destroyed player.
        mpv_set_wakeup_callback(m_mpv, nullptr, nullptr);
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
    }
}

void MpvPlayer::wakeup(void *context)
{
    // Any thread: post one drain to the GUI thread, never block here.
    auto *self = static_cast<MpvPlayer *>(context);
    if (!self->m_drainPosted.exchange(true))
        QMetaObject::invokeMethod(self, &MpvPlayer::drainEvents, Qt::QueuedConnection);
}

void MpvPlayer::drainEvents()
{
    m_drainPosted.store(false);
    while (m_mpv) {
        const mpv_event *event = mpv_wait_event(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(*event);
    }
}

void MpvPlayer::handleEvent(const mpv_event &event)
{
    switch (event.event_id) {
    case MPV_EVENT_START_FILE: {
        const auto *start = static_cast<const mpv_event_start_file *>(event.data);
        if (m_entryId != 0 && start->playlist_entry_id == m_entryId)
            m_started = true;
        break;
    }
    case MPV_EVENT_END_FILE: {
        const auto *end = static_cast<const mpv_event_end_file *>(event.data);
        if (m_entryId == 0 || end->playlist_entry_id != m_entryId || !m_started)
            break; // an older file's end or error
        m_started = false;
        const bool wasReady = m_ready;
        m_ready = false;
        m_ticker.stop();
        if (end->reason == MPV_END_FILE_REASON_ERROR || !wasReady) {
            m_playing = false;
            failWithReason(end->error);
        } else if (m_playing) {
            reachEnd();
        }
        break;
    }
    case MPV_EVENT_PLAYBACK_RESTART:
        if (!m_started)
            break;
        if (!m_ready)
            becomeReady();
        else
            jumpLanded();
        break;
    case MPV_EVENT_PROPERTY_CHANGE: {
        if (!m_started || !m_ready)
            break;
        const auto *property = static_cast<const mpv_event_property *>(event.data);
        if (event.reply_userdata == timePosition && property->format == MPV_FORMAT_DOUBLE)
            timeChanged(*static_cast<const double *>(property->data));
        else if (event.reply_userdata == endReached && property->format == MPV_FORMAT_FLAG &&
                 *static_cast<const int *>(property->data) && m_playing && !m_inFlight && m_jumps.empty())
            reachEnd();
        break;
    }
    default:
        break;
    }
}

void MpvPlayer::becomeReady()
{
    VideoFacts facts;
    const double length = doubleProperty("duration", 0);
    facts.duration = std::isfinite(length) ? std::max(length, 0.0) : 0.0;
    const qint64 width = intProperty("video-params/w", 0);
    const qint64 height = intProperty("video-params/h", 0);
    facts.hasVideo = width > 0 && height > 0;
    if (facts.hasVideo) {
        facts.size = QSize(int(width), int(height));
        facts.rotation = int(((intProperty("video-params/rotate", 0) % 360) + 360) % 360);
        const double pixelAspect = doubleProperty("video-params/par", 1);
        facts.pixelAspect = std::isfinite(pixelAspect) && pixelAspect > 0 ? pixelAspect : 1.0;
        double rate = doubleProperty("container-fps", 0);
        if (!std::isfinite(rate) || rate <= 0)
            rate = doubleProperty("estimated-vf-fps", 0);
        facts.frameRate = std::isfinite(rate) && rate > 0 ? rate : 0.0;
    }
    m_facts = facts;
    m_ready = true;
    m_shownTime = doubleProperty("time-pos", 0);
    const quint64 generation = m_generation;
    runJumps();
    if (generation == m_generation)
        emit ready(m_facts);
}

void MpvPlayer::jumpLanded()
{
    m_shownTime = doubleProperty("time-pos", m_shownTime);
    if (!m_inFlight)
        return; // mpv restarted on its own (a track change, say): nothing moved for us
    const Jump done = *m_inFlight;
    m_inFlight.reset();
    m_watchdog.stop();
    if (done.kind == JumpKind::stepBack && done.frames > 1)
        m_jumps.push_front({JumpKind::stepBack, 0, done.frames - 1});
    if (!m_jumps.empty()) {
        runJumps(); // superseded; the newest jump ticks when it lands
        return;
    }
    m_time = done.kind == JumpKind::seek ? done.target : clampTime(m_shownTime);
    if (m_playing && flagProperty("eof-reached")) {
        reachEnd();
        return;
    }
    emit tick(m_time);
}

void MpvPlayer::timeChanged(double time)
{
    if (!std::isfinite(time) || m_inFlight || !m_jumps.empty() || m_atEnd)
        return;
    if (m_playing) {
        m_shownTime = time;
        m_time = clampTime(time);
        return;
    }
    // While paused only a frame step moves the picture. A change event may carry a value mpv cached
    // during an earlier jump, or the sound's clock near the end; ask for the time as it is now.
    if (m_forwardSteps == 0)
        return;
    const double now = doubleProperty("time-pos", m_shownTime);
    if (!std::isfinite(now) || std::abs(now - m_shownTime) < 1e-6)
        return;
    --m_forwardSteps;
    m_shownTime = now;
    m_time = clampTime(now);
    emit tick(m_time);
}

void MpvPlayer::reachEnd()
{
    m_playing = false;
    m_atEnd = true;
    m_ticker.stop();
    // mpv stops a little before or after the container's duration; the end is the duration.
    m_time = m_facts.duration > 0 ? m_facts.duration : clampTime(m_shownTime);
    if (m_mpv)
        setFlag("pause", true);
    const quint64 generation = m_generation;
    emit tick(m_time);
    if (generation == m_generation)
        emit ended();
}

void MpvPlayer::runJumps()
{
    if (!m_mpv || !m_ready || m_inFlight)
        return;
    while (!m_jumps.empty()) {
        Jump jump = m_jumps.front();
        m_jumps.pop_front();
        switch (jump.kind) {
        case JumpKind::seek: {
            jump.target = clampTime(jump.target);
            // mpv shows the first frame starting at or after the target (less its tolerance); aim one frame
            // earlier so that the frame covering the target is the one shown.
            double aim = jump.target;
            if (m_facts.frameRate > 0)
                aim = std::max(0.0, jump.target - 1.0 / m_facts.frameRate + mpvSeekTolerance + 1e-6);
            const QByteArray where = QByteArray::number(aim, 'f', 6);
            command({"seek", where.constData(), "absolute+exact"});
            m_forwardSteps = 0;
            m_inFlight = jump;
            m_watchdog.start();
            return;
        }
        case JumpKind::stepForward:
            if (!m_facts.hasVideo)
                break;
            // mpv adds up frame steps and pauses after the last one.
            for (int i = 0; i < jump.frames; ++i)
                command({"frame-step"});
            m_forwardSteps += jump.frames;
            break;
        case JumpKind::stepBack:
            if (!m_facts.hasVideo)
                break;
            // mpv ignores a back step while another is running, so they go one at a time.
            command({"frame-back-step"});
            m_forwardSteps = 0;
            m_inFlight = jump;
            m_watchdog.start();
            return;
        }
    }
}

void MpvPlayer::queueStep(JumpKind kind, int frames)
{
    if (!m_jumps.empty() && m_jumps.back().kind == kind)
        m_jumps.back().frames += frames;
    else
        m_jumps.push_back({kind, 0, frames});
}

void MpvPlayer::load(const QString &path)
{
    ++m_generation;
    resetFileState();
    m_path = QFileInfo(path).absoluteFilePath();
    if (!start()) {
        failLater(QStringLiteral("The video player could not be started."));
        return;
    }
    m_loadHeld = m_drawsThroughRenderer && !m_renderAttached;
    // mpv would wait for good on a named pipe, and its shutdown would wait with it. Asked off the GUI thread:
    // the file's card or share may not answer at all.
    m_checkPending = true;
    m_checks.run(
        [path = m_path, before = m_options.beforeFileAccess] {
            if (before)
                before(path);
            return !RegularFile::isRegular(path) && QFileInfo::exists(path);
        },
        [this, generation = m_generation](bool special) {
            if (generation != m_generation)
                return; // another file, or none, was loaded meanwhile
            m_checkPending = false;
            if (special) {
                m_loadHeld = false;
                return failLater(RegularFile::notRegularText(m_path));
            }
            if (!m_loadHeld)
                startLoad();
        });
}

void MpvPlayer::startLoad()
{
    m_loadHeld = false;
    setFlag("pause", true);
    const QByteArray file = QFile::encodeName(m_path);
    const char *arguments[] = {"loadfile", file.constData(), "replace", nullptr};
    mpv_node result;
    const int status = mpv_command_ret(m_mpv, arguments, &result);
    if (status < 0) {
        failWithReason(status);
        return;
    }
    m_entryId = mapInt(result, "playlist_entry_id");
    mpv_free_node_contents(&result);
}

void MpvPlayer::clear()
{
    ++m_generation;
    resetFileState();
    m_path.clear();
    m_loadHeld = false;
    m_checkPending = false;
    if (m_mpv)
        command({"stop"});
}

void MpvPlayer::setRenderAttached(bool attached)
{
    m_renderAttached = attached;
    if (!attached || !m_loadHeld || !m_mpv || !hasFile())
        return;
    if (m_checkPending)
        m_loadHeld = false; // the check's answer starts it
    else
        startLoad();
}

std::optional<VideoFacts> MpvPlayer::facts() const
{
    if (!m_ready)
        return std::nullopt;
    return m_facts;
}

void MpvPlayer::play(double rate)
{
    if (!m_mpv || !hasFile())
        return;
    setRate(rate);
    m_playing = true;
    m_forwardSteps = 0;
    if (m_ready && !m_inFlight && m_jumps.empty() && (m_atEnd || flagProperty("eof-reached"))) {
        // Nothing is left to play: the end comes again at once.
        QTimer::singleShot(0, this, [this, generation = m_generation] {
            if (generation == m_generation && m_playing)
                reachEnd();
        });
        return;
    }
    setFlag("pause", false);
    m_ticker.start();
    emit tick(m_time);
}

void MpvPlayer::setRate(double rate)
{
    if (!m_mpv || !std::isfinite(rate) || rate <= 0)
        return;
    setDouble("speed", std::clamp(rate, 0.01, 100.0));
}

void MpvPlayer::pause()
{
    if (!m_mpv)
        return;
    setFlag("pause", true);
    const bool was = m_playing;
    m_playing = false;
    m_ticker.stop();
    if (!was)
        return;
    if (m_ready && !m_inFlight && m_jumps.empty() && !m_atEnd) {
        // Where the picture stopped, not where the last change event said it was.
        const double now = doubleProperty("time-pos", m_shownTime);
        if (std::isfinite(now)) {
            m_shownTime = now;
            m_time = clampTime(now);
        }
    }
    emit tick(m_time);
}

void MpvPlayer::setVolume(double volume)
{
    if (!std::isfinite(volume))
        return;
    m_volume = std::clamp(volume, 0.0, 1.0) * 100.0;
    if (m_mpv)
        setDouble("volume", *m_volume);
}

void MpvPlayer::setMuted(bool muted)
{
    m_muted = muted;
    if (m_mpv)
        setFlag("mute", muted);
}

void MpvPlayer::seek(double seconds)
{
    if (!hasFile())
        return;
    // An absolute target makes every jump still waiting pointless.
    m_jumps.clear();
    const double target = clampTime(std::isfinite(seconds) ? seconds : 0.0);
    m_jumps.push_back({JumpKind::seek, target, 0});
    m_time = target;
    m_atEnd = false;
    runJumps();
}

void MpvPlayer::step(int frames)
{
    if (!hasFile())
        return;
    pause();
    if (frames == 0)
        return;
    m_atEnd = false;
    if (frames > 0)
        queueStep(JumpKind::stepForward, frames);
    else
        queueStep(JumpKind::stepBack, -frames);
    runJumps();
}

Result<QImage> MpvPlayer::frameImage()
{
    if (!m_mpv || !hasFile())
        return Failure{QStringLiteral("No video is loaded.")};
    if (!m_ready)
        return Failure{QStringLiteral("The video is still loading.")};
    if (!m_facts.hasVideo)
        return Failure{QStringLiteral("“%1” has no picture.").arg(QFileInfo(m_path).fileName())};

    const char *arguments[] = {"screenshot-raw", "video", nullptr};
    mpv_node shot;
    const int status = mpv_command_ret(m_mpv, arguments, &shot);
    if (status < 0)
        return Failure{QStringLiteral("The frame could not be captured (%1).").arg(mpv_error_string(status))};

    const qint64 width = mapInt(shot, "w");
    const qint64 height = mapInt(shot, "h");
    const qint64 stride = mapInt(shot, "stride");
    const mpv_node *format = mapValue(shot, "format");
    const mpv_node *data = mapValue(shot, "data");
    QImage::Format imageFormat = QImage::Format_Invalid;
    if (format && format->format == MPV_FORMAT_STRING) {
        const QByteArray name(format->u.string);
        if (name == "bgr0")
            imageFormat = QImage::Format_RGB32;
        else if (name == "bgra")
            imageFormat = QImage::Format_ARGB32;
        else if (name == "rgb0")
            imageFormat = QImage::Format_RGBX8888;
        else if (name == "rgba")
            imageFormat = QImage::Format_RGBA8888;
    }
    const bool usable = imageFormat != QImage::Format_Invalid && width > 0 && height > 0 && width <= 32768 &&
                        height <= 32768 && stride >= width * 4 && data &&
                        data->format == MPV_FORMAT_BYTE_ARRAY && data->u.ba &&
                        qint64(data->u.ba->size) >= stride * height;
    QImage image;
    if (usable) {
        image = QImage(int(width), int(height), imageFormat);
        const auto *bytes = static_cast<const uchar *>(data->u.ba->data);
        for (int row = 0; row < image.height(); ++row)
            std::memcpy(image.scanLine(row), bytes + row * stride, size_t(width) * 4);
    }
    mpv_free_node_contents(&shot);
    if (image.isNull())
        return Failure{QStringLiteral("The frame could not be captured.")};

    // mpv hands the frame turned as shown; should it come as stored, turn it here.
    const QSize shown = m_facts.displaySize().toSize();
    if (m_facts.rotation % 180 == 90 && shown.width() != shown.height() && image.size() == shown.transposed())
        image = image.transformed(QTransform().rotate(m_facts.rotation));
    return image;
}

void MpvPlayer::resetFileState()
{
    m_entryId = 0;
    m_started = false;
    m_ready = false;
    m_failed = false;
    m_facts = {};
    m_playing = false;
    m_atEnd = false;
    m_time = 0;
    m_shownTime = -1;
    m_forwardSteps = 0;
    m_jumps.clear();
    m_inFlight.reset();
    m_ticker.stop();
    m_watchdog.stop();
}

void MpvPlayer::failLater(const QString &message)
{
    m_failed = true;
    QTimer::singleShot(0, this, [this, generation = m_generation, message] {
        if (generation == m_generation)
            emit failed(message);
    });
}

void MpvPlayer::failWithReason(int error)
{
    m_failed = true;
    // Whether the file is still there is the disk's to say, and a pulled card may not answer.
    m_checks.run(
        [path = m_path, before = m_options.beforeFileAccess] {
            if (before)
                before(path);
            return QFileInfo::exists(path);
        },
        [this, generation = m_generation, error](bool exists) {
            if (generation != m_generation)
                return;
            const QString name = QFileInfo(m_path).fileName();
            if (!exists)
                return emit failed(QStringLiteral("The file “%1” does not exist.").arg(name));
            const char *reason = error < 0 ? mpv_error_string(error) : "no audio or video data played";
            emit failed(QStringLiteral("The file “%1” could not be played: %2.")
                            .arg(name, QString::fromUtf8(reason)));
        });
}

double MpvPlayer::clampTime(double seconds) const
{
    double time = std::isfinite(seconds) ? std::max(seconds, 0.0) : 0.0;
    if (m_ready && m_facts.duration > 0)
        time = std::min(time, m_facts.duration);
    return time;
}

// Synchronous on purpose: mpv may reorder asynchronous requests, and a pause must land before a step.
void MpvPlayer::command(std::initializer_list<const char *> arguments)
{
    std::vector<const char *> list(arguments);
    list.push_back(nullptr);
    if (const int status = mpv_command(m_mpv, list.data()); status < 0)
        qCDebug(logPlayer) << "mpv refused the command" << *arguments.begin() << ":"
                           << mpv_error_string(status);
}

void MpvPlayer::setFlag(const char *name, bool value)
{
    int flag = value ? 1 : 0;
    if (const int status = mpv_set_property(m_mpv, name, MPV_FORMAT_FLAG, &flag); status < 0)
        qCWarning(logPlayer) << "mpv refused the property" << name << "=" << value << ":"
                             << mpv_error_string(status);
}

void MpvPlayer::setDouble(const char *name, double value)
{
    if (const int status = mpv_set_property(m_mpv, name, MPV_FORMAT_DOUBLE, &value); status < 0)
        qCWarning(logPlayer) << "mpv refused the property" << name << "=" << value << ":"
                             << mpv_error_string(status);
}

double MpvPlayer::doubleProperty(const char *name, double fallback) const
{
    double value = fallback;
    if (!m_mpv || mpv_get_property(m_mpv, name, MPV_FORMAT_DOUBLE, &value) < 0)
        return fallback;
    return value;
}

qint64 MpvPlayer::intProperty(const char *name, qint64 fallback) const
{
    int64_t value = fallback;
    if (!m_mpv || mpv_get_property(m_mpv, name, MPV_FORMAT_INT64, &value) < 0)
        return fallback;
    return value;
}

bool MpvPlayer::flagProperty(const char *name) const
{
    int value = 0;
    if (!m_mpv || mpv_get_property(m_mpv, name, MPV_FORMAT_FLAG, &value) < 0)
        return false;
    return value != 0;
}
