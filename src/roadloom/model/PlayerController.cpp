#include "roadloom/model/PlayerController.h"
#include "roadloom/model/Observed.h"

#include "platform/BackgroundThread.h"
#include "platform/LogCategories.h"
#include "roadloom/model/OffThread.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <concepts>
#include <cstring>

const QString PlayerController::noFilesMessage =
    QStringLiteral("The original files of this recording were moved or deleted, and no cached copy exists.");
const QString PlayerController::noPlayableFileMessage = QStringLiteral("The file doesn’t exist.");
const QString PlayerController::noFrameMessage =
    QStringLiteral("The file couldn’t be opened because there is no such file.");

namespace {

// Queue order inside the controller's pool: the video the user waits for before the telemetry.
constexpr int sourcesPriority = 2;
constexpr int telemetryPriority = 1;
// Values without an equality count as changed unless both are known to be the empty value.
template <class T> bool sameValue(const T &a, const T &b, bool bothEmpty)
{
    if constexpr (std::equality_comparable<T>)
        return a == b;
    else
        return bothEmpty;
}

} // namespace

PlayerController::PlayerController(const PlayerFactory &players, PlayerServices services, QObject *parent)
    : QObject(parent), m_services(std::move(services)), m_front(players(PlayerRole::master)),
      m_rear(players(PlayerRole::follower))
{
    // Superseded loads are never cancelled, so a few may still be converting beside the current one.
    m_pool.setMaxThreadCount(6);
    m_utilityPool.setMaxThreadCount(2);
    m_rear->setMuted(true);
    connect(m_front.get(), &VideoPlayer::tick, this, &PlayerController::tick);
    connect(m_front.get(), &VideoPlayer::ended, this, &PlayerController::didFinish);
    connect(m_front.get(), &VideoPlayer::ready, this, &PlayerController::masterReady);
    connect(m_front.get(), &VideoPlayer::failed, this, &PlayerController::masterFailed);
    for (VideoPlayer *player : {m_front.get(), m_rear.get()}) {
        connect(player, &VideoPlayer::ready, this, &PlayerController::startWhenAligned);
        connect(player, &VideoPlayer::tick, this, &PlayerController::startWhenAligned);
        connect(player, &VideoPlayer::failed, this, &PlayerController::startWhenAligned);
    }
    m_startWait.setSingleShot(true);
    m_startWait.setInterval(startWaitMs);
    connect(&m_startWait, &QTimer::timeout, this, &PlayerController::startPlayers);
}

PlayerController::~PlayerController()
{
    // The players go first so that none of their signals reaches a half-destroyed controller.
    disconnect(m_front.get(), nullptr, this, nullptr);
    m_front.reset();
    m_rear.reset();
}

// Loading

QString PlayerController::unreadableMessage(const QString &path, int error)
{
    return QStringLiteral("The file “%1” can’t be read: %2.")
        .arg(QFileInfo(path).fileName(), QString::fromLocal8Bit(std::strerror(error)));
}

std::optional<QString> PlayerController::unreadableFile(const ChannelFiles &files,
                                                        const PlayerServices &services)
{
    if (!services.openError)
        return std::nullopt;
    for (const auto &[channel, path] : files) {
        const int error = services.openError(path);
        // Absent is the moved-or-deleted case; anything else (permissions, a failing card) is the file's.
        if (error != 0 && error != ENOENT && error != ENOTDIR)
            return unreadableMessage(path, error);
    }
    return std::nullopt;
}

void PlayerController::load(const std::optional<DashClip> &clip, bool autoplay)
{
    const quint64 load = ++m_loadID;
    m_pending = {};
    cancelStart();
    m_front->pause();
    m_rear->pause();
    setIsPlaying(false);
    m_front->clear();
    m_rear->clear();

    // Loading from the first moment, while the media cache still resolves the recording: no view may take
    // the new recording for playable and show its date at the start before its file is there.
    if (clip)
        setIsLoading(true);
    setClip(clip);
    setSources({});
    setHasRear(false);
    setTelemetry(Telemetry::empty(), true);
    setMediaInfo({});
    setLoadError(std::nullopt);
    setCurrentTime(0);
    setDuration(0);
    setZoom(1);

    if (!clip) {
        // An older load may have raised these and stops at its next step without lowering them.
        setIsLoading(false);
        setIsLoadingTelemetry(false);
        return;
    }
    OffThread::run(
        m_pool, this,
        [services = m_services, clip = *clip] {
            Resolution resolution{services.resolve(clip), std::nullopt};
            if (resolution.clip.files.empty())
                resolution.unreadable = unreadableFile(resolution.clip.originalFiles, services);
            return resolution;
        },
        [this, load, autoplay](const Resolution &resolution) {
            if (load == m_loadID)
                resolved(load, resolution, autoplay);
        },
        sourcesPriority);
}

void PlayerController::resolved(quint64 load, const Resolution &resolution, bool autoplay)
{
    const DashClip &clip = resolution.clip;
    setClip(clip);
    if (clip.files.empty()) {
        setLoadError(resolution.unreadable.value_or(noFilesMessage));
        setIsLoading(false);
        setIsLoadingTelemetry(false);
        return;
    }
    setIsLoadingTelemetry(true);

    const ChannelFiles files = clip.files;
    OffThread::run(
        m_pool, this, [read = m_services.readTelemetry, files] { return read(files); },
        [this, load](const Telemetry &value) {
            if (load != m_loadID)
                return;
            m_pending.telemetry = value;
            applyArrivals();
        },
        telemetryPriority);
    OffThread::run(
        m_utilityPool, this,
        [inspect = m_services.inspect, files] {
            // Media facts are shown last and only in the inspector; their reads yield to the rest. A pool
            // thread here only ever runs inspections, so it may stay lowered.
            BackgroundThread::lowerCurrentPriority();
            ChannelMediaInfo info;
            for (const auto &[channel, path] : files)
                info[channel] = inspect(path);
            return info;
        },
        [this, load](const ChannelMediaInfo &value) {
            if (load != m_loadID)
                return;
            m_pending.mediaInfo = value;
            applyArrivals();
        });
    OffThread::run(
        m_pool, this, [services = m_services, clip] { return playableSources(clip, services); },
        [this, load, autoplay](const Result<ChannelFiles> &value) {
            if (load != m_loadID)
                return;
            placeSources(value, autoplay);
        },
        sourcesPriority);
}

Result<ChannelFiles> PlayerController::playableSources(const DashClip &clip, const PlayerServices &services)
{
    if (const std::optional<QString> unreadable = unreadableFile(clip.files, services))
        return Failure{*unreadable};
    if (!clip.isAVI())
        return ChannelFiles(clip.files);
    ChannelFiles result;
    if (const auto front = clip.files.find(Channel::front); front != clip.files.end()) {
        const int count = services.videoStreamCount(front->second).value_or(1);
        const Result<QStringList> movies = services.convert(front->second, count);
        if (!movies)
            return movies.failure();
        // Some cameras record two cameras into one file, one video stream each.
        if (!movies->isEmpty())
            result[Channel::front] = movies->at(0);
        if (movies->size() > 1)
            result[Channel::rear] = movies->at(1);
    }
    for (const Channel channel : {Channel::rear, Channel::interior}) {
        const auto file = clip.files.find(channel);
        if (result.count(channel) || file == clip.files.end())
            continue;
        const Result<QStringList> movies = services.convert(file->second, 1);
        if (!movies)
            return movies.failure();
        if (!movies->isEmpty())
            result[channel] = movies->at(0);
    }
    return result;
}

void PlayerController::placeSources(const Result<ChannelFiles> &sources, bool autoplay)
{
    if (!sources) {
        videoFailed(sources.error());
        return;
    }
    setSources(*sources);
    QStringList playable;
    for (const Channel channel : allChannels) {
        if (const auto it = sources->find(channel); it != sources->end())
            playable.append(it->second);
    }
    if (playable.isEmpty()) {
        videoFailed(noPlayableFileMessage);
        return;
    }
    m_pending.awaitingMaster = true;
    m_pending.autoplay = autoplay;
    m_front->load(playable.at(0));
    // A third file (interior beside front and rear) is only inspected and read for telemetry.
    if (playable.size() > 1) {
        m_rear->load(playable.at(1));
        setHasRear(true);
    }
    m_front->setVolume(m_volume);
    m_front->setMuted(m_isMuted);
}

void PlayerController::masterReady(const VideoFacts &facts)
{
    if (!m_pending.awaitingMaster)
        return;
    m_pending.awaitingMaster = false;
    setDuration(facts.duration);
    // A file without a picture keeps the previous shape and rate.
    if (facts.hasVideo) {
        const double aspect = facts.aspectRatio();
        if (aspect > 0)
            setAspectRatio(aspect);
        if (facts.frameRate > 0)
            setFrameRate(facts.frameRate);
    }
    setIsLoading(false);
    if (m_pending.autoplay)
        play();
    m_pending.videoSettled = true;
    applyArrivals();
}

void PlayerController::masterFailed(const QString &message)
{
    if (!m_pending.awaitingMaster)
        return;
    m_pending.awaitingMaster = false;
    videoFailed(message);
}

void PlayerController::videoFailed(const QString &message)
{
    // Whatever was placed already (sources, items, the second channel) stays.
    setLoadError(message);
    setIsLoading(false);
    m_pending.videoSettled = true;
    applyArrivals();
}

void PlayerController::applyArrivals()
{
    // The video first, then the telemetry, then the media facts, whatever order they arrive in.
    if (!m_pending.videoSettled)
        return;
    if (!m_pending.telemetryApplied && m_pending.telemetry) {
        m_pending.telemetryApplied = true;
        setTelemetry(*m_pending.telemetry, false);
        m_pending.telemetry.reset();
        setIsLoadingTelemetry(false);
    }
    if (m_pending.telemetryApplied && m_pending.mediaInfo) {
        setMediaInfo(*m_pending.mediaInfo);
        m_pending.mediaInfo.reset();
    }
}

// Transport

void PlayerController::play()
{
    if (!m_front->hasFile())
        return;
    if (m_duration > 0 && m_currentTime >= m_duration - endMargin)
        seek(0);
    // A follower that shows the master's frame already is left there: an exact seek decodes from the last
    // key frame, and a follower started while it does begins late, drifts and is seeked again.
    const double halfFrame = 0.5 / (m_frameRate > 0 ? m_frameRate : 30.0);
    if (m_hasRear && std::abs(m_rear->currentTime() - m_front->currentTime()) > halfFrame)
        m_rear->seek(m_front->currentTime());
    setIsPlaying(true);
    m_startPending = true;
    startWhenAligned();
}

void PlayerController::startWhenAligned()
{
    if (!m_startPending)
        return;
    // Both start from the frame they show, once both show it; a channel still opening or seeking holds
    // the start back, for a while.
    if (m_hasRear && (m_front->isSettling() || m_rear->isSettling())) {
        if (!m_startWait.isActive())
            m_startWait.start();
        return;
    }
    startPlayers();
}

void PlayerController::startPlayers()
{
    if (!m_startPending)
        return;
    cancelStart();
    m_front->play(m_rate);
    if (m_hasRear)
        m_rear->play(m_rate);
}

void PlayerController::cancelStart()
{
    m_startPending = false;
    m_startWait.stop();
}

void PlayerController::togglePlay()
{
    if (!m_isPlaying) {
        play();
        return;
    }
    cancelStart();
    m_front->pause();
    m_rear->pause();
    setIsPlaying(false);
}

void PlayerController::seek(double seconds)
{
    const double wanted = std::isnan(seconds) ? 0.0 : seconds;
    const double clamped = std::min(std::max(wanted, 0.0), std::max(m_duration, 0.0));
    setCurrentTime(clamped);
    const double target = std::round(clamped * seekTimescale) / seekTimescale;
    m_front->seek(target);
    if (m_hasRear)
        m_rear->seek(target);
    startWhenAligned();
}

void PlayerController::step(int frames)
{
    cancelStart();
    m_front->pause();
    m_rear->pause();
    setIsPlaying(false);
    m_front->step(frames);
    if (m_hasRear)
        m_rear->step(frames);
}

void PlayerController::tick(double time)
{
    if (!std::isfinite(time))
        return;
    setCurrentTime(time);
    if (!m_hasRear || !m_isPlaying || m_startPending)
        return;
    if (std::abs(m_rear->currentTime() - time) > driftThreshold)
        m_rear->seek(m_front->currentTime());
}

void PlayerController::didFinish()
{
    cancelStart();
    setIsPlaying(false);
    // The follower may run a little longer than the master; it stops with it.
    m_rear->pause();
    if (onFinished)
        onFinished();
}

void PlayerController::setRate(double rate)
{
    if (!setObserved(this, m_rate, rate, &PlayerController::rateChanged) || !m_isPlaying)
        return;
    m_front->setRate(rate);
    if (m_hasRear)
        m_rear->setRate(rate);
}

void PlayerController::setVolume(double volume)
{
    // Applied on every assignment: a load places a new file with the player's defaults.
    m_front->setVolume(volume);
    setObserved(this, m_volume, volume, &PlayerController::volumeChanged);
}

void PlayerController::setMuted(bool muted)
{
    m_front->setMuted(muted);
    setObserved(this, m_isMuted, muted, &PlayerController::isMutedChanged);
}

// View state and frames

void PlayerController::zoomIn()
{
    setZoom(std::min(m_zoom * zoomStep, maximumZoom));
}

void PlayerController::zoomOut()
{
    setZoom(std::max(m_zoom / zoomStep, minimumZoom));
}

void PlayerController::resetView()
{
    setZoom(1);
    setRotation(0);
    setMirrored(false);
}

Result<QImage> PlayerController::frameImage(VideoPlayer &player) const
{
    if (!player.hasFile())
        return Failure{noFrameMessage};
    return player.frameImage();
}

void PlayerController::setZoom(double zoom)
{
    setObserved(this, m_zoom, zoom, &PlayerController::zoomChanged);
    if (zoom <= 1)
        setPan(QSizeF(0, 0));
}

void PlayerController::setPan(const QSizeF &pan)
{
    setObserved(this, m_pan, pan, &PlayerController::panChanged);
}

void PlayerController::setSwapped(bool swapped)
{
    setObserved(this, m_swapped, swapped, &PlayerController::swappedChanged);
}

void PlayerController::setShowPiP(bool show)
{
    setObserved(this, m_showPiP, show, &PlayerController::showPiPChanged);
}

void PlayerController::setRotation(double degrees)
{
    setObserved(this, m_rotation, degrees, &PlayerController::rotationChanged);
}

void PlayerController::setMirrored(bool mirrored)
{
    setObserved(this, m_mirrored, mirrored, &PlayerController::mirroredChanged);
}

// Published state

void PlayerController::setCurrentTime(double seconds)
{
    setObserved(this, m_currentTime, seconds, &PlayerController::currentTimeChanged);
}

void PlayerController::setClip(const std::optional<DashClip> &clip)
{
    if (!setObserved(this, m_clip, clip, &PlayerController::clipChanged))
        return;
    updateHasMedia();
}

void PlayerController::setCacheState(const QString &clipID, const std::set<Channel> &cachedChannels,
                                     const std::map<Channel, StorageState> &channelStates)
{
    if (!m_clip || m_clip->id != clipID)
        return;
    DashClip clip = *m_clip;
    clip.cachedChannels = cachedChannels;
    clip.channelStates = channelStates;
    setClip(clip);
}

void PlayerController::setSources(const ChannelFiles &sources)
{
    setObserved(this, m_sources, sources, &PlayerController::sourcesChanged);
}

void PlayerController::setHasRear(bool hasRear)
{
    setObserved(this, m_hasRear, hasRear, &PlayerController::hasRearChanged);
}

void PlayerController::setTelemetry(const Telemetry &telemetry, bool blank)
{
    const bool same = sameValue(telemetry, m_telemetry, blank && m_telemetryBlank);
    m_telemetry = telemetry;
    m_telemetryBlank = blank;
    if (!same)
        emit telemetryChanged(m_telemetry);
}

void PlayerController::setMediaInfo(const ChannelMediaInfo &mediaInfo)
{
    const bool same = std::equal(mediaInfo.begin(), mediaInfo.end(), m_mediaInfo.begin(), m_mediaInfo.end(),
                                 [](const auto &a, const auto &b) {
                                     return a.first == b.first && sameValue(a.second, b.second, false);
                                 });
    m_mediaInfo = mediaInfo;
    if (!same)
        emit mediaInfoChanged(m_mediaInfo);
}

void PlayerController::setIsLoading(bool loading)
{
    if (!setObserved(this, m_isLoading, loading, &PlayerController::isLoadingChanged))
        return;
    updateHasMedia();
}

void PlayerController::setIsLoadingTelemetry(bool loading)
{
    setObserved(this, m_isLoadingTelemetry, loading, &PlayerController::isLoadingTelemetryChanged);
}

void PlayerController::setLoadError(const std::optional<QString> &error)
{
    if (!setObserved(this, m_loadError, error, &PlayerController::loadErrorChanged))
        return;
    updateHasMedia();
}

void PlayerController::setDuration(double duration)
{
    setObserved(this, m_duration, duration, &PlayerController::durationChanged);
}

void PlayerController::setIsPlaying(bool playing)
{
    setObserved(this, m_isPlaying, playing, &PlayerController::isPlayingChanged);
}

void PlayerController::setFrameRate(double frameRate)
{
    setObserved(this, m_frameRate, frameRate, &PlayerController::frameRateChanged);
}

void PlayerController::setAspectRatio(double aspectRatio)
{
    setObserved(this, m_aspectRatio, aspectRatio, &PlayerController::aspectRatioChanged);
}

void PlayerController::updateHasMedia()
{
    const bool has = hasMedia();
    setObserved(this, m_hasMedia, has, &PlayerController::hasMediaChanged);
}
