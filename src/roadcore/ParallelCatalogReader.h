#pragma once

#include "roadcore/CatalogEntry.h"

#include <QByteArrayView>

#include <atomic>
#include <functional>
#include <optional>

// A large catalog read in slices on a few threads: each thread reads a slice of the file itself, checks it
// and parses the entries that begin in it, then takes the next slice, until the file ends. The entries are
// cut where they seem to meet. Only a guess: the same characters may stand inside a string or a nested
// value, so every part must end exactly where the next begins, and a catalog whose parts do not fit is read
// in order, which tells whether it is unreadable.
namespace ParallelCatalogReader {

// Fills up to `length` bytes at `into` from `offset` of the text; returns how many, 0 at its end, -1 on an
// error. Called from several threads at once.
using Source = std::function<qint64(char *into, qint64 length, qint64 offset)>;

struct Options {
    qsizetype sliceBytes = 1 << 20;
    // The threads besides the calling one; fewer when they cannot be had.
    unsigned helpers = 3;
    // Called after each slice is read, with the bytes read so far, one call at a time; a seam for tests.
    std::function<void(qint64)> afterSlice;
};

// The entries of the whole text, all or nothing. Nothing when a cut fell inside an entry, the slices read
// do not fit together (the file changed meanwhile), the text is unreadable, the source failed or `*stop`
// turned true: reading in order then tells which.
std::optional<CatalogEntry::Catalog> read(const Source &source, const Options &options,
                                          const std::atomic<bool> *stop);

// The entries from `from`, the start of one, up to `until`, the start of the next part, which must be
// where an entry and its "," end; without `until`, up to the "]" and space that end the text at `end`.
// Nothing when the text is unreadable there, an entry runs past `until`, or `*stop` or `abandon` turned
// true.
std::optional<CatalogEntry::Catalog> readPart(const char *from, const char *until, const char *end,
                                              const std::atomic<bool> *stop,
                                              const std::atomic<bool> &abandon);

} // namespace ParallelCatalogReader
