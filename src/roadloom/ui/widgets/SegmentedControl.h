#pragma once

#include <QList>
#include <QString>
#include <QWidget>

// A row of mutually exclusive segments (a text, a symbol or both). `activated` reports a choice by the
// user (click or arrow keys); `currentIndexChanged` every change, also a programmatic one.
class SegmentedControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int currentIndex READ currentIndex WRITE setCurrentIndex NOTIFY currentIndexChanged)
public:
    enum class Size { regular, mini };

    explicit SegmentedControl(QWidget *parent = nullptr);
    SegmentedControl(const QStringList &titles, QWidget *parent = nullptr);

    // Returns the new segment's index. The first segment added becomes the current one.
    int addSegment(const QString &title, const QString &symbol = QString());
    int count() const { return int(m_segments.size()); }
    QString title(int index) const;
    void setSegmentToolTip(int index, const QString &toolTip);
    void setSegmentEnabled(int index, bool enabled);
    bool isSegmentEnabled(int index) const;

    // -1 when there is no segment or none is chosen.
    int currentIndex() const { return m_current; }
    // An index out of range chooses none.
    void setCurrentIndex(int index);

    Size controlSize() const { return m_size; }
    void setControlSize(Size size);

    // The segment's area in the control's coordinates.
    QRect segmentRect(int index) const;
    int segmentAt(const QPoint &position) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void activated(int index);
    void currentIndexChanged(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    struct Segment {
        QString title;
        QString symbol;
        QString toolTip;
        bool enabled = true;
    };
    QFont segmentFont() const;
    int segmentWidth(const Segment &segment) const;
    int controlHeight() const;
    void choose(int index);

    QList<Segment> m_segments;
    int m_current = -1;
    int m_pressed = -1;
    Size m_size = Size::regular;
    bool m_keyboardFocus = false;
};
