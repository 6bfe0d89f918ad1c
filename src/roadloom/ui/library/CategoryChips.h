#pragma once

#include "roadcore/ClipCategory.h"

#include <QAbstractButton>
#include <QScrollArea>

#include <optional>

class LibraryStore;
class QHBoxLayout;

// One filter chip: symbol, title and count in a capsule; white on the category's tint when selected.
class CategoryChip : public QAbstractButton {
    Q_OBJECT
public:
    CategoryChip(std::optional<ClipCategory> category, const QString &title, const QString &symbol, int count,
                 QWidget *parent = nullptr);

    std::optional<ClipCategory> category() const { return m_category; }
    int count() const { return m_count; }
    QString title() const { return m_title; }
    // The chip's fill when selected: the category's tint (the accent for "All").
    QColor tint() const;

    QSize sizeHint() const override;
    // The chip lies wholly inside the strip's visible part; a chip cut at its edge is not drawn, so no chip
    // shows without its count. Pressed there, it is chosen and scrolled into view whole.
    bool isWhole() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<ClipCategory> m_category;
    QString m_title;
    QString m_symbol;
    int m_count;
};

// The strip of chips above the clip list: "All" and each category present in the source, with counts of the
// whole source (search and filter do not change them). Scrolls sideways, also with the wheel, without bars.
class CategoryChips : public QScrollArea {
    Q_OBJECT
public:
    explicit CategoryChips(LibraryStore &library, QWidget *parent = nullptr);

    QList<CategoryChip *> chips() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void rebuild();
    void showFilter();

    LibraryStore &m_library;
    QWidget *m_strip = nullptr;
    QHBoxLayout *m_layout = nullptr;
};
