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

ConfigFile::ConfigFile(const QString &text)
{
    lineEnding = text.contains(QLatin1String("\r\n")) ? QStringLiteral("\r\n") : QStringLiteral("\n");
    const QStringList pieces = text.split(lineEnding, Qt::KeepEmptyParts);
    lines.reserve(pieces.size());
    for (const QString &piece : pieces)
        lines.append(parse(piece));
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
    return ConfigFile(Utf8::decode(bytes));
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

QString ConfigFile::text() const
{
    QString out;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            out += lineEnding;
        out += lines[i].text();
    }
    return out;
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

void ConfigFile::set(const QString &section, const QString &key, const QString &value)
{
    QString current;
    qsizetype header = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Line &line = lines[i];
        if (line.kind == Line::Kind::section) {
            current = line.name;
            if (header < 0 && current == section)
                header = i;
        } else if (line.kind == Line::Kind::entry && line.key == key && current == section) {
            lines[i] = Line::entry(key, value);
            return;
        }
    }
    if (header >= 0) {
        qsizetype at = header + 1;
        while (at < lines.size() && lines[at].kind == Line::Kind::entry)
            ++at;
        lines.insert(at, Line::entry(key, value));
        return;
    }
    lines.append(Line::section(section));
    lines.append(Line::entry(key, value));
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
