// Camera configuration files: any bytes parse, and writing the unedited document gives back the repaired
// text, except that entry and header lines lose the spaces and tabs around them and around the first "=".
#include "platform/Utf8.h"
#include "roadcore/ConfigFile.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdlib>

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QString withoutBlanks(const QString &text)
{
    QString out;
    for (QChar c : text) {
        if (!isBlank(c))
            out.append(c);
    }
    return out;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = Utf8::decode(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    ConfigFile file(text);
    const QString ending =
        text.contains(QLatin1String("\r\n")) ? QStringLiteral("\r\n") : QStringLiteral("\n");
    check(file.lineEnding == ending);

    const QString written = file.text();
    check(Utf8::decode(written.toUtf8()) == written); // the card gets valid UTF-8
    const QStringList before = text.split(ending);
    const QStringList after = written.split(ending);
    check(before.size() == file.lines.size() && after.size() == before.size());
    bool normalised = false;
    int entryLines = 0;
    for (qsizetype i = 0; i < before.size(); ++i) {
        if (file.lines[i].kind == ConfigFile::Line::Kind::other) {
            check(after[i] == before[i]);
            continue;
        }
        entryLines += file.lines[i].kind == ConfigFile::Line::Kind::entry;
        check(after[i].size() <= before[i].size() && withoutBlanks(after[i]) == withoutBlanks(before[i]));
        normalised = normalised || after[i] != before[i];
    }
    check(normalised || written == text);
    check(file.entries().size() == entryLines);

    // Written text reads back as the same document, unless trimming joined a carriage return to the line
    // feed of the next line ending.
    const ConfigFile reread(written);
    check(reread.lineEnding != file.lineEnding || (reread == file && reread.text() == written));

    file.set(QStringLiteral("fuzz"), QStringLiteral("key"), QStringLiteral("value"));
    check(file.value(QStringLiteral("fuzz"), QStringLiteral("key")) == QStringLiteral("value"));
    return 0;
}
