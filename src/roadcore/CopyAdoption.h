#pragma once

#include "roadcore/CatalogEntry.h"

#include "platform/FileCopy.h"
#include "platform/Result.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

class CatalogStore;

// Gives stored files that no record names (their record lost, or kept while a catalog was set aside) back to
// the records they are proven to be. Proving may read whole files, so it is split in three: what must be
// read is asked under the cache's lock, read without it, and the verdicts are applied under the lock again,
// each one only while both its files are as they were read. A verdict is remembered as long as its files
// stay unchanged, so that a file is read once however often it is asked about.
class CopyAdoption {
public:
    // A stored file no record names, shaped like a copy: "Files/<2>/<fingerprint>/<name>".
    struct Unnamed {
        QString relative, fingerprint, name;
        qint64 size = 0;
    };
    // Whether the record's stored copy exists.
    using HasCopy = std::function<bool(const CatalogEntry::File &)>;
    // How the bytes are read: the real files unless a test puts a function of its own.
    struct Reads {
        std::function<Result<QString>(const QString &path, qint64 size)> fingerprint;
        std::function<FileCopy::Comparison(const QString &a, const QString &b,
                                           const std::function<bool()> &proceed)>
            compare;
    };
    // What a pass has to read that no remembered verdict answers, file by file, so that a stored file is
    // read in one go; absolute paths.
    struct Question {
        QString stored;
        qint64 size = 0;
        std::optional<QString> fingerprint; // the one its folder names, when its content's must be read
        QStringList originals;              // to compare it with
    };
    using Questions = QList<Question>;

    // The regular file at `relative` under the cache root (no copy's temporary file) as an unnamed copy,
    // when it has a copy's shape and `referenced` (cleaned stored paths) does not name it.
    static std::optional<Unnamed> unnamed(const QString &relative, qint64 size,
                                          const QSet<QString> &referenced);
    // Whether both files read alike to their ends.
    static FileCopy::Comparison compareFiles(const QString &a, const QString &b,
                                             const std::function<bool()> &proceed);

    explicit CopyAdoption(QString root, Reads reads = {});

    // Under the cache's lock: what `adopt` would have to read for these files.
    Questions questions(const CatalogStore &store, const std::vector<Unnamed> &unnamed,
                        const HasCopy &hasCopy);
    // Without the lock: reads the answers and remembers them. Safe on several threads at once: what another
    // thread is reading is left to it. Between files and between the chunks of a file it asks `proceed`,
    // and once that says no it returns, remembering nothing half read.
    void answer(const Questions &questions, const std::function<bool()> &proceed);
    // Under the lock: gives each of `unnamed`, whose content's fingerprint is the name of its folder, to the
    // channel files without a copy that it is proven to be, of its file name (or its " 2" form) and size.
    // Proof is all its bytes equal to the original in place, or else the record's own fingerprint, or a
    // readable line of a journal set aside naming that record and that file. Only remembered verdicts count:
    // what is not answered yet proves nothing. A file some record may be but none is proven to be is kept
    // undecided, for no record, until proof arrives. True when one was given, and the catalog changed.
    bool adopt(CatalogStore &store, const std::vector<Unnamed> &unnamed, const HasCopy &hasCopy);
    // Stored files no record names that a recording may be: kept until one is proven.
    const QSet<QString> &undecided() const { return m_undecided; }
    void clearUndecided() { m_undecided.clear(); }

private:
    // What tells a file from its changed self.
    struct Identity {
        quint64 device = 0, inode = 0;
        qint64 size = 0, modifiedSeconds = 0, modifiedNanoseconds = 0;
        friend bool operator==(const Identity &, const Identity &) = default;
    };
    static std::optional<Identity> identityOf(const QString &path);
    struct Compared {
        Identity first, second;
        bool equal = false;
    };
    struct Fingerprinted {
        Identity file;
        QString fingerprint;
    };
    // The remembered verdict while its files are unchanged; none when it must be read (again).
    std::optional<bool> rememberedComparison(const QString &original, const QString &stored);
    std::optional<QString> rememberedFingerprint(const QString &stored);
    // Asks (with `ask`) or adopts (without).
    bool decide(CatalogStore *store, const CatalogEntry::Catalog &entries,
                const std::vector<Unnamed> &unnamed, const HasCopy &hasCopy, const QSet<QString> &journaled,
                Questions *ask);

    const QString m_root;
    const Reads m_reads;
    QSet<QString> m_undecided;
    std::mutex m_memoMutex; // `answer` runs without the cache's lock
    QHash<std::pair<QString, QString>, Compared> m_compared;
    QHash<QString, Fingerprinted> m_fingerprinted;
    QSet<QString> m_reading; // files and pairs a pass is reading now
};
