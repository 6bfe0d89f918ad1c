#pragma once

#include <QStyledItemDelegate>

// Paints one row of the sidebar: a section header, a source with its symbol (and the offline line), the
// greyed card entry, or the "Add Folder…" action.
class SourceRow : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int rowHeight = 28;
    static constexpr int offlineRowHeight = 40;
    static constexpr int headerHeight = 30;
    static constexpr int iconExtent = 16;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
