#include "roadcore/CatalogLoader.h"

#include "roadcore/CatalogReader.h"
#include "roadcore/ParallelCatalogReader.h"
#include "roadcore/PieceBuffer.h"

#include "platform/BackgroundThread.h"
#include "platform/FileIO.h"
#include "platform/RegularFile.h"
#include "platform/UniqueFd.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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
        const char *const begin = text.data();
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

// The read of CatalogLoader::read in slices or in order; `*failed` turns true when there was no memory for a
// piece of the read in order.
std::optional<CatalogEntry::Catalog> readParts(const CatalogLoader::Source &source,
                                               const CatalogLoader::SourceAt &at, qint64 size,
                                               const CatalogLoader::Options &options,
                                               const std::atomic<bool> *stop, bool *failed)
{
    if (size >= options.parallelFrom) {
        ParallelCatalogReader::Options slices;
        // Each thread takes the next slice as it finishes one, so all stay busy to the end even where a
        // helper runs slowly at its lower priority, and no thread waits for another's read or check.
        slices.helpers = BackgroundThread::helperThreads(3);
        slices.sliceBytes = std::max<qsizetype>(1, options.pieceBytes / 16);
        slices.afterSlice = options.afterPiece;
        if (auto catalog = ParallelCatalogReader::read(at, slices, stop))
            return catalog;
        if (stopped(stop))
            return std::nullopt;
    }
    PieceReader reader(source, options, stop);
    std::optional<CatalogEntry::Catalog> catalog = reader.read();
    if (failed)
        *failed = reader.failed();
    return catalog;
}

} // namespace

namespace CatalogLoader {

std::optional<CatalogEntry::Catalog> read(const Source &source, const SourceAt &at, qint64 size,
                                          const Options &options, const std::atomic<bool> *stop)
{
    return readParts(source, at, size, options, stop, nullptr);
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
        [&](char *into, qint64 length, qint64 offset) {
            const qsizetype n = std::clamp<qsizetype>(text.size() - qsizetype(offset), 0, qsizetype(length));
            if (n > 0)
                std::memcpy(into, text.data() + offset, size_t(n));
            return qint64(n);
        },
        text.size(), options, stop);
}

FileReading readFile(const QString &path, const Options &options, const std::atomic<bool> *stop)
{
    FileReading reading;
    const RegularFile::Opening opening = RegularFile::openDescriptor(path);
    const UniqueFd &fd = opening.fd;
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        reading.absent = !fd && !opening.special && opening.error == ENOENT;
        reading.failed = !reading.absent;
        return reading;
    }
    // A failed read counts only when no catalog came of it: the read in order follows slices that failed.
    bool readError = false;
    qint64 offset = 0;
    const Source source = [&](char *into, qint64 length) -> qint64 {
        const qint64 n = FileIO::readAt(fd.get(), into, length, offset);
        readError = readError || n < 0;
        offset += std::max<qint64>(n, 0);
        return n;
    };
    const SourceAt at = [&](char *into, qint64 length, qint64 offset) {
        return FileIO::readAt(fd.get(), into, length, offset);
    };
    bool noMemory = false;
    reading.catalog = readParts(source, at, qint64(st.st_size), options, stop, &noMemory);
    reading.failed = !reading.catalog && (readError || noMemory);
    return reading;
}

} // namespace CatalogLoader
