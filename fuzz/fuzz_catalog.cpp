// The catalog reader on arbitrary bytes: never crashes, and whatever it accepts is written and read back
// stably. The bookmarks it carries are decoded as well, since they come from the same user-editable file.
#include "roadcore/CatalogEntry.h"

#include "platform/FileBookmark.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto catalog = CatalogEntry::readCatalog(bytes);
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
