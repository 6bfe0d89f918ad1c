#include "roadcore/CatalogJournal.h"

#include "roadcore/CatalogJson.h"
#include "roadcore/CatalogReader.h"

#include "platform/FileIO.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>

#include <algorithm>
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

namespace {

bool readLine(QByteArrayView text, CatalogJournal::Record &record)
{
    // Checked first: the reader expects valid UTF-8.
    if (!text.isValidUtf8())
        return false;
    CatalogReader reader(text);
    return reader.readStringObject({{"key", &record.key},
                                    {"letter", &record.letter},
                                    {"fingerprint", &record.fingerprint},
                                    {"storedPath", &record.storedPath}}) &&
           reader.atEnd();
}

// Only a path that stays inside "Files" once cleaned names a stored file.
bool addStoredPath(const QString &path, CatalogJournal::Names &names)
{
    const QString clean = QDir::cleanPath(path);
    if (!clean.startsWith(QLatin1String("Files/")) || Paths::hasComponent(clean, u".."))
        return false;
    names.paths.insert(clean);
    return true;
}

bool isLowerHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// The "Files/..." texts of a line that does not read, each up to its closing quote or the line's end, with
// the escapes the writer uses undone as far as they go; and the folder of each fingerprint it holds, which
// a record writes first and a torn line keeps most often.
void addGarbledNames(QByteArrayView line, CatalogJournal::Names &names)
{
    constexpr qsizetype digits = 32;
    for (qsizetype at = 0; at < line.size();) {
        qsizetype end = at;
        while (end < line.size() && isLowerHex(line[end]))
            ++end;
        if (end - at == digits) {
            const QString print = QString::fromLatin1(line.sliced(at, digits));
            names.folders.insert(QLatin1String("Files/") + print.left(2) + QLatin1Char('/') + print);
        }
        at = std::max(end, at + 1);
    }
    for (qsizetype at = line.indexOf("Files"); at >= 0; at = line.indexOf("Files", at + 1)) {
        QByteArray path;
        for (qsizetype i = at; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] != 'u')
                ++i; // \/ and \\ as a reader of the line would take them
            path.append(line[i]);
        }
        if (!path.startsWith("Files/"))
            continue;
        const QString text = QString::fromUtf8(path);
        if (!addStoredPath(text, names))
            continue;
        // Only a folder whose name the text ends: a cut name would spare a stranger's folder.
        const QStringList parts = QDir::cleanPath(text).split(QLatin1Char('/'));
        if (parts.size() >= 4 || (parts.size() == 3 && path.endsWith('/')))
            names.folders.insert(parts.mid(0, 3).join(QLatin1Char('/')));
    }
}

} // namespace

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
        if (readLine(text, record))
            reading.records.append(std::move(record));
        else
            ++reading.skippedLines;
    }
    return reading;
}

CatalogJournal::Names CatalogJournal::named(QByteArrayView journal)
{
    Names names;
    // Every line, a torn last one too.
    for (qsizetype at = 0; at < journal.size();) {
        qsizetype end = journal.indexOf('\n', at);
        if (end < 0)
            end = journal.size();
        const QByteArrayView text = journal.sliced(at, end - at);
        at = end + 1;
        Record record;
        if (!readLine(text, record)) {
            addGarbledNames(text, names);
            continue;
        }
        CatalogFileRecord stored;
        stored.storedPath = record.storedPath;
        if (const auto usable = stored.usableStoredPath())
            addStoredPath(*usable, names);
    }
    return names;
}

bool CatalogJournal::Names::covers(const QString &relative) const
{
    return paths.contains(relative) || folders.contains(relative.section(QLatin1Char('/'), 0, 2));
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
    if (!FileIO::writeFully(m_fd.get(), bytes.constData(), bytes.size(), m_bytes) ||
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
