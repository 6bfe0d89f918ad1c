// The catalog and journal readers on arbitrary bytes: never crash, a journal's names stay in "Files", and
// whatever they accept is written and read back stably. The catalog is also read in small pieces, on several
// threads, as a large file is: it must read the same as in one piece. The bookmarks the catalog carries are
// decoded as well, since they come from the same user-editable file.
#include "roadcore/CatalogEntry.h"
#include "roadcore/CatalogJournal.h"
#include "roadcore/CatalogLoader.h"

#include "platform/FileBookmark.h"

#include <QDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const CatalogJournal::Reading journal = CatalogJournal::read(bytes);
    if (journal.goodBytes < 0 || journal.goodBytes > bytes.size())
        std::abort();
    QByteArray rewritten;
    for (const CatalogJournal::Record &record : journal.records)
        rewritten += CatalogJournal::line(record);
    const CatalogJournal::Reading again = CatalogJournal::read(rewritten);
    if (again.records != journal.records || again.goodBytes != rewritten.size() || again.skippedLines != 0)
        std::abort();
    // What a journal set aside spares: the stored file of each of its records that lies in "Files", and
    // nothing outside it.
    const CatalogJournal::Names names = CatalogJournal::named(bytes);
    for (const QSet<QString> *named : {&names.paths, &names.folders})
        for (const QString &path : *named)
            if (!path.startsWith(QLatin1String("Files/")) || QDir::cleanPath(path) != path)
                std::abort();
    for (const CatalogJournal::Record &record : journal.records) {
        CatalogEntry::File file;
        file.storedPath = record.storedPath;
        const auto usable = file.usableStoredPath();
        const QString clean = usable ? QDir::cleanPath(*usable) : QString();
        if (clean.startsWith(QLatin1String("Files/")) && !names.covers(clean))
            std::abort();
    }
    auto catalog = CatalogLoader::readText(bytes);
    // Pieces and threads from the input's first byte, so that the fuzzer explores them too.
    CatalogLoader::Options options;
    options.pieceBytes = size > 0 ? 1 + data[0] % 64 : 1;
    options.parallelFrom = size > 0 && data[0] & 0x80 ? 0 : options.pieceBytes * 2;
    const auto inPieces = CatalogLoader::readText(bytes, options);
    if (inPieces.has_value() != catalog.has_value() || (catalog && *inPieces != *catalog))
        std::abort();
    if (!catalog)
        return 0;
    const QByteArray written = CatalogEntry::writeCatalog(*catalog);
    const auto reread = CatalogLoader::readText(written);
    if (!reread || *reread != *catalog || CatalogEntry::writeCatalog(*reread) != written)
        std::abort();
    for (const auto &[key, entry] : *catalog)
        for (const auto &[letter, file] : entry.files) {
            (void)file.usableStoredPath();
            if (!file.bookmark)
                continue;
            if (const auto contents = FileBookmark::decode(*file.bookmark);
                contents && FileBookmark::decode(FileBookmark::encode(*contents)) != contents)
                std::abort();
        }
    return 0;
}
