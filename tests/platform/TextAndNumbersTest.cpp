#include "platform/FileSize.h"
#include "platform/Numbers.h"
#include "platform/StringOrder.h"
#include "platform/Utf8.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <clocale>
#include <cstdio>

namespace {

struct Utf8Case {
    const char *name;
    QByteArray bytes;
    QString expected;
};

TEST(Utf8, ReplacesEachMaximalInvalidSubsequenceOnce)
{
    const QString r(QChar(0xFFFD));
    const Utf8Case cases[] = {
        {"ascii", "abc", u"abc"_qs},
        {"two-byte", "\xC3\xA9", u"é"_qs},
        {"four-byte", "\xF0\x9F\x98\x80", QString::fromUcs4(U"\U0001F600")},
        {"bom kept", "\xEF\xBB\xBFx", QString(QChar(0xFEFF)) + u"x"_qs},
        {"lone continuation", "a\x80z", u"a"_qs + r + u"z"_qs},
        {"two lone continuations", "\x80\x80", r + r},
        {"truncated three-byte", "\xE2\x82z", r + u"z"_qs},
        {"truncated at end", "ab\xE2\x82", u"ab"_qs + r},
        {"overlong two-byte", "\xC0\xAF", r + r},
        {"overlong three-byte", "\xE0\x80\xAF", r + r + r},
        {"surrogate encoded", "\xED\xA0\x80", r + r + r},
        {"above U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
        {"invalid lead F5", "\xF5z", r + u"z"_qs},
        {"truncated four-byte then ascii", "\xF0\x9F\x98" "A", r + u"A"_qs},
        {"cr and nul survive", QByteArray("a\r\0b", 4), u"a\r"_qs + QChar(0) + u"b"_qs},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Utf8::decode(c.bytes), c.expected) << c.name;
}

TEST(StringOrder, ComparesCodePointsNotUtf16Units)
{
    const QString astral = QString::fromUcs4(U"\U0001F600"); // surrogate pair in UTF-16
    const QString privateUse(QChar(0xE000));
    EXPECT_TRUE(astral < privateUse) << "Qt's own order, which we must not use";
    EXPECT_TRUE(StringOrder::less(privateUse, astral));
    EXPECT_FALSE(StringOrder::less(astral, privateUse));
    EXPECT_TRUE(StringOrder::less(u"B", u"a")); // case-sensitive
    EXPECT_TRUE(StringOrder::less(u"ab", u"abc"));
    EXPECT_EQ(StringOrder::compare(u"same", u"same"), 0);
}

TEST(RegularFileSize, AnswersOnlyForRegularFiles)
{
    QTemporaryDir dir;
    TestSupport::writeFile(dir.filePath("f.bin"), QByteArray(1234, 'x'));
    TestSupport::writeFile(dir.filePath("empty.bin"), {});
    EXPECT_EQ(regularFileSize(dir.filePath("f.bin")), 1234);
    EXPECT_EQ(regularFileSize(dir.filePath("empty.bin")), 0);
    EXPECT_EQ(regularFileSize(dir.path()), std::nullopt);
    EXPECT_EQ(regularFileSize(dir.filePath("absent")), std::nullopt);
    EXPECT_EQ(regularFileSize("/dev/null"), std::nullopt);
    EXPECT_EQ(regularFileSize(QString()), std::nullopt);
}

TEST(Numbers, FormatsWithoutTheLocale)
{
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr) << "the de_DE.UTF-8 locale must be installed";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", 1.5);
    EXPECT_STREQ(buffer, "1,50") << "the German locale is in force";
    EXPECT_EQ(Numbers::fixed(48.12345671, 7), u"48.1234567");
    EXPECT_EQ(Numbers::fixed(-0.5, 0), u"-0"); // as printf would
    EXPECT_EQ(Numbers::fixed(2.0, 3), u"2.000");
    EXPECT_EQ(Numbers::fixed(0.125, 2), u"0.12"); // exact binary value, ties to even like printf
    EXPECT_EQ(Numbers::fixed(59.99951, 3), u"60.000");
    EXPECT_EQ(Numbers::shortest(0.1), u"0.1");
    EXPECT_EQ(Numbers::parseDouble(u"1.25"), 1.25);
    std::setlocale(LC_NUMERIC, "C");
}

TEST(Numbers, ParsesOnlyWholeFiniteDecimalText)
{
    EXPECT_EQ(Numbers::parseDouble(u"4807.038"), 4807.038);
    EXPECT_EQ(Numbers::parseDouble(u"-0.5"), -0.5);
    EXPECT_EQ(Numbers::parseDouble(u"+12"), 12.0);
    EXPECT_EQ(Numbers::parseDouble(u"1e3"), 1000.0);
    EXPECT_EQ(Numbers::parseDouble(u".5"), 0.5);
    EXPECT_EQ(Numbers::parseDouble(u"5."), 5.0);
    for (const char16_t *bad : {u"", u" 1", u"1 ", u"nan", u"NaN", u"inf", u"-infinity", u"0x1p3", u"1,5", u"1e",
                                u"e5", u".", u"-", u"1e999", u"12a", u"１２"})
        EXPECT_EQ(Numbers::parseDouble(bad), std::nullopt) << QString::fromUtf16(bad).toStdString();

    EXPECT_EQ(Numbers::parseInt(u"-42"), -42);
    EXPECT_EQ(Numbers::parseInt(u"9223372036854775807"), std::numeric_limits<qint64>::max());
    for (const char16_t *bad : {u"", u"1.0", u"9223372036854775808", u"0x10", u"+", u" 7"})
        EXPECT_EQ(Numbers::parseInt(bad), std::nullopt) << QString::fromUtf16(bad).toStdString();
}

} // namespace
