#pragma once

#include <QAbstractListModel>
#include <QDate>

#include <limits>
#include <vector>

class LibraryStore;
struct DashClip;

// The clip list as one flat list: a header row before each run of recordings of the same local day, then
// those recordings, over the store's filtered positions. Keeps numbers only (a row's position in the
// store's recordings, the day of each recording), never a copy of a recording; a row's data is read from
// the store when painted.
class ClipListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        IsHeaderRole = Qt::UserRole + 1, // bool
        ClipIDRole,                      // recording rows: the id
        PositionRole,                    // recording rows: the position in the store's recordings
    };

    explicit ClipListModel(LibraryStore &library, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    bool isHeader(int row) const
    {
        return row >= 0 && size_t(row) < m_rows.size() && m_rows[size_t(row)] < 0;
    }
    // The recording of a recording row; nullptr for headers and rows out of range. Valid until the store
    // changes its list.
    const DashClip *clip(int row) const;
    // The row of the recording with that id; -1 when it is not shown.
    int rowOf(const QString &clipID) const;
    // The title of a header row: the day in the locale's long form, or "Unknown Date".
    QString headerTitle(int row) const;
    int sectionCount() const { return int(m_headerDays.size()); }

    static QString unknownDate();
    // Bytes this model keeps for its rows and days (for the benchmark).
    size_t memoryBytes() const;

private:
    static constexpr qint32 undated = std::numeric_limits<qint32>::min();
    void recomputeDays();
    void beginReset();
    void rebuild();
    void update(const QList<qsizetype> &positions);

    LibraryStore &m_library;
    // Per row: the recording's position (>= 0) or -(header number + 1).
    std::vector<qint32> m_rows;
    // Per filtered row: its row here.
    std::vector<qint32> m_rowOfFiltered;
    // Per header: the local Julian day it heads, or `undated`.
    std::vector<qint32> m_headerDays;
    // Per recording of the store: its local Julian day, or `undated`.
    std::vector<qint32> m_days;
    bool m_resetting = false;
};
