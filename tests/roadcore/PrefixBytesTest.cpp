#include "roadcore/PrefixBytes.h"

#include <gtest/gtest.h>

namespace {

TEST(PrefixBytes, ReadsAsTheWholeBytesHoweverTheyAreKept)
{
    const PrefixBytes::SharedBlock block(new PrefixBytes::Block);
    block->prefix = "volume:";
    struct Case {
        const char *name;
        PrefixBytes value;
        std::optional<QByteArray> whole;
    };
    const Case cases[] = {
        {"absent", PrefixBytes(), std::nullopt},
        {"nullopt", PrefixBytes(std::nullopt), std::nullopt},
        {"alone", PrefixBytes(QByteArray("volume:a")), QByteArray("volume:a")},
        {"empty", PrefixBytes(QByteArray()), QByteArray("")},
        {"in a block", PrefixBytes::withRest(block, "a"), QByteArray("volume:a")},
        {"only the prefix", PrefixBytes::withRest(block, ""), QByteArray("volume:")},
        {"after others in the block", PrefixBytes::withRest(block, "bc"), QByteArray("volume:bc")},
        {"from std::optional", PrefixBytes(std::optional<QByteArray>("x")), QByteArray("x")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.has_value(), c.whole.has_value());
        EXPECT_EQ(std::optional<QByteArray>(c.value), c.whole);
        EXPECT_EQ(*c.value, c.whole.value_or(QByteArray()));
        EXPECT_EQ(c.value->size(), c.whole.value_or(QByteArray()).size());
        EXPECT_EQ(c.value == std::nullopt, !c.whole);
        for (const Case &other : cases)
            EXPECT_EQ(c.value == other.value, c.whole == other.whole) << other.name;
        if (c.whole)
            EXPECT_TRUE(c.value == *c.whole);
        else
            EXPECT_THROW((void)c.value.value(), std::bad_optional_access);
    }
    // Assigning replaces the whole, the shared part too.
    PrefixBytes value = PrefixBytes::withRest(block, "a");
    value = QByteArray("b");
    EXPECT_EQ(*value, "b");
    EXPECT_NE(value.block(), block.data());
    value = std::nullopt;
    EXPECT_FALSE(value);
}

} // namespace
