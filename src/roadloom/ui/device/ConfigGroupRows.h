#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QWidget>

class ConfigRow;

// The rows of one group of the device settings form, stacked with a thin line between them. It places its
// rows itself, so showing or hiding rows for a filter costs one placement of this group, not a layout of the
// whole form for every row.
class ConfigGroupRows : public QWidget {
    Q_OBJECT
public:
    explicit ConfigGroupRows(QWidget *parent = nullptr);

    // Takes the row.
    void addRow(ConfigRow *row);
    const QList<ConfigRow *> &rows() const { return m_rows; }
    // Shows the rows of these line numbers and hides the others; true when any row is shown.
    bool showOnly(const QSet<int> &lines);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    static int rowHeight(const ConfigRow *row, int width);
    void place();
    void changed();

    QList<ConfigRow *> m_rows;
    // Heights by width: a layout pass asks for a few widths in turn.
    mutable QHash<int, int> m_heights;
};
