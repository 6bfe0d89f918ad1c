#include "roadloom/ui/library/ClipRowDelegate.h"

#include "roadcore/DashClip.h"
#include "roadloom/model/Formats.h"
#include "roadloom/ui/library/ClipListModel.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/Symbols.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QAbstractItemView>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

namespace {

constexpr int inset = 8;   // the list's inset on either side
constexpr int padding = 8; // inside the row

const ClipListModel *listModel(const QModelIndex &index)
{
    return qobject_cast<const ClipListModel *>(index.model());
}

QLinearGradient tintGradient(const QRectF &rect, const QColor &tint)
{
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, tint.lighter(118));
    gradient.setColorAt(1, tint);
    return gradient;
}

} // namespace

ClipRowDelegate::ClipRowDelegate(QObject *parent)
    : QStyledItemDelegate(parent), m_headerFont(TextStyles::subheadline()), m_timeFont(TextStyles::body()),
      m_channelFont(TextStyles::caption2()), m_lineFont(TextStyles::caption()), m_tileFont(TextStyles::body())
{
    m_headerFont.setWeight(QFont::DemiBold);
    m_timeFont.setWeight(QFont::Medium);
    m_channelFont.setWeight(QFont::DemiBold);
}

QString ClipRowDelegate::firstLine(const DashClip &clip)
{
    return clip.date && clip.date->isValid() ? Formats::time(*clip.date) : clip.name;
}

QString ClipRowDelegate::secondLine(const DashClip &clip)
{
    QString text = title(clip.category) + Formats::separator + Formats::byteCount(clip.byteSize);
    if (QFileInfo(clip.primaryURL()).suffix().toLower() == QStringLiteral("avi"))
        text += QStringLiteral(" \u00B7 AVI");
    return text;
}

QString ClipRowDelegate::badgeSymbol(const DashClip &clip)
{
    switch (clip.storage()) {
    case StorageState::original:
    case StorageState::moved:
        return clip.isFullyCached() ? QStringLiteral("checkmark.shield.fill") : QString();
    case StorageState::cached:
        return QStringLiteral("externaldrive.fill.badge.checkmark");
    case StorageState::missing:
        return QStringLiteral("exclamationmark.triangle.fill");
    }
    return QString();
}

QString ClipRowDelegate::badgeHelp(const DashClip &clip)
{
    switch (clip.storage()) {
    case StorageState::original:
    case StorageState::moved:
        return clip.isFullyCached() ? QStringLiteral("Backup copy stored in Roadloom") : QString();
    case StorageState::cached:
        return QStringLiteral("Original is no longer available \u2014 playing the cached copy");
    case StorageState::missing:
        return QStringLiteral("Original moved or deleted and no cached copy exists");
    }
    return QString();
}

QString ClipRowDelegate::fileHelp(const DashClip &clip)
{
    QStringList names;
    for (const QString &path : clip.allURLs())
        names.append(QFileInfo(path).fileName());
    return names.join(QLatin1Char('\n'));
}

QSize ClipRowDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const
{
    const ClipListModel *model = listModel(index);
    const bool header =
        model ? model->isHeader(index.row()) : index.data(ClipListModel::IsHeaderRole).toBool();
    return {200, header ? headerHeight : rowHeight};
}

QRect ClipRowDelegate::channelRect(const QRect &rect, const DashClip &clip) const
{
    const QFontMetrics metrics(m_channelFont);
    const int width = metrics.horizontalAdvance(clip.channelLabel()) + 10;
    const int height = metrics.height() + 2;
    const int right = rect.right() - inset - padding;
    const int lineCenter = rect.top() + 15;
    return {right - width + 1, lineCenter - height / 2, width, height};
}

QRect ClipRowDelegate::badgeRect(const QRect &rect, const DashClip &clip) const
{
    if (badgeSymbol(clip).isEmpty())
        return {};
    const QRect channel = channelRect(rect, clip);
    return {channel.left() - 6 - badgeExtent, rect.top() + 15 - badgeExtent / 2, badgeExtent, badgeExtent};
}

void ClipRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                            const QModelIndex &index) const
{
    const ClipListModel *model = listModel(index);
    if (!model)
        return QStyledItemDelegate::paint(painter, option, index);
    if (model->isHeader(index.row()))
        return paintHeader(painter, option, model->headerTitle(index.row()));
    if (const DashClip *clip = model->clip(index.row()))
        paintClip(painter, option, *clip);
}

void ClipRowDelegate::paintHeader(QPainter *painter, const QStyleOptionViewItem &option,
                                  const QString &title) const
{
    painter->save();
    painter->setFont(m_headerFont);
    painter->setPen(Palette::secondaryText(option.palette));
    const QRect text = option.rect.adjusted(inset + padding, 0, -inset - padding, -5);
    painter->drawText(text, Qt::AlignLeft | Qt::AlignBottom,
                      QFontMetrics(m_headerFont).elidedText(title, Qt::ElideRight, text.width()));
    painter->restore();
}

void ClipRowDelegate::paintClip(QPainter *painter, const QStyleOptionViewItem &option,
                                const DashClip &clip) const
{
    const QPalette &palette = option.palette;
    const QRect rect = option.rect;
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    const QRectF row = QRectF(rect.adjusted(inset, 1, -inset, -1));
    if (selected || option.state.testFlag(QStyle::State_MouseOver)) {
        QPainterPath shape;
        shape.addRoundedRect(row, 6, 6);
        painter->fillPath(shape, selected ? Palette::accent(palette) : Palette::quaternaryFill(palette));
    }
    const QColor primary =
        selected ? palette.color(QPalette::HighlightedText) : Palette::primaryText(palette);
    QColor secondary = primary;
    if (!selected)
        secondary = Palette::secondaryText(palette);
    else
        secondary.setAlphaF(0.8f);

    // The category tile.
    const QRectF tile(rect.left() + inset + padding, rect.top() + (rowHeight - tileExtent) / 2.0, tileExtent,
                      tileExtent);
    QPainterPath tileShape;
    tileShape.addRoundedRect(tile, 8, 8);
    painter->fillPath(tileShape, tintGradient(tile, Palette::tint(clip.category, palette)));
    const int symbolExtent = 16;
    painter->drawPixmap(QRectF(tile.center().x() - symbolExtent / 2.0, tile.center().y() - symbolExtent / 2.0,
                               symbolExtent, symbolExtent)
                            .toRect(),
                        Symbols::pixmap(symbol(clip.category), symbolExtent, Qt::white, dpr));

    // The channel letters and the badge at the end of the first line.
    const QRect channel = channelRect(rect, clip);
    QPainterPath capsule;
    capsule.addRoundedRect(QRectF(channel), channel.height() / 2.0, channel.height() / 2.0);
    QColor fill = selected ? QColor(255, 255, 255, 60) : Palette::quaternaryFill(palette);
    painter->fillPath(capsule, fill);
    painter->setFont(m_channelFont);
    painter->setPen(primary);
    painter->drawText(channel, Qt::AlignCenter, clip.channelLabel());
    const QString badge = badgeSymbol(clip);
    int lineEnd = channel.left() - 6;
    if (!badge.isEmpty()) {
        QColor color = Palette::green(palette);
        switch (clip.storage()) {
        case StorageState::cached:
            color = Palette::orange(palette);
            break;
        case StorageState::missing:
            color = Palette::red(palette);
            break;
        case StorageState::original:
        case StorageState::moved:
            color.setAlphaF(0.8f);
            break;
        }
        const QRect at = badgeRect(rect, clip);
        painter->drawPixmap(at, Symbols::pixmap(badge, badgeExtent, selected ? primary : color, dpr));
        lineEnd = at.left() - 6;
    }

    // The two lines of text.
    const int textLeft = int(tile.right()) + 10;
    const QRect first(textLeft, rect.top() + 5, lineEnd - textLeft, 20);
    painter->setFont(m_timeFont);
    painter->setPen(primary);
    painter->drawText(first, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(m_timeFont).elidedText(firstLine(clip), Qt::ElideRight, first.width()));
    const QRect second(textLeft, rect.top() + 25, rect.right() - inset - padding - textLeft, 16);
    painter->setFont(m_lineFont);
    painter->setPen(secondary);
    painter->drawText(second, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(m_lineFont).elidedText(secondLine(clip), Qt::ElideRight, second.width()));
    painter->restore();
}

bool ClipRowDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                const QStyleOptionViewItem &option, const QModelIndex &index)
{
    const ClipListModel *model = listModel(index);
    const DashClip *clip = model ? model->clip(index.row()) : nullptr;
    if (!clip || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QRect badge = badgeRect(option.rect, *clip);
    const QString text =
        badge.adjusted(-2, -2, 2, 2).contains(event->pos()) ? badgeHelp(*clip) : fileHelp(*clip);
    QToolTip::showText(event->globalPos(), text, view->viewport(), option.rect);
    return true;
}
