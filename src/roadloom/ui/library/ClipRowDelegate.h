#pragma once

#include <QFont>
#include <QStyledItemDelegate>

struct DashClip;

// Paints the rows of the clip list: a day header, or a recording with its category tile, time, storage
// badge, channel letters and a line of category, size and AVI mark. Every row has the same height (a header
// draws its title in its lower part, leaving space above a new day), so the list lays out as uniform items
// and never asks a row for its size.
class ClipRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int rowHeight = 46;
    static constexpr int headerHeight = rowHeight;
    static constexpr int tileExtent = 30;
    static constexpr int badgeExtent = 14;

    explicit ClipRowDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // The time of the recording, or its name when it has no date.
    static QString firstLine(const DashClip &clip);
    // "Event · 12 MB", with " · AVI" for an AVI recording.
    static QString secondLine(const DashClip &clip);
    // The storage badge's symbol and help; empty when none is shown.
    static QString badgeSymbol(const DashClip &clip);
    static QString badgeHelp(const DashClip &clip);
    // The recording's file names, one a line.
    static QString fileHelp(const DashClip &clip);
    // Where the badge of a row in `rect` is drawn; empty without a badge.
    QRect badgeRect(const QRect &rect, const DashClip &clip) const;

private:
    QRect channelRect(const QRect &rect, const DashClip &clip) const;
    void paintHeader(QPainter *painter, const QStyleOptionViewItem &option, const QString &title) const;
    void paintClip(QPainter *painter, const QStyleOptionViewItem &option, const DashClip &clip) const;

    QFont m_headerFont, m_timeFont, m_channelFont, m_lineFont, m_tileFont;
};
