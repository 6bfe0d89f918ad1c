#include "roadcore/SlimOptional.h"

#include <gtest/gtest.h>

namespace {

// Presence survives every way a value comes in or moves on, empty and null values included.
template <class T> void checkPresence(const T &empty)
{
    struct Case {
        const char *name;
        SlimOptional<T> value;
        bool present;
    };
    const Case cases[] = {
        {"default", SlimOptional<T>(), false},
        {"nullopt", SlimOptional<T>(std::nullopt), false},
        {"empty std::optional", SlimOptional<T>(std::optional<T>()), false},
        {"null value", SlimOptional<T>(T()), true},
        {"empty value", SlimOptional<T>(empty), true},
        {"std::optional of a null value", SlimOptional<T>(std::optional<T>(T())), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.has_value(), c.present);
        const SlimOptional<T> copied = c.value;
        SlimOptional<T> source = c.value;
        const SlimOptional<T> moved = std::move(source);
        SlimOptional<T> assigned = T("x");
        assigned = c.value;
        for (const SlimOptional<T> &other : {copied, moved, assigned}) {
            EXPECT_EQ(other.has_value(), c.present);
            EXPECT_TRUE(other == c.value);
        }
        const std::optional<T> standard = c.value;
        EXPECT_EQ(standard.has_value(), c.present);
        EXPECT_EQ(c.value == std::nullopt, !c.present);
        if (c.present) {
            EXPECT_TRUE(c.value->isEmpty());
            EXPECT_TRUE(c.value == empty);
            EXPECT_NE(c.value, SlimOptional<T>());
        } else {
            EXPECT_EQ(c.value.value_or(T("other")), T("other"));
            EXPECT_THROW((void)c.value.value(), std::bad_optional_access);
        }
    }
    SlimOptional<T> value = T("text");
    EXPECT_EQ(*value, T("text"));
    EXPECT_FALSE(value == T("other"));
    value.reset();
    EXPECT_FALSE(value);
    value = T();
    EXPECT_TRUE(value);
    value = std::nullopt;
    EXPECT_FALSE(value);
}

TEST(SlimOptional, KeepsPresenceApartFromEmptinessForTextsAndBytes)
{
    checkPresence<QString>(QString(""));
    checkPresence<QByteArray>(QByteArray(""));
}

TEST(SlimOptional, TakesAnInvalidDateForNone)
{
    const QDateTime date(QDate(2024, 5, 1), QTime(8, 30), Qt::UTC);
    for (const auto &[value, present] :
         {std::pair{SlimOptional<QDateTime>(date), true},
          std::pair{SlimOptional<QDateTime>(QDateTime()), false},
          std::pair{SlimOptional<QDateTime>(std::optional<QDateTime>(QDateTime())), false},
          std::pair{SlimOptional<QDateTime>(std::optional<QDateTime>(date)), true}}) {
        EXPECT_EQ(value.has_value(), present);
        EXPECT_EQ(std::optional<QDateTime>(value), present ? std::optional<QDateTime>(date) : std::nullopt);
    }
    EXPECT_EQ(SlimOptional<QDateTime>(date), date);
    EXPECT_FALSE(SlimOptional<QDateTime>(date) == SlimOptional<QDateTime>(date.addSecs(1)));
}

} // namespace
