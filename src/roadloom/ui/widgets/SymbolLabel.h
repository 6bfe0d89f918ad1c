#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

// One symbol drawn at a fixed extent, sharp on any screen; without a colour it takes the palette's
// secondary text colour (so it follows light and dark).
class SymbolLabel : public QWidget {
    Q_OBJECT
public:
    explicit SymbolLabel(const QString &symbol = QString(), int extent = 16, QWidget *parent = nullptr);

    QString symbol() const { return m_symbol; }
    void setSymbol(const QString &symbol);
    int extent() const { return m_extent; }
    void setExtent(int extent);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    int m_extent;
    QColor m_color;
};
