#include "roadloom/ui/library/SourceListModel.h"

#include "roadloom/model/LibraryStore.h"

SourceListModel::SourceListModel(LibraryStore &library, QObject *parent)
    : QAbstractListModel(parent), m_library(library)
{
    rebuild();
    connect(&library, &LibraryStore::sourcesChanged, this, &SourceListModel::rebuild);
    connect(&library, &LibraryStore::availabilityRevisionChanged, this, &SourceListModel::refreshOffline);
}

QString SourceListModel::offlineSubtitle()
{
    return QStringLiteral("Offline \u2014 playing cached copies");
}

QString SourceListModel::offlineWithoutCopiesSubtitle()
{
    return QStringLiteral("Offline");
}

QString SourceListModel::placeholderText()
{
    return QStringLiteral("Insert a dashcam card");
}

QString SourceListModel::addFolderText()
{
    return QStringLiteral("Add Folder\u2026");
}

QString SourceListModel::allMediaHelp()
{
    return QStringLiteral(
        "Every recording you've imported, including ones whose originals were moved or removed");
}

void SourceListModel::rebuild()
{
    beginResetModel();
    m_rows.clear();
    auto header = [this](const QString &text) { m_rows.push_back({RowKind::header, text, {}}); };
    auto source = [this](const LibrarySource &each) { m_rows.push_back({RowKind::source, QString(), each}); };
    header(QStringLiteral("Library"));
    source(LibrarySource::allMedia());
    header(QStringLiteral("SD Cards"));
    const QList<LibrarySource> devices = m_library.devices();
    if (devices.isEmpty())
        m_rows.push_back({RowKind::placeholder, placeholderText(), {}});
    for (const LibrarySource &device : devices)
        source(device);
    header(QStringLiteral("Folders"));
    for (const LibrarySource &folder : m_library.folders())
        source(folder);
    m_rows.push_back({RowKind::addFolder, addFolderText(), {}});
    if (const std::optional<LibrarySource> imported = m_library.imported()) {
        header(QStringLiteral("Opened"));
        source(*imported);
    }
    endResetModel();
}

// The store answers from its last check of the disk; only folder rows can change.
void SourceListModel::refreshOffline()
{
    for (size_t row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row].kind == RowKind::source && m_rows[row].source.kind == LibrarySource::Kind::folder) {
            const QModelIndex at = index(int(row));
            emit dataChanged(at, at, {SymbolRole, SubtitleRole, OfflineRole});
        }
    }
}

int SourceListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

SourceListModel::RowKind SourceListModel::kind(int row) const
{
    return row >= 0 && size_t(row) < m_rows.size() ? m_rows[size_t(row)].kind : RowKind::header;
}

std::optional<LibrarySource> SourceListModel::source(int row) const
{
    if (kind(row) != RowKind::source)
        return std::nullopt;
    return m_rows[size_t(row)].source;
}

int SourceListModel::rowOf(const std::optional<QString> &sourceID) const
{
    if (!sourceID)
        return -1;
    for (size_t row = 0; row < m_rows.size(); ++row)
        if (m_rows[row].kind == RowKind::source && m_rows[row].source.id() == *sourceID)
            return int(row);
    return -1;
}

Qt::ItemFlags SourceListModel::flags(const QModelIndex &index) const
{
    switch (kind(index.row())) {
    case RowKind::source:
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    case RowKind::addFolder:
        return Qt::ItemIsEnabled; // an action: runs, never selected
    case RowKind::header:
    case RowKind::placeholder:
        break;
    }
    return Qt::NoItemFlags;
}

QVariant SourceListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_rows.size())
        return {};
    const Row &row = m_rows[size_t(index.row())];
    const bool offline = row.kind == RowKind::source && m_library.isOffline(row.source);
    switch (role) {
    case Qt::DisplayRole:
        return row.kind == RowKind::source ? row.source.name : row.text;
    case KindRole:
        return int(row.kind);
    case SourceIDRole:
        return row.kind == RowKind::source ? QVariant(row.source.id()) : QVariant();
    case OfflineRole:
        return offline;
    case SubtitleRole:
        if (!offline)
            return QString();
        // Said only where there is a copy to play.
        return m_library.hasCachedCopies(row.source) ? offlineSubtitle() : offlineWithoutCopiesSubtitle();
    case Qt::ToolTipRole:
        if (row.kind != RowKind::source)
            return {};
        if (row.source.kind == LibrarySource::Kind::catalog)
            return allMediaHelp();
        return row.source.urls.join(QLatin1Char('\n'));
    case SymbolRole:
        switch (row.kind) {
        case RowKind::placeholder:
            return QStringLiteral("sdcard");
        case RowKind::addFolder:
            return QStringLiteral("plus.circle");
        case RowKind::header:
            return QString();
        case RowKind::source:
            break;
        }
        if (offline)
            return QStringLiteral("folder.badge.questionmark");
        switch (row.source.kind) {
        case LibrarySource::Kind::catalog:
            return QStringLiteral("tray.full.fill");
        case LibrarySource::Kind::device:
            return QStringLiteral("sdcard.fill");
        case LibrarySource::Kind::folder:
            return QStringLiteral("folder.fill");
        case LibrarySource::Kind::files:
            return QStringLiteral("doc.on.doc.fill");
        }
        return QString();
    default:
        return {};
    }
}
