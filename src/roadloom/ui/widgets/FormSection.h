#pragma once

#include <QList>
#include <QString>
#include <QWidget>

class QLabel;
class QVBoxLayout;

// One group of a settings form: a header above a rounded panel of rows, each row a label at the leading
// edge and its control at the trailing edge, with a thin line between rows, and an optional footer below.
class FormSection : public QWidget {
    Q_OBJECT
public:
    explicit FormSection(const QString &header = QString(), QWidget *parent = nullptr);

    QString header() const;
    void setHeader(const QString &header);
    QString footer() const;
    void setFooter(const QString &footer);

    // A labelled row; the section takes the value widget. Returns the row's index.
    int addRow(const QString &label, QWidget *value);
    // A row the widget fills alone (a toggle with its own text, a full-width note).
    int addRow(QWidget *content);
    int rowCount() const { return int(m_rows.size()); }
    // The label of a row (none for a row without one).
    QLabel *rowLabel(int index) const;
    QWidget *rowWidget(int index) const;
    void setRowVisible(int index, bool visible);

private:
    class Panel;
    struct Row {
        QWidget *row = nullptr;
        QLabel *label = nullptr;
        QWidget *value = nullptr;
    };
    void applyColors();

    QLabel *m_header;
    Panel *m_panel;
    QVBoxLayout *m_rowsLayout;
    QLabel *m_footer;
    QList<Row> m_rows;

protected:
    void changeEvent(QEvent *event) override;
};
