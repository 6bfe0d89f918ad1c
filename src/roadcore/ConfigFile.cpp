#include "roadcore/ConfigFile.h"

#include "platform/RegularFile.h"
#include "platform/Utf8.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace {

// Space separators and tabs; line breaks (a lone CR or LF inside a line) are content.
bool isBlank(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QStringView trimmed(QStringView text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

} // namespace

ConfigFile::Line ConfigFile::Line::section(QString name)
{
    Line line;
    line.kind = Kind::section;
    line.name = std::move(name);
    return line;
}

ConfigFile::Line ConfigFile::Line::entry(QString key, QString value)
{
    Line line;
    line.kind = Kind::entry;
    line.key = std::move(key);
    line.value = std::move(value);
    return line;
}

ConfigFile::Line ConfigFile::Line::other(QString raw)
{
    Line line;
    line.raw = std::move(raw);
    return line;
}

QString ConfigFile::Line::text() const
{
    switch (kind) {
    case Kind::section:
        return QLatin1Char('[') + name + QLatin1Char(']');
    case Kind::entry:
        return key + QLatin1Char('=') + value;
    case Kind::other:
        break;
    }
    return raw;
}

QByteArray ConfigFile::Line::bytes() const
{
    // Unchanged when the bytes still read as this line; an edit back to the old value restores them too.
    if (original && parse(Utf8::decode(*original)) == *this)
        return *original;
    return text().toUtf8();
}

namespace {

// Splits at every CR LF, LF and CR, giving each piece and the ending after it ("" after the last piece),
// and picks the most frequent ending (CR LF, then LF, then CR on a tie; LF when there is none).
template <class Text, class Piece> void splitLines(const Text &text, ConfigFile &file, const Piece &piece)
{
    const QString crlf = QStringLiteral("\r\n"), lf = QStringLiteral("\n"), cr = QStringLiteral("\r");
    qsizetype counts[3] = {0, 0, 0};
    qsizetype begin = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const auto c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        const bool pair = c == '\r' && i + 1 < n && text[i + 1] == '\n';
        const int kind = pair ? 0 : c == '\n' ? 1 : 2;
        ++counts[kind];
        ConfigFile::Line line = piece(begin, i - begin);
        line.ending = kind == 0 ? crlf : kind == 1 ? lf : cr;
        file.lines.append(std::move(line));
        i += pair ? 1 : 0;
        begin = i + 1;
    }
    file.lines.append(piece(begin, n - begin));
    int most = 1;
    if (counts[0] > 0 && counts[0] >= counts[1] && counts[0] >= counts[2])
        most = 0;
    else if (counts[2] > counts[1])
        most = 2;
    file.lineEnding = most == 0 ? crlf : most == 1 ? lf : cr;
}

} // namespace

ConfigFile::ConfigFile(const QString &text)
{
    splitLines(text, *this, [&text](qsizetype at, qsizetype size) {
        const QString piece = text.sliced(at, size);
        Line line = parse(piece);
        line.original = piece.toUtf8();
        return line;
    });
}

ConfigFile ConfigFile::fromBytes(const QByteArray &bytes)
{
    ConfigFile file;
    splitLines(bytes, file, [&bytes](qsizetype at, qsizetype size) {
        const QByteArray piece = bytes.sliced(at, size);
        Line line = parse(Utf8::decode(piece));
        line.original = piece;
        return line;
    });
    return file;
}

Result<ConfigFile> ConfigFile::read(const QString &path)
{
    Result<std::unique_ptr<QFile>> opened = RegularFile::openFile(path);
    if (!opened)
        return opened.failure();
    QFile &file = **opened;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Failure{
            QStringLiteral("Couldn’t read “%1”: %2").arg(QFileInfo(path).fileName(), file.errorString())};
    return fromBytes(bytes);
}

QString ConfigFile::singleLine(QString text)
{
    for (QChar &c : text)
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    return text;
}

ConfigFile::Line ConfigFile::parse(const QString &line)
{
    const QStringView t = trimmed(line);
    if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
        return Line::section(t.sliced(1, t.size() - 2).toString());
    if (t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')))
        return Line::other(line);
    const qsizetype equals = t.indexOf(QLatin1Char('='));
    if (equals >= 0)
        return Line::entry(trimmed(t.first(equals)).toString(), trimmed(t.sliced(equals + 1)).toString());
    return Line::other(line);
}

QByteArray ConfigFile::bytes() const
{
    QByteArray out;
    for (const Line &line : lines) {
        out += line.bytes();
        out += line.ending.toLatin1();
    }
    return out;
}

QString ConfigFile::text() const
{
    return Utf8::decode(bytes());
}

QList<ConfigFile::Entry> ConfigFile::entries() const
{
    QList<Entry> result;
    QString current;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Line &line = lines[i];
        if (line.kind == Line::Kind::section)
            current = line.name;
        else if (line.kind == Line::Kind::entry)
            result.append(Entry{current, line.key, line.value, int(i)});
    }
    return result;
}

QStringList ConfigFile::sections() const
{
    QStringList result;
    for (const Entry &entry : entries()) {
        if (!result.contains(entry.section))
            result.append(entry.section);
    }
    return result;
}

std::optional<QString> ConfigFile::value(const QString &section, const QString &key) const
{
    QString current;
    for (const Line &line : lines) {
        if (line.kind == Line::Kind::section)
            current = line.name;
        else if (line.kind == Line::Kind::entry && line.key == key && current == section)
            return line.value;
    }
    return std::nullopt;
}

void ConfigFile::set(const QString &anySection, const QString &anyKey, const QString &anyValue)
{
    // A line break would split the line in two, or mix line endings.
    const QString section = singleLine(anySection), key = singleLine(anyKey), value = singleLine(anyValue);
    QString current;
    qsizetype header = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Line &line = lines[i];
        if (line.kind == Line::Kind::section) {
            current = line.name;
            if (header < 0 && current == section)
                header = i;
        } else if (line.kind == Line::Kind::entry && line.key == key && current == section) {
            lines[i].value = value;
            return;
        }
    }
    if (header >= 0) {
        qsizetype at = header + 1;
        while (at < lines.size() && lines[at].kind == Line::Kind::entry)
            ++at;
        insert(at, Line::entry(key, value));
        return;
    }
    insert(lines.size(), Line::section(section));
    insert(lines.size(), Line::entry(key, value));
}

void ConfigFile::insert(qsizetype at, Line line)
{
    // The last line has no ending: a line added after it gives it the file's one instead.
    if (at == lines.size() && !lines.isEmpty())
        lines.last().ending = lineEnding;
    line.ending = at == lines.size() ? QString() : lineEnding;
    lines.insert(at, std::move(line));
}

bool operator==(const ConfigFile &a, const ConfigFile &b)
{
    if (a.lineEnding != b.lineEnding || a.lines.size() != b.lines.size())
        return false;
    for (qsizetype i = 0; i < a.lines.size(); ++i)
        if (a.lines[i] != b.lines[i] || a.lines[i].ending != b.lines[i].ending)
            return false;
    return true;
}

int ConfigFile::merge(const ConfigFile &other)
{
    int changed = 0;
    for (const Entry &entry : other.entries()) {
        const std::optional<QString> mine = value(entry.section, entry.key);
        if (mine && *mine != entry.value) {
            set(entry.section, entry.key, entry.value);
            ++changed;
        }
    }
    return changed;
}

size_t qHash(const ConfigFile::Entry &entry, size_t seed)
{
    return qHashMulti(seed, entry.section, entry.key, entry.value, entry.lineIndex);
}
