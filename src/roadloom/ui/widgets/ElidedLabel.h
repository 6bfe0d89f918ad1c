#pragma once

#include <QString>
#include <QWidget>

// One line of text that shortens itself with "…" at its head, middle or tail when it does not fit; the
// whole text is then its tooltip (unless the label has a tooltip of its own).
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(const QString &text = QString(), Qt::TextElideMode mode = Qt::ElideRight,
                         QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    Qt::TextElideMode elideMode() const { return m_mode; }
    void setElideMode(Qt::TextElideMode mode);
    Qt::Alignment alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment);
    // Without a colour: the palette's text colour.
    void setColor(const QColor &color);
    // The text as drawn at the current width.
    QString displayedText() const;
    bool isElided() const { return displayedText() != m_text; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    QString m_text;
    Qt::TextElideMode m_mode;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
    QColor m_color;
};
