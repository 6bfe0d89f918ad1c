#include "roadloom/ui/inspector/DataLogModel.h"

#include "roadloom/model/Formats.h"

#include <QFontDatabase>
#include <QtConcurrent>

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
    m_isFolded.clear();
    // Counted on the bytes, without decoding: the sheet sizes every shown row by it.
    m_lines.resize(size_t(m_records.size()));
    for (qsizetype i = 0; i < m_records.size(); ++i)
        m_lines[size_t(i)] =
            quint16(std::clamp(Formats::recordLineCount(m_records[i].text.bytes()), 1, 0xffff));
    showAll();
    keepMatching();
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
    if (!narrower)
        showAll();
    keepMatching();
    endResetModel();
}

void DataLogModel::showAll()
{
    m_shown.resize(size_t(m_records.size()));
    std::iota(m_shown.begin(), m_shown.end(), 0);
}

void DataLogModel::keepMatching()
{
    if (m_filter.isEmpty())
        return;
    // Folded texts compared exactly is the test ignoring case, and much faster. Each is made when first
    // searched, in the slice that searches it, so opening the log never waits for them.
    if (m_folded.size() != m_records.size()) {
        m_folded = QStringList(m_records.size());
        m_isFolded.assign(size_t(m_records.size()), 0);
    }
    QString *folded = m_folded.data();
    char *isFolded = m_isFolded.data();
    const QString needle = m_filter.toCaseFolded();
    // A long log is searched in slices side by side, each keeping its order.
    constexpr size_t slice = 16'384;
    std::vector<std::pair<size_t, size_t>> slices;
    for (size_t from = 0; from < m_shown.size(); from += slice)
        slices.push_back({from, std::min(m_shown.size(), from + slice)});
    std::vector<std::vector<int>> kept(slices.size());
    auto search = [&](const std::pair<size_t, size_t> &range) {
        std::vector<int> &out = kept[size_t(&range - slices.data())];
        for (size_t i = range.first; i < range.second; ++i) {
            const int id = m_shown[i];
            if (!isFolded[id]) {
                folded[id] = m_records.at(id).text.toString().toCaseFolded();
                isFolded[id] = 1;
            }
            if (folded[id].contains(needle))
                out.push_back(id);
        }
    };
    if (slices.size() > 1)
        QtConcurrent::blockingMap(slices, search);
    else
        std::for_each(slices.begin(), slices.end(), search);
    m_shown.clear();
    for (const std::vector<int> &part : kept)
        m_shown.insert(m_shown.end(), part.begin(), part.end());
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

int DataLogModel::lineCount(int row) const
{
    const int id = idAt(row);
    return id < 0 ? 1 : m_lines[size_t(id)];
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
        return index.column() == timeColumn ? QString::asprintf("%.3f s", record.time)
                                            : Formats::recordLines(record.text.toString());
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
