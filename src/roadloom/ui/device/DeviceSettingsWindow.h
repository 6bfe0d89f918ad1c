#pragma once

#include "roadcore/ConfigFile.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <optional>

class AppModel;
class ConfigGroupRows;
class ConfigRow;
class ConfigStore;
class ContentUnavailableWidget;
class FormSection;
class QAction;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolBar;
class QVBoxLayout;

// The editor of the dash camera's own configuration file. Without an open file it offers the files found
// on mounted camera cards and an open button; with one it shows the settings as a grouped form (or as raw
// text) with commands to close, import and export a profile, revert and save back to the card. The document
// lives in the model's configuration store; the window keeps only whether it shows the raw text and the
// filter.
class DeviceSettingsWindow : public QMainWindow {
    Q_OBJECT
public:
    // The size it opens at where the screen has room.
    static constexpr QSize firstSize{640, 720};

    explicit DeviceSettingsWindow(AppModel &model, QWidget *parent = nullptr);

    static QString baseTitle();
    // What the open panels offer: the camera's settings files and plain text.
    static QStringList fileTypes();
    static QString cameraFileType();
    // The form's first footer, naming where backups go with the home folder written "~".
    static QString footerText();

    bool showRaw() const { return m_showRaw; }
    void setShowRaw(bool show);
    QString filter() const { return m_filter; }
    void setFilter(const QString &filter);

    // For tests and the benchmark: the rows of the form (shown or hidden by the filter), and how many times
    // the form was built.
    QList<ConfigRow *> rows() const { return m_rows; }
    int formBuilds() const { return m_formBuilds; }
    QWidget *picker() const;
    QPlainTextEdit *rawText() const { return m_raw; }
    QLineEdit *filterField() const { return m_filterField; }
    QPushButton *saveButton() const { return m_saveButton; }
    QToolBar *toolBar() const { return m_toolBar; }
    // The picker's buttons, cards first, then "Open Configuration File…".
    QList<QPushButton *> pickerButtons() const { return m_pickerButtons; }

    void openFile();
    void importProfile();
    void exportProfile();
    void save();
    void revert();
    void closeFile();

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildToolBar();
    void buildPicker();
    void rebuildPicker();
    void documentChanged();
    void urlChanged();
    void showPath();
    void rebuildForm();
    void applyFilter();
    void refreshRows();
    void updateRaw();
    void updatePage();
    void updateTitle();
    void updateDirty();
    void queueMessage();
    void showMessage();

    AppModel &m_model;
    ConfigStore &m_config;
    bool m_showRaw = false;
    QString m_filter;

    QStackedWidget *m_pages = nullptr;
    QWidget *m_pickerPage = nullptr;
    ContentUnavailableWidget *m_empty = nullptr;
    QVBoxLayout *m_pickerButtonsLayout = nullptr;
    QList<QPushButton *> m_pickerButtons;
    QStringList m_pickerFiles; // the picker's card buttons, as "label\npath"

    QStackedWidget *m_editor = nullptr;
    QScrollArea *m_form = nullptr;
    QPlainTextEdit *m_raw = nullptr;
    bool m_rawStale = true;
    struct Section {
        FormSection *form = nullptr;
        ConfigGroupRows *rows = nullptr;
    };
    QList<ConfigRow *> m_rows;
    QList<Section> m_sections;
    QList<ConfigFile::Entry> m_shape;  // the entries the form was built for, without their values
    std::optional<QString> m_filtered; // the filter the rows are shown for
    QString m_formUrl;                 // the file the form was last shown for
    QPointer<QLineEdit> m_path;
    int m_formBuilds = 0;

    QToolBar *m_toolBar = nullptr;
    QLineEdit *m_filterField = nullptr;
    QAction *m_filterAction = nullptr;
    QAction *m_rawAction = nullptr;
    QAction *m_revertAction = nullptr;
    QAction *m_saveAction = nullptr;
    QPushButton *m_saveButton = nullptr;

    bool m_messageQueued = false;
    bool m_showingMessage = false;
};
