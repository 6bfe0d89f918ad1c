#pragma once

#include "platform/Result.h"
#include "platform/gui/VideoPlayer.h"
#include "roadcore/DashClip.h"
#include "roadloom/model/PlayerServices.h"

#include <QFuture>
#include <QImage>
#include <QObject>
#include <QSizeF>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

// Which of the two players a factory makes: the master plays the first available channel with its sound
// and drives the playhead; the follower plays the second, silent.
enum class PlayerRole { master, follower };
using PlayerFactory = std::function<std::unique_ptr<VideoPlayer>(PlayerRole role)>;

// The playback engine: two players showing up to two channels of one recording in sync, and everything the
// player views read about it (files, telemetry, media facts, load progress and errors, the playhead, the
// view settings of the video stage). Lives on the GUI thread; its work on files runs on its own threads.
class PlayerController : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<DashClip> clip READ clip NOTIFY clipChanged)
    Q_PROPERTY(ChannelFiles sources READ sources NOTIFY sourcesChanged)
    Q_PROPERTY(bool hasRear READ hasRear NOTIFY hasRearChanged)
    Q_PROPERTY(Telemetry telemetry READ telemetry NOTIFY telemetryChanged)
    Q_PROPERTY(ChannelMediaInfo mediaInfo READ mediaInfo NOTIFY mediaInfoChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(bool isLoadingTelemetry READ isLoadingTelemetry NOTIFY isLoadingTelemetryChanged)
    Q_PROPERTY(std::optional<QString> loadError READ loadError NOTIFY loadErrorChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(double frameRate READ frameRate NOTIFY frameRateChanged)
    Q_PROPERTY(double aspectRatio READ aspectRatio NOTIFY aspectRatioChanged)
    Q_PROPERTY(double currentTime READ currentTime WRITE setCurrentTime NOTIFY currentTimeChanged)
    Q_PROPERTY(double rate READ rate WRITE setRate NOTIFY rateChanged)
    Q_PROPERTY(double volume READ volume WRITE setVolume NOTIFY volumeChanged)
    Q_PROPERTY(bool isMuted READ isMuted WRITE setMuted NOTIFY isMutedChanged)
    Q_PROPERTY(bool swapped READ swapped WRITE setSwapped NOTIFY swappedChanged)
    Q_PROPERTY(bool showPiP READ showPiP WRITE setShowPiP NOTIFY showPiPChanged)
    Q_PROPERTY(double zoom READ zoom WRITE setZoom NOTIFY zoomChanged)
    Q_PROPERTY(QSizeF pan READ pan WRITE setPan NOTIFY panChanged)
    Q_PROPERTY(double rotation READ rotation WRITE setRotation NOTIFY rotationChanged)
    Q_PROPERTY(bool mirrored READ mirrored WRITE setMirrored NOTIFY mirroredChanged)
    Q_PROPERTY(bool hasMedia READ hasMedia NOTIFY hasMediaChanged)

public:
    static constexpr double driftThreshold = 0.15; // seconds the follower may be off while playing
    static constexpr double endMargin = 0.05;      // seconds before the end that count as the end
    static constexpr double seekTimescale = 600;   // seek targets are whole steps of 1/600 s
    static constexpr double zoomStep = 1.25;
    static constexpr double minimumZoom = 1.0;
    static constexpr double maximumZoom = 6.0;
    // The longest a start waits for both channels to show the same frame; then both play and the drift check
    // brings the follower in.
    static constexpr int startWaitMs = 1000;

    static const QString noFilesMessage;
    static const QString noPlayableFileMessage;
    static const QString noFrameMessage;
    // "The file “NAME” can’t be read: REASON." for a file that is there but does not open.
    static QString unreadableMessage(const QString &path, int error);
    // Why the first of these files that is there cannot be played, when one of them does not open; files
    // that are not there at all are left to the caller.
    static std::optional<QString> unreadableFile(const ChannelFiles &files, const PlayerServices &services);

    explicit PlayerController(const PlayerFactory &players, PlayerServices services,
                              QObject *parent = nullptr);
    ~PlayerController() override;

    VideoPlayer &front() const { return *m_front; }
    VideoPlayer &rear() const { return *m_rear; }

    // Called when the master plays to its end; not observed.
    std::function<void()> onFinished;

    // Replaces whatever is loaded by the recording, or unloads with nothing. Returns at once; the load goes
    // on in steps, and a newer load makes an older one stop at its next step without a trace.
    void load(const std::optional<DashClip> &clip, bool autoplay);
    // The per-channel files the players can open (AVI recordings are converted). Blocks.
    static Result<ChannelFiles> playableSources(const DashClip &clip, const PlayerServices &services);

    void play();
    void togglePlay();
    void seek(double seconds);
    void step(int frames);

    void zoomIn();
    void zoomOut();
    void resetView();

    // The frame the player shows now.
    Result<QImage> frameImage(VideoPlayer &player) const;

    const std::optional<DashClip> &clip() const { return m_clip; }
    const ChannelFiles &sources() const { return m_sources; }
    bool hasRear() const { return m_hasRear; }
    const Telemetry &telemetry() const { return m_telemetry; }
    const ChannelMediaInfo &mediaInfo() const { return m_mediaInfo; }
    bool isLoading() const { return m_isLoading; }
    bool isLoadingTelemetry() const { return m_isLoadingTelemetry; }
    // The loaded recording's telemetry has been read (an empty one counts), not just the blank of a new load.
    bool isTelemetryRead() const { return m_clip && !m_telemetryBlank; }
    const std::optional<QString> &loadError() const { return m_loadError; }
    double duration() const { return m_duration; }
    bool isPlaying() const { return m_isPlaying; }
    double frameRate() const { return m_frameRate; }
    double aspectRatio() const { return m_aspectRatio; }
    double currentTime() const { return m_currentTime; }
    double rate() const { return m_rate; }
    double volume() const { return m_volume; }
    bool isMuted() const { return m_isMuted; }
    bool swapped() const { return m_swapped; }
    bool showPiP() const { return m_showPiP; }
    double zoom() const { return m_zoom; }
    QSizeF pan() const { return m_pan; }
    double rotation() const { return m_rotation; }
    bool mirrored() const { return m_mirrored; }
    // A recording is loaded without error and its video is ready.
    bool hasMedia() const { return m_clip && !m_loadError && !m_isLoading; }

    // A copy into the media cache or its removal changed what is stored of the loaded recording: its cached
    // channels and channel states follow. Its files stay, they are what plays. Ignored for any other id.
    void setCacheState(const QString &clipID, const std::set<Channel> &cachedChannels,
                       const std::map<Channel, StorageState> &channelStates);
    // Moves only the published playhead; the players move through seek().
    void setCurrentTime(double seconds);
    void setRate(double rate);
    void setVolume(double volume);
    void setMuted(bool muted);
    void setSwapped(bool swapped);
    void setShowPiP(bool show);
    // Stored as given; a zoom of 1 or less clears the pan.
    void setZoom(double zoom);
    void setPan(const QSizeF &pan);
    void setRotation(double degrees);
    void setMirrored(bool mirrored);

signals:
    void clipChanged(const std::optional<DashClip> &clip);
    void sourcesChanged(const ChannelFiles &sources);
    void hasRearChanged(bool hasRear);
    void telemetryChanged(const Telemetry &telemetry);
    void mediaInfoChanged(const ChannelMediaInfo &mediaInfo);
    void isLoadingChanged(bool isLoading);
    void isLoadingTelemetryChanged(bool isLoadingTelemetry);
    void loadErrorChanged(const std::optional<QString> &loadError);
    void durationChanged(double duration);
    void isPlayingChanged(bool isPlaying);
    void frameRateChanged(double frameRate);
    void aspectRatioChanged(double aspectRatio);
    void currentTimeChanged(double currentTime);
    void rateChanged(double rate);
    void volumeChanged(double volume);
    void isMutedChanged(bool isMuted);
    void swappedChanged(bool swapped);
    void showPiPChanged(bool showPiP);
    void zoomChanged(double zoom);
    void panChanged(const QSizeF &pan);
    void rotationChanged(double rotation);
    void mirroredChanged(bool mirrored);
    void hasMediaChanged(bool hasMedia);

private:
    // What the current load still waits for; reset by every load.
    struct Pending {
        bool awaitingMaster = false;
        bool autoplay = false;
        bool videoSettled = false; // the master is ready or the video failed
        bool telemetryApplied = false;
        std::optional<Telemetry> telemetry;
        std::optional<ChannelMediaInfo> mediaInfo;
    };

    struct Resolution {
        DashClip clip;
        std::optional<QString> unreadable; // why none of its files is there, when it is not their absence
    };
    void resolved(quint64 load, const Resolution &resolution, bool autoplay);
    void placeSources(const Result<ChannelFiles> &sources, bool autoplay);
    void masterReady(const VideoFacts &facts);
    void masterFailed(const QString &message);
    void videoFailed(const QString &message);
    void applyArrivals();
    void tick(double time);
    void didFinish();
    void startWhenAligned();
    void startPlayers();
    void cancelStart();

    void setClip(const std::optional<DashClip> &clip);
    void setSources(const ChannelFiles &sources);
    void setHasRear(bool hasRear);
    void setTelemetry(const Telemetry &telemetry, bool blank);
    void setMediaInfo(const ChannelMediaInfo &mediaInfo);
    void setIsLoading(bool loading);
    void setIsLoadingTelemetry(bool loading);
    void setLoadError(const std::optional<QString> &error);
    void setDuration(double duration);
    void setIsPlaying(bool playing);
    void setFrameRate(double frameRate);
    void setAspectRatio(double aspectRatio);
    void updateHasMedia();

    PlayerServices m_services;
    QThreadPool m_pool;        // resolution, conversion and telemetry
    QThreadPool m_utilityPool; // media inspection, below the others
    std::unique_ptr<VideoPlayer> m_front;
    std::unique_ptr<VideoPlayer> m_rear;

    bool m_startPending = false; // playing, but the players wait until both show the same frame
    QTimer m_startWait;

    quint64 m_loadID = 0;
    Pending m_pending;

    std::optional<DashClip> m_clip;
    ChannelFiles m_sources;
    bool m_hasRear = false;
    Telemetry m_telemetry;
    bool m_telemetryBlank = true; // holds the empty value a load starts from
    ChannelMediaInfo m_mediaInfo;
    bool m_isLoading = false;
    bool m_isLoadingTelemetry = false;
    std::optional<QString> m_loadError;
    double m_duration = 0;
    bool m_isPlaying = false;
    double m_frameRate = 30.0;
    double m_aspectRatio = 16.0 / 9.0;
    double m_currentTime = 0;
    double m_rate = 1.0;
    double m_volume = 1.0;
    bool m_isMuted = false;
    bool m_swapped = false;
    bool m_showPiP = true;
    double m_zoom = 1.0;
    QSizeF m_pan{0, 0};
    double m_rotation = 0;
    bool m_mirrored = false;
    bool m_hasMedia = false;
};
