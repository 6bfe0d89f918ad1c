#include "roadloom/model/TimeText.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct TimeCase {
    double seconds;
    const char *text;
};

TEST(TimeText, FormatsByTruncationAndSwitchesFormAtTheHour)
{
    const double inf = std::numeric_limits<double>::infinity();
    const TimeCase cases[] = {
        {0, "0:00.0"},         {-0.0, "0:00.0"},     {0.05, "0:00.0"},    {0.99, "0:00.9"},
        {1e-320, "0:00.0"},    {-0.01, "0:00"},      {-5, "0:00"},        {std::nan(""), "0:00"},
        {inf, "0:00"},         {-inf, "0:00"},       {59.99, "0:59.9"},   {599.9, "9:59.8"},
        {2.3, "0:02.2"},       {3599.99, "59:59.9"}, {61.25, "1:01.2"},   {600, "10:00.0"},
        {3600, "1:00:00"},     {3661.5, "1:01:01"},  {3725.4, "1:02:05"}, {36000.4, "10:00:00"},
        {86399.9, "23:59:59"}, {360000, "100:00:00"}};
    for (const auto &c : cases)
        EXPECT_EQ(timeString(c.seconds), QString::fromLatin1(c.text)) << "seconds " << c.seconds;
}

TEST(TimeText, IgnoresTheLocale)
{
    TestSupport::ScopedEnv lang("LC_ALL", "de_DE.UTF-8");
    EXPECT_EQ(timeString(61.25), "1:01.2");
    EXPECT_EQ(timeString(4000000), "1111:06:40");
}

TEST(TimeText, HugeTimesGiveText)
{
    EXPECT_FALSE(timeString(1e19).isEmpty());
    EXPECT_FALSE(timeString(std::numeric_limits<double>::max()).isEmpty());
}

} // namespace
