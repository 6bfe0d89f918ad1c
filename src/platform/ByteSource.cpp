#include "platform/ByteSource.h"

#include "platform/RegularFile.h"

#include <QFile>

#include <algorithm>

namespace {
// One page: large enough to hold the headers of many small chunks, small enough that skipping over big
// media chunks does not read their bodies.
constexpr qint64 blockSize = 4096;
} // namespace

std::unique_ptr<ByteSource> ByteSource::openFile(const QString &path)
{
    Result<std::unique_ptr<QFile>> file = RegularFile::openFile(path);
    if (!file)
        return nullptr;
    const qint64 size = (*file)->size();
    return std::unique_ptr<ByteSource>(new ByteSource(std::move(*file), std::max<qint64>(size, 0)));
}

ByteSource::ByteSource(QByteArray bytes) : m_memory(std::move(bytes)), m_size(m_memory.size()) {}

ByteSource::ByteSource(std::unique_ptr<QIODevice> device, qint64 size)
    : m_device(std::move(device)), m_size(size)
{
}

ByteSource::~ByteSource() = default;

QByteArray ByteSource::read(qint64 offset, qint64 length)
{
    if (m_failed || offset < 0 || length <= 0 || offset >= m_size)
        return {};
    length = std::min(length, m_size - offset);
    if (!m_device)
        return m_memory.mid(offset, length);

    if (m_blockOffset >= 0 && offset >= m_blockOffset && offset + length <= m_blockOffset + m_block.size())
        return m_block.mid(offset - m_blockOffset, length);
    if (length > blockSize)
        return readDevice(offset, length);
    m_block = readDevice(offset, std::min(blockSize, m_size - offset));
    m_blockOffset = m_block.isEmpty() ? -1 : offset;
    return m_block.left(length);
}

QByteArray ByteSource::readDevice(qint64 offset, qint64 length)
{
    if (!m_device->seek(offset)) {
        m_failed = true;
        return {};
    }
    QByteArray bytes(length, Qt::Uninitialized);
    qint64 filled = 0;
    while (filled < length) {
        const qint64 got = m_device->read(bytes.data() + filled, length - filled);
        if (got < 0) {
            m_failed = true;
            return {};
        }
        if (got == 0)
            break; // the file shrank since it was opened
        filled += got;
    }
    bytes.truncate(filled);
    return bytes;
}
