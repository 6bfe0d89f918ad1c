#include "roadcore/CatalogJournal.h"

#include "roadcore/CatalogJson.h"
#include "roadcore/CatalogReader.h"

#include "platform/FileCopy.h"

#include <QDir>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

QByteArray CatalogJournal::line(const Record &record)
{
    QByteArray out;
    out.append('{');
    CatalogJson::appendMember(out, "fingerprint", record.fingerprint);
    CatalogJson::appendMember(out, "key", record.key);
    CatalogJson::appendMember(out, "letter", record.letter);
    CatalogJson::appendMember(out, "storedPath", record.storedPath);
    out.chop(1);
    out.append("}\n");
    return out;
}

CatalogJournal::Reading CatalogJournal::read(QByteArrayView journal)
{
    Reading reading;
    for (qsizetype at = 0;;) {
        const qsizetype end = journal.indexOf('\n', at);
        if (end < 0)
            break; // a torn last line, or none
        const QByteArrayView text = journal.sliced(at, end - at);
        at = end + 1;
        reading.goodBytes = at;
        Record record;
        // Checked first: the reader expects valid UTF-8.
        bool read = text.isValidUtf8();
        if (read) {
            CatalogReader reader(text);
            read = reader.readStringObject({{"key", &record.key},
                                            {"letter", &record.letter},
                                            {"fingerprint", &record.fingerprint},
                                            {"storedPath", &record.storedPath}}) &&
                   reader.atEnd();
        }
        if (read)
            reading.records.append(std::move(record));
        else
            ++reading.skippedLines;
    }
    return reading;
}

CatalogJournal::Applied CatalogJournal::apply(CatalogEntry::Catalog &catalog, const Record &record,
                                              const std::function<bool(const QString &)> &isStored)
{
    CatalogFileRecord named;
    named.storedPath = record.storedPath;
    const auto usable = named.usableStoredPath();
    if (!usable || !isStored(*usable))
        return Applied::gone;
    const auto entry = catalog.find(record.key);
    if (entry == catalog.end())
        return Applied::unplaced;
    const auto file = entry->second.files.find(record.letter);
    if (file == entry->second.files.end())
        return Applied::unplaced;
    CatalogFileRecord &target = file->second;
    const auto current = target.usableStoredPath();
    if (current && QDir::cleanPath(*current) == QDir::cleanPath(*usable))
        return Applied::already;
    // A newer copy that exists is never replaced by an older line.
    if (current && isStored(*current))
        return Applied::unplaced;
    target.fingerprint = record.fingerprint;
    target.storedPath = record.storedPath;
    return Applied::recorded;
}

void CatalogJournal::resume(qsizetype goodBytes, int records)
{
    m_fd.reset();
    m_bytes = goodBytes;
    m_records = records;
}

bool CatalogJournal::append(const Record &record)
{
    if (!m_fd) {
        m_fd.reset(::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        // A line torn by a crash goes before the next one is written, or the two would read as one bad line.
        if (!m_fd || ::ftruncate(m_fd.get(), off_t(m_bytes)) != 0) {
            m_fd.reset();
            return false;
        }
    }
    const QByteArray bytes = line(record);
    // On disk before the copy counts as recorded, as the catalog is.
    if (!FileCopy::writeFully(m_fd.get(), bytes.constData(), bytes.size(), m_bytes) ||
        ::fdatasync(m_fd.get()) != 0) {
        m_fd.reset();
        return false;
    }
    m_bytes += bytes.size();
    ++m_records;
    return true;
}

void CatalogJournal::remove()
{
    m_fd.reset();
    m_bytes = 0;
    m_records = 0;
    QFile::remove(m_path);
}
