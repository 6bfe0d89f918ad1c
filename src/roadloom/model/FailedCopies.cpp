#include "roadloom/model/FailedCopies.h"

#include <QStringList>

#include <algorithm>
#include <utility>
#include <vector>

QString FailedCopies::Failed::group() const
{
    return failure.cause.isEmpty() ? line() : failure.cause;
}

QString FailedCopies::Failed::line() const
{
    // A message with a cause names its file; one without may not.
    return failure.cause.isEmpty() ? name + QStringLiteral(": ") + failure.message : failure.message;
}

void FailedCopies::add(const CacheJob &job, const Failure &failure)
{
    const QString file = job.key + QLatin1Char('/') + rawValue(job.channel);
    if (const auto earlier = m_orderOfFile.constFind(file); earlier != m_orderOfFile.cend()) {
        const auto failed = m_byOrder.find(*earlier);
        const QString group = failed->second.group();
        if (--m_groups[group].count == 0)
            m_groups.remove(group);
        m_byOrder.erase(failed);
    }
    const quint64 order = m_next++;
    Failed failed{job.name, failure};
    Group &group = m_groups[failed.group()];
    ++group.count;
    group.latest = order;
    group.isCause = !failure.cause.isEmpty();
    m_byOrder.emplace(order, std::move(failed));
    m_orderOfFile.insert(file, order);
}

void FailedCopies::clear()
{
    m_byOrder.clear();
    m_orderOfFile.clear();
    m_groups.clear();
}

QString FailedCopies::summary(qsizetype lines) const
{
    std::vector<std::pair<quint64, QString>> latestFirst;
    latestFirst.reserve(size_t(m_groups.size()));
    for (auto group = m_groups.cbegin(); group != m_groups.cend(); ++group)
        latestFirst.emplace_back(group->latest, group.key());
    const auto shown = latestFirst.begin() + std::clamp(lines, qsizetype(0), qsizetype(latestFirst.size()));
    std::partial_sort(latestFirst.begin(), shown, latestFirst.end(),
                      [](const auto &a, const auto &b) { return a.first > b.first; });
    QStringList text;
    for (auto shownGroup = latestFirst.cbegin(); shownGroup != shown; ++shownGroup) {
        const QString &key = shownGroup->second;
        const Group group = m_groups.value(key);
        if (!group.isCause)
            text.append(key);
        else if (group.count == 1)
            text.append(QStringLiteral("A copy ") + key + QLatin1Char('.'));
        else
            text.append(QStringLiteral("%1 copies ").arg(group.count) + key + QLatin1Char('.'));
    }
    return text.join(QLatin1Char('\n'));
}

QString FailedCopies::detail(qsizetype lines) const
{
    QStringList text;
    for (auto failed = m_byOrder.cbegin(); failed != m_byOrder.cend() && text.size() < lines; ++failed)
        text.append(failed->second.line());
    if (qsizetype(m_byOrder.size()) > text.size())
        text.append(QStringLiteral("… and %1 more.").arg(qsizetype(m_byOrder.size()) - text.size()));
    return text.join(QLatin1Char('\n'));
}
