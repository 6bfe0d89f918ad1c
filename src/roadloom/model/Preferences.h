#pragma once

#include "roadcore/CachePolicy.h"
#include "roadcore/Telemetry.h"
#include "roadloom/model/MapStyleChoice.h"

#include <QObject>
#include <QString>
#include <QStringList>

class Defaults;

// The stored preferences, typed. Each property follows the user defaults whoever writes them (this
// object, another window, another thread): its signal carries the new value, on the GUI thread, and only
// when the typed value changed. Setters write the defaults; the signal follows from there.
class Preferences : public QObject {
    Q_OBJECT
    Q_PROPERTY(SpeedUnit speedUnit READ speedUnit WRITE setSpeedUnit NOTIFY speedUnitChanged)
    Q_PROPERTY(bool autoPlayNext READ autoPlayNext WRITE setAutoPlayNext NOTIFY autoPlayNextChanged)
    Q_PROPERTY(
        QString snapshotFolder READ snapshotFolder WRITE setSnapshotFolder NOTIFY snapshotFolderChanged)
    Q_PROPERTY(MapStyleChoice mapStyle READ mapStyle WRITE setMapStyle NOTIFY mapStyleChanged)
    Q_PROPERTY(QString ffmpegPath READ ffmpegPath WRITE setFfmpegPath NOTIFY ffmpegPathChanged)
    Q_PROPERTY(CachePolicy cachePolicy READ cachePolicy WRITE setCachePolicy NOTIFY cachePolicyChanged)
    Q_PROPERTY(QStringList libraryFolders READ libraryFolders NOTIFY libraryFoldersChanged)
    Q_PROPERTY(double deckHeight READ deckHeight WRITE setDeckHeight NOTIFY deckHeightChanged)
    Q_PROPERTY(QString mapTileURL READ mapTileURL WRITE setMapTileURL NOTIFY mapTileURLChanged)
    Q_PROPERTY(QString mapSatelliteTileURL READ mapSatelliteTileURL WRITE setMapSatelliteTileURL NOTIFY
                   mapSatelliteTileURLChanged)
    Q_PROPERTY(QString mapLabelsTileURL READ mapLabelsTileURL WRITE setMapLabelsTileURL NOTIFY
                   mapLabelsTileURLChanged)

public:
    // The keys in the user defaults.
    struct Keys {
        static inline const QString speedUnit = QStringLiteral("speedUnit");
        static inline const QString autoPlayNext = QStringLiteral("autoPlayNext");
        static inline const QString snapshotFolder = QStringLiteral("snapshotFolder");
        static inline const QString mapStyle = QStringLiteral("mapStyle");
        static inline const QString ffmpegPath = QStringLiteral("ffmpegPath");
        static inline const QString cachePolicy = QStringLiteral("cachePolicy");
        static inline const QString libraryFolders = QStringLiteral("libraryFolders");
        static inline const QString deckHeight = QStringLiteral("deckHeight");
        static inline const QString mapTileURL = QStringLiteral("mapTileURL");
        static inline const QString mapSatelliteTileURL = QStringLiteral("mapSatelliteTileURL");
        static inline const QString mapLabelsTileURL = QStringLiteral("mapLabelsTileURL");
    };

    static constexpr double defaultDeckHeight = 260;
    // Tile sources used while their key is unset or empty; {z}, {x} and {y} stand for the tile.
    static inline const QString defaultMapTileURL =
        QStringLiteral("https://tile.openstreetmap.org/{z}/{x}/{y}.png");
    // No satellite or label source is built in: without one, Satellite and Hybrid draw the street map.
    static inline const QString defaultMapSatelliteTileURL;
    static inline const QString defaultMapLabelsTileURL;

    // Lives on the thread that creates it (the GUI thread); `defaults` must outlive it.
    explicit Preferences(Defaults &defaults, QObject *parent = nullptr);

    // "mph" reads mph, anything else km/h.
    SpeedUnit speedUnit() const { return m_speedUnit; }
    bool autoPlayNext() const { return m_autoPlayNext; }
    QString snapshotFolder() const { return m_snapshotFolder; }
    // An unknown raw value reads standard.
    MapStyleChoice mapStyle() const { return m_mapStyle; }
    // Empty: search the usual places.
    QString ffmpegPath() const { return m_ffmpegPath; }
    // "important" and "off" exactly, anything else all.
    CachePolicy cachePolicy() const { return m_cachePolicy; }
    // Written by the library store.
    QStringList libraryFolders() const { return m_libraryFolders; }
    // Points; a stored value that is not a finite positive number reads 260.
    double deckHeight() const { return m_deckHeight; }
    QString mapTileURL() const { return m_mapTileURL; }
    QString mapSatelliteTileURL() const { return m_mapSatelliteTileURL; }
    QString mapLabelsTileURL() const { return m_mapLabelsTileURL; }

    void setSpeedUnit(SpeedUnit unit);
    void setAutoPlayNext(bool on);
    void setSnapshotFolder(const QString &path);
    void setMapStyle(MapStyleChoice style);
    void setFfmpegPath(const QString &path);
    void setCachePolicy(CachePolicy policy);
    // A height that is not a finite positive number is not stored.
    void setDeckHeight(double height);
    // An empty URL goes back to the default source.
    void setMapTileURL(const QString &url);
    void setMapSatelliteTileURL(const QString &url);
    void setMapLabelsTileURL(const QString &url);

signals:
    void speedUnitChanged(SpeedUnit unit);
    void autoPlayNextChanged(bool on);
    void snapshotFolderChanged(const QString &path);
    void mapStyleChanged(MapStyleChoice style);
    void ffmpegPathChanged(const QString &path);
    void cachePolicyChanged(CachePolicy policy);
    void libraryFoldersChanged(const QStringList &folders);
    void deckHeightChanged(double height);
    void mapTileURLChanged(const QString &url);
    void mapSatelliteTileURLChanged(const QString &url);
    void mapLabelsTileURLChanged(const QString &url);

private:
    // Reads one key again and announces its typed value when it changed; all keys for an empty key.
    void reload(const QString &key);
    QString tileURL(const QString &key, const QString &fallback) const;

    Defaults &m_defaults;
    SpeedUnit m_speedUnit = SpeedUnit::kmh;
    bool m_autoPlayNext = true;
    QString m_snapshotFolder;
    MapStyleChoice m_mapStyle = MapStyleChoice::standard;
    QString m_ffmpegPath;
    CachePolicy m_cachePolicy = CachePolicy::all;
    QStringList m_libraryFolders;
    double m_deckHeight = defaultDeckHeight;
    QString m_mapTileURL;
    QString m_mapSatelliteTileURL;
    QString m_mapLabelsTileURL;
};
