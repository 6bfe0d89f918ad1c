#include "roadcore/ParallelCatalogReader.h"

#include "roadcore/CatalogReader.h"

#include "platform/BackgroundThread.h"
#include "platform/ThreadGroup.h"

#include <cstring>
#include <vector>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// The first place at or after `from` that looks like the start of an entry after another: "{" after "}"
// and ",". Only a guess: the same characters may stand inside a string or a nested value.
const char *entryStartAfter(const char *from, const char *end)
{
    for (const char *p = from; p < end; ++p) {
        p = static_cast<const char *>(std::memchr(p, '}', size_t(end - p)));
        if (!p)
            return nullptr;
        const char *q = p + 1;
        while (q < end && isSpace(*q))
            ++q;
        if (q == end || *q != ',')
            continue;
        ++q;
        while (q < end && isSpace(*q))
            ++q;
        if (q < end && *q == '{')
            return q;
    }
    return nullptr;
}

bool stopped(const std::atomic<bool> *stop)
{
    return stop && stop->load(std::memory_order_relaxed);
}

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

std::optional<CatalogEntry::Catalog> ParallelCatalogReader::read(QByteArrayView entries, bool last,
                                                                 const std::atomic<bool> *stop)
{
    CatalogEntry::Catalog catalog;
    if (!readInto(catalog, entries, last, stop))
        return std::nullopt;
    return catalog;
}

bool ParallelCatalogReader::readInto(CatalogEntry::Catalog &into, QByteArrayView entries, bool last,
                                     const std::atomic<bool> *stop)
{
    const size_t threads = 1 + BackgroundThread::helperThreads(3);
    if (threads < 2)
        return false;
    const char *begin = entries.data(), *end = entries.data() + entries.size();
    std::vector<const char *> starts{begin};
    for (size_t k = 1; k < threads; ++k) {
        const char *start = entryStartAfter(begin + entries.size() * qsizetype(k) / qsizetype(threads), end);
        if (!start)
            break;
        if (start > starts.back())
            starts.push_back(start);
    }
    if (starts.size() < 2)
        return false;
    std::vector<std::optional<CatalogEntry::Catalog>> parts(starts.size());
    std::atomic<bool> failed = false;
    {
        const auto read = [&](size_t i) {
            const char *until = i + 1 < starts.size() ? starts[i + 1] : last ? nullptr : end;
            parts[i] = readPart(starts[i], until, end, stop, failed);
            if (!parts[i])
                failed = true;
        };
        ThreadGroup helpers;
        for (size_t i = 1; i < starts.size(); ++i) {
            // The helpers are background work whoever asked for the catalog; the asking thread keeps its
            // priority. Without a thread to spare the catalog is read in order.
            if (!helpers.start([&read, i] {
                    BackgroundThread::lowerCurrentPriority();
                    read(i);
                })) {
                failed = true;
                break;
            }
        }
        if (!failed)
            read(0);
    }
    if (failed)
        return false;
    // In file order: of equal keys the first stays, as when read in order.
    size_t i = 0;
    if (into.empty())
        into = std::move(*parts[i++]);
    for (; i < parts.size(); ++i)
        while (!parts[i]->empty())
            into.insert(into.end(), parts[i]->extract(parts[i]->begin()));
    return true;
}
