// The catalog and journal readers on arbitrary bytes: never crash, and whatever they accept is written and
// read back stably. The bookmarks the catalog carries are decoded as well, since they come from the same
// user-editable file.
#include "roadcore/CatalogEntry.h"
#include "roadcore/CatalogJournal.h"

#include "platform/FileBookmark.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const CatalogJournal::Reading journal = CatalogJournal::read(bytes, "fuzz");
    if (journal.goodBytes < 0 || journal.goodBytes > bytes.size())
        std::abort();
    QByteArray rewritten = CatalogJournal::header("fuzz");
    for (const CatalogJournal::Record &record : journal.records)
        rewritten += CatalogJournal::line(record);
    const CatalogJournal::Reading again = CatalogJournal::read(rewritten, "fuzz");
    if (again.records != journal.records || again.goodBytes != rewritten.size())
        std::abort();
    auto catalog = CatalogEntry::readCatalog(bytes);
    if (!catalog)
        return 0;
    const QByteArray written = CatalogEntry::writeCatalog(*catalog);
    const auto reread = CatalogEntry::readCatalog(written);
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
