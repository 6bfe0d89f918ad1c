#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A camera's INI-like configuration file kept line by line, so that single values can be changed and the
// file written back with its layout, comments, unknown keys and line endings in place: every line that was
// not changed goes back with the bytes it was read with.
struct ConfigFile {
    // One line of the file.
    struct Line {
        enum class Kind { section, entry, other };
        Kind kind = Kind::other;
        QString name;  // section: the text between the brackets, untrimmed
        QString key;   // entry, trimmed
        QString value; // entry, trimmed; may contain "="
        QString raw;   // other: the line exactly as read
        // "\r\n", "\n" or "\r" after the line; "" after the last one.
        QString ending;
        // The bytes the line was read with, without its ending: written back while the line says the same.
        std::optional<QByteArray> original;

        static Line section(QString name);
        static Line entry(QString key, QString value);
        static Line other(QString raw);
        // The line as it is written back when it was changed or made anew.
        QString text() const;
        // The line's bytes as written back, without its ending.
        QByteArray bytes() const;

        // The same content; the line ending and the original bytes are not compared.
        friend bool operator==(const Line &a, const Line &b)
        {
            return a.kind == b.kind && a.name == b.name && a.key == b.key && a.value == b.value &&
                   a.raw == b.raw;
        }
    };

    // One key=value line as the editor sees it.
    struct Entry {
        QString section; // the nearest header above; "" before the first header
        QString key;
        QString value;
        int lineIndex = 0;

        // Entries of the same section and key share it.
        QString id() const { return section + QLatin1Char('.') + key; }

        friend bool operator==(const Entry &, const Entry &) = default;
    };

    QList<Line> lines;
    // The file's most frequent line ending, given to lines added to it: "\r\n", "\n" or "\r".
    QString lineEnding = QStringLiteral("\n");

    ConfigFile() = default;
    // Parses a text split at every line ending (CR LF, LF or CR); never fails.
    explicit ConfigFile(const QString &text);
    // Parses bytes, repairing invalid UTF-8 for the editor while keeping each line's bytes; never fails.
    static ConfigFile fromBytes(const QByteArray &bytes);
    // Reads the file at a path; fails only when the file cannot be read.
    static Result<ConfigFile> read(const QString &path);

    static Line parse(const QString &line);
    // A value as it can be written on one line: each carriage return and line feed becomes a space.
    static QString singleLine(QString text);

    // The bytes for writing: every line and its own ending.
    QByteArray bytes() const;
    // The same, as text (invalid UTF-8 shown repaired).
    QString text() const;
    QList<Entry> entries() const;
    // The distinct sections of the entries, in order of first appearance.
    QStringList sections() const;
    // The first entry with exactly this section and key.
    std::optional<QString> value(const QString &section, const QString &key) const;
    // Replaces the first such entry, else adds it after the entries of the section's first header, else
    // appends the section and the entry. Line breaks in the arguments become spaces.
    void set(const QString &section, const QString &key, const QString &value);
    // Takes the other file's values for keys both files have; returns how many values changed.
    int merge(const ConfigFile &other);

    // The same lines with the same endings.
    friend bool operator==(const ConfigFile &a, const ConfigFile &b);

private:
    void insert(qsizetype at, Line line);
};

size_t qHash(const ConfigFile::Entry &entry, size_t seed = 0);
