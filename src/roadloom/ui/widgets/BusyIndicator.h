#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

// A spinning indicator of work without a known end. It turns only while shown, so a hidden one costs
// nothing.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    enum class Size { small, regular, large }; // 16, 24 and 32 pixels

    explicit BusyIndicator(Size size = Size::regular, QWidget *parent = nullptr);

    Size indicatorSize() const { return m_size; }
    void setIndicatorSize(Size size);
    static int extent(Size size);
    // Without a colour: the palette's secondary text colour.
    void setColor(const QColor &color);
    bool isAnimating() const { return m_timer.isActive(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    static constexpr int spokes = 8;
    Size m_size;
    QColor m_color;
    int m_step = 0;
    QTimer m_timer;
};
