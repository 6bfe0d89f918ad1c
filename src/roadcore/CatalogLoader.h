#pragma once

#include "roadcore/CatalogEntry.h"

#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

// Reads "catalog.json" in pieces into entries. A piece is read into memory of the process: a file mapped
// instead kills the program when another one cuts it short under the reader, while read in pieces a file
// that shrinks is only an unreadable catalog. The memory the read holds beyond the catalog is a piece and
// the end of the entry it cut.
namespace CatalogLoader {

struct Options {
    // Each piece read on several threads ends with a wait for the slowest of them, and helper threads run
    // at a low priority: 16 MiB keeps a large catalog's waits to a few.
    qsizetype pieceBytes = 16 << 20;
    // A piece and what was left of the one before this long or longer is read on several threads.
    qsizetype parallelFrom = 4 << 20;
    // Called after each piece with the bytes read so far; a seam for tests.
    std::function<void(qint64)> afterPiece;
};

// Fills up to `length` bytes at `into`; returns how many, 0 at the end, -1 on an error.
using Source = std::function<qint64(char *into, qint64 length)>;

// All or nothing, as one read of the whole text: any fault anywhere, and a source that fails, make the
// catalog unreadable. Of entries sharing a key the first is kept. Nothing also once `*stop` turns true,
// which is looked at every few entries.
std::optional<CatalogEntry::Catalog> read(const Source &source, const Options &options = {},
                                          const std::atomic<bool> *stop = nullptr);
// The same of text in memory.
std::optional<CatalogEntry::Catalog> readText(QByteArrayView text, const Options &options = {},
                                              const std::atomic<bool> *stop = nullptr);

struct FileReading {
    bool absent = false; // no file: an empty catalog
    // The file could not be read now (no descriptor, an I/O error, no memory, no regular file): no verdict
    // on its bytes, which may be whole.
    bool failed = false;
    std::optional<CatalogEntry::Catalog> catalog; // none when it exists but is unreadable or the read stopped
};
FileReading readFile(const QString &path, const Options &options = {},
                     const std::atomic<bool> *stop = nullptr);

} // namespace CatalogLoader
