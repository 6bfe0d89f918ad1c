#pragma once

#include "platform/Utf8.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QExplicitlySharedDataPointer>
#include <QSharedData>
#include <QString>

#include <algorithm>
#include <limits>
#include <optional>

// UTF-8 text, often a piece of one buffer that many records share, decoded only when it is read: a long
// recording's records then cost 16 bytes each instead of a string of their own. Buffers are below 4 GiB
// (records are read into memory whole); the bytes past that are not reached.
class TextRef {
public:
    TextRef() = default;
    TextRef(const QString &text) : TextRef(text.toUtf8()) {}
    TextRef(const char *utf8) : TextRef(QByteArray(utf8)) {}
    // The whole buffer, kept and not copied; its pieces share it.
    explicit TextRef(const QByteArray &buffer)
        : m_length(quint32(std::min<qsizetype>(buffer.size(), std::numeric_limits<quint32>::max())))
    {
        if (!buffer.isEmpty())
            m_buffer = new Buffer(buffer);
    }

    // `length` bytes from `offset` of this text, sharing its buffer.
    TextRef piece(qsizetype offset, qsizetype length) const
    {
        TextRef result;
        offset = std::clamp<qsizetype>(offset, 0, size());
        result.m_length = quint32(std::clamp<qsizetype>(length, 0, size() - offset));
        if (result.m_length > 0) {
            result.m_buffer = m_buffer;
            result.m_offset = m_offset + quint32(offset);
        }
        return result;
    }

    QByteArrayView bytes() const
    {
        return m_buffer ? QByteArrayView(m_buffer->bytes).sliced(m_offset, m_length) : QByteArrayView();
    }
    qsizetype size() const { return m_length; }
    bool isEmpty() const { return m_length == 0; }
    QString toString() const { return Utf8::decode(bytes()); }
    operator QString() const { return toString(); }

    friend bool operator==(const TextRef &a, const TextRef &b)
    {
        return a.bytes() == b.bytes() || a.toString() == b.toString();
    }
    friend bool operator==(const TextRef &a, const QString &b) { return a.toString() == b; }
    friend bool operator==(const TextRef &a, const char *b) { return a.toString() == QString::fromUtf8(b); }

private:
    struct Buffer : QSharedData {
        explicit Buffer(const QByteArray &b) : bytes(b) {}
        const QByteArray bytes;
    };
    QExplicitlySharedDataPointer<Buffer> m_buffer;
    quint32 m_offset = 0, m_length = 0;
};

// One piece of embedded text as a reader found it: the input of the telemetry parser.
struct RawRecord {
    qint64 index = 0;           // running number within its source, in source order
    std::optional<double> time; // seconds from the recording's start, when the source gives it
    TextRef text;

    friend bool operator==(const RawRecord &, const RawRecord &) = default;
};

// Moved as bytes when their lists grow, so that a long scan's list grows in place.
Q_DECLARE_TYPEINFO(TextRef, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(RawRecord, Q_RELOCATABLE_TYPE);
