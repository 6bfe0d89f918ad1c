#pragma once

#include "platform/Result.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A camera's INI-like configuration file kept line by line, so that single values can be changed and the
// file written back with its layout, comments, unknown keys and line ending in place.
struct ConfigFile {
    // One line of the file.
    struct Line {
        enum class Kind { section, entry, other };
        Kind kind = Kind::other;
        QString name;  // section: the text between the brackets, untrimmed
        QString key;   // entry, trimmed
        QString value; // entry, trimmed; may contain "="
        QString raw;   // other: the line exactly as read

        static Line section(QString name);
        static Line entry(QString key, QString value);
        static Line other(QString raw);
        // The line as it is written back.
        QString text() const;

        friend bool operator==(const Line &, const Line &) = default;
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
    QString lineEnding = QStringLiteral("\n"); // "\r\n" or "\n"

    ConfigFile() = default;
    // Parses a text; never fails.
    explicit ConfigFile(const QString &text);
    // Reads the file at a path, repairing invalid UTF-8; fails only when the file cannot be read.
    static Result<ConfigFile> read(const QString &path);

    static Line parse(const QString &line);

    // The file's text for writing: every line written back, joined by the line ending.
    QString text() const;
    QList<Entry> entries() const;
    // The distinct sections of the entries, in order of first appearance.
    QStringList sections() const;
    // The first entry with exactly this section and key.
    std::optional<QString> value(const QString &section, const QString &key) const;
    // Replaces the first such entry, else adds it after the entries of the section's first header, else
    // appends the section and the entry.
    void set(const QString &section, const QString &key, const QString &value);
    // Takes the other file's values for keys both files have; returns how many values changed.
    int merge(const ConfigFile &other);

    friend bool operator==(const ConfigFile &, const ConfigFile &) = default;
};

size_t qHash(const ConfigFile::Entry &entry, size_t seed = 0);
