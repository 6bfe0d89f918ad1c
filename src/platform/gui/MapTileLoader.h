#pragma once

#include <QCache>
#include <QDeadlineTimer>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>

#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;

// One layer of a map style: tiles from a URL template with {z}, {x} and {y}.
struct MapLayer {
    QString urlTemplate;
    int maxZoom = 19; // deeper levels scale this level's tiles
    QString attribution;
    friend bool operator==(const MapLayer &, const MapLayer &) = default;
};

// Fetches and decodes the map tiles a view shows: at most two requests at a time, only the tiles asked for
// now (a request for a tile no longer wanted is aborted), through the network's disk cache. A failed tile
// is asked once more from the cache alone and then rests before it is tried again. Decoded tiles are kept
// in a memory cache of limited size, least recently used first out.
class MapTileLoader : public QObject {
    Q_OBJECT
public:
    static constexpr int maxInFlight = 2;
    static constexpr qint64 diskCacheBytes = 200ll * 1024 * 1024;
    static constexpr int memoryCacheKilobytes = 40 * 1024;

    explicit MapTileLoader(QObject *parent = nullptr);
    ~MapTileLoader() override;

    // The application's access manager, with its disk cache in the map tile folder; created on first use.
    static QNetworkAccessManager *standardNetwork();
    // Replaces the standard access manager for loaders made afterwards (none: back to the application's).
    static void setStandardNetwork(QNetworkAccessManager *network);
    static QString userAgent();

    // The URL of one tile; x is taken modulo the tiles of the level.
    static QString tileURL(const QString &urlTemplate, int z, int x, int y);
    // An http(s) address with a host and all of {z}, {x} and {y}.
    static bool isUsableTemplate(const QString &urlTemplate);

    // The tiles wanted now, the most important first; replaces the previous wish.
    void want(const QStringList &urls);
    // A decoded tile, or null while it is not loaded. Marks it as recently used.
    const QImage *tile(const QString &url) const;
    // A decoded tile without touching its place in the memory cache.
    bool has(const QString &url) const { return m_images.contains(url); }

    int inFlight() const { return int(m_replies.size()); }
    void setRestDuration(std::chrono::milliseconds rest) { m_rest = rest; }

signals:
    void tileReady(const QString &url);

private:
    void pump();
    void start(const QString &url, int attempt);
    void finished(QNetworkReply *reply, const QString &url, int attempt);
    void failed(const QString &url);
    void decoded(const QString &url, const QImage &image);

    QPointer<QNetworkAccessManager> m_network;
    QStringList m_wanted;
    QSet<QString> m_wantedSet;
    QHash<QString, QNetworkReply *> m_replies;
    QSet<QString> m_decoding;
    QHash<QString, QDeadlineTimer> m_resting;
    mutable QCache<QString, QImage> m_images;
    std::chrono::milliseconds m_rest{30000};
    QTimer m_restTimer;
    QThreadPool m_decodePool; // last: waits for decodes before the rest goes
};
