#pragma once

#include <QDialog>

class AppModel;
class DataLogModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// The data log over the main window: every raw record of the loaded recording with its time, a filter,
// a seek to the record the user selects, and the export of the raw log. Made afresh for each opening.
class DataLogSheet : public QDialog {
    Q_OBJECT
public:
    static constexpr QSize fixedSize{820, 540};

    explicit DataLogSheet(AppModel &model, QWidget *parent = nullptr);

    QLineEdit *filterField() const { return m_filter; }
    QTableView *table() const { return m_table; }
    DataLogModel *logModel() const { return m_log; }
    QLabel *countLabel() const { return m_count; }
    QPushButton *exportButton() const { return m_export; }
    QPushButton *doneButton() const { return m_done; }
    // The selected record's index, if any.
    std::optional<int> selectedID() const { return m_selected; }

private:
    void showTelemetry();
    void reselect();
    void userSelected();
    void copySelected() const;
    void sizeRows();
    int rowHeight(int lines) const;

    AppModel &m_model;
    DataLogModel *m_log;
    QLabel *m_count;
    QLineEdit *m_filter;
    QTableView *m_table;
    QPushButton *m_export;
    QPushButton *m_done;
    std::optional<int> m_selected;
    bool m_restoring = false; // a selection made by the sheet itself never seeks
};
