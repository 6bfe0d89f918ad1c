#pragma once

#include "roadcore/SlimOptional.h"

#include <QByteArray>
#include <QExplicitlySharedDataPointer>
#include <QSharedData>

#include <optional>
#include <utility>

// Optional bytes kept as a leading part that many values share plus the rest of their own, read as one
// through std::optional's interface; the bytes read are always exactly those given. The bookmarks of the
// files on one volume begin alike (the volume's identity, its mount point, the folder), so a catalog read
// gives them one leading part among them.
class PrefixBytes {
public:
    struct Prefix : QSharedData {
        explicit Prefix(QByteArray bytes) : bytes(std::move(bytes)) {}
        const QByteArray bytes;
    };
    using SharedPrefix = QExplicitlySharedDataPointer<const Prefix>;

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
    PrefixBytes(QByteArray bytes) : m_rest(std::move(bytes)) {}
    PrefixBytes(const std::optional<QByteArray> &bytes) : m_rest(bytes) {}
    // The bytes of `prefix` followed by `rest`.
    PrefixBytes(SharedPrefix prefix, QByteArray rest) : m_prefix(std::move(prefix)), m_rest(std::move(rest))
    {
    }

    PrefixBytes &operator=(std::nullopt_t)
    {
        reset();
        return *this;
    }
    PrefixBytes &operator=(QByteArray bytes)
    {
        m_prefix.reset();
        m_rest = std::move(bytes);
        return *this;
    }

    bool has_value() const { return m_rest.has_value(); }
    explicit operator bool() const { return has_value(); }
    // The whole bytes; empty when absent.
    QByteArray operator*() const { return m_prefix ? m_prefix->bytes + *m_rest : *m_rest; }
    Whole operator->() const { return Whole(**this); }
    QByteArray value() const
    {
        (void)m_rest.value(); // throws when absent
        return **this;
    }
    void reset()
    {
        m_prefix.reset();
        m_rest.reset();
    }
    operator std::optional<QByteArray>() const { return has_value() ? std::optional(**this) : std::nullopt; }
    // The shared leading part; null without.
    const SharedPrefix &prefix() const { return m_prefix; }

    friend bool operator==(const PrefixBytes &a, const PrefixBytes &b)
    {
        return a.has_value() == b.has_value() && (!a.has_value() || *a == *b);
    }
    friend bool operator==(const PrefixBytes &a, std::nullopt_t) { return !a.has_value(); }
    friend bool operator==(const PrefixBytes &a, const QByteArray &b) { return a.has_value() && *a == b; }

private:
    SharedPrefix m_prefix;
    SlimOptional<QByteArray> m_rest;
};
