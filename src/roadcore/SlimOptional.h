#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLatin1String>
#include <QString>

#include <optional>
#include <type_traits>
#include <utility>

// std::optional's interface for a QString, QByteArray or QDateTime in the room of the value alone, without
// the flag and its padding: records kept by the hundred thousand save a word each. Absence is the null text,
// and a present text is never null (an empty one is kept as an empty, not null, text). A date is absent when
// invalid: an invalid date is never written either. The value is only read through it, so no change made
// to the value in place can turn it absent.
template <class T> class SlimOptional {
public:
    SlimOptional() = default;
    SlimOptional(std::nullopt_t) {}
    SlimOptional(T value) : m_value(present(std::move(value))) {}
    SlimOptional(const std::optional<T> &value)
    {
        if (value)
            m_value = present(*value);
    }

    SlimOptional &operator=(std::nullopt_t)
    {
        reset();
        return *this;
    }
    SlimOptional &operator=(T value)
    {
        m_value = present(std::move(value));
        return *this;
    }

    bool has_value() const
    {
        if constexpr (std::is_same_v<T, QDateTime>)
            return m_value.isValid();
        else
            return !m_value.isNull();
    }
    explicit operator bool() const { return has_value(); }
    const T &operator*() const { return m_value; }
    const T *operator->() const { return &m_value; }
    const T &value() const
    {
        if (!has_value())
            throw std::bad_optional_access();
        return m_value;
    }
    T value_or(T otherwise) const { return has_value() ? m_value : std::move(otherwise); }
    void reset() { m_value = T(); }
    operator std::optional<T>() const { return has_value() ? std::optional<T>(m_value) : std::nullopt; }

    friend bool operator==(const SlimOptional &a, const SlimOptional &b)
    {
        return a.has_value() == b.has_value() && (!a.has_value() || a.m_value == b.m_value);
    }
    friend bool operator==(const SlimOptional &a, std::nullopt_t) { return !a.has_value(); }
    friend bool operator==(const SlimOptional &a, const T &b) { return a.has_value() && a.m_value == b; }

private:
    static T present(T value)
    {
        if constexpr (std::is_same_v<T, QDateTime>)
            return value;
        else if (!value.isNull())
            return value;
        else if constexpr (std::is_same_v<T, QString>)
            return QString(QLatin1String("")); // empty, not null
        else
            return QByteArray("", 0);
    }

    T m_value;
};

static_assert(sizeof(SlimOptional<QString>) == sizeof(QString));
static_assert(sizeof(SlimOptional<QByteArray>) == sizeof(QByteArray));
static_assert(sizeof(SlimOptional<QDateTime>) == sizeof(QDateTime));
