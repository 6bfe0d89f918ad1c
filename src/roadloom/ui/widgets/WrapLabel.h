#pragma once

#include <QColor>
#include <QString>
#include <QTextOption>
#include <QWidget>

// Plain text on as many lines as the width needs, broken between words or, where a word is longer than
// the line, anywhere in it (or always anywhere), so that a long record, path or field list never widens
// its column; a line end in the text always starts a new line. Its height follows its width. Optionally at
// most N lines, shortened in the middle with "…" (the whole text is then its tooltip), and selectable with
// the mouse (Ctrl+C or the menu copies).
class WrapLabel : public QWidget {
    Q_OBJECT
public:
    explicit WrapLabel(const QString &text = QString(), QWidget *parent = nullptr);

    QString text() const { return m_text; }
    // Sets the text only when it differs, so a caller may set it on every tick.
    void setText(const QString &text);
    // QTextOption::WrapAtWordBoundaryOrAnywhere (the default) or QTextOption::WrapAnywhere.
    void setWrapMode(QTextOption::WrapMode mode);
    void setAlignment(Qt::Alignment alignment);
    Qt::Alignment alignment() const { return m_alignment; }
    enum class LineLimit {
        whole,         // the text as one
        eachParagraph, // each part between line ends on its own, so that a long one never hides another
    };
    // 0: no limit.
    void setMaximumLines(int lines, LineLimit scope = LineLimit::whole);
    void setSelectable(bool selectable);
    bool isSelectable() const { return m_selectable; }
    // Without a colour: the palette's text colour.
    void setColor(const QColor &color);
    QColor color() const { return m_color; }
    // The text as drawn at the current width (shortened when over the line limit).
    QString displayedText() const;
    QString selectedText() const;
    int lineCount() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    struct Shaped {
        QString text;
        int lines = 0;
        int height = 0;
    };
    // The text fitted to the width: shortened in the middle until it keeps to the line limit.
    Shaped shape(int width) const;
    QString shortened(const QString &text, int width) const;
    int linesOf(const QString &text, int width, int *height) const;
    void relayout();
    int cursorAt(const QPoint &point) const;
    void copy() const;

    QString m_text;
    QTextOption::WrapMode m_wrapMode = QTextOption::WrapAtWordBoundaryOrAnywhere;
    Qt::Alignment m_alignment = Qt::AlignLeft;
    int m_maximumLines = 0;
    LineLimit m_lineLimit = LineLimit::whole;
    bool m_selectable = false;
    QColor m_color;
    const QString &shownText() const;

    mutable QString m_shown; // at m_shownWidth
    mutable int m_shownWidth = -1;
    mutable int m_anchor = -1, m_position = -1;
    mutable int m_cachedWidth = -1, m_cachedHeight = 0; // the last height for width
};
