#pragma once

#include "roadloom/ui/widgets/FirstGeometry.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <array>

class AppModel;
class QAction;
class DetailView;
class DropOverlay;
class MainWindowReactions;
class QSplitter;
class QVariantAnimation;
class ToastView;
class WindowDropTarget;

// The main window: three columns side by side (sources, recordings, the player with the inspector beside
// it), a drop target over the whole window and theater mode. Loads the selected recording
// and opens the device settings when the model asks.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    struct ColumnWidths {
        int minimum, ideal, maximum;
    };
    static constexpr ColumnWidths sidebarWidths{190, 220, 300};
    static constexpr ColumnWidths clipListWidths{270, 310, 440};
    static constexpr ColumnWidths inspectorWidths{250, 290, 380};
    static constexpr QSize minimumContentSize{1000, 640};
    static constexpr QSize defaultSize{1440, 900};
    static constexpr int theaterDuration = 250; // milliseconds

    explicit MainWindow(AppModel &model, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The columns later views fill; each has a vertical box layout.
    QWidget *sidebarColumn() const { return m_sidebar; }
    QWidget *clipListColumn() const { return m_clipList; }
    QWidget *detailColumn() const { return m_detail; }
    QWidget *inspectorColumn() const { return m_inspector; }
    // The player's column; made once the window has painted itself first.
    DetailView *detailView() const { return m_detailView; }
    QSplitter *columns() const { return m_columns; }
    QSplitter *detailSplit() const { return m_detailSplit; }
    DropOverlay *dropOverlay() const { return m_overlay; }
    ToastView *toastView() const { return m_toast; }
    WindowDropTarget *dropTarget() const { return m_dropTarget; }
    bool isAnimatingTheater() const;

    // The widths of the sidebar, the clip list and the inspector (0: not shown) that leave the detail column
    // at least `detailLeast` of `room` (the row's width less its handles): each gives way from the width it
    // wants towards its minimum, evenly, before the detail column goes below that.
    static std::array<int, 3> fitColumns(std::array<int, 3> wanted, int room, int detailLeast);
    // The detail column's least width: what is left at the window's minimum width with every column shown
    // at its minimum.
    int detailLeastWidth() const;

    // Room for a window manager's title bar and borders while the window's own frame is not known yet.
    static constexpr QMargins typicalFrame = FirstGeometry::typicalFrame;
    // The window's first geometry (FirstGeometry::fit) for the default size.
    static QRect firstGeometry(const QRect &available, const QMargins &frame = {});
    // Shows the window at the size of its last run, else at its first size, centred.
    void showRestored();
    // An action whose key acts only while the recording list or the player (the stage with its transport
    // bar) has the keyboard; give it the widget-with-children context.
    void addRecordingAction(QAction *action);
    // Where those keys act: the list, and the player once the detail area is made.
    QList<QWidget *> recordingAreas() const;

signals:
    void deviceSettingsRequested();
    // "Open Settings…" on the stage's error.
    void settingsRequested();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void buildColumns();
    void buildStage();
    void buildDetailView();
    // What waits for the first paint: the detail area and the reactions that load recordings.
    void finishSetup();
    void followInspector(bool show);
    void inspectorHandleMoved();
    void followTheaterMode(bool on);
    void animateSideColumns(int sidebarTo, int listTo, bool hideAtEnd);
    void setSideMinimums(bool enforced);
    // The side columns at the widths they want where there is room, else narrower (fitColumns).
    std::array<int, 3> fittedWidths() const;
    void applyFit();
    void columnHandleMoved();
    void syncWanted();
    void saveGeometryNow();

    AppModel &m_model;
    QSplitter *m_columns = nullptr;
    QSplitter *m_detailSplit = nullptr;
    QWidget *m_sidebar = nullptr;
    QWidget *m_clipList = nullptr;
    QWidget *m_detail = nullptr;
    QWidget *m_inspector = nullptr;
    DropOverlay *m_overlay = nullptr;
    ToastView *m_toast = nullptr;
    WindowDropTarget *m_dropTarget = nullptr;
    QWidget *m_stage = nullptr;
    DetailView *m_detailView = nullptr;
    MainWindowReactions *m_reactions = nullptr;
    bool m_setupPending = false;
    FirstGeometry *m_firstGeometry = nullptr;
    QList<QAction *> m_recordingActions;
    QVariantAnimation *m_theaterAnimation = nullptr;
    // The widths the side columns want: their ideals until the user drags them. A narrow window shows
    // them narrower and gives them back as it widens.
    int m_sidebarWidth = sidebarWidths.ideal;
    int m_clipListWidth = clipListWidths.ideal;
    int m_inspectorWidth = inspectorWidths.ideal;
    // The sidebar's and the list's widths after the last fit or drag, to tell which one a drag moved.
    QList<int> m_lastSizes;
};
