#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

// What the user must see of a failed operation: a value, never an exception crossing a thread.
struct Failure {
    QString message;
    // The same without naming the item that failed, as it reads after a count of such items ("couldn't be
    // recorded: …" after "3 copies"), so that failures of one cause can read as one line. Empty when the
    // message is all there is.
    QString cause = {};
    friend bool operator==(const Failure &, const Failure &) = default;
};

template <class T> class Result {
public:
    Result(T value) : m_value(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : m_value(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return m_value.index() == 0; }
    explicit operator bool() const { return ok(); }

    T &value() & { return std::get<0>(m_value); }
    const T &value() const & { return std::get<0>(m_value); }
    T &&value() && { return std::get<0>(std::move(m_value)); }
    T &operator*() & { return value(); }
    const T &operator*() const & { return value(); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }

    const Failure &failure() const { return std::get<1>(m_value); }
    const QString &error() const { return failure().message; }

private:
    std::variant<T, Failure> m_value;
};

template <> class Result<void> {
public:
    Result() = default;
    Result(Failure failure) : m_failure(std::move(failure)) {}

    bool ok() const { return !m_failure; }
    explicit operator bool() const { return ok(); }
    const Failure &failure() const { return *m_failure; }
    const QString &error() const { return m_failure->message; }

private:
    std::optional<Failure> m_failure;
};
