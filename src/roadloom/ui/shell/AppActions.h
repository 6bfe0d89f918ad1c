#pragma once

#include "roadloom/ui/widgets/Shortcuts.h"

#include <QList>
#include <QObject>
#include <QString>
#include <optional>

class AppModel;
class QAction;
class QActionGroup;
class QMainWindow;
class QMenu;
class QMenuBar;
class QToolBar;
class RoadloomApp;

// The commands of the main window: every action of its menu bar (File, View, Playback, Device) and of its
// toolbar, with their keys, help texts and state. Enabled, checked and titles follow the model's signals as
// they change, so a disabled command's key does nothing; the playhead moving touches none of them. The
// toolbar's buttons are actions of their own (no key) calling the same operations. Lives as long as the
// window it is made for.
class AppActions : public QObject {
    Q_OBJECT
public:
    // Fills the window's menu bar and adds the toolbar.
    AppActions(RoadloomApp &app, QMainWindow &window);
    ~AppActions() override;

    static const QString openFolderTitle;  // the folder panel's title
    static const QString playbackKeysText; // the Playback menu's line naming the playback keys
    // The types "Open Files…" offers: first every video the library reads, then one type at a time.
    static const QStringList movieTypes;
    // The name filter of every video the library reads, in either case.
    static QString videoFilter();

    QMenuBar *menuBar() const;
    QToolBar *toolBar() const { return m_toolBar; }
    // Actions by their object name ("exportClip", "toolbarExport", "speed-1.5"); none for an unknown name.
    QAction *action(const QString &name) const;
    // Every action made here, menu and toolbar.
    QList<QAction *> actions() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAction *make(const QString &name, const QString &text, std::optional<Shortcuts::Command> command = {});
    QAction *makeButton(const QString &name, const QString &text, const QString &symbol, const QString &help,
                        std::optional<Shortcuts::Command> command = {});
    void buildFileMenu();
    void buildViewMenu();
    void buildPlaybackMenu();
    void buildDeviceMenu();
    void buildToolBar();
    QMenu *telemetryItems(QMenu *menu, const QString &prefix);

    void openFolder();
    void openFiles();
    void moveToTrash();
    void rotate();
    void openDeviceSettings();
    void toggleFullScreen();

    void followLoad();
    void followPlaying(bool playing);
    void followRate(double rate);
    void followTheater(bool on);
    template <typename Setter> void bindToggle(QAction *action, bool value, Setter write);

    RoadloomApp &m_app;
    AppModel &m_model;
    QMainWindow &m_window;
    QToolBar *m_toolBar = nullptr;
    QActionGroup *m_speed = nullptr;
    QList<QAction *> m_actions;
    // Enabled while a recording is loaded / while its media is ready / while a second camera shows.
    QList<QAction *> m_needClip, m_needMedia, m_needRear;
    QList<QAction *> m_theater; // the menu toggle and the toolbar button
};
