#pragma once

#include <QAbstractListModel>

#include <vector>

class LibraryStore;
struct DashClip;

// The clip list as one flat list: a header row before each run of recordings of the same local day, then
// those recordings, as the store lays out its shown recordings (made with the list, off the GUI thread).
// Keeps nothing per row itself, never a copy of a recording: a reset costs no work per row, and a row's data
// is read from the store when painted.
class ClipListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        IsHeaderRole = Qt::UserRole + 1, // bool
        ClipIDRole,                      // recording rows: the id
        PositionRole,                    // recording rows: the position in the store's recordings
    };

    explicit ClipListModel(LibraryStore &library, QObject *parent = nullptr);

    QModelIndex index(int row, int column = 0, const QModelIndex &parent = QModelIndex()) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    bool isHeader(int row) const;
    // The recording of a recording row; nullptr for headers and rows out of range. Valid until the store
    // changes its list.
    const DashClip *clip(int row) const;
    // The row of the recording with that id; -1 when it is not shown.
    int rowOf(const QString &clipID) const;
    // The title of a header row: the day in the locale's long form, or "Unknown Date".
    QString headerTitle(int row) const;
    int sectionCount() const;

    static QString unknownDate();
    // Bytes kept for the rows and days of the list shown (for the benchmark).
    size_t memoryBytes() const;

private:
    const std::vector<qint32> &rows() const;
    void beginReset();
    void endReset();

    LibraryStore &m_library;
    bool m_resetting = false;
};
