#pragma once

#include "roadcore/CacheJob.h"
#include "roadcore/CachePolicy.h"
#include "roadcore/CatalogEntry.h"
#include "roadcore/CatalogLoader.h"
#include "roadcore/CatalogStore.h"
#include "roadcore/CopyAdoption.h"
#include "roadcore/DashClip.h"
#include "roadcore/MediaCacheTypes.h"

#include "platform/FileBookmark.h"
#include "platform/MountTable.h"
#include "platform/Result.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// The process-wide keeper of every recording the library has imported: the catalog (kept on disk by its
// CatalogStore) and the stored copies under "Files", both in the root folder. It makes, finds and sweeps
// the copies and resolves recordings to where their files are now. Each public operation holds one lock for
// its whole run, so callers on any thread see the catalog before or after a whole operation; every one may
// wait on the disk, so the GUI thread calls none. Reading whole files is the exception to the lock: `perform`
// holds it only briefly, and proving whose a stored file no record names is, which the first operation and
// the maintenance below do before they change anything, reads without it. While the catalog or its journal
// cannot be read (no descriptor, an I/O error), every operation does nothing: it writes nothing, deletes
// nothing and answers as for an empty catalog, or says it was not done; the next operation tries again.
class MediaCache {
public:
    using Scope = MediaCacheScope;
    using Usage = MediaCacheUsage;
    // The mounted volumes, read where a bookmark is made or followed.
    using MountSource = std::function<QList<MountEntry>()>;

    // Rooted in the generic data location plus "Roadloom/Media Cache"; created on first use, never destroyed.
    static MediaCache &shared();

    // `reading` sets how the catalog file is read (its pieces), and `proving` how stored files are read to
    // prove whose they are, for tests.
    explicit MediaCache(QString root, MountSource mounts = &MountTable::current,
                        CatalogLoader::Options reading = {}, CopyAdoption::Reads proving = {});
    ~MediaCache();
    MediaCache(const MediaCache &) = delete;
    MediaCache &operator=(const MediaCache &) = delete;

    // Constant: safe to read from any thread without the lock.
    const QString &root() const { return m_root; }

    // Records freshly scanned recordings; returns them in the same order with their original files, their
    // channels in place and their cached channels filled in.
    QList<DashClip> registerClips(const QList<DashClip> &clips);
    // The catalogued recordings in the scope whose key is not excluded, resolved, newest first. When `*stop`
    // turns true meanwhile (its caller is going away), it ends early with nothing and writes nothing.
    QList<DashClip> clips(const Scope &scope, const QSet<QString> &excluding = {},
                          const std::atomic<bool> *stop = nullptr);
    // The catalogued recording with the clip's key, resolved, keeping the clip's id; the clip unchanged
    // when its key is not catalogued.
    DashClip resolveForPlayback(const DashClip &clip);

    // The channel files still without a stored copy whose original is in place with its catalogued size:
    // recordings the policy takes or `alsoInclude` forces, the `prioritize` one first, then newest first.
    // None while no copy could be recorded: an unreadable catalog in place that cannot be kept aside.
    // `*stop`, as for the operations below, ends the reading of the first operation early.
    QList<CacheJob> pendingJobs(CachePolicy policy, const std::optional<QString> &prioritize = std::nullopt,
                                const QSet<QString> &alsoInclude = {},
                                const std::atomic<bool> *stop = nullptr);
    // Makes or reuses the stored copy of the job's file and records it. Synchronous and safe on any thread:
    // the fingerprint, the comparison and the copy run without the lock, which is taken only to look for an
    // equal copy and to record the result. A stored file no record names is taken for the job only when all
    // its bytes are the source's. When `*stop` turns true, or the source changes or vanishes, the copy ends
    // early with the incomplete-copy failure and leaves no file behind.
    Result<void> perform(const CacheJob &job, const std::atomic<bool> *stop = nullptr);
    // 32 lower-case hexadecimal digits: SHA-256 over `size` (8 bytes, big-endian), the first 64 KiB and,
    // for a larger size, the 64 KiB that end at `size`.
    static Result<QString> fingerprint(const QString &path, qint64 size);

    // The regular files under "Files" (every stored copy, named by a record or not) and the recordings in
    // the catalog; none while the catalog cannot be read.
    std::optional<Usage> usage(const std::atomic<bool> *stop = nullptr);
    // The three below write the changed catalog first and delete stored files only once it is on disk. They
    // refuse, having changed and deleted nothing, while the catalog cannot be read, when the change could
    // not be written, and when a stored file they drop cannot be deleted (its folder read-only or
    // immutable); the failure says which. Before deleting, a stored file that no record names is given back
    // to the record it is proven to belong to; the files read for that proof are read without the lock, and
    // when `*stop` turns true meanwhile, what was not proven yet stays unproven. The copies they drop are
    // deleted even where what was set aside may name them. Drops every record's copy, or with
    // `keepingUnavailable` only those whose original is in place; without keeping, also forgets the
    // recordings none of whose originals is in place, deletes every stored file, also those spared for what
    // was set aside, the empty folders and the journals set aside.
    Result<void> clear(bool keepingUnavailable, const std::atomic<bool> *stop = nullptr);
    // Drops the recording's copies, or with `forget` the whole entry; deletes what is unreferenced.
    Result<void> remove(const QString &key, bool forget, const std::atomic<bool> *stop = nullptr);
    // Drops the recording's copies of those channels whose file is reachable now, at its recorded place or
    // found again where it moved; a copy that has become the only one left stays. Deletes what is
    // unreferenced.
    Result<void> removeReplaceableCopies(const QString &key, const std::atomic<bool> *stop = nullptr);
    // `unreadable` while the catalog cannot be read, or while a catalog that could not be read, and may
    // name the recording, is still in place: not being listed then proves nothing.
    enum class CatalogAnswer { catalogued, notCatalogued, unreadable };
    CatalogAnswer isCatalogued(const QString &key);
    // The folders among `folders` holding a catalogued file (at its original or first imported path) whose
    // recording has a stored copy on disk; none while the catalog cannot be read, or once `*stop` turned
    // true while it was read.
    std::optional<QSet<QString>> foldersWithCopies(const QStringList &folders,
                                                   const std::atomic<bool> *stop = nullptr);
    // Where a catalog file that could not be read was kept ("catalog.json.unreadable-<time>"), or an empty
    // text when it could not be moved aside and nothing can be recorded, given once: the user is told a
    // single time. None when the catalog read well or the answer was already taken.
    std::optional<QString> takeSetAsideCatalog();
    // Writes what the catalog file lacks (copies recorded only in the journal, files found moved, changes
    // whose save failed) into it; for the application's quit. False when that did not reach the disk.
    bool foldJournal();
    // The quit's last word: waits for the lock only until `deadline`, folds as above, and from then on every
    // operation does nothing, as while the catalog cannot be read, so that work the quit abandoned writes
    // nothing after the fold. `skipped` when a call the quit abandoned still holds the lock at the deadline:
    // the journal stays and the next start reads it, as after a kill.
    enum class QuitFold { written, notWritten, skipped };
    QuitFold foldJournalForQuit(QDeadlineTimer deadline);
    // Writes the changes whose save failed (copies made but not recorded); for retrying while saves fail.
    MediaCacheWrite writeUnsaved();

    // Whether the file at `path` is the one the record describes: its size reads and equals the record's.
    static bool matches(const QString &path, const CatalogEntry::File &record);

    // A seam for tests: called by each copy once its folder is made, before its file is created there.
    void setAfterFolderMade(std::function<void()> call) { m_afterFolderMade = std::move(call); }

private:
    // Everything below expects m_mutex to be held by the caller.
    // Reads the catalog once, before the first operation uses it; false when `*stop` turned true first or
    // the catalog or its journal could not be read now, and the next operation reads it then.
    bool ensureLoaded(const std::atomic<bool> *stop = nullptr);
    // Removes the temporary files of copies cut off by the end of an earlier run.
    void removeAbandonedPartials();
    bool load(const std::atomic<bool> *stop);
    const CatalogEntry::Catalog &entries() const { return m_store.entries(); }
    // The stored files no record names that have a copy's shape.
    std::vector<CopyAdoption::Unnamed> unnamedCopies() const;
    // Reads what proving the stored files no record names takes, with m_mutex released meanwhile (held
    // again on return), until `*stop` turns true. Returns those files as they are now, for adopting.
    std::vector<CopyAdoption::Unnamed> proveUnnamedCopies(const std::atomic<bool> *stop);
    // Gives each of `unnamed` to the record it is proven to be, by what `proveUnnamedCopies` read
    // (CopyAdoption::adopt). True when one was given, and the catalog changed.
    bool adoptUnnamedCopies(const std::vector<CopyAdoption::Unnamed> &unnamed);
    // The folder one thread of a listing looked at last: the files of an unmounted card lie in a few
    // folders, and one look at the folder answers for all of them.
    struct AbsentFolder {
        QString path; // with its trailing '/'; empty while none was looked at
        bool absent = false;
        // Whether `file` cannot be there because its folder is not.
        bool covers(const QString &file);
    };
    // A file found where it moved, for the catalog.
    struct MovedRecord {
        QString key, letter;
        CatalogEntry::File record;
    };
    // Adds the new place of a moved file to `moved`. Safe on several threads at once, each with its own
    // `absent` and `moved`.
    DashClip resolve(const CatalogEntry &entry, std::vector<MovedRecord> &moved,
                     AbsentFolder *absent = nullptr);
    // Writes the records of `moved` into the catalog; false when there were none.
    bool follow(const std::vector<MovedRecord> &moved);
    std::optional<QString> resolveBookmark(CatalogEntry::File &record);
    ChannelSet cachedChannels(const CatalogEntry &entry) const;
    // The absolute path of the record's stored copy when the catalog names a usable one, whether or not
    // it exists.
    std::optional<QString> storedCopyPath(const CatalogEntry::File &record) const;
    // The same, only when the file exists.
    std::optional<QString> existingStoredCopy(const CatalogEntry::File &record) const;
    bool isInsideRoot(const QString &path) const;
    // Relative paths of the existing stored copies with this fingerprint.
    QStringList storedPaths(const QString &fingerprint);
    // The records' stored copies by fingerprint and by path, so that a copy does not walk the catalog.
    // Made on first need; forgotten by every change of stored paths other than `commit`, which keeps it.
    struct CopyIndex {
        // Records naming each stored path (by its cleaned form), and the path as written.
        QHash<QString, std::pair<QString, int>> references;
        QHash<QString, QHash<QString, int>> byFingerprint; // cleaned stored paths and their records
        void add(const CatalogEntry::File &record, int step);
    };
    CopyIndex &copyIndex();
    class PartialCopy;
    // Moves a finished copy from its temporary file into place under the job's name, or a distinct one when
    // another copy holds that name, and records it. Nothing when the job's record is gone.
    Result<void> install(const CacheJob &job, const QString &fingerprint, PartialCopy &partial);
    // False when the record did not reach the catalog file.
    bool commit(const CacheJob &job, const QString &fingerprint, const QString &storedPath);
    // The stored paths the records name, cleaned.
    QSet<QString> referencedPaths() const;
    // One maintenance action: `change` drops copies or entries through the store and returns the stored
    // paths (cleaned) whose records it dropped. Unless `everything` goes, stored files no record names are
    // given back first. The change is written, then the stored files it leaves unreferenced are deleted.
    // A dropped file (with `everything`, any file) that stayed after its record went would be given back
    // at the next opening: each is first renamed aside, and one that cannot be refuses the whole action.
    Result<void> maintain(bool everything, const std::atomic<bool> *stop,
                          const std::function<QSet<QString>()> &change);
    // The regular files under "Files" that a sweep deletes: those no record names, except copies in
    // progress and, unless dropped or `everything`, the files kept undecided and those what was set aside
    // may name (given `referencedBefore`, the paths named before the change).
    struct Sweep {
        // The dropped files, each renamed in its folder to a temporary file's name, which no record ever
        // takes and the next opening deletes: by that path, with the path it had.
        QHash<QString, QString> aside;
        // The others, deleted where they are; one that stays is deleted by a later sweep.
        QSet<QString> loose;
        // Why a dropped file could not be renamed; those renamed before it are to be put back.
        std::optional<Failure> refused;
    };
    // Renames the dropped files aside, up to the first that cannot be.
    Sweep setAside(const QSet<QString> &referencedBefore, const QSet<QString> &dropped, bool everything);
    void putBack(const Sweep &sweep);
    void deleteSwept(const Sweep &sweep);
    QByteArray makeBookmark(const QString &path);
    // Read once per operation, on first need.
    const QList<MountEntry> &mounts();
    // Starts an operation: forgets what the previous one learned of the system.
    void beginOperation();

    const QString m_root;
    const MountSource m_mountSource;
    QMutex m_mutex;
    CatalogStore m_store;
    std::optional<CopyIndex> m_copyIndex;
    CopyAdoption m_adoption;
    bool m_loaded = false;
    std::atomic<bool> m_ended = false; // folded for the quit: nothing more is read or written
    std::optional<QList<MountEntry>> m_mounts;
    std::unique_ptr<FileBookmark::MoveSearch> m_moveSearch;
    QElapsedTimer m_moveSearchAge;
    std::mutex m_mountsMutex;
    // Temporary files of the copies in progress, relative to the root. Their own lock, so that a copy never
    // waits for the catalog's; taken after m_mutex where both are held.
    std::mutex m_partialsMutex;
    QSet<QString> m_partials;
    std::function<void()> m_afterFolderMade;
};
