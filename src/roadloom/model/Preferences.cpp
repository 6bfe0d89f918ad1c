#include "roadloom/model/Preferences.h"

#include "platform/Defaults.h"

#include <cmath>

namespace {

// Stores a value and announces it when it differs from the one held.
template <typename T, typename Signal> void update(Preferences *owner, T &held, T value, Signal signal)
{
    if (held == value)
        return;
    held = std::move(value);
    emit(owner->*signal)(held);
}

} // namespace

Preferences::Preferences(Defaults &defaults, QObject *parent) : QObject(parent), m_defaults(defaults)
{
    // Writers on other threads reach the GUI thread through a queued call.
    connect(&m_defaults, &Defaults::changed, this, &Preferences::reload);
    const QSignalBlocker quiet(this);
    reload(QString());
}

void Preferences::reload(const QString &key)
{
    const bool all = key.isEmpty();
    if (all || key == Keys::speedUnit) {
        const auto unit = speedUnitFromRaw(m_defaults.string(Keys::speedUnit));
        update(this, m_speedUnit, unit == SpeedUnit::mph ? SpeedUnit::mph : SpeedUnit::kmh,
               &Preferences::speedUnitChanged);
    }
    if (all || key == Keys::autoPlayNext) {
        const QVariant stored = m_defaults.value(Keys::autoPlayNext);
        update(this, m_autoPlayNext, stored.isValid() ? stored.toBool() : true,
               &Preferences::autoPlayNextChanged);
    }
    if (all || key == Keys::snapshotFolder)
        update(this, m_snapshotFolder, m_defaults.string(Keys::snapshotFolder),
               &Preferences::snapshotFolderChanged);
    if (all || key == Keys::mapStyle) {
        update(this, m_mapStyle,
               mapStyleChoiceFromRaw(m_defaults.string(Keys::mapStyle)).value_or(MapStyleChoice::standard),
               &Preferences::mapStyleChanged);
    }
    if (all || key == Keys::ffmpegPath)
        update(this, m_ffmpegPath, m_defaults.string(Keys::ffmpegPath), &Preferences::ffmpegPathChanged);
    if (all || key == Keys::cachePolicy) {
        update(this, m_cachePolicy,
               cachePolicyFromRaw(m_defaults.string(Keys::cachePolicy)).value_or(CachePolicy::all),
               &Preferences::cachePolicyChanged);
    }
    if (all || key == Keys::libraryFolders) {
        update(this, m_libraryFolders, m_defaults.stringList(Keys::libraryFolders),
               &Preferences::libraryFoldersChanged);
    }
    if (all || key == Keys::deckHeight) {
        bool ok = false;
        const double stored = m_defaults.value(Keys::deckHeight).toDouble(&ok);
        const double height = ok && std::isfinite(stored) && stored > 0 ? stored : defaultDeckHeight;
        // Heights are compared exactly: a drag of the deck handle writes every step.
        update(this, m_deckHeight, height, &Preferences::deckHeightChanged);
    }
    if (all || key == Keys::mapTileURL)
        update(this, m_mapTileURL, tileURL(Keys::mapTileURL, defaultMapTileURL),
               &Preferences::mapTileURLChanged);
    if (all || key == Keys::mapSatelliteTileURL) {
        update(this, m_mapSatelliteTileURL, tileURL(Keys::mapSatelliteTileURL, defaultMapSatelliteTileURL),
               &Preferences::mapSatelliteTileURLChanged);
    }
    if (all || key == Keys::mapLabelsTileURL) {
        update(this, m_mapLabelsTileURL, tileURL(Keys::mapLabelsTileURL, defaultMapLabelsTileURL),
               &Preferences::mapLabelsTileURLChanged);
    }
}

QString Preferences::tileURL(const QString &key, const QString &fallback) const
{
    const QString stored = m_defaults.string(key).trimmed();
    return stored.isEmpty() ? fallback : stored;
}

void Preferences::setSpeedUnit(SpeedUnit unit)
{
    m_defaults.setValue(Keys::speedUnit, rawValue(unit));
}

void Preferences::setAutoPlayNext(bool on)
{
    m_defaults.setValue(Keys::autoPlayNext, on);
}

void Preferences::setSnapshotFolder(const QString &path)
{
    m_defaults.setValue(Keys::snapshotFolder, path);
}

void Preferences::setMapStyle(MapStyleChoice style)
{
    m_defaults.setValue(Keys::mapStyle, rawValue(style));
}

void Preferences::setFfmpegPath(const QString &path)
{
    m_defaults.setValue(Keys::ffmpegPath, path);
}

void Preferences::setCachePolicy(CachePolicy policy)
{
    m_defaults.setValue(Keys::cachePolicy, rawValue(policy));
}

void Preferences::setDeckHeight(double height)
{
    if (!std::isfinite(height) || height <= 0)
        return;
    m_defaults.setValue(Keys::deckHeight, height);
}

void Preferences::setMapTileURL(const QString &url)
{
    m_defaults.setValue(Keys::mapTileURL, url.trimmed());
}

void Preferences::setMapSatelliteTileURL(const QString &url)
{
    m_defaults.setValue(Keys::mapSatelliteTileURL, url.trimmed());
}

void Preferences::setMapLabelsTileURL(const QString &url)
{
    m_defaults.setValue(Keys::mapLabelsTileURL, url.trimmed());
}
