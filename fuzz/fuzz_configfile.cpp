// Camera configuration files: any bytes parse, an unedited document writes back the very bytes it was read
// from, and an edit changes only the edited line, never bringing a line break into it.
#include "platform/Utf8.h"
#include "roadcore/ConfigFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The lines of some bytes with their endings, split at CR LF, LF and CR.
QList<QByteArray> splitLines(const QByteArray &bytes)
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    ConfigFile file = ConfigFile::fromBytes(bytes);
    check(file.bytes() == bytes);
    check(file.text() == Utf8::decode(bytes));
    const QList<QByteArray> before = splitLines(bytes);
    check(file.lines.size() == before.size());
    check(ConfigFile::fromBytes(file.bytes()) == file);

    // An edit of the first entry with a value holding line breaks: one line differs, and it has none.
    const QList<ConfigFile::Entry> entries = file.entries();
    if (entries.isEmpty())
        return 0;
    const ConfigFile::Entry &first = entries.constFirst();
    file.set(first.section, first.key, QStringLiteral("a\r\nb\nc\r"));
    check(file.value(first.section, first.key) == QStringLiteral("a  b c "));
    const QList<QByteArray> after = splitLines(file.bytes());
    check(after.size() == before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        check(i == first.lineIndex || after[i] == before[i]);
    check(ConfigFile::fromBytes(file.bytes()).value(first.section, first.key) == QStringLiteral("a  b c"));
    return 0;
}
