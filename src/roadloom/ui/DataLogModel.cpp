#include "roadloom/ui/DataLogModel.h"

#include <QFontDatabase>

#include <algorithm>
#include <numeric>

DataLogModel::DataLogModel(QObject *parent)
    : QAbstractTableModel(parent), m_monospace(QFontDatabase::systemFont(QFontDatabase::FixedFont))
{
}

void DataLogModel::setRecords(const QList<TelemetryRecord> &records)
{
    beginResetModel();
    m_records = records;
    m_folded.clear();
    const QString filter = std::exchange(m_filter, QString());
    m_shown.resize(size_t(m_records.size()));
    std::iota(m_shown.begin(), m_shown.end(), 0);
    m_filter = filter;
    if (!m_filter.isEmpty())
        std::erase_if(m_shown,
                      [&](int i) { return !m_records[i].text.contains(m_filter, Qt::CaseInsensitive); });
    endResetModel();
}

void DataLogModel::setFilter(const QString &text)
{
    if (text == m_filter)
        return;
    beginResetModel();
    // A longer text matches a subset of what the shorter one matched.
    const bool narrower = !m_filter.isEmpty() && text.contains(m_filter, Qt::CaseInsensitive);
    m_filter = text;
    if (!narrower) {
        m_shown.resize(size_t(m_records.size()));
        std::iota(m_shown.begin(), m_shown.end(), 0);
    }
    if (!m_filter.isEmpty())
        std::erase_if(m_shown,
                      [&](int i) { return !m_records[i].text.contains(m_filter, Qt::CaseInsensitive); });
    endResetModel();
}

int DataLogModel::idAt(int row) const
{
    return row >= 0 && size_t(row) < m_shown.size() ? m_shown[size_t(row)] : -1;
}

int DataLogModel::rowOf(int id) const
{
    const auto it = std::lower_bound(m_shown.begin(), m_shown.end(), id);
    return it != m_shown.end() && *it == id ? int(it - m_shown.begin()) : -1;
}

int DataLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_shown.size());
}

int DataLogModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : columnCount_;
}

QVariant DataLogModel::data(const QModelIndex &index, int role) const
{
    const int id = idAt(index.row());
    if (id < 0)
        return {};
    const TelemetryRecord &record = m_records[id];
    switch (role) {
    case Qt::DisplayRole:
        return index.column() == timeColumn ? QString::asprintf("%.3f s", record.time) : record.text;
    case Qt::FontRole:
        return m_monospace;
    case Qt::TextAlignmentRole:
        return index.column() == timeColumn ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter))
                                            : QVariant(int(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

QVariant DataLogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return section == timeColumn ? QStringLiteral("Time") : QStringLiteral("Record");
}
