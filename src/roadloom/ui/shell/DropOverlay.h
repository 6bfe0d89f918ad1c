#pragma once

#include <QWidget>

// The highlight shown while files are dragged over the window: a dashed frame in the accent colour, 6
// pixels inside the window's edges. It takes no mouse or drag events, so the drop reaches the window.
class DropOverlay : public QWidget {
    Q_OBJECT
public:
    static constexpr int inset = 6;
    static constexpr qreal cornerRadius = 14;
    static constexpr qreal lineWidth = 3;
    static constexpr qreal dash = 10, gap = 6;

    explicit DropOverlay(QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
};
