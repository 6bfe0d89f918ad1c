#include "roadloom/ui/library/ClipListModel.h"

#include "roadloom/model/Formats.h"
#include "roadloom/model/LibraryStore.h"

#include <QHash>
#include <QTimeZone>

ClipListModel::ClipListModel(LibraryStore &library, QObject *parent)
    : QAbstractListModel(parent), m_library(library)
{
    recomputeDays();
    rebuild();
    // A new list comes as the recordings, then their filtered positions: one reset spans both.
    connect(&library, &LibraryStore::clipsChanged, this, [this] {
        beginReset();
        recomputeDays();
    });
    connect(&library, &LibraryStore::filteredPositionsChanged, this, [this] {
        beginReset();
        rebuild();
    });
    connect(&library, &LibraryStore::clipsUpdated, this, &ClipListModel::update);
    // A removal can empty a day: the sections are made again.
    connect(&library, &LibraryStore::clipAboutToBeRemoved, this, [this] { beginReset(); });
    connect(&library, &LibraryStore::clipRemoved, this, [this](qsizetype position) {
        if (position >= 0 && size_t(position) < m_days.size())
            m_days.erase(m_days.begin() + position);
        rebuild();
    });
}

QString ClipListModel::unknownDate()
{
    return QStringLiteral("Unknown Date");
}

void ClipListModel::beginReset()
{
    if (m_resetting)
        return;
    m_resetting = true;
    beginResetModel();
}

// The local day of every recording, once per list. The zone's offset is asked once per hour of time, not
// once per recording.
void ClipListModel::recomputeDays()
{
    const QList<DashClip> &clips = m_library.clips();
    m_days.assign(size_t(clips.size()), undated);
    QHash<qint64, qint64> offsetOfHour;
    constexpr qint64 msPerHour = 3'600'000, msPerDay = 86'400'000;
    constexpr qint64 unixEpochJulianDay = 2'440'588;
    const QTimeZone local = QTimeZone::systemTimeZone();
    for (qsizetype i = 0; i < clips.size(); ++i) {
        const std::optional<QDateTime> &date = clips[i].date;
        if (!date || !date->isValid())
            continue;
        const qint64 ms = date->toMSecsSinceEpoch();
        const qint64 hour = ms >= 0 ? ms / msPerHour : (ms - msPerHour + 1) / msPerHour;
        auto found = offsetOfHour.constFind(hour);
        if (found == offsetOfHour.cend())
            found = offsetOfHour.insert(hour, qint64(local.offsetFromUtc(*date)) * 1000);
        const qint64 localMs = ms + *found;
        const qint64 day = localMs >= 0 ? localMs / msPerDay : (localMs - msPerDay + 1) / msPerDay;
        m_days[size_t(i)] = qint32(day + unixEpochJulianDay);
    }
}

// Runs of the same day, in the list's order: under Name and Size a day can head several runs.
void ClipListModel::rebuild()
{
    const QList<qsizetype> &filtered = m_library.filteredPositions();
    if (m_days.size() != size_t(m_library.clips().size()))
        recomputeDays();
    m_rows.clear();
    m_headerDays.clear();
    m_rowOfFiltered.clear();
    m_rows.reserve(size_t(filtered.size()) + 16);
    m_rowOfFiltered.reserve(size_t(filtered.size()));
    for (qsizetype position : filtered) {
        const qint32 day = m_days[size_t(position)];
        if (m_headerDays.empty() || m_headerDays.back() != day) {
            m_headerDays.push_back(day);
            m_rows.push_back(-qint32(m_headerDays.size()));
        }
        m_rowOfFiltered.push_back(qint32(m_rows.size()));
        m_rows.push_back(qint32(position));
    }
    if (m_resetting) {
        m_resetting = false;
        endResetModel();
    }
}

void ClipListModel::update(const QList<qsizetype> &positions)
{
    for (qsizetype position : positions) {
        const qsizetype filteredRow = m_library.filteredRow(position);
        if (filteredRow < 0 || size_t(filteredRow) >= m_rowOfFiltered.size())
            continue;
        const QModelIndex at = index(m_rowOfFiltered[size_t(filteredRow)]);
        emit dataChanged(at, at);
    }
}

int ClipListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || m_resetting ? 0 : int(m_rows.size());
}

const DashClip *ClipListModel::clip(int row) const
{
    if (row < 0 || size_t(row) >= m_rows.size() || m_rows[size_t(row)] < 0)
        return nullptr;
    const QList<DashClip> &clips = m_library.clips();
    const qint32 position = m_rows[size_t(row)];
    return position < clips.size() ? &clips[position] : nullptr;
}

int ClipListModel::rowOf(const QString &clipID) const
{
    const qsizetype filteredRow = m_library.filteredRow(m_library.indexOf(clipID));
    if (filteredRow < 0 || size_t(filteredRow) >= m_rowOfFiltered.size())
        return -1;
    return m_rowOfFiltered[size_t(filteredRow)];
}

QString ClipListModel::headerTitle(int row) const
{
    if (!isHeader(row))
        return QString();
    const qint32 day = m_headerDays[size_t(-m_rows[size_t(row)] - 1)];
    return day == undated ? unknownDate() : Formats::dayTitle(QDate::fromJulianDay(day));
}

Qt::ItemFlags ClipListModel::flags(const QModelIndex &index) const
{
    if (isHeader(index.row()))
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QVariant ClipListModel::data(const QModelIndex &index, int role) const
{
    const int row = index.row();
    if (!index.isValid() || size_t(row) >= m_rows.size())
        return {};
    if (isHeader(row)) {
        if (role == Qt::DisplayRole)
            return headerTitle(row);
        if (role == IsHeaderRole)
            return true;
        return {};
    }
    const DashClip *recording = clip(row);
    if (!recording)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return recording->name;
    case IsHeaderRole:
        return false;
    case ClipIDRole:
        return recording->id;
    case PositionRole:
        return m_rows[size_t(row)];
    default:
        return {};
    }
}

size_t ClipListModel::memoryBytes() const
{
    return (m_rows.capacity() + m_rowOfFiltered.capacity() + m_headerDays.capacity() + m_days.capacity()) *
           sizeof(qint32);
}
