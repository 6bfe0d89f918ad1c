#pragma once

#include "roadcore/CatalogEntry.h"

#include <QByteArrayView>

#include <atomic>
#include <optional>

namespace ParallelCatalogReader {

// A large catalog read in parts on a few threads, cut where entries seem to meet. Nothing when a cut fell
// elsewhere or the text is unreadable: reading it in order tells which.
std::optional<CatalogEntry::Catalog> read(QByteArrayView json, const std::atomic<bool> *stop);

} // namespace ParallelCatalogReader
