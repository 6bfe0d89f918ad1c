#include "roadcore/ParallelCatalogReader.h"

#include "roadcore/CatalogReader.h"
#include "roadcore/PieceBuffer.h"

#include "platform/BackgroundThread.h"
#include "platform/ThreadGroup.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>

namespace {

using Catalog = CatalogEntry::Catalog;

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

bool stopped(const std::atomic<bool> *stop)
{
    return stop && stop->load(std::memory_order_relaxed);
}

struct Found {
    qsizetype start = -1;  // of the "{", when one was found
    bool needMore = false; // the bytes ended before it could tell
};

// The first "{" after a "}" at or after `from` (and before `braceLimit`, when it is not negative), with only
// a "," and space between: where an entry seems to begin after another. Only a guess: the same characters
// may stand inside a string or a nested value.
Found entryStartAfter(const char *text, qsizetype size, qsizetype from, qsizetype braceLimit)
{
    const qsizetype limit = braceLimit < 0 ? size : std::min(braceLimit, size);
    for (qsizetype p = from; p < limit; ++p) {
        const void *brace = std::memchr(text + p, '}', size_t(limit - p));
        if (!brace)
            break;
        p = static_cast<const char *>(brace) - text;
        qsizetype q = p + 1;
        while (q < size && isSpace(text[q]))
            ++q;
        if (q == size)
            return {-1, true};
        if (text[q] != ',')
            continue;
        ++q;
        while (q < size && isSpace(text[q]))
            ++q;
        if (q == size)
            return {-1, true};
        if (text[q] == '{')
            return {q, false};
    }
    // Braces beyond the bytes read may still count.
    return {-1, braceLimit < 0 || braceLimit > size};
}

// What one slice gave: the entries that begin in it, from `start` up to `cut`, where those of the next
// slice that has any begin; or, for the last, up to the text's end.
struct Slice {
    enum class Kind { empty, part, last };
    Kind kind = Kind::empty;
    qint64 start = 0, cut = 0;
    Catalog entries;
};

class SlicedRead {
public:
    SlicedRead(const ParallelCatalogReader::Source &source, const ParallelCatalogReader::Options &options,
               const std::atomic<bool> *stop)
        : m_source(source), m_options(options), m_slice(std::max<qsizetype>(options.sliceBytes, 1)),
          m_stop(stop)
    {
    }

    std::optional<Catalog> run()
    {
        {
            ThreadGroup helpers;
            for (unsigned i = 0; i < m_options.helpers; ++i) {
                // The helpers are background work whoever asked for the catalog; the asking thread keeps its
                // priority. Without them the asking thread reads every slice.
                if (!helpers.start([this] {
                        BackgroundThread::lowerCurrentPriority();
                        work();
                    }))
                    break;
            }
            work();
        }
        if (m_failed || stopped(m_stop) || !m_ended || !m_pending.empty() || m_merged != m_next.load())
            return std::nullopt;
        return std::move(m_catalog);
    }

private:
    // The text from `offset`, as far as it was read.
    struct Window {
        SlicedRead &read;
        PieceBuffer &buffer;
        qint64 offset;
        qsizetype step;
        bool ended = false;

        // At least `length` bytes, or all there are; false when the source failed.
        bool fill(qsizetype length)
        {
            const qsizetype had = buffer.size();
            if (had >= length || ended)
                return true;
            if (!buffer.resize(length))
                return false;
            qsizetype got = had;
            while (got < length) {
                const qint64 n = read.m_source(buffer.data() + got, length - got, offset + got);
                if (n < 0 || n > length - got) {
                    buffer.resize(got);
                    return false;
                }
                if (n == 0) {
                    ended = true;
                    read.noteEnd(offset + got);
                    break;
                }
                got += qsizetype(n);
            }
            buffer.resize(got);
            read.m_bytesRead += got - had;
            return true;
        }
        // More bytes, twice as many each time, for a search that ran into the end of those read.
        bool more()
        {
            const qsizetype want = buffer.size() + step;
            step *= 2;
            return fill(want);
        }
        // The place of the first byte at or after `at` that is no space, or the end.
        std::optional<qsizetype> skipSpace(qsizetype at)
        {
            for (;;) {
                while (at < buffer.size() && isSpace(buffer.data()[at]))
                    ++at;
                if (at < buffer.size() || ended)
                    return at;
                if (!more())
                    return std::nullopt;
            }
        }
    };

    void work()
    {
        // One buffer a thread, used again for each of its slices: the threads hold a slice each at a time.
        PieceBuffer buffer;
        while (!m_failed.load(std::memory_order_relaxed) && !stopped(m_stop)) {
            const size_t index = m_next.fetch_add(1);
            if (qint64(index) * m_slice >= m_end.load()) {
                finish(index, Slice());
                return;
            }
            finish(index, readSlice(buffer, index));
        }
    }

    std::optional<Slice> readSlice(PieceBuffer &buffer, size_t index)
    {
        buffer.resize(0);
        // Most searches past the slice end within an entry or two.
        Window window{*this, buffer, qint64(index) * m_slice, std::min<qsizetype>(m_slice, 4096)};
        if (!window.fill(m_slice))
            return std::nullopt;
        if (m_options.afterSlice) {
            const std::lock_guard lock(m_callMutex);
            m_options.afterSlice(m_bytesRead.load());
        }
        if (buffer.size() == 0)
            return Slice();
        qsizetype start = 0;
        if (index == 0) {
            const auto open = window.skipSpace(0);
            if (!open || *open == buffer.size() || buffer.data()[*open] != '[')
                return std::nullopt;
            start = *open + 1;
            const auto first = window.skipSpace(start);
            if (!first)
                return std::nullopt;
            if (*first < buffer.size() && buffer.data()[*first] == ']') {
                // An empty array: only space may follow it.
                const auto after = window.skipSpace(*first + 1);
                if (!after || *after != buffer.size())
                    return std::nullopt;
                Slice slice;
                slice.kind = Slice::Kind::last;
                slice.start = window.offset + start;
                slice.cut = window.offset + buffer.size();
                return slice;
            }
        } else {
            // The first entry after another whose "}" lies in this slice; the one before reads up to it.
            Found found;
            while ((found = entryStartAfter(buffer.data(), buffer.size(), 0, m_slice)).needMore &&
                   !window.ended) {
                if (!window.more())
                    return std::nullopt;
            }
            if (found.start < 0)
                return Slice();
            start = found.start;
        }
        // Where the next slice's entries begin, found as that slice finds it; none: this one runs to the end.
        Found cut;
        while ((cut = entryStartAfter(buffer.data(), buffer.size(), m_slice, -1)).needMore && !window.ended) {
            if (!window.more())
                return std::nullopt;
        }
        if (cut.start >= 0 && cut.start <= start)
            return std::nullopt;
        const qsizetype until = cut.start >= 0 ? cut.start : buffer.size();
        const char *data = buffer.data();
        // Outside strings JSON is ASCII, and the parts meet at a "{": checked part by part, the whole is.
        if (!QByteArrayView(data + start, until - start).isValidUtf8())
            return std::nullopt;
        auto entries = ParallelCatalogReader::readPart(data + start, cut.start >= 0 ? data + until : nullptr,
                                                       data + buffer.size(), m_stop, m_failed);
        if (!entries)
            return std::nullopt;
        Slice slice;
        slice.kind = cut.start >= 0 ? Slice::Kind::part : Slice::Kind::last;
        slice.start = window.offset + start;
        slice.cut = window.offset + until;
        slice.entries = std::move(*entries);
        return slice;
    }

    void noteEnd(qint64 end)
    {
        qint64 known = m_end.load();
        while (end < known && !m_end.compare_exchange_weak(known, end)) {
        }
    }

    // Takes the slices into the catalog in file order, as they come: each part must begin where the one
    // before it was cut, and none may follow the last.
    void finish(size_t index, std::optional<Slice> slice)
    {
        const std::lock_guard lock(m_mutex);
        if (!slice) {
            m_failed = true;
            return;
        }
        m_pending.emplace(index, std::move(*slice));
        while (!m_failed && !m_pending.empty() && m_pending.begin()->first == m_merged) {
            Slice next = std::move(m_pending.begin()->second);
            m_pending.erase(m_pending.begin());
            ++m_merged;
            if (next.kind == Slice::Kind::empty)
                continue;
            if (m_ended || (m_cut < 0 ? m_merged != 1 : next.start != m_cut)) {
                m_failed = true; // the file changed while it was read
                return;
            }
            m_cut = next.cut;
            m_ended = next.kind == Slice::Kind::last;
            // In file order: of equal keys the first stays, as when read in order.
            if (m_catalog.empty())
                m_catalog = std::move(next.entries);
            else
                while (!next.entries.empty())
                    m_catalog.insert(m_catalog.end(), next.entries.extract(next.entries.begin()));
        }
    }

    const ParallelCatalogReader::Source &m_source;
    const ParallelCatalogReader::Options &m_options;
    const qsizetype m_slice;
    const std::atomic<bool> *const m_stop;
    std::atomic<bool> m_failed = false;
    std::atomic<size_t> m_next = 0;                                 // the next slice to take
    std::atomic<qint64> m_end = std::numeric_limits<qint64>::max(); // of the text, once a slice met it
    std::atomic<qint64> m_bytesRead = 0;
    std::mutex m_callMutex;
    std::mutex m_mutex;                // guards what follows
    std::map<size_t, Slice> m_pending; // read, waiting for those before them
    size_t m_merged = 0;               // slices taken into the catalog
    qint64 m_cut = -1;                 // where the last part taken was cut
    bool m_ended = false;              // the last part was taken
    Catalog m_catalog;
};

} // namespace

std::optional<CatalogEntry::Catalog> ParallelCatalogReader::readPart(const char *from, const char *until,
                                                                     const char *end,
                                                                     const std::atomic<bool> *stop,
                                                                     const std::atomic<bool> &abandon)
{
    CatalogReader reader(QByteArrayView(from, end - from));
    CatalogEntry::Catalog part;
    for (;;) {
        if (part.size() % 256 == 0 && (stopped(stop) || abandon.load(std::memory_order_relaxed)))
            return std::nullopt;
        CatalogEntry entry;
        if (!reader.readEntry(entry))
            return std::nullopt;
        QString key = entry.key;
        part.try_emplace(part.end(), std::move(key), std::move(entry));
        if (!reader.take(','))
            break;
        if (until && reader.position() >= until) {
            if (reader.position() == until)
                return part;
            return std::nullopt;
        }
    }
    if (until || !reader.take(']') || !reader.atEnd())
        return std::nullopt;
    return part;
}

std::optional<CatalogEntry::Catalog> ParallelCatalogReader::read(const Source &source, const Options &options,
                                                                 const std::atomic<bool> *stop)
{
    return SlicedRead(source, options, stop).run();
}
