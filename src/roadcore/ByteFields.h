#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdint>

// Fields of foreign binary data. Offsets count from the first byte of the view; a field that is not wholly
// inside the view reads as 0 or as the empty text, never out of range.
namespace ByteFields {

uint32_t uint32LE(QByteArrayView bytes, qint64 offset);
uint32_t uint32BE(QByteArrayView bytes, qint64 offset);
uint64_t uint64BE(QByteArrayView bytes, qint64 offset);
// The four bytes decoded as UTF-8, each invalid sequence replaced by U+FFFD.
QString fourCC(QByteArrayView bytes, qint64 offset);

} // namespace ByteFields
