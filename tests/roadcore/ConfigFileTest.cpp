#include "roadcore/ConfigFile.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QSet>
#include <QTemporaryDir>

namespace {

using Kind = ConfigFile::Line::Kind;

ConfigFile readBytes(const QTemporaryDir &dir, const QByteArray &bytes)
{
    const QString path = dir.filePath(QStringLiteral("blackbox.cfg"));
    TestSupport::writeFile(path, bytes);
    Result<ConfigFile> file = ConfigFile::read(path);
    EXPECT_TRUE(file.ok());
    return file.ok() ? *file : ConfigFile();
}

struct RoundTrip {
    const char *name;
    QByteArray bytes;
    const char *lineEnding;
    int lineCount;
    QByteArray written; // empty: the input itself
};

TEST(ConfigFile, WritesBackWhatItReadByteForByte)
{
    const RoundTrip cases[] = {
        {"crlf with final line ending", "[Rec]\r\nmode=1\r\n", "\r\n", 3, {}},
        {"crlf without final line ending", "[Rec]\r\nmode=1", "\r\n", 2, {}},
        {"lf", "; camera\n[Rec]\nmode=1\n\n[Audio]\nmic_in=0\n", "\n", 7, {}},
        {"lone lf among crlf lines", "[Rec]\r\nnote=a\nb\r\n; x\ny\r\nmode=1\r\n", "\r\n", 7, {}},
        {"lone cr among lf lines", "a=1\rb\nc=2\n", "\n", 4, {}},
        {"carriage returns alone", "[Rec]\rmode=1\r", "\r", 3, {}},
        {"more lf than crlf", "a=1\nb=2\nc=3\r\n", "\n", 4, {}},
        {"byte order mark", "\xEF\xBB\xBF[Rec]\r\nmode=1\r\n", "\r\n", 3, {}},
        {"empty", "", "\n", 1, {}},
        {"only a line ending", "\r\n", "\r\n", 2, {}},
        {"comments and unknown lines", "  ; speed = 120  \n# x=1\nplain words\t\n[]\n", "\n", 5, {}},
        {"invalid utf-8 and nul bytes",
         QByteArray("a=\xFF\xFE\r\nb=\xE2\x82\r\n\xC3\xA9=1\0x", 18),
         "\r\n",
         3,
         {}},
        {"spaces around entries and headers stay",
         "  speed = 120  \r\n  [Main]\t\r\n[ Main ]",
         "\r\n",
         3,
         {}},
    };
    QTemporaryDir dir;
    for (const RoundTrip &c : cases) {
        SCOPED_TRACE(c.name);
        const ConfigFile file = readBytes(dir, c.bytes);
        EXPECT_EQ(file.lineEnding, QLatin1String(c.lineEnding));
        EXPECT_EQ(file.lines.size(), c.lineCount);
        EXPECT_EQ(file.bytes(), c.written.isEmpty() ? c.bytes : c.written);
        EXPECT_EQ(ConfigFile(file.text()), file);
    }
}

// The lines of some bytes, each with its own ending.
QList<QByteArray> linesOf(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        lines.append(bytes.sliced(begin, i + 1 - begin));
        begin = i + 1;
    }
    lines.append(bytes.sliced(begin));
    return lines;
}

struct OneLineEdit {
    const char *name;
    QByteArray bytes;
    QString section, key, value;
    int line;             // the only line that differs afterwards
    QByteArray lineAfter; // its bytes, with its ending
};

TEST(ConfigFile, AnEditChangesOnlyItsOwnLine)
{
    const QByteArray mixed = "[Audio]\r\nvolume=2\nmic=1\r\nspeaker=3\rlast=4";
    const QByteArray odd =
        QByteArray("\xEF\xBB\xBF; \xFF\xFE camera\r\n[Rec]\r\nname=\xC3(\r\nmode = 1\r\nnul=a") + '\0' +
        QByteArray("b\r\n");
    const OneLineEdit cases[] = {
        {"mixed endings, lf line", mixed, u"Audio"_qs, u"volume"_qs, u"5"_qs, 1, "volume=5\n"},
        {"mixed endings, crlf line", mixed, u"Audio"_qs, u"mic"_qs, u"0"_qs, 2, "mic=0\r\n"},
        {"mixed endings, cr line", mixed, u"Audio"_qs, u"speaker"_qs, u"1"_qs, 3, "speaker=1\r"},
        {"mixed endings, last line", mixed, u"Audio"_qs, u"last"_qs, u"0"_qs, 4, "last=0"},
        {"bom, invalid utf-8 and nul bytes left alone", odd, u"Rec"_qs, u"mode"_qs, u"2"_qs, 3, "mode=2\r\n"},
        {"a value with invalid utf-8 is encoded", odd, u"Rec"_qs, u"name"_qs, u"x\uFFFD"_qs, 2,
         "name=x\xEF\xBF\xBD\r\n"},
    };
    QTemporaryDir dir;
    for (const OneLineEdit &c : cases) {
        SCOPED_TRACE(c.name);
        ConfigFile file = readBytes(dir, c.bytes);
        const ConfigFile read = file;
        file.set(c.section, c.key, c.value);
        const QList<QByteArray> before = linesOf(c.bytes), after = linesOf(file.bytes());
        ASSERT_EQ(after.size(), before.size());
        for (qsizetype i = 0; i < before.size(); ++i)
            EXPECT_EQ(after[i], i == c.line ? c.lineAfter : before[i]) << "line " << i;
        EXPECT_NE(file, read);

        // Setting the value it had before gives back the bytes it was read with.
        file.set(c.section, c.key, *read.value(c.section, c.key));
        EXPECT_EQ(file.bytes(), c.bytes);
        EXPECT_EQ(file, read);
    }
}

TEST(ConfigFile, NewLinesTakeTheMostFrequentEnding)
{
    ConfigFile file = ConfigFile::fromBytes("[A]\r\nx=1\ny=2\r\n; c\r\n");
    EXPECT_EQ(file.lineEnding, u"\r\n"_qs);
    file.set(u"A"_qs, u"z"_qs, u"3"_qs);
    file.set(u"B"_qs, u"k"_qs, u"v"_qs);
    EXPECT_EQ(file.bytes(), QByteArray("[A]\r\nx=1\ny=2\r\nz=3\r\n; c\r\n\r\n[B]\r\nk=v"));
}

TEST(ConfigFile, WrittenValuesHoldNoLineBreak)
{
    ConfigFile file = ConfigFile::fromBytes("[Rec]\r\nnote=a\r\nmode=1\r\n");
    file.set(u"Rec"_qs, u"note"_qs, u"one\r\ntwo\nthree\rfour"_qs);
    file.set(u"New\nSection"_qs, u"k\r"_qs, u"v\n"_qs);
    EXPECT_EQ(file.value(u"Rec"_qs, u"note"_qs), u"one  two three four"_qs);
    EXPECT_EQ(file.bytes(),
              QByteArray("[Rec]\r\nnote=one  two three four\r\nmode=1\r\n\r\n[New Section]\r\nk =v "));
    EXPECT_EQ(ConfigFile::fromBytes(file.bytes()).lines.size(), file.lines.size());
}

TEST(ConfigFile, FinalLineEndingIsAnEmptyOtherLine)
{
    const ConfigFile file(QStringLiteral("[Rec]\r\nmode=1\r\n"));
    ASSERT_EQ(file.lines.size(), 3);
    EXPECT_EQ(file.lines[0], ConfigFile::Line::section(QStringLiteral("Rec")));
    EXPECT_EQ(file.lines[1], ConfigFile::Line::entry(QStringLiteral("mode"), QStringLiteral("1")));
    EXPECT_EQ(file.lines[2], ConfigFile::Line::other(QString()));
}

struct Classified {
    QString line;
    Kind kind;
    QString name, key, value; // section name, or entry key and value
    QString written;
};

TEST(ConfigFile, ClassifiesLines)
{
    const QString nbsp(QChar(0xA0));
    const Classified cases[] = {
        {u"  speed = 120  "_qs, Kind::entry, {}, u"speed"_qs, u"120"_qs, u"speed=120"_qs},
        {u"\tk\t=\tv\t"_qs, Kind::entry, {}, u"k"_qs, u"v"_qs, u"k=v"_qs},
        {nbsp + u"k=v"_qs + nbsp, Kind::entry, {}, u"k"_qs, u"v"_qs, u"k=v"_qs},
        {u"opts=a=b"_qs, Kind::entry, {}, u"opts"_qs, u"a=b"_qs, u"opts=a=b"_qs},
        {u"="_qs, Kind::entry, {}, {}, {}, u"="_qs},
        {u"k=v\r"_qs, Kind::entry, {}, u"k"_qs, u"v\r"_qs, u"k=v\r"_qs},
        {u"\nk=v"_qs, Kind::entry, {}, u"\nk"_qs, u"v"_qs, u"\nk=v"_qs},
        {u"; speed = 120"_qs, Kind::other, {}, {}, {}, u"; speed = 120"_qs},
        {u"  # x=1 "_qs, Kind::other, {}, {}, {}, u"  # x=1 "_qs},
        {u"plain words "_qs, Kind::other, {}, {}, {}, u"plain words "_qs},
        {u""_qs, Kind::other, {}, {}, {}, u""_qs},
        {u"[ Main ]"_qs, Kind::section, u" Main "_qs, {}, {}, u"[ Main ]"_qs},
        {u"  [Main] "_qs, Kind::section, u"Main"_qs, {}, {}, u"[Main]"_qs},
        {u"[]"_qs, Kind::section, u""_qs, {}, {}, u"[]"_qs},
        {u"[a=b]"_qs, Kind::section, u"a=b"_qs, {}, {}, u"[a=b]"_qs},
        {u"["_qs, Kind::other, {}, {}, {}, u"["_qs},
        {u"[x] ;c"_qs, Kind::other, {}, {}, {}, u"[x] ;c"_qs},
        {u"[x\r]"_qs, Kind::section, u"x\r"_qs, {}, {}, u"[x\r]"_qs},
    };
    for (const Classified &c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        const ConfigFile::Line line = ConfigFile::parse(c.line);
        EXPECT_EQ(line.kind, c.kind);
        EXPECT_EQ(line.name, c.name);
        EXPECT_EQ(line.key, c.key);
        EXPECT_EQ(line.value, c.value);
        EXPECT_EQ(line.text(), c.written);
    }
}

TEST(ConfigFile, ListsEntriesUnderTheirSections)
{
    const ConfigFile file(u"top=0\n; c\n[A]\nx=1\nx=2\n[B]\ny=3\n[A]\nz=4\n[C]\n"_qs);
    const QList<ConfigFile::Entry> expected = {
        {u""_qs, u"top"_qs, u"0"_qs, 0}, {u"A"_qs, u"x"_qs, u"1"_qs, 3}, {u"A"_qs, u"x"_qs, u"2"_qs, 4},
        {u"B"_qs, u"y"_qs, u"3"_qs, 6},  {u"A"_qs, u"z"_qs, u"4"_qs, 8},
    };
    EXPECT_EQ(file.entries(), expected);
    EXPECT_EQ(file.entries()[0].id(), u".top"_qs);
    EXPECT_EQ(file.entries()[1].id(), file.entries()[2].id());
    EXPECT_EQ(QSet<ConfigFile::Entry>(expected.begin(), expected.end()).size(), 5);
    EXPECT_EQ(file.sections(), (QStringList{u""_qs, u"A"_qs, u"B"_qs}));

    EXPECT_EQ(file.value(u"A"_qs, u"x"_qs), u"1"_qs);
    EXPECT_EQ(file.value(u"A"_qs, u"z"_qs), u"4"_qs);
    EXPECT_EQ(file.value(u""_qs, u"top"_qs), u"0"_qs);
    EXPECT_EQ(file.value(u"a"_qs, u"x"_qs), std::nullopt);
    EXPECT_EQ(file.value(u"A"_qs, u"X"_qs), std::nullopt);
    EXPECT_EQ(file.value(u"B"_qs, u"x"_qs), std::nullopt);
}

struct SetCase {
    const char *name;
    QString before, section, key, value, after;
};

TEST(ConfigFile, SetReplacesInsertsOrAppends)
{
    const SetCase cases[] = {
        {"replaces the line only", u"[A]\n  x = 1 \n; x=1\n"_qs, u"A"_qs, u"x"_qs, u"5"_qs,
         u"[A]\nx=5\n; x=1\n"_qs},
        {"replaces the first of two", u"[A]\nx=1\nx=2"_qs, u"A"_qs, u"x"_qs, u"9"_qs, u"[A]\nx=9\nx=2"_qs},
        {"inserts before the blank line", u"[A]\nx=1\n\n[B]"_qs, u"A"_qs, u"y"_qs, u"2"_qs,
         u"[A]\nx=1\ny=2\n\n[B]"_qs},
        {"inserts before a comment", u"[A]\nx=1\n; c\nq=0"_qs, u"A"_qs, u"y"_qs, u"2"_qs,
         u"[A]\nx=1\ny=2\n; c\nq=0"_qs},
        {"inserts at the end of the file", u"[A]\nx=1"_qs, u"A"_qs, u"y"_qs, u"2"_qs, u"[A]\nx=1\ny=2"_qs},
        {"empty section gets it after its header", u"[A]\n[B]\nb=1"_qs, u"A"_qs, u"k"_qs, u"v"_qs,
         u"[A]\nk=v\n[B]\nb=1"_qs},
        {"first of two headers", u"[A]\nx=1\n[B]\ny=1\n[A]\nz=1"_qs, u"A"_qs, u"w"_qs, u"2"_qs,
         u"[A]\nx=1\nw=2\n[B]\ny=1\n[A]\nz=1"_qs},
        {"the same key of another section is left alone", u"[A]\nx=1\n[B]\nx=1"_qs, u"B"_qs, u"x"_qs, u"2"_qs,
         u"[A]\nx=1\n[B]\nx=2"_qs},
        {"key under the second header", u"[A]\nx=1\n[B]\ny=1\n[A]\nz=1"_qs, u"A"_qs, u"z"_qs, u"2"_qs,
         u"[A]\nx=1\n[B]\ny=1\n[A]\nz=2"_qs},
        {"appends a new section", u"[A]\nx=1\n\n[B]"_qs, u"C"_qs, u"z"_qs, u"3"_qs,
         u"[A]\nx=1\n\n[B]\n[C]\nz=3"_qs},
        {"appends after the final line ending", u"a=1\n"_qs, u"S"_qs, u"k"_qs, u"v"_qs,
         u"a=1\n\n[S]\nk=v"_qs},
        {"the section before any header", u"a=1\nb=2"_qs, u""_qs, u"c"_qs, u"3"_qs, u"a=1\nb=2\n[]\nc=3"_qs},
        {"sections and keys match exactly", u"[a]\nX=1"_qs, u"A"_qs, u"x"_qs, u"2"_qs,
         u"[a]\nX=1\n[A]\nx=2"_qs},
        {"keeps crlf", u"[A]\r\nx=1\r\n"_qs, u"A"_qs, u"y"_qs, u"2"_qs, u"[A]\r\nx=1\r\ny=2\r\n"_qs},
        {"an empty file", u""_qs, u"A"_qs, u"k"_qs, u""_qs, u"\n[A]\nk="_qs},
    };
    for (const SetCase &c : cases) {
        SCOPED_TRACE(c.name);
        ConfigFile file(c.before);
        file.set(c.section, c.key, c.value);
        EXPECT_EQ(file.text(), c.after);
        EXPECT_EQ(file.value(c.section, c.key), c.value);
    }
}

TEST(ConfigFile, MergeTakesDifferingValuesOfSharedKeysOnly)
{
    const QString text = u"[Rec]\nquality=1\nfps=30\n[Audio]\nmic=1\nvol=3\n"_qs;
    {
        ConfigFile file(text);
        EXPECT_EQ(file.merge(ConfigFile(u"[Rec]\r\nquality = 1\r\n"_qs)), 0);
        EXPECT_EQ(file, ConfigFile(text));
    }
    {
        ConfigFile file(text);
        const ConfigFile profile(
            u"[Audio]\nvol=5\nmic=0\nnew=7\n[Rec]\nquality=2\nfps=30\n[Other]\nfps=60\n"_qs);
        EXPECT_EQ(file.merge(profile), 3);
        EXPECT_EQ(file.text(), u"[Rec]\nquality=2\nfps=30\n[Audio]\nmic=0\nvol=5\n"_qs);
        EXPECT_EQ(file.value(u"Audio"_qs, u"new"_qs), std::nullopt);
    }
}

TEST(ConfigFile, ComparesLinesAndLineEnding)
{
    EXPECT_EQ(ConfigFile(u"a=1\nb=2"_qs), ConfigFile(u" a = 1\nb=2"_qs));
    EXPECT_NE(ConfigFile(u"a=1\nb=2"_qs), ConfigFile(u"a=1\r\nb=2"_qs));
    EXPECT_NE(ConfigFile(u"a=1\n"_qs), ConfigFile(u"a=1"_qs));
    EXPECT_NE(ConfigFile::Line::other(u"x"_qs), ConfigFile::Line::section(u"x"_qs));
    EXPECT_NE(ConfigFile::Line::other(u" ;c"_qs), ConfigFile::Line::other(u";c"_qs));
}

TEST(ConfigFile, ReadingFailsOnlyForUnreadableFiles)
{
    QTemporaryDir dir;
    const Result<ConfigFile> missing = ConfigFile::read(dir.filePath(u"SETTING/blackbox.cfg"_qs));
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().contains(u"blackbox.cfg"_qs)) << missing.error().toStdString();
    EXPECT_FALSE(ConfigFile::read(dir.path()).ok());
}

} // namespace
