#pragma once

#include "platform/LoneThreads.h"
#include "platform/Result.h"
#include "roadcore/ClipCategory.h"
#include "roadcore/ConfigFile.h"
#include "roadcore/DashClip.h"
#include "roadloom/model/ClipListing.h"
#include "roadloom/model/ClipSort.h"
#include "roadloom/model/LibrarySource.h"
#include "roadloom/model/SourceCheck.h"
#include "roadloom/model/WorkGate.h"

#include "platform/MountedVolume.h"
#include "platform/QuestionPool.h"

#include <QDeadlineTimer>
#include <QFileSystemWatcher>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CachePlanner;
class ConfigStore;
class Defaults;
class MediaCache;
class Trash;
class VolumeProvider;

// The library as the sidebar and the clip list show it: the sources (All Media, camera cards, saved
// folders, opened files), the recordings of the selected source, the filters of the clip list and the
// selection. Lives on the GUI thread; scans, catalog work and disk checks run on the store's own threads, so
// the GUI thread never waits on a disk.
//
// For a list model of the shown recordings (row r is `clips()[filteredPositions()[r]]`, or with day
// headers `shown().rows[r]`; a rescan's list comes with both made off the GUI thread):
// - `filteredPositionsChanged(positions)`: the shown rows changed as a whole: a new list (a rescan or
//   another source whose result differs from the list shown, also announced as `clipsChanged(clips)`), or
//   another category, search or sort that shows other recordings or another order.
//   Reset the model.
// - `clipsUpdated(indices)`: those recordings (positions in `clips`, ascending) changed in place: cache or
//   storage state, never name, date, size or category, so the rows stay where they are. Emit dataChanged
//   for each `filteredRow(index)` that is not -1.
// - `clipAboutToBeRemoved(index)` then `clipRemoved(index)`: one recording leaves the list (a Trash), one
//   pair per recording, the highest position first. On the first, `filteredRow(index)` is still its row:
//   call beginRemoveRows for it when it is not -1; on the second, endRemoveRows. The shown rows change only
//   in between, and `filteredPositionsChanged` is not emitted for it.
// `filteredRow(index)` (-1 when filtered out) and `indexOf(id)` (-1 when not listed) are O(1).
// A sidebar reads `isOffline(source)`, `hasCachedCopies(source)` and `configURL(source)` again on
// `availabilityRevisionChanged`; none touches the disk.
//
// Whether a saved folder is there, whether a volume is a camera card and whether a source holds the camera's
// configuration file are asked on a thread per folder and volume: one that stopped answering holds nothing
// but its own question, which is not asked again while it is pending. Until a folder answers it shows as it
// was (not offline); the first source is chosen once the answers are in (or at `firstChoiceWait`).
class LibraryStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<LibrarySource> folders READ folders NOTIFY foldersChanged)
    Q_PROPERTY(QList<LibrarySource> devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(std::optional<LibrarySource> imported READ imported NOTIFY importedChanged)
    Q_PROPERTY(QList<LibrarySource> sources READ sources NOTIFY sourcesChanged)
    Q_PROPERTY(QList<DashClip> clips READ clips NOTIFY clipsChanged)
    Q_PROPERTY(QList<qsizetype> filteredPositions READ filteredPositions NOTIFY filteredPositionsChanged)
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
    // Called off the GUI thread before a user's path is asked about or read; tests hold it at a gate.
    using FileAccess = std::function<void(const QString &path)>;

    // What the store works with; all but `config` are required.
    struct Services {
        VolumeProvider *volumes = nullptr; // not owned
        Defaults *defaults = nullptr;      // not owned
        MediaCache *cache = nullptr;       // not owned; must outlive the store
        ScanFunction scan;
        Trash *trash = nullptr;        // not owned
        ConfigStore *config = nullptr; // not owned; none: configuration files only raise the request
        // The questions put to a saved folder and to a volume's root, each on a thread of its own.
        std::function<SourceCheck::Folder(const QString &path)> checkFolder = &SourceCheck::folder;
        std::function<SourceCheck::Card(const QString &root)> checkCard = &SourceCheck::card;
        // How long the start waits for those answers before it chooses the first source with those it has.
        std::chrono::milliseconds firstChoiceWait{1500};
    };

    // What an opened path turned out to be, asked off the GUI thread.
    struct OpenedItem {
        enum class Kind { missing, folder, config, video, other };
        QString path;
        Kind kind = Kind::missing;
        QStringList siblings;                   // a video's other channel files, in listing order
        std::optional<Result<ConfigFile>> read; // a configuration file's contents
    };

    explicit LibraryStore(Services services, QObject *parent = nullptr);
    ~LibraryStore() override;

    QList<LibrarySource> folders() const { return m_folders; }
    QList<LibrarySource> devices() const { return m_devices; }
    std::optional<LibrarySource> imported() const { return m_imported; }
    // All Media, then the cards, the folders and the opened files.
    QList<LibrarySource> sources() const;
    const QList<DashClip> &clips() const { return m_clips; }
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
    void setBeforeFileAccess(FileAccess access) { m_beforeFileAccess = std::move(access); }

    // How long the store's own quit waits for its threads before it abandons what they do.
    static constexpr std::chrono::milliseconds quitScanWait{2000};

    // The quit in two steps, so that every part of the program is told before any is waited for. The first
    // tells the store's work to stop: a catalog listing ends early, a scan that ends registers nothing.
    void stopCatalogWrites();
    // Tells as above, waits until `deadline` for the store's threads, then lets none of them reach the media
    // cache's catalog any more and waits, until the same deadline, for the catalog calls under way, which
    // end early at the stop. Whatever a file system still holds at the deadline (a pulled card, a network
    // folder that stopped answering: a scan, the registering of its recordings, a listing, the refresh of
    // the cache state, the search for moved files) is abandoned with its result. False then: a thread of the
    // store still runs. The checks of folders and cards are never waited for (see FileSystemWork). A Trash
    // asked for is completed when it ends in time.
    bool finishCatalogWrites(QDeadlineTimer deadline = QDeadlineTimer(quitScanWait));

    // Asks each mounted volume again whether it is a card; the cards change as the answers come (an unmounted
    // one goes at once). Changes no selection.
    void refreshDevices();
    // A volume was mounted or unmounted: a new card is selected when it answers as one; losing the selected
    // source selects All Media.
    void volumesChanged();
    // Adds a folder source (unless it is a card's root or already listed) and selects it, or the card.
    void addFolder(const QString &path);
    // Removes a folder or the opened files; All Media and cards stay.
    void remove(const LibrarySource &source);

    // Opens dropped or chosen items: a folder becomes a source; a video file joins the opened files with the
    // other channel files of its recording, and its recording is selected after the rescan; a camera
    // configuration file is loaded into the configuration store and the device settings are asked for.
    // Missing items and other files are skipped. The paths are looked at off the GUI thread, each open on a
    // thread of its own; the answer is applied in the order given once it comes (not once the store quits).
    // The future finishes then, or is cancelled when the store went first.
    QFuture<void> open(const QStringList &paths);
    // Answers, in the order given, what each (normalised) path is; touches the file system.
    static QList<OpenedItem> inspect(const QStringList &paths, const FileAccess &beforeFileAccess = {});
    // The other video files of the same recording in the file's folder, in listing order.
    static QStringList channelSiblings(const QString &path);
    // Moves the recording's camera files (never its cached copies) to the Trash, forgets it in the media
    // cache and selects its neighbor. A refused move sets `lastError` and changes nothing else. The future
    // finishes once that is done.
    QFuture<void> trash(const DashClip &clip);
    // A channel of the recording with that catalog key now has a stored copy.
    void markCached(const QString &key, Channel channel);
    // Reads the storage state of every listed recording again from the media cache; one the cache has
    // forgotten keeps only the files still there, and leaves the list when none is. Like `trash`, the
    // future finishes on the GUI thread's event loop: never block that thread waiting for it.
    QFuture<void> refreshCacheState();

    // Rebuilds `clips` for the selected source. The returned future finishes once this rescan's result was
    // published or dropped (a newer rescan or another selection owns the list then).
    QFuture<void> rescan();

    // `clips` after the category filter and the search, in the chosen order (a copy of each recording).
    QList<DashClip> filteredClips() const;
    // The same as positions in `clips`: what a list view needs without copying recordings. Kept up to date.
    const QList<qsizetype> &filteredPositions() const { return m_shown.positions; }
    // The same with the rows of a list grouped by local day; changes with `filteredPositions`.
    const ClipListing::Shown &shown() const { return m_shown; }
    // By position in `clips`: its local Julian day, or `ClipListing::undatedDay`.
    const std::vector<qint32> &localDays() const { return m_index.days; }
    // The row of `clips[index]` in the filtered positions; -1 when filtered out or not a position.
    qsizetype filteredRow(qsizetype index) const;
    // The position in `clips` of the recording with that id; -1 when not listed.
    qsizetype indexOf(const QString &id) const;
    // The recording `offset` places from the listed one with that id in the neighbor order of the filtered
    // recordings (oldest first, whatever the list's sort); none past either end or when it is not shown.
    std::optional<QString> neighbor(const QString &id, int offset) const;
    // Whether the source is a folder whose path was gone at its last answer (asked at start, at each rescan,
    // volume change and activation of the application, and when the folder holding it changes). Never
    // touches the disk; a changed answer bumps `availabilityRevision`, and refreshes the storage state of the
    // listed recordings when the selected folder is the one that went or came back.
    bool isOffline(const LibrarySource &source) const;
    // The camera's configuration file in the card or folder, as last answered with its availability; none
    // for other sources and before the first answer. Never touches the disk; a changed answer bumps
    // `availabilityRevision`.
    std::optional<QString> configURL(const LibrarySource &source) const;
    // Whether one of the folder's recordings has a stored copy to play, as last asked of the media cache
    // (after each availability check and each refresh of the cache state). Never touches the disk; a
    // changed answer bumps `availabilityRevision`.
    bool hasCachedCopies(const LibrarySource &source) const;
    // Recordings of that category in `clips` (all with none); filters and search do not apply.
    int count(std::optional<ClipCategory> category) const;
    QList<ClipCategory> presentCategories() const;

signals:
    void foldersChanged(const QList<LibrarySource> &folders);
    void devicesChanged(const QList<LibrarySource> &devices);
    void importedChanged(const std::optional<LibrarySource> &imported);
    void sourcesChanged(const QList<LibrarySource> &sources);
    // A new list; see the comment above the class for the finer changes.
    void clipsChanged(const QList<DashClip> &clips);
    void clipsUpdated(const QList<qsizetype> &indices);
    void clipAboutToBeRemoved(qsizetype index);
    void clipRemoved(qsizetype index);
    void filteredPositionsChanged(const QList<qsizetype> &positions);
    void isScanningChanged(bool isScanning);
    void availabilityRevisionChanged(int revision);
    void selectedSourceIDChanged(const std::optional<QString> &id);
    void selectedClipIDChanged(const std::optional<QString> &id);
    void categoryFilterChanged(std::optional<ClipCategory> category);
    void searchTextChanged(const QString &text);
    void sortChanged(ClipSort sort);
    void lastErrorChanged(const std::optional<QString> &error);
    // A camera configuration file was opened (or failed to open, with the store's message saying why): the
    // device-settings window should show.
    void configWindowRequested();
    // A move to the Trash was refused; the recording stays listed and selected.
    void trashRefused(const QString &clipID, const QString &reason);

private:
    // What the clip list shows of a list.
    struct Filter {
        std::optional<ClipCategory> category;
        QString search;
        ClipSort sort = ClipSort::newest;
        bool operator==(const Filter &) const = default;
    };
    struct RescanResult {
        QList<DashClip> clips;
        ClipListing::Index index;
        size_t fingerprint = 0; // of `clips`, order included
        Filter filter;          // `shown` is for it
        ClipListing::Shown shown;
    };
    static RescanResult rescanWork(const LibrarySource &source, MediaCache *cache, const ScanFunction &scan,
                                   const Filter &filter, const std::atomic<bool> *closing, WorkGate &catalog);
    Filter filter() const { return {m_categoryFilter, m_searchText, m_sort}; }
    void finishRescan(quint64 generation, const QString &sourceID, RescanResult result);

    void applyOpened(const QStringList &given, const QList<OpenedItem> &items);
    std::optional<LibrarySource> selectedSource() const;
    static LibrarySource folderSource(const QString &path);
    void loadFolders();
    void persistFolders();
    // Once the answers that decide it are in (or the wait is over): a card, else the first saved folder that
    // is there, else All Media; unless a selection was made meanwhile.
    void chooseFirstSource();
    void askCard(const QString &root);
    void cardAnswered(const QString &root, const SourceCheck::Card &answer);
    void folderAnswered(const QString &path, const SourceCheck::Folder &answer);
    // The cards among the listed volumes, as answered.
    void publishDevices();
    // Selects the first card in volume order that answered as new since the last volume change, once every
    // volume before it has answered.
    void selectNewCard();
    void bumpRevision();

    void setFolders(const QList<LibrarySource> &folders);
    void setDevices(const QList<LibrarySource> &devices);
    void setImported(const std::optional<LibrarySource> &imported);
    void announceSources();
    // A new list; `index` was made from `clips`, and `shown`, when given, for the filter now.
    void setClips(QList<DashClip> clips, ClipListing::Index index, std::optional<size_t> fingerprint = {},
                  std::optional<ClipListing::Shown> shown = {});
    static void releaseElsewhere(QList<DashClip> clips, ClipListing::Index index);
    void removeClip(qsizetype position);
    void refilter();
    // The same when only the filters changed: announces nothing when the shown recordings stay the same.
    void refilterKeepingSame();
    void setIsScanning(bool scanning);
    void setLastError(const std::optional<QString> &error);
    void finishTrash(const DashClip &clip);
    // Takes the recording out of the list and moves the selection to its neighbour.
    void removeFromList(const QString &id);
    // Drops the recording's files that no longer exist (a cleared copy); true when none is left.
    static bool withoutGoneFiles(DashClip &clip);
    // Asks every folder and card again, each unless its question is pending; a changed answer is stored and
    // bumps the revision.
    void checkAvailability();
    // Asks the media cache which offline folders still have stored copies.
    void checkCachedCopies();
    // The same once control returns to the event loop, once for several answers.
    void checkCachedCopiesSoon();
    // Views check again now; the stored offline state follows.
    void bumpAvailabilityRevision();
    void watchFolders(const QSet<QString> &paths);

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
    ClipListing::Index m_index; // of m_clips
    // Of m_clips as published; none once a row changed in place. An equal rescan result keeps the list.
    std::optional<size_t> m_fingerprint;
    ClipListing::Shown m_shown; // of m_clips
    std::function<SourceCheck::Folder(const QString &)> m_checkFolder;
    std::function<SourceCheck::Card(const QString &)> m_checkCard;
    QList<MountedVolume> m_volumeList;                   // as last listed, roots normalised
    QHash<QString, SourceCheck::Folder> m_folderAnswers; // by path
    QHash<QString, SourceCheck::Card> m_cardAnswers;     // by volume root
    // Volumes mounted since the last listing: selected when they answer as a new card.
    QSet<QString> m_cardsToSelect;
    QSet<QString> m_newCards; // among them, those that answered as cards
    bool m_choosingFirst = true;
    bool m_volumesListing = false; // the provider's first listing was under way at the start
    QTimer m_firstChoiceWait;
    bool m_copiesCheckQueued = false;
    QSet<QString> m_offlineFolders;    // paths
    QSet<QString> m_foldersWithCopies; // paths, among the offline ones
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
    quint64 m_copiesGeneration = 0;
    // Set when the store goes: a long catalog listing then ends early instead of holding the quit up.
    std::shared_ptr<std::atomic<bool>> m_closing = std::make_shared<std::atomic<bool>>(false);
    // Every call of the store's threads into the media cache passes here; closed at the quit, so that a
    // thread the quit no longer waits for writes nothing after the journal's fold. Shared with the work,
    // which may outlive the store.
    std::shared_ptr<WorkGate> m_catalog = std::make_shared<WorkGate>();
    // Left behind, deliberately, when a scan its file system holds outlives the quit's wait: the thread
    // still runs in it, and the program ends without waiting for it.
    std::unique_ptr<QThreadPool> m_scanPool = std::make_unique<QThreadPool>();
    bool m_scanAbandoned = false;
    // The folders above each saved folder: renaming, removing or unmounting it shows there at once.
    // On a thread of its own: adding a watch looks the folder up, which waits on its file system.
    QThread *m_watchThread = nullptr;
    QFileSystemWatcher *m_folderWatch = nullptr; // lives on m_watchThread
    QTimer m_watchDelay;                         // one check for a burst of changes
    // Disk checks never queue behind a long scan, nor behind each other. Last: its answers reach the above.
    QuestionPool m_questions{this};
    FileAccess m_beforeFileAccess;
    LoneThreads m_opens{this}; // last: no answer arrives once the rest is gone
};
