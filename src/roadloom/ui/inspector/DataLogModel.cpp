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
    // Counted on the bytes, without decoding, in slices side by side: the sheet sizes every shown row by it,
    // and a long log opens at once.
    m_lines.resize(size_t(m_records.size()));
    constexpr qsizetype slice = 16'384;
    std::vector<std::pair<qsizetype, qsizetype>> slices;
    for (qsizetype from = 0; from < m_records.size(); from += slice)
        slices.push_back({from, std::min(m_records.size(), from + slice)});
    const TelemetryRecord *all = std::as_const(m_records).data();
    quint16 *lines = m_lines.data();
    auto count = [all, lines](const std::pair<qsizetype, qsizetype> &range) {
        for (qsizetype i = range.first; i < range.second; ++i)
            lines[i] = quint16(std::clamp(Formats::recordLineCount(all[i].text.bytes()), 1, 0xffff));
    };
    if (slices.size() > 1)
        QtConcurrent::blockingMap(slices, count);
    else
        std::for_each(slices.begin(), slices.end(), count);
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

DataLogModel::RowLines DataLogModel::rowLines() const
{
    RowLines result;
    std::vector<int> histogram(16, 0);
    for (int id : m_shown) {
        const size_t lines = m_lines[size_t(id)];
        if (histogram.size() <= lines)
            histogram.resize(lines + 1, 0);
        ++histogram[lines];
    }
    result.common =
        std::max(1, int(std::max_element(histogram.begin(), histogram.end()) - histogram.begin()));
    for (size_t row = 0; row < m_shown.size(); ++row)
        if (const int lines = m_lines[size_t(m_shown[row])]; lines != result.common)
            result.others.push_back({int(row), lines});
    return result;
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
