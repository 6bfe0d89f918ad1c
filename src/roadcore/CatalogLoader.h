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
    qsizetype pieceBytes = 16 << 20;
    // A text this long or longer that can be read at any place is read in slices on several threads, a
    // slice each at a time; all the slices held at once are no longer than a piece.
    qsizetype parallelFrom = 4 << 20;
    // Called after each piece or slice with the bytes read so far, one call at a time; a seam for tests.
    std::function<void(qint64)> afterPiece;
};

// Fills up to `length` bytes at `into`; returns how many, 0 at the end, -1 on an error.
using Source = std::function<qint64(char *into, qint64 length)>;
// The same from `offset` of the text, on several threads at once.
using SourceAt = std::function<qint64(char *into, qint64 length, qint64 offset)>;

// All or nothing, as one read of the whole text: any fault anywhere, and a source that fails, make the
// catalog unreadable. Of entries sharing a key the first is kept. Nothing also once `*stop` turns true,
// which is looked at every few entries. The text is `size` bytes long as the read begins; `at` reads it at
// any place and `source` in order from its start, untouched by `at`.
std::optional<CatalogEntry::Catalog> read(const Source &source, const SourceAt &at, qint64 size,
                                          const Options &options = {},
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
