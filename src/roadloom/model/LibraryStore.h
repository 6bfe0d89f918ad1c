#pragma once

#include "roadcore/ClipCategory.h"
#include "roadcore/DashClip.h"
#include "roadloom/model/ClipListing.h"
#include "roadloom/model/ClipSort.h"
#include "roadloom/model/LibrarySource.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <functional>
#include <optional>

class CachePlanner;
class ConfigStore;
class Defaults;
class MediaCache;
class Trash;
class VolumeProvider;

// The library as the sidebar and the clip list show it: the sources (All Media, camera cards, saved
// folders, opened files), the recordings of the selected source, the filters of the clip list and the
// selection. Lives on the GUI thread; scans and catalog work run on the store's own threads, so the GUI
// thread never waits on a disk.
class LibraryStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<LibrarySource> folders READ folders NOTIFY foldersChanged)
    Q_PROPERTY(QList<LibrarySource> devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(std::optional<LibrarySource> imported READ imported NOTIFY importedChanged)
    Q_PROPERTY(QList<LibrarySource> sources READ sources NOTIFY sourcesChanged)
    Q_PROPERTY(QList<DashClip> clips READ clips NOTIFY clipsChanged)
    Q_PROPERTY(bool isScanning READ isScanning NOTIFY isScanningChanged)
    Q_PROPERTY(int availabilityRevision READ availabilityRevision NOTIFY availabilityRevisionChanged)
    Q_PROPERTY(std::optional<QString> selectedSourceID READ selectedSourceID WRITE setSelectedSourceID NOTIFY
                   selectedSourceIDChanged)
    Q_PROPERTY(std::optional<QString> selectedClipID READ selectedClipID WRITE setSelectedClipID NOTIFY
                   selectedClipIDChanged)
    Q_PROPERTY(std::optional<ClipCategory> categoryFilter READ categoryFilter WRITE setCategoryFilter NOTIFY
                   categoryFilterChanged)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(ClipSort sort READ sort WRITE setSort NOTIFY sortChanged)
    Q_PROPERTY(std::optional<QString> lastError READ lastError NOTIFY lastErrorChanged)

public:
    using ScanFunction = std::function<QList<DashClip>(const QStringList &paths)>;

    // What the store works with. Each empty member means the application's own: the system's volumes,
    // the user's defaults, the shared media cache, the library scanner.
    struct Services {
        VolumeProvider *volumes = nullptr; // not owned
        Defaults *defaults = nullptr;      // not owned
        MediaCache *cache = nullptr;       // not owned; must outlive the store
        ScanFunction scan;
        Trash *trash = nullptr;        // not owned
        ConfigStore *config = nullptr; // not owned; none: configuration files only raise the request
    };

    explicit LibraryStore(QObject *parent = nullptr);
    explicit LibraryStore(Services services, QObject *parent = nullptr);
    ~LibraryStore() override;

    QList<LibrarySource> folders() const { return m_folders; }
    QList<LibrarySource> devices() const { return m_devices; }
    std::optional<LibrarySource> imported() const { return m_imported; }
    // All Media, then the cards, the folders and the opened files.
    QList<LibrarySource> sources() const;
    QList<DashClip> clips() const { return m_clips; }
    bool isScanning() const { return m_isScanning; }
    int availabilityRevision() const { return m_availabilityRevision; }
    std::optional<QString> selectedSourceID() const { return m_selectedSourceID; }
    std::optional<QString> selectedClipID() const { return m_selectedClipID; }
    std::optional<ClipCategory> categoryFilter() const { return m_categoryFilter; }
    QString searchText() const { return m_searchText; }
    ClipSort sort() const { return m_sort; }
    std::optional<QString> lastError() const { return m_lastError; }

    // A change of source starts a rescan once control returns to the event loop.
    void setSelectedSourceID(const std::optional<QString> &id);
    void setSelectedClipID(const std::optional<QString> &id);
    void setCategoryFilter(std::optional<ClipCategory> category);
    void setSearchText(const QString &text);
    void setSort(ClipSort sort);

    // Told to plan after every rescan that published; none until the cache coordinator exists.
    void setCachePlanner(CachePlanner *planner) { m_planner = planner; }
    // Where opened configuration files go, when the store was made before that store.
    void setConfigStore(ConfigStore *config) { m_config = config; }

    // Rebuilds the cards from the mounted volumes; changes no selection.
    void refreshDevices();
    // A volume was mounted or unmounted: a new card is selected; losing the selected source selects All
    // Media.
    void volumesChanged();
    // Adds a folder source (unless it is a card's root or already listed) and selects it, or the card.
    void addFolder(const QString &path);
    // Removes a folder or the opened files; All Media and cards stay.
    void remove(const LibrarySource &source);

    // Opens dropped or chosen items: a folder becomes a source; a video file joins the opened files with the
    // other channel files of its recording, and its recording is selected after the rescan; a camera
    // configuration file is loaded into the configuration store and the device settings are asked for.
    // Missing items and other files are skipped.
    void open(const QStringList &paths);
    // The other video files of the same recording in the file's folder, in listing order.
    static QStringList channelSiblings(const QString &path);
    // Moves the recording's camera files (never its cached copies) to the Trash, forgets it in the media
    // cache and selects its neighbour. A refused move sets `lastError` and changes nothing else. The future
    // finishes once that is done.
    QFuture<void> trash(const DashClip &clip);
    // A channel of the recording with that catalog key now has a stored copy.
    void markCached(const QString &key, Channel channel);
    // Reads the storage state of every listed recording again from the media cache. Like `trash`, the
    // future finishes on the GUI thread's event loop: never block that thread waiting for it.
    QFuture<void> refreshCacheState();

    // Rebuilds `clips` for the selected source. The returned future finishes once this rescan's result was
    // published or dropped (a newer rescan or another selection owns the list then).
    QFuture<void> rescan();

    // `clips` after the category filter and the search, in the chosen order. Computed on every call.
    QList<DashClip> filteredClips() const;
    // The same as positions in `clips`: what a list view needs without copying recordings.
    QList<qsizetype> filteredPositions() const;
    // Recordings of that category in `clips` (all with none); filters and search do not apply.
    int count(std::optional<ClipCategory> category) const;
    QList<ClipCategory> presentCategories() const;

signals:
    void foldersChanged();
    void devicesChanged();
    void importedChanged();
    void sourcesChanged();
    void clipsChanged();
    void isScanningChanged(bool isScanning);
    void availabilityRevisionChanged(int revision);
    void selectedSourceIDChanged();
    void selectedClipIDChanged();
    void categoryFilterChanged();
    void searchTextChanged(const QString &text);
    void sortChanged(ClipSort sort);
    void lastErrorChanged();
    // A camera configuration file was opened (or failed to open, with the store's message saying why): the
    // device-settings window should show.
    void configWindowRequested();
    // A move to the Trash was refused; the recording stays listed and selected.
    void trashRefused(const QString &clipID, const QString &reason);

private:
    struct RescanResult {
        QList<DashClip> clips;
        ClipListing::Index index;
    };
    static RescanResult rescanWork(const LibrarySource &source, MediaCache *cache, const ScanFunction &scan);
    void finishRescan(quint64 generation, const QString &sourceID, RescanResult result);

    std::optional<LibrarySource> selectedSource() const;
    static LibrarySource folderSource(const QString &path);
    void loadFolders();
    void persistFolders();
    void chooseFirstSource();

    void setFolders(const QList<LibrarySource> &folders);
    void setDevices(const QList<LibrarySource> &devices);
    void setImported(const std::optional<LibrarySource> &imported);
    // `index`, when given, was made from `clips`.
    void setClips(QList<DashClip> clips, std::optional<ClipListing::Index> index = std::nullopt);
    void setIsScanning(bool scanning);
    void setLastError(const std::optional<QString> &error);
    void finishTrash(const DashClip &clip);
    void bumpAvailabilityRevision();
    const ClipListing::Index &listingIndex() const;

    VolumeProvider *m_volumes = nullptr;
    Defaults *m_defaults = nullptr;
    MediaCache *m_cache = nullptr;
    ScanFunction m_scan;
    Trash *m_trash = nullptr;
    ConfigStore *m_config = nullptr;
    CachePlanner *m_planner = nullptr;

    QList<LibrarySource> m_folders;
    QList<LibrarySource> m_devices;
    std::optional<LibrarySource> m_imported;
    QList<DashClip> m_clips;
    bool m_isScanning = false;
    int m_availabilityRevision = 0;
    std::optional<QString> m_selectedSourceID;
    std::optional<QString> m_selectedClipID;
    std::optional<ClipCategory> m_categoryFilter;
    QString m_searchText;
    ClipSort m_sort = ClipSort::newest;
    std::optional<QString> m_lastError;

    // Rescans overlap; only the newest one publishes and ends the scanning state.
    quint64 m_rescanGeneration = 0;
    mutable std::optional<ClipListing::Index> m_listingIndex;
    QThreadPool m_scanPool;
};
