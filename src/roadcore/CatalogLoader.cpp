#include "roadcore/CatalogLoader.h"

#include "roadcore/CatalogReader.h"
#include "roadcore/ParallelCatalogReader.h"

#include "platform/UniqueFd.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

bool stopped(const std::atomic<bool> *stop)
{
    return stop && stop->load(std::memory_order_relaxed);
}

// The length of the longest start of `text` that ends with a whole UTF-8 sequence: a piece may cut one.
qsizetype wholeSequences(QByteArrayView text)
{
    const qsizetype n = text.size();
    for (qsizetype back = 1; back <= 4 && back <= n; ++back) {
        const auto c = static_cast<unsigned char>(text[n - back]);
        if ((c & 0xc0) == 0x80)
            continue; // inside a sequence
        const qsizetype length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
        return length > back ? n - back : n;
    }
    return n;
}

// The start of the last entry that seems to follow another ("}" "," "{"), or null. A guess as the parallel
// reader's cuts are.
const char *lastEntryStart(const char *from, const char *end)
{
    for (const char *p = end; p > from;) {
        --p;
        if (*p != '{')
            continue;
        const char *q = p;
        while (q > from && isSpace(q[-1]))
            --q;
        if (q == from || q[-1] != ',')
            continue;
        --q;
        while (q > from && isSpace(q[-1]))
            --q;
        if (q > from && q[-1] == '}')
            return p;
    }
    return nullptr;
}

// The bytes of the pieces, in memory mapped for them alone and given back whole at the end. A block of this
// size from the allocator would raise its threshold for mapping large blocks, and the later large blocks of
// the listing would then stay with the process as room after they are freed.
class PieceBuffer {
public:
    PieceBuffer() = default;
    ~PieceBuffer()
    {
        if (m_data)
            ::munmap(m_data, size_t(m_room));
    }
    PieceBuffer(const PieceBuffer &) = delete;
    PieceBuffer &operator=(const PieceBuffer &) = delete;

    char *data() const { return m_data; }
    qsizetype size() const { return m_size; }
    // False when there is no memory for it.
    bool resize(qsizetype size)
    {
        if (size > m_room) {
            const qsizetype page = qsizetype(::sysconf(_SC_PAGESIZE));
            const qsizetype room = (size + page - 1) / page * page;
            void *data = m_data ? ::mremap(m_data, size_t(m_room), size_t(room), MREMAP_MAYMOVE)
                                : ::mmap(nullptr, size_t(room), PROT_READ | PROT_WRITE,
                                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (data == MAP_FAILED)
                return false;
            m_data = static_cast<char *>(data);
            m_room = room;
        }
        m_size = size;
        return true;
    }
    void removeFront(qsizetype count)
    {
        std::memmove(m_data, m_data + count, size_t(m_size - count));
        m_size -= count;
    }

private:
    char *m_data = nullptr;
    qsizetype m_room = 0;
    qsizetype m_size = 0;
};

class PieceReader {
public:
    PieceReader(const CatalogLoader::Source &source, const CatalogLoader::Options &options,
                const std::atomic<bool> *stop)
        : m_source(source), m_options(options), m_stop(stop),
          m_piece(std::max<qsizetype>(options.pieceBytes, 16))
    {
    }

    // The source failed or there was no memory for a piece: the bytes were not all seen.
    bool failed() const { return m_failed; }

    std::optional<CatalogEntry::Catalog> read()
    {
        for (;;) {
            if (stopped(m_stop) || !readPiece())
                return std::nullopt;
            // The text as far as it holds whole characters; the rest waits for the next piece.
            const QByteArrayView whole(m_buffer.data(), m_buffer.size());
            const QByteArrayView text = m_ended ? whole : whole.first(wholeSequences(whole));
            // Outside strings JSON is ASCII, so one check covers every string in the text.
            if (!text.isValidUtf8())
                return std::nullopt;
            const std::optional<qsizetype> used = readEntries(text);
            if (!used)
                return std::nullopt;
            if (m_ended) {
                if (!m_closed || stopped(m_stop))
                    return std::nullopt;
                return std::move(m_catalog);
            }
            // An entry longer than a piece is read with pieces as long as what is kept of it, so that it is
            // parsed again only a few times.
            m_want = *used == 0 ? std::max(m_piece, m_buffer.size()) : m_piece;
            m_buffer.removeFront(*used); // keeps its room for the next piece
        }
    }

private:
    bool readPiece()
    {
        if (m_ended)
            return true;
        const qsizetype kept = m_buffer.size();
        if (!m_buffer.resize(kept + m_want)) {
            m_failed = true;
            return false;
        }
        qsizetype got = 0;
        while (got < m_want) {
            const qint64 n = m_source(m_buffer.data() + kept + got, m_want - got);
            if (n < 0) {
                m_failed = true;
                return false;
            }
            if (n == 0) {
                m_ended = true;
                break;
            }
            got += qsizetype(n);
        }
        m_buffer.resize(kept + got); // no larger: cannot fail
        m_total += got;
        if (m_options.afterPiece)
            m_options.afterPiece(m_total);
        return true;
    }

    void add(CatalogEntry &&entry)
    {
        // The file is in key order, so the end is the place to insert; of equal keys the first stays.
        QString key = entry.key;
        m_catalog.try_emplace(m_catalog.end(), std::move(key), std::move(entry));
    }

    // Reads what `text` holds of the array; returns the bytes read as a whole, after which the next piece
    // goes on, or nothing when the text is unreadable.
    std::optional<qsizetype> readEntries(QByteArrayView text)
    {
        const char *const begin = text.data(), *const end = begin + text.size();
        qsizetype used = 0;
        // What the text cannot read yet waits for the next piece; at the end it is a fault.
        const auto needMore = [&](const CatalogReader &reader) -> std::optional<qsizetype> {
            if (!m_ended && reader.failedAtEnd())
                return used;
            return std::nullopt;
        };
        CatalogReader reader(text);
        if (m_closed) {
            if (!reader.atEnd())
                return std::nullopt;
            return text.size();
        }
        if (!m_opened) {
            if (!reader.take('['))
                return needMore(reader);
            m_opened = true;
            used = reader.position() - begin;
        }
        if (m_catalog.empty()) {
            // No entry yet: the "]" of an empty array may come in a later piece than its "[".
            CatalogReader close(text.sliced(used));
            if (close.take(']')) {
                m_closed = true;
                return close.atEnd() ? std::optional<qsizetype>(text.size()) : needMore(close);
            }
        }
        if (end - (begin + used) >= m_options.parallelFrom) {
            // Up to the last entry, which the piece may have cut, or to the end when the text is the file's
            // last.
            const char *until = m_ended ? end : lastEntryStart(begin + used, end);
            if (until && until > begin + used) {
                if (ParallelCatalogReader::readInto(
                        m_catalog, QByteArrayView(begin + used, until - (begin + used)), m_ended, m_stop)) {
                    if (m_ended) {
                        m_closed = true;
                        return text.size();
                    }
                    used = until - begin;
                }
            }
        }
        CatalogReader entries(text.sliced(used));
        for (size_t count = 0;; ++count) {
            if (count % 256 == 0 && stopped(m_stop))
                return std::nullopt;
            CatalogEntry entry;
            if (!entries.readEntry(entry))
                return needMore(entries);
            if (entries.take(',')) {
                add(std::move(entry));
                used = entries.position() - begin;
                continue;
            }
            if (!entries.take(']'))
                return needMore(entries);
            add(std::move(entry));
            m_closed = true;
            if (!entries.atEnd())
                return needMore(entries);
            return text.size();
        }
    }

    const CatalogLoader::Source &m_source;
    const CatalogLoader::Options &m_options;
    const std::atomic<bool> *const m_stop;
    const qsizetype m_piece;
    qsizetype m_want = m_piece; // the next piece's length
    PieceBuffer m_buffer;       // what is left of the piece before, then the piece
    qint64 m_total = 0;
    bool m_ended = false;  // the source has no more
    bool m_opened = false; // the "[" was read
    bool m_closed = false; // the "]" was read: only space may follow
    bool m_failed = false;
    CatalogEntry::Catalog m_catalog;
};

} // namespace

namespace CatalogLoader {

std::optional<CatalogEntry::Catalog> read(const Source &source, const Options &options,
                                          const std::atomic<bool> *stop)
{
    return PieceReader(source, options, stop).read();
}

std::optional<CatalogEntry::Catalog> readText(QByteArrayView text, const Options &options,
                                              const std::atomic<bool> *stop)
{
    qsizetype at = 0;
    return read(
        [&](char *into, qint64 length) {
            const qsizetype n = std::min<qsizetype>(qsizetype(length), text.size() - at);
            if (n > 0)
                std::memcpy(into, text.data() + at, size_t(n));
            at += n;
            return qint64(n);
        },
        options, stop);
}

FileReading readFile(const QString &path, const Options &options, const std::atomic<bool> *stop)
{
    FileReading reading;
    // Not blocking: a FIFO in its place would wait for a writer forever.
    const UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        reading.absent = !fd && errno == ENOENT;
        reading.failed = !reading.absent;
        return reading;
    }
    const Source source = [&](char *into, qint64 length) -> qint64 {
        for (;;) {
            const ssize_t n = ::read(fd.get(), into, size_t(length));
            if (n < 0 && errno == EINTR)
                continue;
            return n;
        }
    };
    PieceReader reader(source, options, stop);
    reading.catalog = reader.read();
    reading.failed = reader.failed();
    return reading;
}

} // namespace CatalogLoader
