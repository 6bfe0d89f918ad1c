#include "roadcore/CopyAdoption.h"

#include "platform/LogCategories.h"
#include "platform/RegularFile.h"
#include "roadcore/CatalogStore.h"
#include "roadcore/Channel.h"
#include "roadcore/MediaCache.h"

#include <QDir>
#include <QFile>
#include <QMultiHash>
#include <QRegularExpression>

#include <sys/stat.h>

namespace {

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// A record and the stored file a journal gives it, as one text.
QString journalKey(const QString &key, const QString &letter, const QString &relative)
{
    return key + QChar(0) + letter + QChar(0) + relative;
}

// Past this many remembered verdicts the oldest files are likely gone: start again rather than grow.
constexpr qsizetype rememberedAtMost = 100000;

} // namespace

std::optional<CopyAdoption::Unnamed> CopyAdoption::unnamed(const QString &relative, qint64 size,
                                                           const QSet<QString> &referenced)
{
    // "Files/<2>/<fingerprint>/<name>"
    const QStringList parts = relative.split(QLatin1Char('/'));
    if (parts.size() != 4 || referenced.contains(relative) || parts[2].size() != 32 ||
        !parts[2].startsWith(parts[1]))
        return std::nullopt;
    return Unnamed{relative, parts[2], parts[3], size};
}

FileCopy::Comparison CopyAdoption::compareFiles(const QString &a, const QString &b,
                                                const std::function<bool()> &proceed)
{
    const RegularFile::Opening first = RegularFile::openDescriptor(a);
    const RegularFile::Opening second = RegularFile::openDescriptor(b);
    if (!first.fd || !second.fd)
        return FileCopy::Comparison::failed;
    return FileCopy::compare(first.fd.get(), second.fd.get(), proceed);
}

CopyAdoption::CopyAdoption(QString root, Reads reads) : m_root(std::move(root)), m_reads(std::move(reads)) {}

std::optional<CopyAdoption::Identity> CopyAdoption::identityOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return Identity{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec),
                    qint64(st.st_mtim.tv_nsec)};
}

std::optional<bool> CopyAdoption::rememberedComparison(const QString &original, const QString &stored)
{
    const auto first = identityOf(original);
    const auto second = identityOf(stored);
    std::lock_guard lock(m_memoMutex);
    const auto found = m_compared.constFind({original, stored});
    if (!first || !second || found == m_compared.cend() || found->first != *first || found->second != *second)
        return std::nullopt;
    return found->equal;
}

std::optional<QString> CopyAdoption::rememberedFingerprint(const QString &stored)
{
    const auto file = identityOf(stored);
    std::lock_guard lock(m_memoMutex);
    const auto found = m_fingerprinted.constFind(stored);
    if (!file || found == m_fingerprinted.cend() || found->file != *file)
        return std::nullopt;
    return found->fingerprint;
}

CopyAdoption::Questions CopyAdoption::questions(const CatalogStore &store,
                                                const std::vector<Unnamed> &unnamed, const HasCopy &hasCopy)
{
    Questions asked;
    decide(nullptr, store.entries(), unnamed, hasCopy, {}, &asked);
    return asked;
}

void CopyAdoption::answer(const Questions &questions, const std::function<bool()> &proceed)
{
    const auto remember = [&](auto &memo, const auto &key, auto value) {
        std::lock_guard lock(m_memoMutex);
        if (memo.size() >= rememberedAtMost)
            memo.clear();
        memo.insert(key, std::move(value));
    };
    // What another pass is reading meanwhile is left to it: this one finds it unproven for now, rather
    // than read the same bytes twice at once.
    struct Claim {
        CopyAdoption &self;
        const QString item;
        bool taken = false;
        Claim(CopyAdoption &adoption, QString what) : self(adoption), item(std::move(what))
        {
            std::lock_guard lock(self.m_memoMutex);
            taken = !self.m_reading.contains(item);
            if (taken)
                self.m_reading.insert(item);
        }
        ~Claim()
        {
            std::lock_guard lock(self.m_memoMutex);
            if (taken)
                self.m_reading.remove(item);
        }
    };
    for (const Question &question : questions) {
        if (!proceed())
            return;
        if (question.fingerprint) {
            const Claim claim(*this, question.stored);
            if (!claim.taken)
                continue;
            const auto before = identityOf(question.stored);
            const Result<QString> read = m_reads.fingerprint
                                             ? m_reads.fingerprint(question.stored, question.size)
                                             : MediaCache::fingerprint(question.stored, question.size);
            // One that cannot be read is no copy, as one of another fingerprint.
            if (before && identityOf(question.stored) == before)
                remember(m_fingerprinted, question.stored, Fingerprinted{*before, read ? *read : QString()});
            if (!read || *read != *question.fingerprint)
                continue;
        }
        for (const QString &original : question.originals) {
            if (!proceed())
                return;
            const Claim claim(*this, original + QChar(0) + question.stored);
            if (!claim.taken)
                continue;
            const auto first = identityOf(original);
            const auto second = identityOf(question.stored);
            const FileCopy::Comparison same = m_reads.compare
                                                  ? m_reads.compare(original, question.stored, proceed)
                                                  : compareFiles(original, question.stored, proceed);
            if (same == FileCopy::Comparison::stopped)
                return;
            // A file that changed while it was read proves nothing either way.
            if (first && second &&
                (same == FileCopy::Comparison::equal || same == FileCopy::Comparison::different) &&
                identityOf(original) == first && identityOf(question.stored) == second)
                remember(m_compared, std::pair{original, question.stored},
                         Compared{*first, *second, same == FileCopy::Comparison::equal});
        }
    }
}

bool CopyAdoption::adopt(CatalogStore &store, const std::vector<Unnamed> &unnamed, const HasCopy &hasCopy)
{
    // The records that readable lines of journals set aside give their files.
    QSet<QString> journaled;
    for (const CatalogJournal::Record &line : store.setAsideRecords())
        journaled.insert(journalKey(line.key, line.letter, QDir::cleanPath(line.storedPath)));
    return decide(&store, store.entries(), unnamed, hasCopy, journaled, nullptr);
}

bool CopyAdoption::decide(CatalogStore *store, const CatalogEntry::Catalog &entries,
                          const std::vector<Unnamed> &unnamed, const HasCopy &hasCopy,
                          const QSet<QString> &journaled, Questions *ask)
{
    if (!ask)
        m_undecided.clear();
    if (unnamed.empty())
        return false;
    // Every channel file of the catalog by the name and size a copy of it would have.
    QMultiHash<std::pair<QString, qint64>, std::pair<QString, QString>> byName;
    for (const auto &[key, entry] : entries)
        for (const auto &[letter, record] : entry.files) {
            if (!channelFromRaw(letter))
                continue;
            const QString name = fileNameOf(record.originalPath);
            byName.insert({name, record.size}, {key, letter});
            if (record.importedPath && fileNameOf(*record.importedPath) != name)
                byName.insert({fileNameOf(*record.importedPath), record.size}, {key, letter});
        }
    bool adopted = false;
    for (const Unnamed &file : unnamed) {
        // A copy that found its name taken carries a number: "name 2.mp4".
        static const QRegularExpression numbered(QStringLiteral("^(.*) [0-9]+(\\.[^.]*)?$"));
        QStringList names{file.name};
        if (const auto match = numbered.match(file.name); match.hasMatch())
            names.append(match.captured(1) + match.captured(2));
        QSet<std::pair<QString, QString>> candidates;
        for (const QString &name : std::as_const(names))
            for (const auto &candidate : byName.values({name, file.size}))
                candidates.insert(candidate);
        if (candidates.isEmpty())
            continue;
        // Its folder names the fingerprint its content must have.
        const QString path = m_root + QLatin1Char('/') + file.relative;
        const std::optional<QString> content = rememberedFingerprint(path);
        if (!content && !ask) {
            m_undecided.insert(file.relative); // not read yet: kept
            continue;
        }
        if (content && *content != file.fingerprint)
            continue;
        // Asked with its comparisons, as if its content were its folder's: the file is read at once.
        Question question{path,
                          file.size,
                          content ? std::optional<QString>() : std::optional<QString>(file.fingerprint),
                          {}};
        // Which recordings it is proven to be, and whether one may be it without proof yet.
        QList<std::pair<QString, QString>> proven;
        bool unproven = false;
        for (const auto &candidate : std::as_const(candidates)) {
            const CatalogEntry::File &record = entries.at(candidate.first).files.at(candidate.second);
            if (record.fingerprint && *record.fingerprint != file.fingerprint)
                continue;
            if (hasCopy(record))
                continue; // it needs none
            if (MediaCache::matches(record.originalPath, record)) {
                const std::optional<bool> same = rememberedComparison(record.originalPath, path);
                if (!same && ask)
                    question.originals.append(record.originalPath);
                if (same.value_or(false))
                    proven.append(candidate);
                else if (!same)
                    unproven = true; // not read yet, or its original cannot be read now: no verdict
            } else if (record.fingerprint ||
                       journaled.contains(journalKey(candidate.first, candidate.second, file.relative))) {
                proven.append(candidate);
            } else {
                unproven = true;
            }
        }
        if (ask) {
            if (question.fingerprint || !question.originals.isEmpty())
                ask->append(std::move(question));
            continue;
        }
        // Unproven, it goes to no record: the catalog in memory is not every recording there is, and the
        // file may be one it does not know.
        if (proven.isEmpty() && unproven)
            m_undecided.insert(file.relative);
        for (const auto &[key, letter] : std::as_const(proven)) {
            qCWarning(logCache) << "A stored copy no record named was given back to its recording:"
                                << file.relative;
            CatalogEntry::File record = entries.at(key).files.at(letter);
            record.fingerprint = file.fingerprint;
            record.storedPath = file.relative;
            store->putRecord(key, letter, record);
            adopted = true;
        }
    }
    return adopted;
}
