#include "roadloom/ui/library/SourceRow.h"

#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/library/SourceListModel.h"
#include "roadloom/ui/widgets/Symbols.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QPainter>
#include <QPainterPath>

namespace {

using RowKind = SourceListModel::RowKind;

RowKind kindOf(const QModelIndex &index)
{
    return RowKind(index.data(SourceListModel::KindRole).toInt());
}

} // namespace

QSize SourceRow::sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const
{
    switch (kindOf(index)) {
    case RowKind::header:
        return {100, headerHeight};
    case RowKind::source:
        return {100, index.data(SourceListModel::OfflineRole).toBool() ? offlineRowHeight : rowHeight};
    case RowKind::placeholder:
    case RowKind::addFolder:
        break;
    }
    return {100, rowHeight};
}

void SourceRow::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QPalette &palette = option.palette;
    const RowKind kind = kindOf(index);
    const QString text = index.data(Qt::DisplayRole).toString();
    const QRect rect = option.rect;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    if (kind == RowKind::header) {
        QFont font = TextStyles::subheadline();
        font.setWeight(QFont::DemiBold);
        painter->setFont(font);
        painter->setPen(Palette::secondaryText(palette));
        painter->drawText(rect.adjusted(14, 0, -8, -4), Qt::AlignLeft | Qt::AlignBottom, text);
        painter->restore();
        return;
    }

    const bool selected = option.state.testFlag(QStyle::State_Selected);
    if (selected) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect.adjusted(6, 1, -6, -1)), 6, 6);
        painter->fillPath(shape, Palette::accent(palette));
    } else if (option.state.testFlag(QStyle::State_MouseOver) && kind != RowKind::placeholder) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect.adjusted(6, 1, -6, -1)), 6, 6);
        painter->fillPath(shape, Palette::quaternaryFill(palette));
    }

    QColor iconColor = Palette::accent(palette);
    QColor textColor = Palette::primaryText(palette);
    const bool offline = index.data(SourceListModel::OfflineRole).toBool();
    if (kind == RowKind::placeholder) {
        iconColor = textColor = Palette::tertiaryText(palette);
    } else if (kind == RowKind::addFolder) {
        iconColor = textColor = Palette::secondaryText(palette);
    } else if (offline) {
        iconColor = Palette::secondaryText(palette);
    } else if (index.data(SourceListModel::SourceIDRole).toString().startsWith(QStringLiteral("device:"))) {
        iconColor = Palette::orange(palette);
    }
    if (selected)
        iconColor = textColor = palette.color(QPalette::HighlightedText);

    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QString symbol = index.data(SourceListModel::SymbolRole).toString();
    const QRect iconRect(rect.left() + 16, rect.top() + (rowHeight - iconExtent) / 2, iconExtent, iconExtent);
    painter->drawPixmap(iconRect, Symbols::pixmap(symbol, iconExtent, iconColor, dpr));

    const QRect textRect(iconRect.right() + 9, rect.top(), rect.right() - iconRect.right() - 18, rowHeight);
    QFont font = TextStyles::body();
    painter->setFont(font);
    painter->setPen(textColor);
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                      painter->fontMetrics().elidedText(text, Qt::ElideRight, textRect.width()));
    if (offline) {
        painter->setFont(TextStyles::caption2());
        painter->setPen(selected ? textColor : Palette::secondaryText(palette));
        const QRect subtitleRect(textRect.left(), rect.top() + rowHeight - 6, textRect.width(),
                                 offlineRowHeight - rowHeight + 4);
        const QString subtitle = index.data(SourceListModel::SubtitleRole).toString();
        painter->drawText(subtitleRect, Qt::AlignLeft | Qt::AlignTop,
                          painter->fontMetrics().elidedText(subtitle, Qt::ElideRight, subtitleRect.width()));
    }
    painter->restore();
}
