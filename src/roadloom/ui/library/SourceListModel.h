#pragma once

#include "roadloom/model/LibrarySource.h"

#include <QAbstractListModel>

#include <vector>

class LibraryStore;

// The rows of the sidebar over the library's sources: a header per section ("Library", "SD Cards",
// "Folders", "Opened"), a row per source, the greyed "Insert a dashcam card" when no card is in, and the
// "Add Folder…" action after the folders. Only source rows can be selected; headers and the greyed entry
// are not enabled, so the keyboard passes over them and clicks do nothing.
class SourceListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum class RowKind { header, source, placeholder, addFolder };
    enum Role {
        KindRole = Qt::UserRole + 1, // RowKind as int
        SourceIDRole,                // source rows: the source's id
        SymbolRole,                  // the symbol's name
        SubtitleRole,                // the second line, empty for most rows
        OfflineRole,                 // bool
    };

    explicit SourceListModel(LibraryStore &library, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    RowKind kind(int row) const;
    // The source of a source row; none for the other rows.
    std::optional<LibrarySource> source(int row) const;
    // The row of the source with that id; -1 when not listed.
    int rowOf(const std::optional<QString> &sourceID) const;

    static QString offlineSubtitle();
    static QString offlineWithoutCopiesSubtitle();
    static QString placeholderText();
    static QString addFolderText();
    static QString allMediaHelp();

private:
    struct Row {
        RowKind kind = RowKind::header;
        QString text;         // header, placeholder and action text
        LibrarySource source; // source rows
    };
    void rebuild();
    void refreshOffline();

    LibraryStore &m_library;
    std::vector<Row> m_rows;
};
