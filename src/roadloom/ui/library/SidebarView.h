#pragma once

#include <QWidget>

#include <memory>

class AppModel;
class CacheStatusView;
class QListView;
class QMenu;
class QPushButton;
class SourceListModel;

// The first column of the main window: the sources of the library as a list whose selection is the store's
// selected source, and below it (not scrolling) the Device Settings button and the cache status.
class SidebarView : public QWidget {
    Q_OBJECT
public:
    explicit SidebarView(AppModel &model, QWidget *parent = nullptr);

    QListView *list() const { return m_list; }
    SourceListModel *sourceModel() const { return m_sources; }
    QPushButton *deviceSettingsButton() const { return m_deviceSettings; }
    CacheStatusView *cacheStatus() const { return m_cacheStatus; }

    // The context menu of a row (a folder or the opened files); none for the other rows.
    std::unique_ptr<QMenu> contextMenu(int row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showSelection();
    void userSelected();
    void addFolder();
    void updateDeviceSettings();

    AppModel &m_model;
    SourceListModel *m_sources = nullptr;
    QListView *m_list = nullptr;
    QPushButton *m_deviceSettings = nullptr;
    CacheStatusView *m_cacheStatus = nullptr;
    bool m_following = false; // the selection is being set from the store
};
