#include "roadcore/ByteFields.h"

#include "platform/Utf8.h"

namespace ByteFields {

namespace {
bool holds(QByteArrayView bytes, qint64 offset, qint64 length)
{
    return offset >= 0 && offset <= bytes.size() && length <= bytes.size() - offset;
}
uint8_t at(QByteArrayView bytes, qint64 offset)
{
    return uint8_t(bytes[offset]);
}
} // namespace

uint32_t uint32LE(QByteArrayView bytes, qint64 offset)
{
    if (!holds(bytes, offset, 4))
        return 0;
    return uint32_t(at(bytes, offset)) | uint32_t(at(bytes, offset + 1)) << 8 |
           uint32_t(at(bytes, offset + 2)) << 16 | uint32_t(at(bytes, offset + 3)) << 24;
}

uint32_t uint32BE(QByteArrayView bytes, qint64 offset)
{
    if (!holds(bytes, offset, 4))
        return 0;
    return uint32_t(at(bytes, offset)) << 24 | uint32_t(at(bytes, offset + 1)) << 16 |
           uint32_t(at(bytes, offset + 2)) << 8 | uint32_t(at(bytes, offset + 3));
}

uint64_t uint64BE(QByteArrayView bytes, qint64 offset)
{
    if (!holds(bytes, offset, 8))
        return 0;
    return uint64_t(uint32BE(bytes, offset)) << 32 | uint32BE(bytes, offset + 4);
}

QString fourCC(QByteArrayView bytes, qint64 offset)
{
    if (!holds(bytes, offset, 4))
        return {};
    return Utf8::decode(bytes.sliced(offset, 4));
}

} // namespace ByteFields
