#include "roadloom/ui/library/ClipListModel.h"

#include "roadloom/model/Formats.h"
#include "roadloom/model/LibraryStore.h"

#include <QDate>

ClipListModel::ClipListModel(LibraryStore &library, QObject *parent)
    : QAbstractListModel(parent), m_library(library)
{
    // A new list comes as the recordings, then their shown rows: one reset spans both.
    connect(&library, &LibraryStore::clipsChanged, this, &ClipListModel::beginReset);
    connect(&library, &LibraryStore::filteredPositionsChanged, this, [this] {
        beginReset();
        endReset();
    });
    connect(&library, &LibraryStore::clipsUpdated, this, [this](const QList<qsizetype> &positions) {
        const std::vector<qint32> &rowOfShown = m_library.shown().rowOfShown;
        for (qsizetype position : positions) {
            const qsizetype shownAt = m_library.filteredRow(position);
            if (shownAt < 0 || size_t(shownAt) >= rowOfShown.size())
                continue;
            const QModelIndex at = index(rowOfShown[size_t(shownAt)]);
            emit dataChanged(at, at);
        }
    });
    // A removal can empty a day: the sections are made again.
    connect(&library, &LibraryStore::clipAboutToBeRemoved, this, &ClipListModel::beginReset);
    connect(&library, &LibraryStore::clipRemoved, this, &ClipListModel::endReset);
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

void ClipListModel::endReset()
{
    if (!m_resetting)
        return;
    m_resetting = false;
    endResetModel();
}

const std::vector<qint32> &ClipListModel::rows() const
{
    return m_library.shown().rows;
}

// The list view asks for the index of every row on each layout, twice a row: 200,000 times a keystroke in a
// long library. Answered here without the base class's virtual rowCount and columnCount calls per index.
QModelIndex ClipListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (row < 0 || column != 0 || parent.isValid() || m_resetting || size_t(row) >= rows().size())
        return QModelIndex();
    return createIndex(row, column);
}

int ClipListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || m_resetting ? 0 : int(rows().size());
}

bool ClipListModel::isHeader(int row) const
{
    return !m_resetting && row >= 0 && size_t(row) < rows().size() && rows()[size_t(row)] < 0;
}

int ClipListModel::sectionCount() const
{
    return m_resetting ? 0 : int(m_library.shown().headerDays.size());
}

const DashClip *ClipListModel::clip(int row) const
{
    if (m_resetting || row < 0 || size_t(row) >= rows().size() || rows()[size_t(row)] < 0)
        return nullptr;
    const QList<DashClip> &clips = m_library.clips();
    const qint32 position = rows()[size_t(row)];
    return position < clips.size() ? &clips[position] : nullptr;
}

int ClipListModel::rowOf(const QString &clipID) const
{
    const std::vector<qint32> &rowOfShown = m_library.shown().rowOfShown;
    const qsizetype shownAt = m_library.filteredRow(m_library.indexOf(clipID));
    if (m_resetting || shownAt < 0 || size_t(shownAt) >= rowOfShown.size())
        return -1;
    return rowOfShown[size_t(shownAt)];
}

QString ClipListModel::headerTitle(int row) const
{
    if (!isHeader(row))
        return QString();
    const qint32 day = m_library.shown().headerDays[size_t(-rows()[size_t(row)] - 1)];
    return day == ClipListing::undatedDay ? unknownDate() : Formats::dayTitle(QDate::fromJulianDay(day));
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
    if (!index.isValid() || m_resetting || size_t(row) >= rows().size())
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
        return rows()[size_t(row)];
    default:
        return {};
    }
}

size_t ClipListModel::memoryBytes() const
{
    return m_library.shown().memoryBytes() + m_library.localDays().capacity() * sizeof(qint32);
}
