#include "platform/Numbers.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <QString>

#include <charconv>
#include <cmath>
#include <string>

namespace {

// Short plain decimals take a quicker road; it must give exactly what the general reading gives.
TEST(Numbers, ShortDecimalsReadExactlyAsTheGeneralPath)
{
    QRandomGenerator random(20240501);
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        const int sign = random.bounded(3);
        if (sign == 1)
            text += '-';
        else if (sign == 2)
            text += '+';
        const int whole = random.bounded(9), fraction = random.bounded(-1, 9);
        for (int d = 0; d < whole; ++d)
            text += char('0' + random.bounded(10));
        if (fraction >= 0) {
            text += '.';
            for (int d = 0; d < fraction; ++d)
                text += char('0' + random.bounded(10));
        }
        const auto ours = Numbers::parseDouble(QString::fromStdString(text));
        const std::string plain = text[0] == '+' ? text.substr(1) : text;
        double expected = 0;
        const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), expected);
        const bool valid = result.ec == std::errc() && result.ptr == plain.data() + plain.size() &&
                           plain.find_first_of("0123456789") != std::string::npos;
        ASSERT_EQ(ours.has_value(), valid) << text;
        if (valid) {
            ASSERT_EQ(*ours, expected) << text;
            ASSERT_EQ(std::signbit(*ours), std::signbit(expected)) << text;
        }
    }
    const struct {
        const char *text;
        std::optional<qint64> value;
    } ints[] = {{"0", 0},   {"-0", 0}, {"+12", 12}, {"999999999999999999", 999999999999999999LL},
                {"", {}},   {"-", {}}, {"1-", {}},  {"9223372036854775807", 9223372036854775807LL},
                {"1.0", {}}};
    for (const auto &c : ints)
        EXPECT_EQ(Numbers::parseInt(QString::fromLatin1(c.text)), c.value) << c.text;
}

} // namespace
