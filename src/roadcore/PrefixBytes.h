#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QExplicitlySharedDataPointer>
#include <QSharedData>

#include <optional>
#include <utility>

// Optional bytes kept in a block with those of other values: a leading part they all share, then the rest of
// each, one after another, so that a value costs no allocation of its own. Read as one through
// std::optional's interface; the bytes read are always exactly those given. The bookmarks of the files on one
// volume begin alike (the volume's identity, its mount point, the folder), so a catalog read keeps them in a
// few blocks.
class PrefixBytes {
public:
    struct Block : QSharedData {
        QByteArray prefix;
        QByteArray rests;
    };
    using SharedBlock = QExplicitlySharedDataPointer<Block>;

    // What `->` gives: the whole bytes, held for the expression.
    class Whole {
    public:
        explicit Whole(QByteArray bytes) : m_bytes(std::move(bytes)) {}
        const QByteArray *operator->() const { return &m_bytes; }

    private:
        QByteArray m_bytes;
    };

    PrefixBytes() = default;
    PrefixBytes(std::nullopt_t) {}
    // In a block of their own.
    PrefixBytes(const QByteArray &bytes);
    PrefixBytes(const std::optional<QByteArray> &bytes);
    // The prefix of `block`, then `rest`, which is added to the block's rests. Only while nothing else reads
    // the block: a catalog being read fills blocks of its own.
    static PrefixBytes withRest(const SharedBlock &block, QByteArrayView rest);

    PrefixBytes &operator=(std::nullopt_t)
    {
        reset();
        return *this;
    }
    PrefixBytes &operator=(const QByteArray &bytes) { return *this = PrefixBytes(bytes); }

    bool has_value() const { return bool(m_block); }
    explicit operator bool() const { return has_value(); }
    // The whole bytes; empty when absent.
    QByteArray operator*() const;
    Whole operator->() const { return Whole(**this); }
    QByteArray value() const;
    void reset() { *this = PrefixBytes(); }
    operator std::optional<QByteArray>() const { return has_value() ? std::optional(**this) : std::nullopt; }
    // The block the bytes are kept in, shared or not; null when absent.
    const Block *block() const { return m_block.data(); }

    friend bool operator==(const PrefixBytes &a, const PrefixBytes &b)
    {
        return a.has_value() == b.has_value() && (!a.has_value() || *a == *b);
    }
    friend bool operator==(const PrefixBytes &a, std::nullopt_t) { return !a.has_value(); }
    friend bool operator==(const PrefixBytes &a, const QByteArray &b) { return a.has_value() && *a == b; }

private:
    QExplicitlySharedDataPointer<const Block> m_block;
    quint32 m_offset = 0; // of the rest in the block's rests
    quint32 m_length = 0;
};
