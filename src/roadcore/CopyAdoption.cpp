#include "roadcore/CopyAdoption.h"

#include "platform/LogCategories.h"
#include "platform/RegularFile.h"
#include "roadcore/CatalogStore.h"
#include "roadcore/Channel.h"
#include "roadcore/MediaCache.h"

#include <QMultiHash>
#include <QRegularExpression>

namespace {

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

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

CopyAdoption::CopyAdoption(QString root) : m_root(std::move(root)) {}

bool CopyAdoption::adopt(CatalogStore &store, const std::vector<Unnamed> &unnamed, const HasCopy &hasCopy)
{
    m_undecided.clear();
    if (unnamed.empty())
        return false;
    const CatalogEntry::Catalog &entries = store.entries();
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
        const Result<QString> content = MediaCache::fingerprint(path, file.size);
        if (!content || *content != file.fingerprint)
            continue;
        // Which recordings it is proven to be, and which it may be, with a copy of their own or without.
        QList<std::pair<QString, QString>> proven, unproven;
        bool mayBeCopied = false;
        for (const auto &candidate : std::as_const(candidates)) {
            const CatalogEntry::File &record = entries.at(candidate.first).files.at(candidate.second);
            if (record.fingerprint && *record.fingerprint != file.fingerprint)
                continue;
            if (hasCopy(record)) {
                mayBeCopied = true;
                continue;
            }
            if (MediaCache::matches(record.originalPath, record)) {
                const auto same = compareFiles(record.originalPath, path, [] { return true; });
                if (same == FileCopy::Comparison::equal)
                    proven.append(candidate);
                else if (same == FileCopy::Comparison::failed)
                    unproven.append(candidate); // its original cannot be read now: no verdict
            } else if (record.fingerprint) {
                proven.append(candidate);
            } else {
                unproven.append(candidate);
            }
        }
        // Unproven, only the one recording it may be takes it; where several may, none does, and it stays
        // until one is proven. Recordings with a copy of their own need none.
        if (proven.isEmpty() && unproven.size() == 1 && !mayBeCopied)
            proven = unproven;
        else if (proven.isEmpty() && !unproven.isEmpty())
            m_undecided.insert(file.relative);
        for (const auto &[key, letter] : std::as_const(proven)) {
            qCWarning(logCache) << "A stored copy no record named was given back to its recording:"
                                << file.relative;
            CatalogEntry::File record = entries.at(key).files.at(letter);
            record.fingerprint = file.fingerprint;
            record.storedPath = file.relative;
            store.putRecord(key, letter, record);
            adopted = true;
        }
    }
    return adopted;
}
