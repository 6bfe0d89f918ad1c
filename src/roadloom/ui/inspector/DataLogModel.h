#pragma once

#include "roadcore/Telemetry.h"

#include <QAbstractTableModel>
#include <QFont>

#include <vector>

// The raw records of one telemetry as table rows (time, record), those containing a filter text, ignoring
// case. The records are shared with the telemetry, never copied; a row's id is its record's index. A
// record shows each of its sentences on a line of its own.
class DataLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { timeColumn, recordColumn, columnCount_ };

    explicit DataLogModel(QObject *parent = nullptr);

    void setRecords(const QList<TelemetryRecord> &records);
    const QList<TelemetryRecord> &records() const { return m_records; }
    // Keeps the rows whose text contains `text`; a text that grew only looks again at the rows shown.
    void setFilter(const QString &text);
    QString filter() const { return m_filter; }

    // The record index of a row, and the row of a record index (-1 when not shown).
    int idAt(int row) const;
    int rowOf(int id) const;
    // The number of lines a row's record shows (at least 1).
    int lineCount(int row) const;
    // The line count most shown rows have, and the shown rows (row, lines) with another one.
    struct RowLines {
        int common = 1;
        std::vector<std::pair<int, int>> others;
    };
    RowLines rowLines() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // The fixed-pitch font every cell is drawn in.
    const QFont &cellFont() const { return m_monospace; }

private:
    void showAll();
    void keepMatching();

    QList<TelemetryRecord> m_records;
    QStringList m_folded;         // the records' texts case-folded, once searched
    std::vector<char> m_isFolded; // by record
    std::vector<int> m_shown;     // record indices, ascending
    std::vector<quint16> m_lines; // by record
    QString m_filter;
    QFont m_monospace;
};
