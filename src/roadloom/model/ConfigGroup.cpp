#include "roadloom/model/ConfigGroup.h"

#include "roadcore/ConfigSchema.h"

#include <QHash>

#include <algorithm>

const QStringList &configGroupOrder()
{
    static const QStringList order{QStringLiteral("Device"),
                                   QStringLiteral("Recording"),
                                   QStringLiteral("Parking"),
                                   QStringLiteral("Driver Assistance"),
                                   QStringLiteral("Audio"),
                                   QStringLiteral("System"),
                                   QStringLiteral("Memory Partition"),
                                   QStringLiteral("Time")};
    return order;
}

QList<ConfigGroup> grouped(const QList<ConfigFile::Entry> &entries, const QString &filter)
{
    static const QString partition = QStringLiteral("Memory Partition");
    QList<ConfigGroup> groups;
    QHash<QString, qsizetype> byTitle;
    for (const ConfigFile::Entry &entry : entries) {
        const std::optional<ConfigSchema::Field> field = ConfigSchema::field(entry.key);
        if (!filter.isEmpty() && !entry.key.contains(filter, Qt::CaseInsensitive) &&
            !(field && field->title.contains(filter, Qt::CaseInsensitive)))
            continue;
        const QString other = QStringLiteral("Other [") + entry.section + QLatin1Char(']');
        QString title;
        if (!field)
            title = other;
        else if (entry.section.toLower() == QStringLiteral("capacity"))
            // The partition sizes share their key names with settings of other sections.
            title = field->group == partition ? field->group : other;
        else
            title = field->group;
        auto it = byTitle.constFind(title);
        if (it == byTitle.constEnd()) {
            it = byTitle.insert(title, groups.size());
            groups.append(ConfigGroup{title, {}});
        }
        groups[*it].entries.append(entry);
    }
    const QStringList &order = configGroupOrder();
    std::stable_sort(groups.begin(), groups.end(), [&](const ConfigGroup &a, const ConfigGroup &b) {
        const qsizetype i = order.indexOf(a.title), j = order.indexOf(b.title);
        if (i >= 0 && j >= 0)
            return i < j;
        if (i >= 0 || j >= 0)
            return i >= 0;
        return QString::compare(a.title, b.title, Qt::CaseSensitive) < 0;
    });
    return groups;
}
