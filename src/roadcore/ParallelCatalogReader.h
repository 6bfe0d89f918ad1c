#pragma once

#include "roadcore/CatalogEntry.h"

#include <QByteArrayView>

#include <atomic>
#include <optional>

// A large catalog read in parts on a few threads, cut where entries seem to meet. Only a guess: the same
// characters may stand inside a string or a nested value, so every part must end exactly where the next
// begins, and a catalog whose parts do not fit is read in order, which tells whether it is unreadable.
namespace ParallelCatalogReader {

// The entries of `entries`, which begins where an entry begins: when `last`, up to the array's "]" and
// the space after it; else whole entries, each followed by its ",", up to the end. Nothing when a cut fell
// elsewhere, the text is unreadable, `*stop` turned true or no second thread could be had.
std::optional<CatalogEntry::Catalog> read(QByteArrayView entries, bool last, const std::atomic<bool> *stop);
// The same, its entries put after those of `into`, whose keys all come before them; `into` is left alone
// when it gives nothing. A catalog read in pieces moves each entry once, not twice.
bool readInto(CatalogEntry::Catalog &into, QByteArrayView entries, bool last, const std::atomic<bool> *stop);

// The entries from `from`, the start of one, up to `until`, the start of the next part, which must be
// where an entry and its "," end; without `until`, up to the "]" and space that end the text at `end`.
// Nothing when the text is unreadable there, an entry runs past `until`, or `*stop` or `abandon` turned
// true.
std::optional<CatalogEntry::Catalog> readPart(const char *from, const char *until, const char *end,
                                              const std::atomic<bool> *stop,
                                              const std::atomic<bool> &abandon);

} // namespace ParallelCatalogReader
