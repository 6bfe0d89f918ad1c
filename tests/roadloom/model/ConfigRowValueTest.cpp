#include "roadloom/model/ConfigRowValue.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <clocale>

namespace {

using namespace ConfigRowValue;

struct FormatCase {
    double value;
    const char *like;
    double step;
    const char *expected;
};

// The slider's texts: the camera's own form of the value, never the desktop's.
const FormatCase formatCases[] = {
    {12000, "12000", 100, "12000"},
    {12100, "12000", 100, "12100"},
    {25000, "12000", 100, "25000"},
    {8.5, "8", 0.5, "8.5"},
    {9, "8", 0.5, "9.0"},
    {-12, "8", 0.5, "-12.0"},
    {8.5, "8.0", 0.5, "8.5"},
    {9, "8.0", 0.5, "9.0"},
    {9, "8.25", 0.5, "9.00"},
    {9, "8.", 0.5, "9"},
    {2.5, "2", 1, "3"}, // halves away from zero
    {-2.5, "-2", 1, "-3"},
    {-0.4, "0", 1, "0"}, // never "-0"
    {0.30000000000000004, "0", 0.1, "0.30000000000000004"},
    {1e21, "0", 0.5, "1e+21"},
    {0.5, "1.2.3", 0.5, "0.500"}, // decimals counted after the first "."
    {3, "", 0.25, "3.0"},
};

void expectFormats(const char *locale)
{
    for (const FormatCase &c : formatCases)
        EXPECT_EQ(format(c.value, QString::fromUtf8(c.like), c.step), QString::fromUtf8(c.expected))
            << locale << ": " << c.value << " like " << c.like << " step " << c.step;
}

TEST(ConfigRowValue, FormatsSliderValuesLikeTheFileInAnyLocale)
{
    expectFormats("C");
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "the de_DE.UTF-8 locale must be installed";
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    expectFormats("de_DE");
    QLocale::setDefault(QLocale::c());
    std::setlocale(LC_ALL, "C");
}

TEST(ConfigRowValue, ARangeIsWholeStepsFromItsLowerBound)
{
    const ConfigSchema::Kind bitrate = ConfigSchema::Kind::range(11000, 25000, 100);
    const ConfigSchema::Kind zone = ConfigSchema::Kind::range(-12, 14, 0.5, QStringLiteral("h"));
    const ConfigSchema::Kind tenths = ConfigSchema::Kind::range(0, 1, 0.1);
    EXPECT_EQ(positions(bitrate), 140);
    EXPECT_EQ(positions(zone), 52);
    EXPECT_EQ(positions(tenths), 10);
    EXPECT_EQ(valueAt(tenths, 10), 1.0); // lower + k × step: ten added steps would give 0.9999999999999999
    EXPECT_EQ(valueAt(zone, 41), 8.5);

    struct Case {
        const ConfigSchema::Kind &kind;
        const char *text;
        int expected;
    };
    const Case cases[] = {
        {bitrate, "12000", 10}, {bitrate, "", 0},       {bitrate, "fast", 0},   {bitrate, "99999", 140},
        {bitrate, "-5", 0},     {bitrate, "12049", 10}, {bitrate, "1e99", 140}, {bitrate, " 12000", 0},
        {zone, "8", 40},        {zone, "8.0", 40},      {zone, "-12", 0},       {zone, "nan", 0},
        {zone, "14", 52},       {zone, "1,5", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(position(c.kind, QString::fromUtf8(c.text)), c.expected) << c.text;

    // Broken ranges give a slider that stays put instead of a crash or a hang.
    for (const ConfigSchema::Kind &broken :
         {ConfigSchema::Kind::range(0, 10, 0), ConfigSchema::Kind::range(10, 0, 1),
          ConfigSchema::Kind::range(0, 1e300, 1e-300)}) {
        EXPECT_LE(positions(broken), 1000000);
        EXPECT_GE(position(broken, QStringLiteral("5")), 0);
    }
}

TEST(ConfigRowValue, TogglesAndValueLabels)
{
    for (const char *on : {"1", "2", "on", "00", " "})
        EXPECT_TRUE(isOn(QString::fromUtf8(on))) << on;
    for (const char *off : {"", "0"})
        EXPECT_FALSE(isOn(QString::fromUtf8(off))) << off;
    EXPECT_EQ(withUnit(QStringLiteral("8.5"), QStringLiteral("h")), "8.5 h");
    EXPECT_EQ(withUnit(QStringLiteral("12000"), std::nullopt), "12000");
}

} // namespace
