#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// The configuration keys the program knows: a readable title, the editor's group, the kind of value and an
// optional help text for each. Built once on first use, immutable afterwards, readable from any thread.
namespace ConfigSchema {

struct Option {
    QString value; // what the file holds
    QString label; // what the editor shows
};

struct Kind {
    enum class Type { choice, range, toggle, text };
    Type type = Type::text;
    QList<Option> options;       // choice
    double lower = 0, upper = 0; // range, closed
    double step = 0;             // range
    std::optional<QString> unit; // range

    static Kind choice(QList<Option> options);
    static Kind range(double lower, double upper, double step, std::optional<QString> unit = std::nullopt);
    static Kind toggle();
    static Kind text();

    // Choices compare by their option values only; labels are for display.
    friend bool operator==(const Kind &a, const Kind &b);
};

struct Field {
    QString title;
    QString group;
    Kind kind;
    std::optional<QString> help;

    friend bool operator==(const Field &, const Field &) = default;
};

// The five-step choice shared by every sensitivity key: "1" to "5", "Lowest" to "Highest".
const Kind &sensitivity();
// Every known key with its field; keys are compared exactly.
const QHash<QString, Field> &fields();
// The field of exactly this key (no case folding or trimming), or nothing for an unknown key.
std::optional<Field> field(const QString &key);
// The camera's configuration file in a mounted volume or folder, or nothing.
std::optional<QString> configURL(const QString &volumePath);

} // namespace ConfigSchema
