#include "roadloom/model/CaselessMatch.h"

#include <gtest/gtest.h>

#include <random>

namespace {

bool qtContains(const QString &text, const QString &needle)
{
    return text.contains(needle, Qt::CaseInsensitive);
}

TEST(CaselessMatch, AnswersAsQtDoesIgnoringCase)
{
    const struct {
        QString text, needle;
        bool found;
    } cases[] = {
        {"REC_2023_03_15_10_00_00", "rec_2023_03", true},
        {"REC_2023_03_15", "c_2024", false},
        {"aaab", "AAB", true}, // a partial match restarts one place on
        {"DRIVE", "ive", true},
        {"abc", "abcd", false},
        {"abc", "", true},
        {"", "", true},
        {"", "a", false},
        {"[", "{", false}, // neighbours of the letters are not letters
        {"@", "`", false},
        {"^_", "~\x7f", false},
        {"Z", "z", true},
        {"\u212Aelvin", "kelvin", true}, // the Kelvin sign folds onto k
        {"Mu\u017Fter", "MUSTER", true}, // so does the long s
        {"\u00C9T\u00C9", "\u00E9t\u00E9", true},
        {"\u00E9t\u00E9", "ETE", false},
        {"x\U00010400y", "\U00010428Y", true}, // a letter beyond the first plane
    };
    for (const auto &c : cases) {
        const CaselessMatch match(c.needle);
        EXPECT_EQ(match.in(c.text), c.found) << c.text.toStdString() << " / " << c.needle.toStdString();
        EXPECT_EQ(qtContains(c.text, c.needle), c.found) << c.text.toStdString();
    }
}

// Random texts over letters of both cases, their neighbours and characters that fold onto ASCII; the
// needles are often pieces of the text in the other case, so that both answers occur.
TEST(CaselessMatch, AgreesWithQtOverRandomTexts)
{
    const QString alphabet = QStringLiteral("aAkKsSzZ_1@[`{\u212A\u017F\u00E9\u00C9");
    std::mt19937 random(46);
    const auto text = [&](int length) {
        QString result;
        for (int i = 0; i < length; ++i)
            result.append(alphabet.at(int(random() % alphabet.size())));
        return result;
    };
    int found = 0;
    for (int round = 0; round < 5000; ++round) {
        const QString haystack = text(int(random() % 12));
        QString needle = text(1 + int(random() % 3));
        if (random() % 2 && !haystack.isEmpty()) {
            const qsizetype from = qsizetype(random() % haystack.size());
            needle = haystack.mid(from, 1 + qsizetype(random() % 4));
            needle = random() % 2 ? needle.toUpper() : needle.toLower();
        }
        const bool expected = qtContains(haystack, needle);
        found += expected;
        ASSERT_EQ(CaselessMatch(needle).in(haystack), expected)
            << haystack.toStdString() << " / " << needle.toStdString();
    }
    EXPECT_GT(found, 1000);
    EXPECT_LT(found, 4000);
}

// The point of the class: ASCII names never take Qt's folding path.
TEST(CaselessMatch, OnlyTextsBeyondAsciiTakeQtsPath)
{
    const CaselessMatch ascii(QStringLiteral("rec_2023"));
    EXPECT_TRUE(ascii.in(u"REC_2023_03_15"));
    EXPECT_FALSE(ascii.in(u"FRONT_0001"));
    EXPECT_FALSE(ascii.in(u"REC"));
    EXPECT_EQ(ascii.slowTexts(), 0);
    EXPECT_FALSE(ascii.in(u"Caf\u00E9_2023_03_15"));
    EXPECT_EQ(ascii.slowTexts(), 1);

    const CaselessMatch accented(QStringLiteral("caf\u00C9"));
    EXPECT_TRUE(accented.in(u"CAF\u00E9"));
    EXPECT_FALSE(accented.in(u"cafe"));
    EXPECT_EQ(accented.slowTexts(), 2);
}

} // namespace
