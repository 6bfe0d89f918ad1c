#pragma once

#include <QWidget>

#include <memory>

class AppModel;
class BusyIndicator;
class CategoryChips;
class ClipListModel;
class ContentUnavailableWidget;
class QActionGroup;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QStackedWidget;
class QToolButton;
struct DashClip;

// The middle column of the main window: the selected source's title and count, the search field and the
// Sort menu, the category chips, and the recordings grouped by day (or the page that says why there are
// none). The list's selection is the store's selected recording; only a user's click or key writes it.
class ClipListView : public QWidget {
    Q_OBJECT
public:
    enum class Page { list, noRecordings, noResults, noVideos };

    explicit ClipListView(AppModel &model, QWidget *parent = nullptr);

    Page page() const;
    QLabel *titleLabel() const { return m_title; }
    QLabel *subtitleLabel() const { return m_subtitle; }
    QLineEdit *searchField() const { return m_search; }
    QToolButton *sortButton() const { return m_sortButton; }
    QMenu *sortMenu() const { return m_sortMenu; }
    CategoryChips *chips() const { return m_chips; }
    QListView *list() const { return m_list; }
    ClipListModel *clipModel() const { return m_clips; }
    BusyIndicator *busyIndicator() const { return m_busy; }
    ContentUnavailableWidget *pageWidget(Page page) const;

    // The context menu of a recording.
    std::unique_ptr<QMenu> clipMenu(const DashClip &clip);

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildHeader(QWidget *header);
    void buildPages();
    void offerClearButton();
    void updateHeader();
    void updatePage();
    void showSelection(bool scroll);
    void userSelected();
    void openFolder();
    void placeBusy();

    AppModel &m_model;
    QLabel *m_title = nullptr;
    QLabel *m_subtitle = nullptr;
    QLineEdit *m_search = nullptr;
    QToolButton *m_sortButton = nullptr;
    QMenu *m_sortMenu = nullptr;
    QActionGroup *m_sortGroup = nullptr;
    CategoryChips *m_chips = nullptr;
    QStackedWidget *m_stack = nullptr;
    QWidget *m_listPage = nullptr;
    QListView *m_list = nullptr;
    ClipListModel *m_clips = nullptr;
    BusyIndicator *m_busy = nullptr;
    ContentUnavailableWidget *m_noRecordings = nullptr;
    ContentUnavailableWidget *m_noResults = nullptr;
    ContentUnavailableWidget *m_noVideos = nullptr;
    bool m_following = false; // the selection is being set from the store
};
