#pragma once

#include "roadcore/ClipCategory.h"

#include <QAbstractButton>
#include <QScrollArea>

#include <optional>

class LibraryStore;
class QHBoxLayout;
class QKeyEvent;
class QMouseEvent;

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

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<ClipCategory> m_category;
    QString m_title;
    QString m_symbol;
    int m_count;
};

// The strip of chips above the clip list: "All" and each category present in the source, with counts of the
// whole source (search and filter do not change them). Scrolls sideways without bars, by the wheel and by a
// drag; a chip that does not fit is cut at the edge under a fade, shown on each side where more chips lie.
// Tab and the arrow keys move along the chips, bringing each into view; Space or Enter chooses one.
class CategoryChips : public QScrollArea {
    Q_OBJECT
public:
    explicit CategoryChips(LibraryStore &library, QWidget *parent = nullptr);

    // How far the fade reaches into the strip; a chip brought into view keeps clear of it.
    static constexpr int fadeWidth = 28;

    QList<CategoryChip *> chips() const;
    // A fade lies on that side (more chips lie beyond it).
    bool showsFade(Qt::Edge edge) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rebuild();
    void showFilter();
    void placeInTabChain();
    void bringIntoView(const CategoryChip *chip);
    void placeFades();
    // True when the event moved the strip and the chip under the pointer must not see it.
    bool drag(CategoryChip *chip, const QMouseEvent &event);
    // Moves the keyboard to the next or previous chip, or chooses this one.
    bool moveAlong(CategoryChip *chip, const QKeyEvent &event);
    CategoryChip *ownChip(QObject *object) const;

    LibraryStore &m_library;
    QWidget *m_strip = nullptr;
    QHBoxLayout *m_layout = nullptr;
    QWidget *m_leftFade = nullptr;
    QWidget *m_rightFade = nullptr;
    QObject *m_keys = nullptr;     // takes the chips' keys on the application while a chip has the keyboard
    std::optional<qreal> m_pressX; // where a left press began, in global coordinates
    int m_pressValue = 0;
    bool m_dragging = false;
};
