#include "roadcore/PrefixBytes.h"

#include <limits>

PrefixBytes::PrefixBytes(const QByteArray &bytes)
{
    auto *block = new Block;
    // Present even when empty: a null array would read as none elsewhere.
    block->prefix = bytes.isNull() ? QByteArray("", 0) : bytes;
    m_block = QExplicitlySharedDataPointer<const Block>(block);
}

PrefixBytes::PrefixBytes(const std::optional<QByteArray> &bytes)
{
    if (bytes)
        *this = PrefixBytes(*bytes);
}

PrefixBytes PrefixBytes::withRest(const SharedBlock &block, QByteArrayView rest)
{
    constexpr qsizetype largest = std::numeric_limits<quint32>::max();
    if (rest.size() > largest - block->rests.size()) {
        QByteArray whole = block->prefix;
        whole.append(rest);
        return PrefixBytes(whole);
    }
    PrefixBytes bytes;
    bytes.m_block = QExplicitlySharedDataPointer<const Block>(block.data());
    bytes.m_offset = quint32(block->rests.size());
    bytes.m_length = quint32(rest.size());
    block->rests.append(rest);
    return bytes;
}

QByteArray PrefixBytes::operator*() const
{
    if (!m_block)
        return {};
    if (m_length == 0)
        return m_block->prefix;
    QByteArray whole;
    whole.reserve(m_block->prefix.size() + m_length);
    whole.append(m_block->prefix).append(QByteArrayView(m_block->rests).sliced(m_offset, m_length));
    return whole;
}

QByteArray PrefixBytes::value() const
{
    if (!m_block)
        throw std::bad_optional_access();
    return **this;
}
